#!/usr/bin/env bash
# Builds the libFuzzer targets of the request reader and dispatcher, the page language and the
# MIME reader with clang under ASan and UBSan (build-fuzz/) and runs each over its seed corpus
# for a bounded time.
#   scripts/fuzz.sh [seconds]    seconds per target, default 60
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
cmake --build build-fuzz --target request_fuzz page_fuzz mime_fuzz -j"$(nproc)"

# New inputs go to a scratch folder; the seed corpus in the tree stays as it is. The targets'
# own scratch roots go there too, so that a crashed run leaves nothing behind.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$work/request" "$work/page" "$work/mime"
# The request target answers file-in-database URLs from a SQLite table.
build-fuzz/engine/web/request_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=20 \
  -print_final_stats=1 "$work/request" engine/web/fuzz/corpus
# The page target starts from the interpreter's test pages and stops each run itself after a
# fraction of a second; -timeout only catches a statement that never ends.
build-fuzz/engine/script/page_fuzz -max_total_time="$seconds" -max_len=4096 -timeout=20 \
  -print_final_stats=1 "$work/page" engine/script/tests/data/corpus
# The MIME reader starts from the stored test messages.
build-fuzz/engine/mail/mime_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=20 \
  -print_final_stats=1 "$work/mime" engine/mail/tests/data/mime
