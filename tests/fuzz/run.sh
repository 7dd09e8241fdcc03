#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time.
# Usage: tests/fuzz/run.sh [BUILD_DIR] [SECONDS]   (defaults: build/fuzz, 30)
# Exits non-zero when a target crashes, hangs or fails an invariant; the
# reproducer is left in BUILD_DIR/artifacts/.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build/fuzz}"
seconds="${2:-30}"
case "$seconds" in
'' | *[!0-9]*)
    echo "run.sh: SECONDS must be a whole number, got '$seconds'" >&2
    exit 2
    ;;
esac

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

mkdir -p "$build/artifacts"
status=0
for target in fuzz_notification fuzz_placeholders; do
    # New inputs go to a working corpus in the build directory; the committed
    # seeds are only read.
    work="$build/corpus/$target"
    mkdir -p "$work"
    echo "== $target: ${seconds} s"
    if ! "$build/$target" "$work" "$here/corpus/$target" \
        -dict="$here/$target.dict" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 \
        2>"$build/$target.log"; then
        echo "$target FAILED; log: $build/$target.log" >&2
        tail -n 40 "$build/$target.log" >&2
        status=1
    else
        grep -E '^(stat::number_of_executed_units|stat::new_units_added|Done)' \
            "$build/$target.log" || true
    fi
done
exit "$status"
