#!/usr/bin/env bash
# Measures Tallgrove on the sample root with wrk (4 threads, 50 connections, every request on
# a connection of its own): a 1 KiB static file, a literal-only page and a page with one SQL
# query; requests per second, and the server's peak memory, threads and descriptors before
# and after. Where nginx is installed it serves the same file (keep-alive off) in the same run
# and the ratio is printed.
#
#   bench/server-bench.sh [--seconds N] [--port P]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=10
port=18480
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --port) port="$2"; shift 2 ;;
    *) echo "server-bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
# 1,000 connections at once need more descriptors than the usual soft limit.
ulimit -n 8192 2>/dev/null || true
command -v wrk >/dev/null || { echo "wrk is not installed (scripts/install-deps.sh)" >&2; exit 1; }

root=$(mktemp -d /tmp/velmorin-bench-XXXXXX)
scripts/serve.sh --root "$root" --port "$port" >"$root/serve.out" 2>&1 &
server=$!
nginx_pid=""
cleanup() {
  scripts/serve.sh --root "$root" --stop >/dev/null 2>&1 || kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

for _ in $(seq 1800); do
  curl -s -o /dev/null "http://127.0.0.1:$port/about.html" && break
  kill -0 "$server" 2>/dev/null || { cat "$root/serve.out" >&2; exit 1; }
  sleep 0.5
done

usage() {
  local pid=$1
  printf 'peak memory %s kB, threads %s, descriptors %s\n' \
    "$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")" \
    "$(awk '/^Threads/ {print $2}' "/proc/$pid/status")" \
    "$(ls "/proc/$pid/fd" | wc -l)"
}

# Requests per second of one wrk run against a URL.
rate() {
  wrk -t4 -c50 -d"${seconds}s" -H 'Connection: close' "$1" |
    awk '/Requests\/sec/ {print $2} /Non-2xx|Socket errors/ {print "  " $0 > "/dev/stderr"}'
}

echo "Tallgrove (pid $server): $(usage "$server")"
static=$(rate "http://127.0.0.1:$port/about.html")
echo "static 1 KiB file:  $static requests/s"
literal=$(rate "http://127.0.0.1:$port/bench/literal.zrp")
echo "literal-only page:  $literal requests/s"
query=$(rate "http://127.0.0.1:$port/bench/query.zrp")
echo "page with a query:  $query requests/s"
# Far past the pool of 50 threads: the connections refused (closed unanswered) count as read
# errors of wrk.
crowd=$(wrk -t4 -c1000 -d"${seconds}s" -H 'Connection: close' "http://127.0.0.1:$port/about.html")
echo "static, 1000 conns: $(awk '/Requests\/sec/ {print $2}' <<<"$crowd") requests/s," \
  "$(awk '/requests in/ {print $1}' <<<"$crowd") answered," \
  "refused/failed: $(awk '/Socket errors/ {sub(/^ *Socket errors: /, ""); print}' <<<"$crowd")"
echo "Tallgrove after the runs: $(usage "$server")"

if command -v nginx >/dev/null; then
  nport=$((port + 1))
  mkdir -p "$root/nginx"
  cat >"$root/nginx/nginx.conf" <<EOF
worker_processes auto;
pid $root/nginx/nginx.pid;
error_log $root/nginx/error.log;
daemon off;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $root/nginx;
  server {
    listen 127.0.0.1:$nport;
    root $root/webroot;
  }
}
EOF
  nginx -c "$root/nginx/nginx.conf" &
  nginx_pid=$!
  sleep 1
  reference=$(rate "http://127.0.0.1:$nport/about.html")
  echo "nginx, same file:   $reference requests/s"
  awk -v a="$static" -v b="$reference" 'BEGIN { printf "Tallgrove / nginx:  %.2f\n", a / b }'
else
  echo "nginx is not installed: no reference run"
fi
