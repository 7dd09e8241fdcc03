#!/usr/bin/env bash
# Packs files into a zip that is the same bytes whenever the files are: sorted,
# fixed dates and modes, no extra fields, no folder entries. Files go to the
# top of the zip, those after "--into DIR" into the folder DIR.
# usage: make_zip.sh OUT.zip FILE... [--into DIR FILE...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 OUT.zip FILE... [--into DIR FILE...]" >&2; exit 2; }
out=$(realpath -m "$1")
shift

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# The dates go into the zip as local time: one zone for touch and zip.
export TZ=UTC LC_ALL=C
folder=.
while [ $# -gt 0 ]; do
    if [ "$1" = --into ]; then
        [ $# -ge 2 ] || { echo "make_zip: --into needs a folder" >&2; exit 2; }
        folder=$2
        mkdir -p "$stage/$folder"
        shift 2
        continue
    fi
    entry="$folder/$(basename "$1")"
    [ ! -e "$stage/$entry" ] || { echo "make_zip: ${entry#./} given twice" >&2; exit 1; }
    cp "$1" "$stage/$entry"
    chmod 0644 "$stage/$entry"
    touch -d '2026-01-01 00:00:00' "$stage/$entry"
    shift
done

mkdir -p "$(dirname "$out")"
rm -f "$out.tmp"
mapfile -t names < <(find "$stage" -type f -printf '%P\n' | sort)
(cd "$stage" && zip -X -D -q -9 "$out.tmp" "${names[@]}")
mv -f "$out.tmp" "$out"
echo "make_zip: $out"
