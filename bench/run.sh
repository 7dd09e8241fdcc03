#!/usr/bin/env bash
# Builds the plug-in and the bench (Release) and prints what the plug-in costs
# the player, as one table. Exits non-zero, naming the target, when one is
# missed. Arguments go to the bench (--rounds 25, --parts 12, --soak N,
# --no-fail to explore without failing on a missed target; a failed check or a
# build that is not Release still fails). TRALMO_BENCH_BUILD picks another
# build folder (default build/win).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/wine_env.sh
bash tools/setup.sh
build=${TRALMO_BENCH_BUILD:-build/win}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt"; then
    echo "run.sh: $build is not a Release build; its figures would mislead" >&2
    exit 1
fi
cmake --build "$build" -j2 --target tralmo_bench >/dev/null
exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$build/bin/tralmo_bench.exe" "$@"
