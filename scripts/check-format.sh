#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from what clang-format makes of it.
#   scripts/check-format.sh        check (CI)
#   scripts/check-format.sh --fix  rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(--dry-run --Werror)
[ "${1:-}" = "--fix" ] && mode=(-i)
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format "${mode[@]}"
