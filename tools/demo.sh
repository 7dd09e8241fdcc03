#!/usr/bin/env bash
# The first command to run: installs what is needed, builds gen_tralmo.dll and
# the stand-in player and Skype client for Windows, and runs the demo: the real
# plug-in in the stand-in player beside the stand-in Skype, under Wine.
#
#   bash tools/demo.sh           headless (Xvfb); prints the transcript and
#                                leaves screenshots in out/demo/
#   bash tools/demo.sh --live    on your own display, slowly enough to watch
#
# Builds in build/win, or in $TRALMO_BUILD_DIR; runs in $WINEPREFIX (~/.wine).
# Exits 0 when the session ran and every check in it passed.
set -euo pipefail
cd "$(dirname "$0")/.."

live=0
case ${1:-} in
"") ;;
--live) live=1 ;;
-h | --help) sed -n '2,11s/^# \{0,1\}//p' "$0"; exit 0 ;;
*) sed -n '2,11s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
if ((live)) && [ -z "${DISPLAY:-}" ]; then
    echo "demo: --live needs a display, and DISPLAY is not set" >&2
    exit 2
fi

. tools/wine_env.sh
bash tools/setup.sh

build=${TRALMO_BUILD_DIR:-build/win}
echo "demo: building the plug-in and the stand-ins for Windows in $build"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release &&
    cmake --build "$build" -j"$(nproc)" --target gen_tralmo standin_player_exe \
        standin_skype_app; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "demo: the build failed" >&2
    exit 1
fi
echo "demo: running the session"
echo

status=0
if ((live)); then
    bash tools/demo/run_demo.sh --bin "$build/bin" --out out/demo --live --end-wine ||
        status=$?
else
    # A display of its own even when there is one: the screenshots then show
    # only the demo's windows.
    xvfb-run -a -s "-screen 0 1024x768x24" \
        bash tools/demo/run_demo.sh --bin "$build/bin" --out out/demo --end-wine || status=$?
fi
exit "$status"
