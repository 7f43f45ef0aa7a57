#!/bin/sh
# make-setup.sh BIN VERSION OUT: builds the setup package OUT (setupQV.run) from the programs
# in BIN (ozm-imgconv, ozm-setup): the sh header, then a gzip'ed tar of the stripped programs,
# Help.html, the icons and the table of the libraries' Debian packages, which the header uses
# to name what is missing. With SOURCE_DATE_EPOCH set, the same inputs give the same bytes.
set -eu
bin=$1 version=$2 out=$3
src=$(cd "$(dirname "$0")/.." && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/icons"
for p in ozm-imgconv ozm-setup; do
    strip --strip-unneeded --remove-section=.comment -o "$stage/$p" "$bin/$p"
    chmod 0755 "$stage/$p"
done
cp "$src/docs/Help.html" "$stage/Help.html"
cp "$src"/packaging/icons/ozm-imgconv.svg "$src"/packaging/icons/ozm-imgconv-*.png "$stage/icons/"
chmod 0644 "$stage/Help.html" "$stage"/icons/*
# soname -> package, from the libraries this machine resolves for the programs.
ldd "$stage/ozm-imgconv" "$stage/ozm-setup" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 }' |
    sort -u | while read -r soname path; do
        package=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null) || continue
        echo "$soname ${package%%:*}"
    done | sort -u > "$stage/libraries"
stamp=${SOURCE_DATE_EPOCH:-$(date +%s)}
sed "s/@VERSION@/$version/g" "$src/packaging/setup-header.sh" > "$out.tmp"
(cd "$stage" && find . -mindepth 1 | LC_ALL=C sort |
    tar --no-recursion --owner=0 --group=0 --numeric-owner --mtime="@$stamp" -cf - -T - |
    gzip -9n) >> "$out.tmp"
chmod 0755 "$out.tmp"
mv "$out.tmp" "$out"
