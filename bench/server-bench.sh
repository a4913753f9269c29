#!/usr/bin/env bash
# Tallgrove side by side with what people compare it with, all on 127.0.0.1: a 1 KiB static
# file against nginx; a hello page (the bytes of the sample's literal-only page) against
# `php -S` and php-fpm behind nginx; a page with one SELECT (the sample's query page) against
# the same in PHP on a copy of the same SQLite file. wrk -t4 -c50 with "Connection: close";
# prints the median requests per second of each and the ratio Tallgrove / other, and
# Tallgrove's memory before and after.
#
#   bench/server-bench.sh [--seconds N] [--rounds N] [--requests N]
#
# --seconds  length of one wrk run (default 3)
# --rounds   how many times every run is made, in turn (default 3)
# --requests afterwards, N requests of each kind to Tallgrove alone with its memory after
#            each; 100000 shows whether it stays flat (default 0: none)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=3
rounds=3
requests=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    --requests) requests="$2"; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "server-bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
# 1,000 connections at once need more descriptors than the usual soft limit.
ulimit -n 8192 2>/dev/null || true

bash scripts/install-deps.sh
# The Release build the script benchmarks use as well.
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORIN_BENCH=ON \
  -DVELMORIN_QT=OFF >/dev/null
cmake --build build-bench --target Tallgrove
fpm=$(ls /usr/sbin/php-fpm* | head -n 1)

work=$(mktemp -d /tmp/velmorin-bench-XXXXXX)
root="$work/root"
docs="$work/php"
pids=()
cleanup() {
  scripts/serve.sh --root "$root" --stop >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait
  rm -rf "$work"
}
trap cleanup EXIT
# Turn a signal into an exit so that the cleanup runs for it too.
trap 'exit 130' INT TERM HUP

# Three free ports at once, so that none is handed out twice.
read -r tport nport sport < <(python3 -c '
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))')

wait_for() {
  for _ in $(seq 120); do
    curl -s -o /dev/null "$1" && return 0
    sleep 0.5
  done
  echo "server-bench.sh: nothing answers on $1" >&2
  tail -n 20 "$work"/*.log >&2 || true
  exit 1
}

# Tallgrove on a root laid out the way serve.sh lays out every root.
scripts/serve.sh --root "$root" --port "$tport" --binary build-bench/bin/Tallgrove \
  >"$work/serve.log" 2>&1 &
tallgrove=$!
pids+=("$tallgrove")
wait_for "http://127.0.0.1:$tport/about.html"

# The PHP side serves the same bytes: the static file, the literal page as hello.php, and the
# query page on a consistent copy of the database Tallgrove uses.
mkdir -p "$docs"
cp "$root/webroot/about.html" "$docs/about.html"
cp "$root/webroot/bench/literal.zrp" "$docs/hello.php"
cp bench/php/query.php "$docs/query.php"
sqlite3 "$root/data/zr2.db" ".backup '$docs/zr2.db'"

# nginx and php-fpm run as this user from configs in the work folder; as root they would
# otherwise drop to users that cannot read it.
nginx_user="" fpm_user="" fpm_root=()
if [ "$(id -u)" -eq 0 ]; then
  nginx_user="user root root;"
  fpm_user=$'user = root\ngroup = root'
  fpm_root=(-R)
fi

# A pool sized the way a tuned installation sizes it: one worker per core, all started up
# front. PHP's installed settings stay as they are (opcache on for php-fpm, off for the CLI).
cat >"$work/php-fpm.conf" <<EOF
[global]
pid = $work/php-fpm.pid
error_log = $work/php-fpm.log
daemonize = no
[bench]
$fpm_user
listen = $work/php-fpm.sock
pm = static
pm.max_children = $(nproc)
EOF
"$fpm" "${fpm_root[@]}" -y "$work/php-fpm.conf" -p "$work" >>"$work/php-fpm.log" 2>&1 &
pids+=("$!")

# As Debian's own nginx.conf has it (sendfile, tcp_nopush), without the access log; the temp
# paths move into the work folder since the compiled-in ones need root.
mkdir -p "$work/nginx"
cat >"$work/nginx.conf" <<EOF
$nginx_user
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx.log;
daemon off;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  sendfile on;
  tcp_nopush on;
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nport;
    root $docs;
    location ~ \.php\$ {
      include /etc/nginx/fastcgi.conf;
      fastcgi_pass unix:$work/php-fpm.sock;
    }
  }
}
EOF
nginx -p "$work" -e "$work/nginx.log" -c "$work/nginx.conf" &
pids+=("$!")

php -S "127.0.0.1:$sport" -t "$docs" >"$work/php-s.log" 2>&1 &
pids+=("$!")

wait_for "http://127.0.0.1:$nport/hello.php"
wait_for "http://127.0.0.1:$sport/hello.php"

# kind, server, URL. Each kind's first line is Tallgrove, the rest are compared with it.
cases=(
  "static Tallgrove http://127.0.0.1:$tport/about.html"
  "static nginx http://127.0.0.1:$nport/about.html"
  "hello Tallgrove http://127.0.0.1:$tport/bench/literal.zrp"
  "hello php-S http://127.0.0.1:$sport/hello.php"
  "hello php-fpm http://127.0.0.1:$nport/hello.php"
  "select Tallgrove http://127.0.0.1:$tport/bench/query.zrp"
  "select php-S http://127.0.0.1:$sport/query.php"
  "select php-fpm http://127.0.0.1:$nport/query.php"
)

# A rate of an error page or of a different page says nothing: every server must answer
# each kind with the bytes Tallgrove answers it with.
for entry in "${cases[@]}"; do
  read -r kind server url <<<"$entry"
  curl -sf -o "$work/body" "$url" || { echo "server-bench.sh: $url failed" >&2; exit 1; }
  if [ "$server" = Tallgrove ]; then
    cp "$work/body" "$work/expected-$kind"
  elif ! cmp -s "$work/body" "$work/expected-$kind"; then
    echo "server-bench.sh: $url answers other bytes than Tallgrove" >&2
    diff "$work/expected-$kind" "$work/body" >&2 || true
    exit 1
  fi
done

memory() {
  awk '/^VmRSS/ {rss = $2} /^VmHWM/ {peak = $2} /^Threads/ {threads = $2}
       END {printf "RSS %s kB (peak %s kB), %s threads", rss, peak, threads}' \
    "/proc/$tallgrove/status"
  echo ", $(ls "/proc/$tallgrove/fd" | wc -l) descriptors"
}

# One wrk run; prints its requests per second and how many it saw fail (socket errors and
# answers other than 2xx), since a run with failures is not a clean number.
measure() {
  wrk -t4 -c50 -H 'Connection: close' "$@" >"$work/wrk.out"
  awk '/Requests\/sec/ {rate = $2}
       /Socket errors/ {gsub(",", ""); failed += $4 + $6 + $8 + $10}
       /Non-2xx/ {failed += $NF}
       END {print rate, failed + 0}' "$work/wrk.out"
}

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Tallgrove before: $(memory)"

# Rounds run every case in turn, every other round backwards, so that load from elsewhere
# and drift fall on all servers alike.
: >"$work/rates"
for round in $(seq "$rounds"); do
  order=("${cases[@]}")
  if [ $((round % 2)) -eq 0 ]; then
    order=()
    for ((i = ${#cases[@]} - 1; i >= 0; i--)); do order+=("${cases[i]}"); done
  fi
  for entry in "${order[@]}"; do
    read -r kind server url <<<"$entry"
    echo "$kind $server $(measure -d"${seconds}s" "$url")" >>"$work/rates"
  done
done

echo "Tallgrove after $rounds rounds: $(memory)"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "requests/s of each run of ${seconds} s, then the medians"
python3 - "$work/rates" <<'PY'
import statistics, sys
runs, failed = {}, {}
for line in open(sys.argv[1]):
    kind, server, rate, errors = line.split()
    runs.setdefault((kind, server), []).append(float(rate))
    failed[(kind, server)] = failed.get((kind, server), 0) + int(errors)
for (kind, server), rates in runs.items():
    print(f"{kind + ' ' + server:<18}{' '.join(f'{r:8.0f}' for r in rates)}"
          f"   failed {failed[(kind, server)]}")
print("(wrk fails every php -S answer as well: it ends at the close, without a length)")
kinds = {"static": "1 KiB static", "hello": "hello page", "select": "one-SELECT page"}
print(f"{'work':<17}{'other':<10}{'Tallgrove':>11}{'other':>11}{'Tallgrove/other':>17}")
for (kind, server), rates in runs.items():
    if server == "Tallgrove":
        continue
    ours = statistics.median(runs[(kind, "Tallgrove")])
    theirs = statistics.median(rates)
    other = server.replace("php-S", "php -S")
    print(f"{kinds[kind]:<17}{other:<10}{ours:>11.0f}{theirs:>11.0f}{ours / theirs:>16.2f}x")
PY

# Far past the pool of 50 threads: connections refused (closed unanswered) count as wrk's
# read errors.
for entry in "${cases[@]}"; do
  read -r kind server url <<<"$entry"
  [ "$kind $server" = "static Tallgrove" ] || continue
  wrk -t4 -c1000 -d"${seconds}s" -H 'Connection: close' "$url" >"$work/crowd.out"
  # wrk prints no socket error line when there were none.
  errors=$(awk '/Socket errors/ {sub(/^ *Socket errors: /, ""); print}' "$work/crowd.out")
  echo "static Tallgrove, 1000 connections: $(awk '/Requests\/sec/ {print $2}' "$work/crowd.out")" \
    "requests/s, $(awk '/requests in/ {print $1}' "$work/crowd.out") answered," \
    "refused/failed: ${errors:-none}"
done

if [ "$requests" -gt 0 ]; then
  # wrk has no request count (a thread that stops itself still leaves wrk sleeping out its
  # duration), so runs of --seconds follow each other until the count is reached.
  for entry in "${cases[@]}"; do
    read -r kind server url <<<"$entry"
    [ "$server" = Tallgrove ] || continue
    sent=0 failed=0
    while [ "$sent" -lt "$requests" ]; do
      read -r _ errors < <(measure -d"${seconds}s" "$url")
      n=$(awk '/requests in/ {print $1}' "$work/wrk.out")
      [ "${n:-0}" -gt 0 ] || { echo "server-bench.sh: no $kind request was answered" >&2; exit 1; }
      sent=$((sent + n)) failed=$((failed + errors))
    done
    echo "Tallgrove after $sent more $kind requests ($failed failed): $(memory)"
  done
fi
