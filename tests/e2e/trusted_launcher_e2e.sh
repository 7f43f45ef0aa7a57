#!/bin/bash
# The desktop shortcut marked trusted by the machine's own gio, against the test's own bus
# (run by hermetic.sh with gvfs's metadata services): after an install into the scratch home
# the shortcut carries metadata::trusted and its own SHA-256 as metadata::xfce-exe-checksum.
# Without a metadata store (no gvfs), gio fails: the install must still complete, then the
# test skips.
# Usage: trusted_launcher_e2e.sh OZM_SETUP OZM_IMGCONV
set -u
setup=$1 binary=$2
for tool in gio sha256sum; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool is not installed"; exit 77; fi
done
case $(command -v gio) in
  "${OZM_E2E_WORK:-/nonexistent}"/*) echo "SKIP: gio is a stand-in here (run with hermetic.sh --real gio)"; exit 77 ;;
esac
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || { echo "SKIP: no session bus"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

"$setup" --program "$binary" >"$TMPDIR/setup" 2>&1 || { cat "$TMPDIR/setup"; fail "setup failed"; }
shortcut="$HOME/Desktop/OZM软件/图片批量转换.desktop"
[ -x "$shortcut" ] || fail "no desktop shortcut"
info=$(gio info -a 'metadata::*' "$shortcut" 2>&1)
if ! printf '%s\n' "$info" | grep -q 'metadata::'; then
  gio set "$shortcut" metadata::ozm-probe x 2>/dev/null && fail "gio keeps metadata, the install set none"
  echo "SKIP: gio keeps no metadata here (gvfs is not installed); the install completed"
  exit 77
fi
sum=$(sha256sum <"$shortcut" | cut -c1-64)
printf '%s\n' "$info" | grep -qx "  metadata::xfce-exe-checksum: $sum" || fail "checksum: $info"
printf '%s\n' "$info" | grep -qx "  metadata::trusted: true" || fail "trusted: $info"
echo "PASS"
