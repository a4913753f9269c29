#!/usr/bin/env bash
# Builds the MIME reader's libFuzzer target with clang under ASan and UBSan (build-fuzz-mime/)
# and runs it over the stored test messages for a bounded time.
#   scripts/fuzz-mime.sh [seconds]    default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/install-deps.sh

# clang 14 cannot constant-initialise libstdc++ 12's std::string, so the process globals
# marked constinit are initialised at start-up here.
cmake -S . -B build-fuzz-mime -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -Dconstinit=" \
  -DVELMORIN_FUZZ=ON -DVELMORIN_SANITIZE=ON -DVELMORIN_QT=OFF
cmake --build build-fuzz-mime --target mime_fuzz -j"$(nproc)"

# New inputs go to a scratch folder; the seed messages in the tree stay as they are.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build-fuzz-mime/engine/mail/mime_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=20 \
  -print_final_stats=1 "$work" engine/mail/tests/data/mime
