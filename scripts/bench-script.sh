#!/usr/bin/env bash
# Builds the page-engine benchmarks in build-bench/ and runs them; extra arguments go to the
# benchmark binary (e.g. --benchmark_filter=Fib).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORIN_BENCH=ON \
  -DVELMORIN_QT=OFF >/dev/null
cmake --build "$root/build-bench" --target script_bench
"$root/build-bench/bench/script_bench" "$@"
