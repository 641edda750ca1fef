#!/usr/bin/env bash
# bench/download.sh BUILD_DIR: a 512 MiB file from nginx on loopback, fetched by CMyHttp::Download
# (1 KiB and 64 KiB body pieces) and by curl, into /dev/null and into a file on /dev/shm.
set -euo pipefail
build=${1:-build/release}
bin="$build/bench/bench_download"
if [[ ! -x "$bin" ]]; then
  echo "download: $bin is missing (build the release preset)" >&2
  exit 1
fi
size=$((512 * 1024 * 1024))
work=$(mktemp -d /dev/shm/muravel-bench-XXXXXX)
nginx_pid=""
cleanup() {
  if [[ -n "$nginx_pid" ]]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
head -c "$size" /dev/urandom > "$work/www/big.bin"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
error_log $work/error.log;
pid $work/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
nginx=$(command -v nginx || echo /usr/sbin/nginx)
"$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
for _ in $(seq 100); do
  if curl -s -o /dev/null "http://127.0.0.1:$port/"; then break; fi
  sleep 0.05
done
"$bin" "http://127.0.0.1:$port/big.bin" "$size" "$work/out.bin" "${DOWNLOAD_ROUNDS:-5}"
