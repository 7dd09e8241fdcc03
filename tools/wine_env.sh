# Sourced by every script that runs Wine, whatever environment it was started
# from (a minimal machine, cron, `env -i`).
#
# Wine maps Windows file names to Unix ones through the Unix locale's
# character set: under C, or a locale that is named but not installed, it
# fails every name outside ASCII ("path not found"). Where the caller's
# character set is not UTF-8, Wine runs under C.UTF-8, which every Debian
# system has (and which gives the ANSI code page 1252); this is said once, as
# scripts that source this again see UTF-8 then.

# bash's own PATH when none was given is neither exported nor what root has.
if [[ $(declare -p PATH 2>/dev/null) != "declare -x"* ]]; then
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
fi
export PATH
if [ -z "${HOME:-}" ]; then
    HOME=$(getent passwd "$(id -u)" | cut -d: -f6)
fi
export HOME
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}"
export WINEDEBUG=-all

tralmo_charset=$(locale charmap 2>/dev/null || true)
if [ "$tralmo_charset" != UTF-8 ]; then
    echo "${0##*/}: the locale's character set is ${tralmo_charset:-unknown}, not UTF-8:" \
        "running Wine under C.UTF-8" >&2
    export LC_ALL=C.UTF-8
fi
unset tralmo_charset
