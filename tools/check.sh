#!/usr/bin/env bash
# Formatting and cppcheck over our own sources.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files --cached --others --exclude-standard \
    '*.cpp' '*.h' | grep -v '^build/')
clang-format --dry-run --Werror "${sources[@]}"
cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ \
    --enable=warning,performance,portability --inline-suppr \
    --suppress=missingIncludeSystem -I . "${sources[@]}"
echo "static checks: clean"
