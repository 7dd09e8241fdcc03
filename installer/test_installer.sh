#!/usr/bin/env bash
# Runs the setup program and its uninstaller silently under Wine against
# throw-away Winamp and WACUP folders: where setup finds a player, what it
# installs and registers, that it refuses while a player runs, and that
# uninstalling leaves the folder exactly as it was.
# usage: test_installer.sh BUILD_DIR   (uses $WINEPREFIX, default ~/.wine)
set -euo pipefail
. "$(dirname "$0")/../tools/wine_env.sh"
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
version=$(sed -n 's/^#define TRALMO_VERSION_TEXT "\([0-9.]*\)"$/\1/p' "$root/resources/resource.h")
setup="$build/dist/tralmo-$version-setup.exe"
dll="$build/bin/gen_tralmo.dll"
running_player="$build/bin/running_player.exe"
for file in "$setup" "$dll" "$running_player"; do
    [ -f "$file" ] || { echo "missing $file: build first" >&2; exit 2; }
done

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tralmo'
winamp_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp'
exit_failed=2
exit_player_running=3
exit_no_player=4

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
check() { # description command...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

win_path() { winepath -w "$1" 2>/dev/null; }
key_exists() { wine reg query "$1" /reg:32 >/dev/null 2>&1; }
key_absent() { ! key_exists "$1"; }
key_value() { # key name: prints nothing when there is no such value
    { wine reg query "$1" /v "$2" /reg:32 2>/dev/null || true; } | tr -d '\r' |
        sed -nE "s/^ +$2 +REG_[A-Z_]+ +//p"
}
run_wine() { # prints the exit code of the Windows program
    local status=0
    wine "$@" >/dev/null 2>&1 || status=$?
    echo "$status"
}
# Every file of a folder with its checksum.
inventory() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0r sha256sum); }

if key_exists "$uninstall_key"; then
    echo "this Wine prefix already has Tralmo installed; use another WINEPREFIX or run" >&2
    echo "  wine reg delete '$uninstall_key' /f" >&2
    exit 2
fi

temp_dir=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
program_files=$(winepath -u "$(wine cmd /c echo %ProgramFiles% 2>/dev/null | tr -d '\r')" 2>/dev/null)
if [ ! -d "$temp_dir" ] || [ ! -d "$program_files" ]; then
    echo "Wine names no TEMP or Program Files folder; is WINEPREFIX prepared (tools/setup.sh)?" >&2
    exit 2
fi
work=$(mktemp -d)
temp_before=$(ls -d "$temp_dir"/~nsu*.tmp 2>/dev/null || true)
made_winamp_key=
made_folders=()
running_pid=

cleanup() {
    set +e
    if [ -n "$running_pid" ]; then
        rm -f "$work/running"
        wait "$running_pid"
    fi
    [ -z "$made_winamp_key" ] || wine reg delete "$winamp_key" /f /reg:32 >/dev/null 2>&1
    rm -rf "${made_folders[@]}"
    # Setup left an entry behind only if a check above failed.
    key_exists "$uninstall_key" && wine reg delete "$uninstall_key" /f /reg:32 >/dev/null 2>&1
    wineserver -w
    # The uninstaller's copies of itself, which Wine does not delete at reboot.
    for dir in "$temp_dir"/~nsu*.tmp; do
        [ -e "$dir" ] || continue
        grep -qxF "$dir" <<<"$temp_before" || rm -rf "$dir"
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A player's folder with its program (winamp.exe unless named), its ini and
# another plug-in. The tests name them with spaces, as under Program Files.
make_player() { # folder [program...]
    mkdir -p "$1/Plugins"
    local program
    for program in "${@:2}"; do printf 'MZ not really a player\n' >"$1/$program"; done
    [ $# -gt 1 ] || printf 'MZ not really winamp\n' >"$1/winamp.exe"
    printf '[Winamp]\nvolume=200\n[Tralmo]\nTRALMO_ACTIVE=1\n' >"$1/winamp.ini"
    printf 'MZ another plug-in\n' >"$1/Plugins/gen_other.dll"
}

# Wine quotes an argument that holds a space, but setup and the uninstaller
# take /D= and _?= only unquoted (and last, so spaces are fine): hand the
# option over in words, which Wine joins with single spaces.
last_option() { # option folder: sets words
    read -r -a words <<<"$1$(win_path "$2")"
}

install_into() { # folder: exit code of a silent install with /D
    last_option /D= "$1"
    run_wine "$setup" /S "${words[@]}"
}

# Uninstalls with the command line registered for unattended removal, as
# deployment tools do. The uninstaller copies itself to %TEMP% and returns at once;
# the copy does the work, so wait for every process of the prefix.
uninstall_registered() {
    local command program arguments
    command=$(key_value "$uninstall_key" QuietUninstallString)
    if [ -z "$command" ]; then
        fail "no QuietUninstallString registered"
        return
    fi
    program=${command#\"}
    program=${program%%\"*}
    read -r -a arguments <<<"${command#\"*\"}"
    run_wine "$program" "${arguments[@]}" >/dev/null
    wineserver -w
}

installed_as_expected() { # folder [the player it holds, as the entry names it]
    local plugins="$1/Plugins" expected
    expected="\"$(win_path "$plugins")\\uninstall_tralmo.exe\""
    cmp -s "$dll" "$plugins/gen_tralmo.dll" &&
        [ -f "$plugins/uninstall_tralmo.exe" ] &&
        [ "$(key_value "$uninstall_key" UninstallString)" = "$expected" ] &&
        [ "$(key_value "$uninstall_key" QuietUninstallString)" = "$expected /S" ] &&
        [ "$(key_value "$uninstall_key" DisplayVersion)" = "$version" ] &&
        [ "$(key_value "$uninstall_key" Publisher)" = "Tralmo" ] &&
        [ "$(key_value "$uninstall_key" DisplayName)" = "Tralmo plug-in for ${2:-Winamp}" ] &&
        [ "$(key_value "$uninstall_key" NoModify)" = "0x1" ] &&
        [ "$(key_value "$uninstall_key" NoRepair)" = "0x1" ]
}

# Starts running_player.exe with the arguments given and waits until it is up.
start_helper() {
    wine "$running_player" "$(win_path "$work/running")" "$@" >/dev/null 2>&1 &
    running_pid=$!
    for _ in $(seq 600); do
        if [ -e "$work/running" ] || ! kill -0 "$running_pid" 2>/dev/null; then break; fi
        sleep 0.1
    done
}

stop_helper() {
    rm -f "$work/running"
    wait "$running_pid" || true
    running_pid=
}

only_plugin_added() { # folder inventory-before
    diff <(echo "$2") <(inventory "$1" | grep -v -e ' ./Plugins/gen_tralmo.dll$' \
        -e ' ./Plugins/uninstall_tralmo.exe$') >/dev/null
}

echo "== install into a folder given with /D, twice, and uninstall"
player="$work/Winamp player"
make_player "$player"
before=$(inventory "$player")
check "setup exits 0" [ "$(install_into "$player")" = 0 ]
check "the DLL is in Plugins, identical to the build, and the entry registered" \
    installed_as_expected "$player"
check "setup again over the installed plug-in exits 0" [ "$(install_into "$player")" = 0 ]
check "still exactly the DLL and the uninstaller added" only_plugin_added "$player" "$before"

echo "== refuses while Winamp runs"
start_helper
check "the stand-in for a running Winamp is up" [ -e "$work/running" ]
other="$work/other player"
make_player "$other"
other_before=$(inventory "$other")
check "setup exits $exit_player_running" [ "$(install_into "$other")" = "$exit_player_running" ]
check "and installs nothing" [ "$(inventory "$other")" = "$other_before" ]
# In place (_?=) the uninstaller runs itself and returns its exit code.
last_option '_?=' "$player/Plugins"
status=$(run_wine "$player/Plugins/uninstall_tralmo.exe" /S "${words[@]}")
check "the uninstaller exits $exit_player_running" [ "$status" = "$exit_player_running" ]
check "and removes nothing" installed_as_expected "$player"
stop_helper

echo "== another program holds the installed DLL open"
start_helper --lock "$(win_path "$player/Plugins/gen_tralmo.dll")"
check "the program holding it is up" [ -e "$work/running" ]
check "setup exits $exit_failed" [ "$(install_into "$player")" = "$exit_failed" ]
check "and leaves the installed plug-in as it was" installed_as_expected "$player"
last_option '_?=' "$player/Plugins"
status=$(run_wine "$player/Plugins/uninstall_tralmo.exe" /S "${words[@]}")
check "the uninstaller exits $exit_failed" [ "$status" = "$exit_failed" ]
check "and keeps the DLL, itself and the entry for another try" installed_as_expected "$player"
stop_helper

echo "== uninstall with the registered command"
uninstall_registered
check "the DLL and the uninstaller are gone" \
    [ ! -e "$player/Plugins/gen_tralmo.dll" -a ! -e "$player/Plugins/uninstall_tralmo.exe" ]
check "the uninstall entry is gone" key_absent "$uninstall_key"
check "Winamp's folder is as it was, ini and other plug-in included" \
    [ "$(inventory "$player")" = "$before" ]

echo "== finds Winamp through its uninstall entry"
if key_exists "$winamp_key"; then
    echo "skipped: this prefix has a Winamp uninstall entry of its own"
else
    found="$work/found by registry"
    make_player "$found"
    found_before=$(inventory "$found")
    made_winamp_key=yes
    wine reg add "$winamp_key" /v UninstallString /reg:32 /f \
        /d "\"$(win_path "$found")\\UninstWA.exe\"" >/dev/null 2>&1
    check "setup without /D exits 0" [ "$(run_wine "$setup" /S)" = 0 ]
    check "and installs into that folder" installed_as_expected "$found"
    uninstall_registered
    check "uninstalling restores the folder" [ "$(inventory "$found")" = "$found_before" ]
    # An entry whose folder holds no player is stale: not a place to install.
    rm "$found/winamp.exe"
    found_before=$(inventory "$found")
    if [ -e "$program_files/Winamp" ] || [ -e "$program_files/WACUP" ]; then
        echo "skipped: a stale entry, since Program Files has a player's folder"
    else
        check "a stale entry: setup exits $exit_no_player" \
            [ "$(run_wine "$setup" /S)" = "$exit_no_player" ]
        check "and installs nothing" [ "$(inventory "$found")" = "$found_before" ]
    fi
    wine reg delete "$winamp_key" /f /reg:32 >/dev/null 2>&1
    made_winamp_key=
fi

echo "== finds WACUP in Program Files, and Winamp's folder before it"
if key_exists "$winamp_key" || [ -e "$program_files/Winamp" ] || [ -e "$program_files/WACUP" ]; then
    echo "skipped: this prefix has a player of its own"
else
    made_folders=("$program_files/WACUP" "$program_files/Winamp")
    make_player "$program_files/WACUP" wacup.exe
    cp "$running_player" "$work/wacup.exe"
    running_player="$work/wacup.exe" start_helper
    check "setup exits $exit_player_running while wacup.exe runs" \
        [ "$(run_wine "$setup" /S)" = "$exit_player_running" ]
    stop_helper
    check "setup without /D exits 0" [ "$(run_wine "$setup" /S)" = 0 ]
    check "and installs into Program Files\\WACUP" \
        installed_as_expected "$program_files/WACUP" WACUP
    uninstall_registered
    make_player "$program_files/Winamp"
    check "with Winamp there too, setup exits 0" [ "$(run_wine "$setup" /S)" = 0 ]
    check "and installs into Program Files\\Winamp" installed_as_expected "$program_files/Winamp"
    uninstall_registered
    check "uninstalling removes it" [ ! -e "$program_files/Winamp/Plugins/gen_tralmo.dll" ]
    rm -rf "${made_folders[@]}"
    made_folders=()

    echo "== no player anywhere"
    check "setup without /D exits $exit_no_player" [ "$(run_wine "$setup" /S)" = "$exit_no_player" ]
    check "and registers nothing" key_absent "$uninstall_key"
fi

echo "== /D naming a folder with both players"
both="$work/Winamp and WACUP"
make_player "$both" winamp.exe wacup.exe
both_before=$(inventory "$both")
check "setup exits 0" [ "$(install_into "$both")" = 0 ]
check "and installs there for both" installed_as_expected "$both" "Winamp and WACUP"
uninstall_registered
check "uninstalling restores the folder" [ "$(inventory "$both")" = "$both_before" ]

echo "== /D naming a folder without a player"
empty="$work/not a player"
mkdir -p "$empty"
check "setup exits $exit_no_player" [ "$(install_into "$empty")" = "$exit_no_player" ]
check "and leaves the folder empty" [ -z "$(ls -A "$empty")" ]

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all setup checks passed"
