#!/bin/bash
# Install into a scratch home, then uninstall through the window on a real X server (run
# under xvfb-run by ctest): the hooks go when the window opens, the start button removes the
# rest, the program file goes once the process has ended, and the home is left as it was
# except for what the user made in the program folder. Other programs' hooks survive.
# Usage: uninstall_e2e.sh OZM_IMGCONV OZM_SETUP HELP_HTML [SCREENSHOT_PNG]
set -u
binary=$1 setup=$2 help=$3 screenshot=${4:-}
for tool in xdotool xwininfo xprop sha256sum; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool is not installed"; exit 77; fi
done
if [ -z "${DISPLAY:-}" ]; then echo "SKIP: no X display (run under xvfb-run)"; exit 77; fi

work=$(mktemp -d)
trap '{ [ -z "${pid:-}" ] || kill -9 "$pid"; } 2>/dev/null; rm -rf "$work"' EXIT
home=$work/home
mkdir -p "$home" "$work/tmp" "$work/cache" "$work/state" "$work/runtime"
chmod 700 "$work/runtime"
export HOME=$home XDG_DATA_HOME=$home/.local/share XDG_CONFIG_HOME=$home/.config \
  XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state XDG_RUNTIME_DIR=$work/runtime \
  XDG_DATA_DIRS=/usr/share XDG_CONFIG_DIRS=/etc/xdg TMPDIR=$work/tmp
fail() { echo "FAIL: $*"; exit 1; }

# Another program's hooks, beside where ours go.
mkdir -p "$XDG_DATA_HOME/kio/servicemenus" "$XDG_DATA_HOME/nemo/actions" \
  "$XDG_CONFIG_HOME/caja/scripts" "$XDG_CONFIG_HOME/Thunar" "$home/Desktop"
printf '[Desktop Entry]\nType=Service\nActions=x;\n' >"$XDG_DATA_HOME/kio/servicemenus/other.desktop"
printf '[Nemo Action]\nName=Other\nExec=other %%F\n' >"$XDG_DATA_HOME/nemo/actions/other.nemo_action"
printf '#!/bin/sh\n' >"$XDG_CONFIG_HOME/caja/scripts/Other script"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<actions>\n<action>\n\t<name>Other</name>\n\t<unique-id>1-1</unique-id>\n\t<command>other %%f</command>\n\t<patterns>*</patterns>\n\t<other-files/>\n</action>\n</actions>\n' \
  >"$XDG_CONFIG_HOME/Thunar/uca.xml"

listing() {  # every path under the home with its kind, mode and content hash
  (cd "$home" && find . -printf '%y %m %p\n' | sort | while read -r kind mode path; do
    if [ "$kind" = f ]; then echo "$kind $mode $path $(sha256sum <"$path" | cut -c1-64)"
    elif [ "$kind" = l ]; then echo "$kind $path -> $(readlink "$path")"
    else echo "$kind $mode $path"; fi
  done)
}
listing >"$work/before"

"$setup" --program "$binary" --help-page "$help" >"$work/setup1" 2>&1 || { cat "$work/setup1"; fail "setup failed"; }
listing >"$work/installed"
"$setup" --program "$binary" --help-page "$help" >"$work/setup2" 2>&1 || fail "second setup failed"
grep -q '^installed' "$work/setup2" && fail "the second setup wrote files: $(cat "$work/setup2")"
listing | cmp -s - "$work/installed" || fail "the second setup changed the home"

program=$home/.local/lib/ozm-imgconv
launcher="$XDG_DATA_HOME/ozm-imgconv/{961D0854-67F5-451F-BB89-D3380C1FF3A9}/launch"
[ -x "$program/ozm-imgconv" ] && [ -x "$launcher" ] || fail "program or launcher missing"
# Caja and Nautilus show the scripts' names as their labels.
for label in 图片批量转换 转换文件夹中的图片; do
  [ -x "$XDG_CONFIG_HOME/caja/scripts/$label" ] && [ -x "$XDG_DATA_HOME/nautilus/scripts/$label" ] \
    || fail "no script named $label"
done
# The desktop shortcut marked trusted through gio (hermetic.sh's recording stand-in).
if [ -n "${OZM_E2E_LOG:-}" ]; then
  shortcut="$home/Desktop/OZM软件/图片批量转换.desktop"
  sum=$(sha256sum <"$shortcut" | cut -c1-64)
  grep -qxF "gio	set	-t	string	$shortcut	metadata::xfce-exe-checksum	$sum" "$OZM_E2E_LOG" &&
    grep -qxF "gio	set	$shortcut	metadata::trusted	true" "$OZM_E2E_LOG" ||
    fail "shortcut not marked trusted: $(cat "$OZM_E2E_LOG")"
fi
# What the user made while using the program: kept by the uninstall.
mkdir -p "$program/source" "$program/target"
printf 'picture' >"$program/source/p1.jpg"
printf '/home/x/\n' >"$program/HistoryPaths.txt"
printf '[default]\nCbPNG=1\n' >"$program/defualt.ini"

"$home/.local/bin/ozm-imgconv" uninstall 2>"$work/stderr" &
pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^卸载OZM软件 - 图片批量转换$" | head -1)
[ -n "$wid" ] || fail "window did not appear: $(cat "$work/stderr")"
[ -e "$launcher" ] && fail "the launcher is still there with the window open"
[ -e "$XDG_DATA_HOME/kio/servicemenus/OZMImageConvert.desktop" ] && fail "the service menu is still there"
grep -q OZMImageConvert "$XDG_CONFIG_HOME/Thunar/uca.xml" && fail "our Thunar action is still there"

geometry=$(xwininfo -id "$wid" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2} END{print x","y","w"x"h}')
[ "$geometry" = "380,407,420x150" ] || fail "geometry $geometry"
sleep 0.5
if [ -n "$screenshot" ] && command -v import >/dev/null; then
  import -window root -crop 460x190+360+387 +repage "$screenshot"
fi

# Enter: the start button holds the focus. Then the message at the pointer.
xdotool key --window "$wid" Return
msg=
for _ in $(seq 100); do
  msg=$(xdotool search --onlyvisible --name "^卸载OZM软件 - 图片批量转换$" 2>/dev/null | grep -v "^$wid$" | head -1)
  [ -n "$msg" ] && break
  sleep 0.1
done
[ -n "$msg" ] || fail "no message after the start"
xdotool key --window "$msg" Return 2>/dev/null  # the window is gone before the key is let go
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "still running after the message"
wait "$pid"; status=$?
[ $status -eq 0 ] || fail "exit status $status"
for _ in $(seq 100); do [ -e "$program/ozm-imgconv" ] || break; sleep 0.1; done
[ -e "$program/ozm-imgconv" ] && fail "the program file is still there"
sleep 0.3
[ -z "$(ls -A "$work/tmp")" ] || fail "the removal script stayed: $(ls -A "$work/tmp")"

# The home as before, except the program folder with what the user made in it.
listing | grep -v -E '^d [0-9]+ \./\.local(/lib)?$' \
  | grep -v -F -e "./.local/lib/ozm-imgconv" >"$work/after"
grep -v -E '^d [0-9]+ \./\.local(/lib)?$' "$work/before" >"$work/before.cmp"
diff "$work/before.cmp" "$work/after" || fail "the home differs from before the install"
[ -f "$program/source/p1.jpg" ] && [ -f "$program/HistoryPaths.txt" ] && [ -d "$program/target" ] \
  || fail "the user's files in the program folder are gone"
[ -e "$program/defualt.ini" ] && fail "the settings file is still there"
[ -e "$program/Help.html" ] && fail "Help.html is still there"
echo "PASS"
