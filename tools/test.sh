#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests, bounded fuzzing,
# static checks, and the integration tests under Wine and Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/wine_env.sh
bash tools/setup.sh
summary=$(mktemp)

run_ctest() { # build-dir
    local log
    log=$(mktemp)
    set +e
    "${@:2}" ctest --test-dir "$1" --output-on-failure --timeout 300 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    set -e
    grep -E 'tests passed, [0-9]+ tests failed out of' "$log" >>"$summary" || true
    return "$status"
}

echo "== native unit tests (AddressSanitizer, UBSan)"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j2
run_ctest build/native

echo "== fuzzing (${FUZZ_SECONDS:-30} s each)"
bash tests/fuzz/run.sh build/fuzz "${FUZZ_SECONDS:-30}"

echo "== static checks"
bash tools/check.sh

echo "== Windows build and integration tests under Wine"
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win -j2
run_ctest build/win xvfb-run -a -s "-screen 0 1280x1024x24"

passed=0
failed=0
while read -r line; do
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*tests passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
done <"$summary"
echo "all: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
