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
# soname -> package, from the libraries this machine resolves for the programs: one dpkg
# query for all of them, by the path ldd gives and by the resolved one (a merged /usr knows
# some only by one of the two).
ldd "$stage/ozm-imgconv" "$stage/ozm-setup" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 }' |
    sort -u > "$stage/resolved"
while read -r soname path; do
    echo "$path $soname"
    echo "$(readlink -f "$path") $soname"
done < "$stage/resolved" | sort -u > "$stage/paths"
cut -d' ' -f1 "$stage/paths" | xargs dpkg -S 2>/dev/null |
    awk 'NR == FNR { owner[$2] = $1; next }
         ($1 in owner) { p = owner[$1]; sub(/:.*/, "", p); print $2, p }' - "$stage/paths" |
    sort -u -k1,1 > "$stage/libraries"
rm "$stage/resolved" "$stage/paths"
stamp=${SOURCE_DATE_EPOCH:-$(date +%s)}
sed "s/@VERSION@/$version/g" "$src/packaging/setup-header.sh" > "$out.tmp"
(cd "$stage" && find . -mindepth 1 | LC_ALL=C sort |
    tar --no-recursion --owner=0 --group=0 --numeric-owner --mtime="@$stamp" -cf - -T - |
    gzip -9n) >> "$out.tmp"
chmod 0755 "$out.tmp"
mv "$out.tmp" "$out"
