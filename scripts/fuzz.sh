#!/usr/bin/env bash
# Builds the libFuzzer targets of the request reader and the MIME reader with clang under ASan
# and UBSan (build-fuzz/) and runs each over its seed corpus for a bounded time.
#   scripts/fuzz.sh [seconds]    default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/install-deps.sh

# Every library is instrumented for coverage, not only the target.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DVELMORIN_FUZZ=ON -DVELMORIN_SANITIZE=ON -DVELMORIN_QT=OFF
cmake --build build-fuzz --target request_fuzz mime_fuzz -j"$(nproc)"

# New inputs go to a scratch folder; the seed corpus in the tree stays as it is.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$work/request" "$work/mime"
build-fuzz/engine/web/request_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=20 \
  -print_final_stats=1 "$work/request" engine/web/fuzz/corpus
# The MIME reader starts from the stored test messages.
build-fuzz/engine/mail/mime_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=20 \
  -print_final_stats=1 "$work/mime" engine/mail/tests/data/mime
