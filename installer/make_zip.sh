#!/usr/bin/env bash
# Packs files into a zip that is the same bytes whenever the files are: flat,
# sorted, fixed dates and modes, no extra fields.
# usage: make_zip.sh OUT.zip FILE...
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 OUT.zip FILE..." >&2; exit 2; }
out=$(realpath -m "$1")
shift

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# The dates go into the zip as local time: one zone for touch and zip.
export TZ=UTC LC_ALL=C
for file in "$@"; do
    name=$(basename "$file")
    [ ! -e "$stage/$name" ] || { echo "make_zip: $name given twice" >&2; exit 1; }
    cp "$file" "$stage/$name"
    chmod 0644 "$stage/$name"
    touch -d '2026-01-01 00:00:00' "$stage/$name"
done

mkdir -p "$(dirname "$out")"
rm -f "$out.tmp"
mapfile -t names < <(find "$stage" -mindepth 1 -printf '%f\n' | sort)
(cd "$stage" && zip -X -D -q -9 "$out.tmp" "${names[@]}")
mv -f "$out.tmp" "$out"
echo "make_zip: $out"
