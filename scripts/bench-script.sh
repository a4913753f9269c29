#!/usr/bin/env bash
# The page language beside Lua 5.4 and PHP 8.2 on the same three programs (bench/script/): a
# 100,000-pass counter loop, recursive fib(25) and a 100,000-pass loop that builds a short
# text each pass. SSP runs through the script_bench benchmark (a Release build in
# build-bench/), Lua and PHP through their own interpreters. Times are CPU milliseconds of one
# run, the median of --runs runs; the ratios are SSP's time over the other's (3.0 is three
# times slower).
#
#   scripts/bench-script.sh [--runs N]     N defaults to 5
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench-script.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORIN_BENCH=ON \
  -DVELMORIN_QT=OFF >/dev/null
cmake --build "$root/build-bench" --target script_bench

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$root/build-bench/bench/script_bench" --benchmark_repetitions="$runs" \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$out/ssp.json"
for work in counter fib strings; do
  lua5.4 "$root/bench/script/workloads.lua" "$work" "$runs" >"$out/lua-$work"
  # Opcache off (the CLI's default, said outright), so no JIT either: PHP's interpreter
  # alone is what the page language is held against.
  php -d opcache.enable_cli=0 "$root/bench/script/workloads.php" "$work" "$runs" >"$out/php-$work"
done

echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "CPU ms per run, median of $runs runs"
python3 - "$out" <<'PY'
import json, sys
out = sys.argv[1]
ssp = {b["name"]: b for b in json.load(open(f"{out}/ssp.json"))["benchmarks"]}
rows = [("counter loop", "counter", "BM_Counter", "100000"),
        ("fib(25)", "fib", "BM_Fib25", "75025"),
        ("string building", "strings", "BM_Strings", "<td>100000</td>")]
print(f"{'work':<16}{'SSP':>10}{'Lua 5.4':>10}{'PHP 8.2':>10}{'SSP/Lua':>10}{'SSP/PHP':>10}")
failed = False
for label, work, bench, expected in rows:
    # One repetition has no aggregates, only the run itself.
    median = ssp.get(bench + "_median", ssp.get(bench))
    if median is None or median.get("error_occurred"):
        print(f"{label}: the SSP run failed", file=sys.stderr)
        failed = True
        continue
    times = {}
    for lang in ("lua", "php"):
        result, ms = open(f"{out}/{lang}-{work}").read().rsplit(" ", 1)
        # A program that computes something else is not the same work.
        if result != expected:
            print(f"{label}: {lang} gave {result!r}, not {expected!r}", file=sys.stderr)
            failed = True
        times[lang] = float(ms)
    s = median["cpu_time"]
    print(f"{label:<16}{s:>10.2f}{times['lua']:>10.2f}{times['php']:>10.2f}"
          f"{s / times['lua']:>9.1f}x{s / times['php']:>9.1f}x")
sys.exit(1 if failed else 0)
PY
