#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test.
#   scripts/test.sh             the ordinary build (build/)
#   scripts/test.sh --sanitize  the same suite under AddressSanitizer and UBSan (build-asan/)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORIN_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  # Warnings are errors in the ordinary build; gcc reports false positives under the
  # sanitizers (std::regex, restrict), so this build only shows them.
  flags=(-DCMAKE_BUILD_TYPE=Debug -DVELMORIN_SANITIZE=ON -DVELMORIN_WERROR=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

cmake -S . -B "$build" -G Ninja "${flags[@]}"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
