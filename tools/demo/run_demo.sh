#!/usr/bin/env bash
# Runs the demo session on what is already built: the stand-in player starts the
# stand-in Skype client beside it, plays a scripted session against the real
# gen_tralmo.dll and prints its transcript; this script takes the screenshots
# at the moments the player names and keeps a copy of the transcript.
#
#   run_demo.sh --bin DIR --out DIR [--quick | --live] [--end-wine]
#
#   --bin       the folder with gen_tralmo.dll, standin_player.exe and standin_skype.exe
#   --out       where the transcript, the ini file, Skype's log and the screenshots go
#   --quick     no screenshots, no lingering: the check that the demo still works
#   --live      slower steps on the current display, for a person watching; no
#               screenshots (they would show the whole desktop)
#   --end-wine  end the wineserver of $WINEPREFIX afterwards
#
# Uses $DISPLAY; without one (and without --live) it runs under its own Xvfb.
# Exits 0 when every step ran and every check passed.
set -euo pipefail
. "$(dirname "$0")/../wine_env.sh"

usage() {
    sed -n '2,17s/^# \{0,1\}//p' "$0"
}

bin=""
out=""
mode=normal
end_wine=0
while (($#)); do
    case $1 in
    --bin) bin=${2:?}; shift ;;
    --out) out=${2:?}; shift ;;
    --quick) mode=quick ;;
    --live) mode=live ;;
    --end-wine) end_wine=1 ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
    esac
    shift
done
if [ -z "$bin" ] || [ -z "$out" ]; then
    usage >&2
    exit 2
fi
for file in gen_tralmo.dll standin_player.exe standin_skype.exe; do
    if [ ! -f "$bin/$file" ]; then
        echo "run_demo: $bin/$file is missing; build first" >&2
        exit 2
    fi
done

if [ -z "${DISPLAY:-}" ]; then
    if [ "$mode" = live ]; then
        echo "run_demo: --live needs a display (DISPLAY is not set)" >&2
        exit 2
    fi
    again=(--bin "$bin" --out "$out")
    [ "$mode" = quick ] && again+=(--quick)
    ((end_wine)) && again+=(--end-wine)
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "${again[@]}"
fi

mkdir -p "$out"

# The Japanese title on the screenshots: Wine draws what Tahoma lacks from a
# linked font only, links regular Tahoma to a family named "MS UI Gothic", and
# links bold Tahoma to nothing unless told, and then only to a file in the
# prefix's Fonts folder. Done once per prefix; the link in Fonts marks it done.
cjk_font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
cjk_family="WenQuanYi Micro Hei"
link_cjk_font() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    local file
    file=$(basename "$cjk_font")
    if [ ! -f "$cjk_font" ] || [ ! -d "$fonts" ] || [ -e "$fonts/$file" ]; then
        return 0
    fi
    if wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' \
        /d "$cjk_family" /f >/dev/null 2>&1 &&
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v 'Tahoma Bold' /t REG_MULTI_SZ /d "$file,$cjk_family" /f >/dev/null 2>&1; then
        ln -s "$cjk_font" "$fonts/$file"
    fi
}
[ "$mode" = quick ] || link_cjk_font
bin_abs=$(cd "$bin" && pwd)
out_abs=$(cd "$out" && pwd)
rm -f "$out_abs"/[0-9]-*.png "$out_abs"/[0-9]-*.ack "$out_abs"/transcript.txt \
    "$out_abs"/skype.log "$out_abs"/winamp.ini

# Paths as the Windows programs see them.
win_bin=$(winepath -w "$bin_abs")
win_out=$(winepath -w "$out_abs")
args=(--plugin "$win_bin\\gen_tralmo.dll" --script demo --ini "$win_out\\winamp.ini"
    --skype-log "$win_out\\skype.log")
limit=120
case $mode in
normal) args+=(--snapshots "$win_out") ;;
live) args+=(--pace 2000); limit=600 ;;
esac

work=$(mktemp -d)
fifo="$work/player-output"
mkfifo "$fifo"
player=""
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    if [ -n "$player" ] && kill -0 "$player" 2>/dev/null; then
        kill "$player" 2>/dev/null || true
    fi
    rm -rf "$work"
    if ((end_wine)); then
        wineserver -k 2>/dev/null || true
    fi
}
trap cleanup EXIT

# Code page 1251, as on a Russian Windows, so that the Cyrillic title keeps its
# letters in its 8-bit form too (query 212, the tray tooltip).
LC_ALL=ru_RU.CP1251 timeout -k 5 "$limit" wine "$bin_abs/standin_player.exe" "${args[@]}" \
    >"$fifo" &
player=$!

shots=()
while IFS= read -r line; do
    line=${line%$'\r'}
    if [[ $line =~ ^@@snapshot\ ([A-Za-z0-9_-]+)$ ]]; then
        name=${BASH_REMATCH[1]}
        # The windows of the demo all lie in the upper part of the screen.
        if import -window root -crop 1024x600+0+0 +repage "$out_abs/$name.png" 2>/dev/null; then
            shots+=("$name.png")
            line="      screen  $out/$name.png"
        else
            line="      note    the screenshot $name.png failed"
        fi
        touch "$out_abs/$name.ack"
    fi
    printf '%s\n' "$line"
    printf '%s\n' "$line" >>"$out_abs/transcript.txt"
done <"$fifo"

status=0
wait "$player" || status=$?
player=""
if ((status == 124)); then
    echo "run_demo: the session took longer than $limit s and was stopped" >&2
fi

echo
echo "Transcript: $out/transcript.txt; ini file: $out/winamp.ini; Skype's own log: $out/skype.log"
if ((${#shots[@]})); then
    echo "Screenshots in $out/: ${shots[*]}"
elif [ "$mode" = live ]; then
    echo "No screenshots with --live; the headless run takes them."
fi
exit "$status"
