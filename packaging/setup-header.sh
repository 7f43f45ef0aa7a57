#!/bin/sh
# setupQV.run: installs ozm-imgconv @VERSION@ for the user who runs it, without root, into
# ~/.local (HOME and XDG_* honoured): the program folder, the link, the file-manager hooks,
# the menu entry, the desktop shortcut, the icons and the manifest. Over an earlier install
# it replaces what that one installed and the user did not change.
# The compressed payload follows the line __PAYLOAD__.
set -u
prog=setupQV.run
usage() {
    cat <<USAGE
usage: $prog [--help]
Installs ozm-imgconv @VERSION@ for you (no root needed) into ~/.local; HOME and the
XDG_* variables say where. Run it again over an earlier version to update it in place;
files you changed are left as they are. Remove it with: ozm-imgconv uninstall
Exit status: 0 installed, 1 not (nothing is changed when a library is missing).
USAGE
}
case "${1:-}" in
    --help | -h) usage; exit 0 ;;
    "") ;;
    *) usage >&2; exit 1 ;;
esac
self=$0
# "sh setupQV.run" names a file in the current folder; a bare name found on PATH, one there.
[ -f "$self" ] || self=$(command -v -- "$self") || exit 1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/setupQV.XXXXXX") || { echo "$prog: no temporary folder" >&2; exit 1; }
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' HUP INT TERM
line=$(awk '/^__PAYLOAD__$/ { print NR + 1; exit }' "$self")
if [ -z "$line" ] || ! tail -n "+$line" "$self" | gzip -dc | tar -xf - -C "$tmp"; then
    echo "$prog: the package is damaged; download it again" >&2
    exit 1
fi
# Every library the programs need must resolve before anything is written.
missing=$(ldd "$tmp/ozm-imgconv" "$tmp/ozm-setup" 2>/dev/null |
          awk '$2 == "=>" && $3 == "not" { print $1 }' | sort -u)
if [ -n "$missing" ]; then
    echo "$prog: these libraries are missing, nothing was installed:" >&2
    packages=""
    for lib in $missing; do
        package=$(awk -v lib="$lib" '$1 == lib { print $2; exit }' "$tmp/libraries")
        echo "  $lib${package:+ (package $package)}" >&2
        case " $packages " in *" $package "*) ;; *) packages="$packages${package:+ $package}" ;; esac
    done
    [ -n "$packages" ] && echo "Install them with: sudo apt-get install$packages" >&2
    exit 1
fi
"$tmp/ozm-setup" --program "$tmp/ozm-imgconv" --help-page "$tmp/Help.html" --icons "$tmp/icons" ||
    exit 1
exit 0
__PAYLOAD__
