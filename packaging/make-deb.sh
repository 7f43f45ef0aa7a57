#!/bin/sh
# make-deb.sh BIN VERSION OUT: stages the Debian package of the programs in BIN (ozm-imgconv,
# ozmconv, ozm-setup, ozm-stage-hooks) and builds OUT/ozm-imgconv_VERSION-1_amd64.deb with
# dpkg-deb. The run-time Depends come from dpkg-shlibdeps. With SOURCE_DATE_EPOCH set (else
# the last commit's time), the same inputs give the same bytes.
set -eu
bin=$(cd "$1" && pwd) version=$2 out=$3
src=$(cd "$(dirname "$0")/.." && pwd)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct 2>/dev/null || date +%s)}
umask 022
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
deb=$src/packaging/debian
doc=$root/usr/share/doc/ozm-imgconv

mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/ozm-imgconv" "$doc" \
    "$root/usr/share/man/man1" "$root/usr/share/applications" "$root/usr/share/metainfo" \
    "$root/usr/share/bash-completion/completions"
for p in ozm-imgconv ozmconv ozm-setup; do
    strip --strip-unneeded --remove-section=.comment --remove-section=.note -o "$root/usr/bin/$p" "$bin/$p"
    chmod 0755 "$root/usr/bin/$p"
done
install -m 0644 "$src/docs/Help.html" "$root/usr/share/ozm-imgconv/Help.html"
"$bin/ozm-stage-hooks" "$root"
install -m 0644 "$deb/ozm-imgconv.desktop" "$root/usr/share/applications/"
date=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
sed "s/@VERSION@/$version/g; s/@DATE@/$date/g" "$deb/ozm-imgconv.metainfo.xml.in" \
    > "$root/usr/share/metainfo/example.ozmware.imgconv.metainfo.xml"
for page in ozmconv.1 ozm-imgconv.1 ozm-setup.1; do
    sed "s/@VERSION@/$version/g" "$deb/$page" | gzip -9n > "$root/usr/share/man/man1/$page.gz"
done
install -m 0644 "$deb/ozmconv.bash-completion" "$root/usr/share/bash-completion/completions/ozmconv"
install -m 0644 "$deb/copyright" "$doc/copyright"
sed "s/@VERSION@/$version/g; s/@DATE@/$(date -u -R -d "@$SOURCE_DATE_EPOCH")/" "$deb/changelog.in" |
    gzip -9n > "$doc/changelog.Debian.gz"
icons=$root/usr/share/icons/hicolor
install -D -m 0644 "$src/packaging/icons/ozm-imgconv.svg" "$icons/scalable/apps/ozm-imgconv.svg"
for size in 16 24 32 48 64 128 256; do
    install -D -m 0644 "$src/packaging/icons/ozm-imgconv-$size.png" "$icons/${size}x$size/apps/ozm-imgconv.png"
done

# dpkg-shlibdeps reads the package's name from a debian/control beside it.
mkdir -p "$work/src/debian"
printf 'Source: ozm-imgconv\n\nPackage: ozm-imgconv\nArchitecture: amd64\n' > "$work/src/debian/control"
depends=$(cd "$work/src" && dpkg-shlibdeps -O -e "$root/usr/bin/ozm-imgconv" \
    -e "$root/usr/bin/ozmconv" -e "$root/usr/bin/ozm-setup" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "make-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
size=$(du -sk --apparent-size --exclude=DEBIAN "$root" | cut -f1)
sed "s/@VERSION@/$version/g; s/@SIZE@/$size/; s/@DEPENDS@/$depends/" "$deb/control.in" > "$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 0755 {} +
mkdir -p "$out"
dpkg-deb --root-owner-group -Zxz --build "$root" "$out/ozm-imgconv_${version}-1_amd64.deb" >/dev/null
echo "$out/ozm-imgconv_${version}-1_amd64.deb"
