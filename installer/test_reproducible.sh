#!/usr/bin/env bash
# Builds gen_tralmo.dll twice from the same sources, the second time from a
# copy of the sources at another path into a build folder at another path, and
# fails unless both are the same bytes and carry no build date. With makensis
# at hand it builds and compares the whole release zip too.
# usage: test_reproducible.sh WORK_DIR [BUILD_TYPE]
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 WORK_DIR [BUILD_TYPE]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(realpath -m "$1")
build_type=${2:-Release}
[ -n "$build_type" ] || build_type=Release

rm -rf "$work"
first_source="$work/first/src"
second_source="$work/copy/of the sources"
mkdir -p "$first_source" "$second_source"
# One snapshot of the working tree for both builds, without build output,
# history or this test's own folder.
excludes=(--exclude=./build --exclude=./out --exclude=./.git)
case "$work" in "$root"/*) excludes+=("--exclude=./${work#"$root"/}") ;; esac
tar -C "$root" "${excludes[@]}" -cf - . | tar -C "$first_source" -xf -
cp -a "$first_source/." "$second_source"

target=gen_tralmo
if command -v makensis >/dev/null; then target=dist; fi

build() { # source-dir build-dir
    cmake -S "$1" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE="$build_type" >"$2.log" 2>&1 ||
        { cat "$2.log"; return 1; }
    cmake --build "$2" --target "$target" -j "$(nproc)" >>"$2.log" 2>&1 ||
        { cat "$2.log"; return 1; }
}
build "$first_source" "$work/first/build"
mkdir -p "$work/second build"
build "$second_source" "$work/second build/at another depth"

first="$work/first/build/bin/gen_tralmo.dll"
second="$work/second build/at another depth/bin/gen_tralmo.dll"
if ! cmp -s "$first" "$second"; then
    set +o pipefail # the diagnosis below cuts long listings short
    echo "FAIL: the two builds differ in $(cmp -l "$first" "$second" | wc -l) bytes"
    cmp -l "$first" "$second" | head -10
    objdump=i686-w64-mingw32-objdump
    diff <("$objdump" -h "$first") <("$objdump" -h "$second") | head -40
    echo "paths of the build inside the second DLL:"
    strings -n 8 "$second" | grep -F -e "$work" -e "$root" | head
    exit 1
fi
echo "same bytes: $(stat -c %s "$first") bytes, sha256 $(sha256sum <"$first" | cut -c1-16)"
python3 "$root/installer/check_pe_timestamps.py" "$first"
if [ "$target" = dist ]; then
    first_zip=$(ls "$work/first/build/dist/"*.zip)
    second_zip=$(ls "$work/second build/at another depth/dist/"*.zip)
    if ! cmp "$first_zip" "$second_zip"; then
        echo "FAIL: the two release zips differ; the entries:"
        diff <(python3 -m zipfile -l "$first_zip") <(python3 -m zipfile -l "$second_zip")
        exit 1
    fi
    echo "same release zip: $(basename "$first_zip")"
    # The README in the zip shows its pictures from the zip itself.
    shown=$(grep -oE '!\[[^]]*\]\([^)]+\)' "$first_source/README.md" | sed -E 's/^!\[[^]]*\]\(//; s/\)$//')
    [ -n "$shown" ] || { echo "FAIL: found no picture in the README"; exit 1; }
    missing=$(grep -vxFf <(python3 -m zipfile -l "$first_zip" | awk 'NR > 1 {print $1}') <<<"$shown" || true)
    [ -z "$missing" ] || { echo "FAIL: the zip lacks pictures the README shows:" $missing; exit 1; }
    echo "the zip holds the $(wc -l <<<"$shown") pictures its README shows"
fi
rm -rf "$work"
