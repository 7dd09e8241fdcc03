#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and prepares the Wine
# prefix. Idempotent: quick when everything is already there.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"

packages=(cmake g++ git clang libclang-rt-14-dev googletest cppcheck clang-format
          g++-mingw-w64-i686-win32 mingw-w64-i686-dev binutils-mingw-w64-i686
          wine wine32:i386 fonts-wine xvfb xauth x11-utils imagemagick nsis zip python3 fonts-wqy-microhei
          graphviz)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    # Only installing needs root; with everything there any user may build and test.
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: ${missing[*]} missing; run this once as root to install them" >&2
        exit 1
    fi
    echo "setup: installing ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ ! -f "$WINEPREFIX/.tralmo-ready" ]; then
    echo "setup: preparing the Wine prefix $WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    # Without a window manager Wine waits ~2 s at every dialog close unless
    # windows are unmanaged.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w || true
    touch "$WINEPREFIX/.tralmo-ready"
fi
# Debian's Wine does not find its own fonts (fonts-wine): captions would lack
# their button glyphs (Marlett) and the dialogs' Tahoma would fall back to
# another face with other metrics. Link those few into the prefix.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
for font in marlett.ttf tahoma.ttf tahomabd.ttf; do
    if [ -d "$fonts" ] && [ -f "/usr/share/wine/fonts/$font" ] && [ ! -e "$fonts/$font" ]; then
        ln -s "/usr/share/wine/fonts/$font" "$fonts/$font"
    fi
done
