#!/bin/bash
# The setup package setupQV.run, made from this build's programs: it installs exactly what
# ozm-setup installs (./x install), replaces an older install in place but keeps a file the
# user changed, and with a library missing or a damaged payload names the problem and
# changes nothing. Usage: setup_package_test.sh BIN SOURCE
set -u
bin=$1 src=$2
for tool in strip dpkg gzip tar ldd; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/ozm-setup-package.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

export SOURCE_DATE_EPOCH=1700000000
"$src/packaging/make-setup.sh" "$bin" 9.8 "$work/setupQV.run" || { echo "FAIL: make-setup"; exit 1; }
"$src/packaging/make-setup.sh" "$bin" 9.8 "$work/again.run"
check "the same inputs give the same package" 'cmp -s "$work/setupQV.run" "$work/again.run"'

home=$work/home
scratch() {
  rm -rf "$home" && mkdir -p "$home"
  export HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config \
    XDG_CONFIG_DIRS=$work/no-system-config
}
# Every path with its type and mode, and the bytes of every file but the programs (the
# package's are stripped) and the manifest (which hashes them).
listing() {
  (cd "$home" && find . -printf '%y %m %p\n' | LC_ALL=C sort
   find . -type f ! -name ozm-imgconv ! -name '*.manifest' -print0 | LC_ALL=C sort -z |
     xargs -0 -r sha256sum)
}

scratch
"$bin/ozm-setup" --program "$bin/ozm-imgconv" --help-page "$src/docs/Help.html" \
  --icons "$src/packaging/icons" >/dev/null
listing >"$work/by-setup"
scratch
out=$("$work/setupQV.run" 2>&1)
status=$?
check "the package installs (status 0, not $status): $out" '[ $status -eq 0 ]'
listing >"$work/by-package"
check "the package installs what ozm-setup installs" 'diff "$work/by-setup" "$work/by-package"'
strip --strip-unneeded --remove-section=.comment -o "$work/stripped" "$bin/ozm-imgconv"
check "the installed program is the package's" \
  'cmp -s "$home/.local/lib/ozm-imgconv/ozm-imgconv" "$work/stripped"'

# Over an older install: its program is replaced, a menu entry the user edited stays.
scratch
printf '#!/bin/sh\necho old\n' >"$work/old-program"
"$bin/ozm-setup" --program "$work/old-program" --help-page "$src/docs/Help.html" \
  --icons "$src/packaging/icons" >/dev/null
entry=$(find "$XDG_DATA_HOME/applications" -name '*.desktop' | head -n 1)
echo "# edited" >>"$entry"
cp "$entry" "$work/edited"
"$work/setupQV.run" >/dev/null 2>&1
check "the older program is replaced" \
  '! cmp -s "$home/.local/lib/ozm-imgconv/ozm-imgconv" "$work/old-program"'
check "the entry the user edited stays" 'cmp -s "$entry" "$work/edited"'

# A missing library: named with its package and the apt-get line; nothing is written.
scratch
mkdir -p "$work/fake"
cat >"$work/fake/ldd" <<'LDD'
#!/bin/sh
for f in "$@"; do
  echo "$f:"
  echo "	libQt6Widgets.so.6 => not found"
  echo "	libozm-nowhere.so.1 => not found"
  echo "	libc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x00007f0000000000)"
done
LDD
chmod 755 "$work/fake/ldd"
out=$(PATH=$work/fake:$PATH "$work/setupQV.run" 2>&1)
status=$?
check "a missing library fails the install (status 1, not $status)" '[ $status -eq 1 ]'
check "the missing libraries are named: $out" \
  '[[ $out == *"libQt6Widgets.so.6 (package libqt6widgets6)"* && $out == *libozm-nowhere.so.1* ]]'
check "the apt-get line names the package: $out" \
  '[[ $out == *"sudo apt-get install libqt6widgets6"* ]]'
check "nothing is written when a library is missing" '[ -z "$(ls -A "$home")" ]'

# A damaged download: refused, nothing written.
head -c 30000 "$work/setupQV.run" >"$work/damaged.run"
out=$(sh "$work/damaged.run" 2>&1)
status=$?
check "a damaged package fails (status 1, not $status)" '[ $status -eq 1 ]'
check "nothing is written from a damaged package" '[ -z "$(ls -A "$home")" ]'

out=$("$work/setupQV.run" --help)
status=$?
check "--help names the version, status 0 (not $status)" '[ $status -eq 0 ] && [[ $out == *"ozm-imgconv 9.8"* ]]'
"$work/setupQV.run" --no-such-option >/dev/null 2>&1
check "a wrong option is status 1" '[ $? -eq 1 ]'

[ $fail -eq 0 ] && echo "setup package: all checks passed"
exit $fail
