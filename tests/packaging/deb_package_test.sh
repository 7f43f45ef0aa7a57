#!/bin/bash
# The Debian package, made from this build's programs and unpacked into a scratch root (the
# machine's own system is never touched): it holds exactly the files of deb_files.txt, its
# programs run from there (the version, a conversion), its Depends come from the libraries,
# and the validators pass (lintian too, when installed; no error allowed). The same inputs
# give the same bytes. Usage: deb_package_test.sh BIN SOURCE
set -u
bin=$1 src=$2
for tool in dpkg-deb dpkg-shlibdeps strip desktop-file-validate; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/ozm-deb.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

version=$("$bin/ozmconv" --version | cut -d' ' -f2)
export SOURCE_DATE_EPOCH=1700000000
deb=$("$src/packaging/make-deb.sh" "$bin" "$version" "$work/a") || { echo "FAIL: make-deb"; exit 1; }
"$src/packaging/make-deb.sh" "$bin" "$version" "$work/b" >/dev/null
check "the same inputs give the same package" 'cmp -s "$deb" "$work/b/${deb##*/}"'
check "named by the version" '[ "${deb##*/}" = "ozm-imgconv_${version}-1_amd64.deb" ]'

dpkg-deb --fsys-tarfile "$deb" | tar -tf - | LC_ALL=C sort >"$work/files"
check "the files are those of deb_files.txt" 'diff "$src/tests/packaging/deb_files.txt" "$work/files"'
depends=$(dpkg-deb -f "$deb" Depends)
check "Depends names the libraries: $depends" \
  '[[ $depends == *libqt6widgets6* && $depends == *libjpeg62-turbo* && $depends == *libc6* ]]'
check "no maintainer scripts" '[ -z "$(dpkg-deb --ctrl-tarfile "$deb" | tar -tf - | grep -Ev "^\./(control|md5sums)?$")" ]'

root=$work/root
dpkg-deb -x "$deb" "$root"
check "ozmconv --version" '[ "$("$root/usr/bin/ozmconv" --version)" = "ozmconv $version" ]'
check "ozm-imgconv --version" '[ "$("$root/usr/bin/ozm-imgconv" --version)" = "ozm-imgconv $version" ]'
mkdir -p "$work/out"
picture=$(find "$src/tests/data/bmp" -name '*.bmp' | LC_ALL=C sort | head -n 1)
"$root/usr/bin/ozmconv" --to png --out "$work/out" "$picture" >/dev/null 2>&1
check "a conversion with the unpacked ozmconv" '[ -s "$work/out/$(basename "${picture%.*}").png" ]'
mkdir "$work/home"
env -i HOME="$work/home" PATH=/usr/bin:/bin "$root/usr/bin/ozm-setup" >/dev/null 2>&1
check "ozm-setup from the package adds this user's entries, no second copy" \
  '[ -f "$work/home/.config/Thunar/uca.xml" ] && [ ! -e "$work/home/.local/lib/ozm-imgconv" ] && [ ! -e "$work/home/.local/share/kio" ]'
check "the desktop entry validates" \
  'desktop-file-validate "$root/usr/share/applications/ozm-imgconv.desktop"'
check "the system hooks start the system's launcher" \
  '[ "$(grep -l "/usr/share/ozm-imgconv/{961D0854-67F5-451F-BB89-D3380C1FF3A9}/launch" "$root"/usr/share/kio/servicemenus/* "$root"/usr/share/nemo/actions/* | wc -l)" = 4 ]'
check "the launcher starts /usr/bin/ozm-imgconv" \
  'grep -qx "program='"'"'/usr/bin/ozm-imgconv'"'"'" "$root"/usr/share/ozm-imgconv/*/launch'
if command -v appstreamcli >/dev/null; then
  check "the metainfo validates" \
    'appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml >/dev/null'
fi
if command -v lintian >/dev/null; then
  check "lintian finds no error: $(lintian "$deb" 2>/dev/null)" 'lintian --fail-on error "$deb" >/dev/null 2>&1'
fi
[ $fail -eq 0 ] && echo "Debian package: all checks passed"
exit $fail
