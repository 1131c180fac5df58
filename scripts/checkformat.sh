#!/usr/bin/env bash
# Checks that every C++ file of the project follows .clang-format; with --fix,
# formats them in place instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find source tests fuzz bench examples tools -name '*.cpp' -o -name '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
