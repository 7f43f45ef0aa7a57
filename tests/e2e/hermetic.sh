#!/bin/bash
# Runs one end-to-end test sealed off from the machine it runs on: its own D-Bus session bus
# (no service of the machine can be activated on it), HOME, TMPDIR and every XDG_* variable in
# a scratch folder, and recording stand-ins first on PATH for every program the system may
# start outside itself: xdg-open and gio, the file managers, the image editors and the
# wallpaper setters. Each stand-in appends one line to $OZM_E2E_LOG, its name and arguments
# separated by tabs, and succeeds. So on a desktop with dbus-x11 and a file manager installed
# no bus is autolaunched into the home, no window of another program opens over the test's
# display, and nothing outside the scratch folder is written.
#
# Usage: hermetic.sh [--real PROGRAM]... [--service NAME]... [--] COMMAND [ARG...]
#   --real PROGRAM   no stand-in for PROGRAM: the test uses the machine's own (feh draws on the
#                    test's own X server; gio against the test's own bus)
#   --service NAME   the bus may start the machine's session service NAME when it is installed
#                    (gvfs's metadata store, which then keeps its data in the scratch home)
# COMMAND is usually xvfb-run with the test script; the scratch folder is removed afterwards.
# The test script sees OZM_E2E_WORK (the scratch folder) and OZM_E2E_LOG.
set -u
real=()
services=()
while [ $# -gt 0 ]; do
  case $1 in
    --real) real+=("$2"); shift 2 ;;
    --service) services+=("$2"); shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: hermetic.sh [--real PROGRAM]... [--service NAME]... [--] COMMAND [ARG...]" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ozm-e2e.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/tmp" "$work/runtime" "$work/bus" "$work/services" "$work/standins"
chmod 700 "$work/runtime" "$work/bus"

# The desktop the test may not see: every XDG_* and session variable of the caller goes.
while IFS= read -r name; do unset "$name"; done < <(compgen -e | grep -E '^(XDG_|DBUS_|SESSION_MANAGER$|DESKTOP_SESSION$|GNOME_|KDE_|MATE_|GIO_|GVFS_)')
export HOME=$work/home TMPDIR=$work/tmp \
  XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
  XDG_CACHE_HOME=$work/home/.cache XDG_STATE_HOME=$work/home/.local/state \
  XDG_RUNTIME_DIR=$work/runtime XDG_DATA_DIRS=/usr/local/share:/usr/share \
  XDG_CONFIG_DIRS=/etc/xdg
# GLib's settings stay in memory: no dconf database is made, none of the machine's is read.
export GSETTINGS_BACKEND=memory
# The tests read the Chinese interface whatever the caller's locale, and titles reach X in
# UTF-8 even when the caller's locale is not installed on the machine.
export OZM_LANG=zh LC_ALL=C.UTF-8
unset LANGUAGE

export OZM_E2E_WORK=$work OZM_E2E_LOG=$work/standins.log
: >"$OZM_E2E_LOG"
cat >"$work/standins/record" <<'EOF'
#!/bin/sh
# A recording stand-in: one line with its name and arguments, then success.
{
  printf '%s' "${0##*/}"
  for a in "$@"; do printf '\t%s' "$a"; done
  printf '\n'
} >>"$OZM_E2E_LOG"
exit 0
EOF
chmod 755 "$work/standins/record"
standins=(
  xdg-open gio gvfs-open kde-open kde-open5 kioclient kioclient5 exo-open gnome-open mate-open
  thunar Thunar nemo caja nautilus dolphin pcmanfm pcmanfm-qt konqueror
  kolourpaint pinta drawing gimp
  gsettings dconf xfconf-query qdbus qdbus6 qdbus-qt5 plasma-apply-wallpaperimage feh
)
for name in "${standins[@]}"; do
  for keep in ${real[@]+"${real[@]}"}; do [ "$name" = "$keep" ] && continue 2; done
  ln -s record "$work/standins/$name"
done
export PATH=$work/standins:$PATH

# A session bus of the test's own: it listens in the scratch folder and activates nothing
# but the services asked for.
if command -v dbus-run-session >/dev/null && command -v dbus-daemon >/dev/null; then
  for name in ${services[@]+"${services[@]}"}; do
    for dir in /usr/local/share/dbus-1/services /usr/share/dbus-1/services; do
      if [ -f "$dir/$name.service" ]; then cp "$dir/$name.service" "$work/services/"; break; fi
    done
  done
  cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work/bus</listen>
  <servicedir>$work/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  dbus-run-session --config-file="$work/bus.conf" -- "$@"
else
  # No bus at all, and none autolaunched either: the address is set, to one that never connects.
  export DBUS_SESSION_BUS_ADDRESS=disabled:
  "$@"
fi
