#!/usr/bin/env bash
# bench/serve.sh BUILD_DIR: wrk against the embedded server (memory files as an opened issue is
# served, and the disk rules) and against nginx with one worker, the same files from /dev/shm,
# every request with "Connection: close"; 4 KiB, 64 KiB and 1 MiB files.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
server="$build/bench/bench_serve_server"
seconds=${SERVE_SECONDS:-5}
connections=${SERVE_CONNECTIONS:-32}
for tool in nginx wrk; do
  command -v "$tool" >/dev/null || [[ -x /usr/sbin/$tool ]] || { echo "serve: $tool missing"; exit 1; }
done
[[ -x "$server" ]] || { echo "serve: $server missing (cmake --build --preset release)"; exit 1; }
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

work=$(mktemp -d /dev/shm/muravel-serve.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
mkdir -p "$work/files" "$work/nginx"
head -c 4096 /dev/urandom >"$work/files/f4k"
head -c 65536 /dev/urandom >"$work/files/f64k"
head -c 1048576 /dev/urandom >"$work/files/f1m"
chmod 644 "$work/files"/*

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "serve: nothing listens on $1"; exit 1
}

mem_port=$(free_port); "$server" memory "$work/files" "$mem_port" >/dev/null & pids+=($!)
disk_port=$(free_port); "$server" disk "$work/files" "$disk_port" >/dev/null & pids+=($!)
nginx_port=$(free_port)
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server { listen 127.0.0.1:$nginx_port; root $work/files; }
}
CONF
"$NGINX" -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>/dev/null & pids+=($!)
wait_port "$mem_port"; wait_port "$disk_port"; wait_port "$nginx_port"

# Requests per second of one wrk run; a run with error replies counts as 0.
rate() {
  local out
  out=$(wrk -t1 -c"$connections" -d"${seconds}s" -H "Connection: close" "$1" 2>&1)
  if grep -q -e "Non-2xx" -e "Socket errors" <<<"$out"; then
    echo "serve: errors from $1: $(grep -e Non-2xx -e 'Socket errors' <<<"$out")" >&2
  fi
  awk '/^Requests\/sec:/ {print $2}' <<<"$out"
}
best() { awk -v a="$1" -v b="$2" 'BEGIN {print (a > b ? a : b)}'; }

# The machine is shared: the rounds alternate between the servers and the best round counts.
rounds=${SERVE_ROUNDS:-2}
printf '%-8s %14s %10s %14s %10s %14s %10s %8s\n' size "memory req/s" "MB/s" "disk req/s" "MB/s" \
  "nginx req/s" "MB/s" ratio
ratios=()
for size in 4k:4096 64k:65536 1m:1048576; do
  name=${size%%:*} bytes=${size##*:}
  mem=0 disk=0 ngx=0
  for _ in $(seq "$rounds"); do
    mem=$(best "$mem" "$(rate "http://127.0.0.1:$mem_port/mag/1/f$name")")
    ngx=$(best "$ngx" "$(rate "http://127.0.0.1:$nginx_port/f$name")")
    disk=$(best "$disk" "$(rate "http://127.0.0.1:$disk_port/f$name")")
  done
  mb() { awk -v r="$1" -v b="$bytes" 'BEGIN {printf "%.1f", r * b / 1e6}'; }
  ratio=$(awk -v a="$mem" -v b="$ngx" 'BEGIN {printf "%.3f", (b > 0 ? a / b : 0)}')
  dratio=$(awk -v a="$disk" -v b="$ngx" 'BEGIN {printf "%.3f", (b > 0 ? a / b : 0)}')
  printf '%-8s %14.0f %10s %14.0f %10s %14.0f %10s %8s\n' "$name" "$mem" "$(mb "$mem")" "$disk" \
    "$(mb "$disk")" "$ngx" "$(mb "$ngx")" "$ratio"
  ratios+=("RATIO serve_memory_$name $ratio" "RATIO serve_disk_$name $dratio")
done
printf '%s\n' "${ratios[@]}"
