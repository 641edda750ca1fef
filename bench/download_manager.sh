#!/usr/bin/env bash
# bench/download_manager.sh BUILD_DIR: five issues of 200 MiB downloaded at once from nginx on
# loopback by the download manager (production settings: 1 KiB pieces, progress every 200 ms),
# and the same five files fetched by five curl processes in parallel in the same run; the HTTP
# client alone (five threads, no manager) is shown too, to tell the manager's share apart.
# Prints MB/s, CPU seconds per GiB, shelf saves and events, and two RATIO lines (ours / curl,
# above 1 means we are better).
set -euo pipefail
build=${1:-build/release}
here=$(cd "$(dirname "$0")" && pwd)
exe="$build/bench/bench_download_manager"
size_mib=${DOWNLOAD_BENCH_MIB:-200}
if [[ ! -x "$exe" ]]; then
  echo "download_manager: $exe is missing (build the release preset)" >&2
  exit 1
fi

work=$(mktemp -d)
chmod 755 "$work"  # nginx workers started by root read the files as another user
nginx_pid=""
cleanup() {
  if [[ -n "$nginx_pid" ]]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
base="http://127.0.0.1:$port"
mkdir -p "$work/www/files" "$work/www/records" "$work/ours/down" "$work/curl" "$work/nginx"

# One random file, linked under five names: five downloads of distinct URLs, one page cache.
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/www/files/issue1.bin"
pids=()
for i in 1 2 3 4 5; do
  [[ $i == 1 ]] || ln "$work/www/files/issue1.bin" "$work/www/files/issue$i.bin"
  pid="90$i"
  pids+=("$pid")
  printf '<?xml version="1.0" encoding="utf-8"?>\r\n<api>\r\n<booklist><id>%s</id>\r\n<pid>%s</pid>\r\n<sort_id>1</sort_id>\r\n<name><![CDATA[Bench]]></name>\r\n<date>2026</date>\r\n<load_url><![CDATA[%s/files/issue%s.bin]]></load_url>\r\n<type>mag</type>\r\n</booklist></api>\r\n' \
    "$i" "$pid" "$base" "$i" > "$work/www/records/mag_$pid.xml"
done

cat > "$work/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    location = /ebooks/api/ {
      default_type text/xml;
      try_files /records/\${arg_type}_\${arg_pid}.xml =404;
    }
    location /files/ { default_type application/octet-stream; }
  }
}
EOF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>"$work/nginx/start.log" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -sf -o /dev/null "$base/records/mag_901.xml" && break
  sleep 0.1
done

# Ours.
line=$("$exe" "$base" "$work/ours" mag "${pids[@]}" || true)
eval "$(echo "$line" | tr ' ' '\n' | grep -E '^[a-z]+=[0-9.]+$' | sed 's/^/our_/')"
if [[ "${our_ok:-0}" != 1 ]]; then
  echo "download_manager: our run failed: $line" >&2
  exit 1
fi
expected=$((5 * size_mib * 1024 * 1024))
if [[ "$our_bytes" != "$expected" ]]; then
  echo "download_manager: our run got $our_bytes bytes of $expected" >&2
  exit 1
fi
rm -rf "$work/ours/down"

# The HTTP client alone, five threads: the part of the figures that is not the manager's.
mkdir -p "$work/client"
urls=()
for i in 1 2 3 4 5; do urls+=("$base/files/issue$i.bin"); done
client_line=$("$exe" --client "$work/client" "${urls[@]}" || true)
eval "$(echo "$client_line" | tr ' ' '\n' | grep -E '^[a-z]+=[0-9.]+$' | sed 's/^/client_/')"
if [[ "${client_ok:-0}" != 1 || "$client_bytes" != "$expected" ]]; then
  echo "download_manager: client run failed: $client_line" >&2
  exit 1
fi
rm -rf "$work/client"

# curl, five processes in parallel, timed with their CPU use.
curl_line=$(python3 - "$base" "$work/curl" <<'PY'
import resource, subprocess, sys, time
base, out = sys.argv[1], sys.argv[2]
began = time.monotonic()
procs = [subprocess.Popen(["curl", "-s", "-f", "-o", "%s/issue%d.bin" % (out, i),
                           "%s/files/issue%d.bin" % (base, i)]) for i in range(1, 6)]
codes = [p.wait() for p in procs]
seconds = time.monotonic() - began
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print("ok=%d seconds=%.3f cpu=%.3f" % (int(all(c == 0 for c in codes)), seconds,
                                       usage.ru_utime + usage.ru_stime))
PY
)
eval "$(echo "$curl_line" | tr ' ' '\n' | grep -E '^[a-z]+=[0-9.]+$' | sed 's/^/curl_/')"
curl_bytes=$(cat "$work"/curl/*.bin | wc -c)
if [[ "${curl_ok:-0}" != 1 || "$curl_bytes" != "$expected" ]]; then
  echo "download_manager: curl run failed: $curl_line ($curl_bytes bytes)" >&2
  exit 1
fi

python3 - "$expected" "$our_seconds" "$our_cpu" "$our_saves" "$our_events" "$our_progress" \
  "$curl_seconds" "$curl_cpu" "$client_seconds" "$client_cpu" <<'PY'
import sys
total, os_, oc, saves, events, progress, cs, cc, ks, kc = sys.argv[1:]
total = int(total); gib = total / 2**30; mb = total / 1e6
os_, oc, cs, cc, ks, kc = map(float, (os_, oc, cs, cc, ks, kc))
our_mbps, curl_mbps = mb / os_, mb / cs
our_cpu, curl_cpu = oc / gib, cc / gib
print("%-18s %10s %12s %12s %8s %8s" % ("client", "MB/s", "CPU s/GiB", "seconds", "saves", "events"))
print("%-18s %10.1f %12.3f %12.2f %8s %8s" % ("download manager", our_mbps, our_cpu, os_, saves,
                                             "%s (%s progress)" % (events, progress)))
print("%-18s %10.1f %12.3f %12.2f %8s %8s" % ("client alone x5", mb / ks, kc / gib, ks, "-", "-"))
print("%-18s %10.1f %12.3f %12.2f %8s %8s" % ("curl x5", curl_mbps, curl_cpu, cs, "-", "-"))
print("RATIO download_manager_mbps %.3f" % (our_mbps / curl_mbps))
print("RATIO download_manager_cpu %.3f" % (curl_cpu / our_cpu if our_cpu > 0 else 0.0))
PY
