#!/bin/sh
# verify-in-chroot.sh DIST [CHROOT]: the packages on a fresh Debian 12, for real. Needs root
# and the network (debootstrap downloads a base system), so it is no part of ./x test.
#   1. debootstrap bookworm into CHROOT (default /var/tmp/ozm-verify-chroot) from the archive
#      apt already uses;
#   2. apt-get install ./ozm-imgconv_<version>-1_amd64.deb there (its dependencies from the
#      archive), ozmconv --version and a conversion, apt-get remove, and nothing of it stays;
#   3. as a plain user, on that system with only the run-time libraries left (apt-get remove
#      keeps the dependencies, and no build tool was ever installed): setupQV.run, then the
#      installed program's --version and its menu entry; then, with a virtual display and
#      xdotool added (test tools only), the hook's start: the quick menu, PNG to the desktop.
# Prints a summary for the release notes. The chroot is removed at the end unless KEEP=1.
set -eu
dist=$(cd "$1" && pwd)
chroot=${2:-/var/tmp/ozm-verify-chroot}
[ "$(id -u)" -eq 0 ] || { echo "verify-in-chroot: run as root" >&2; exit 1; }
deb=$(ls "$dist"/ozm-imgconv_*_amd64.deb | head -n 1)
[ -f "$deb" ] && [ -f "$dist/setupQV.run" ] || { echo "verify-in-chroot: run ./x package first" >&2; exit 1; }
command -v debootstrap >/dev/null || apt-get install -y -q --no-install-recommends debootstrap
mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Release: Debian' 2>/dev/null | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian/}
run_in() { chroot "$chroot" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
cleanup() {
    for m in proc sys dev/pts dev; do umount "$chroot/$m" 2>/dev/null || true; done
    [ "${KEEP:-0}" = 1 ] || rm -rf "$chroot"
}
trap cleanup EXIT
[ -x "$chroot/bin/sh" ] || debootstrap --variant=minbase bookworm "$chroot" "$mirror"
for m in proc sys dev dev/pts; do mount --bind "/$m" "$chroot/$m"; done
cp "$deb" "$dist/setupQV.run" "$chroot/tmp/"
picture=$(find "$(dirname "$0")/../samples" -maxdepth 1 -type f | sort | head -n 1)
cp "$picture" "$chroot/tmp/sample.${picture##*.}"
debname=$(basename "$deb")

echo "== apt-get install ./$debname"
run_in apt-get update -q
run_in sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./$debname"
run_in dpkg -L ozm-imgconv > "$chroot/tmp/listed"
run_in ozmconv --version
run_in ozm-imgconv --version
run_in ozmconv --to png --out /tmp/out "/tmp/sample.${picture##*.}"
echo "== apt-get remove ozm-imgconv"
run_in sh -c "DEBIAN_FRONTEND=noninteractive apt-get remove -y -q ozm-imgconv"
left=0
while read -r path; do
    [ -f "$chroot$path" ] && { echo "left behind: $path"; left=1; }
done < "$chroot/tmp/listed"
[ $left -eq 0 ] && echo "nothing of the package stays"

echo "== setupQV.run as a plain user"
run_in useradd -m verify
run_in su verify -c "sh /tmp/setupQV.run"
run_in su verify -c '$HOME/.local/bin/ozm-imgconv --version'
run_in su verify -c 'ls "$HOME/.local/share/applications/OZM软件"'
echo "== the quick menu of the installed program: PNG to the desktop"
run_in sh -c "DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends xvfb xauth xdotool" >/dev/null
cp "$chroot/tmp/sample.${picture##*.}" "$chroot/home/verify/sample.${picture##*.}"
run_in chown verify "/home/verify/sample.${picture##*.}"
# The menu opens at the pointer; Down Down Right picks PNG's submenu, "t" its desktop entry.
run_in su verify -c "xvfb-run -a sh -c '\$HOME/.local/bin/ozm-imgconv -- \$HOME/sample.${picture##*.} & p=\$!; sleep 4; for k in Down Down Right t; do xdotool key \$k; sleep 0.3; done; sleep 4; kill \$p'" 2>/dev/null || true
run_in su verify -c 'ls -l "$HOME/Desktop/"*.png'
echo "== done: the .deb installs, runs and goes; setupQV.run installs for a plain user, who converts"
