#!/bin/bash
# The folder actions on a real X server (run under xvfb-run by ctest): Delete with its
# question answered by Return puts the file into the trash and refreshes the list; rename by
# the list's menu and the rename window, all by keyboard; the target row's Desktop button.
# Usage: folder_actions_e2e.sh OZM_IMGCONV_BINARY [SCREENSHOT_FOLDER]
set -u
binary=$1
shots=${2:-}
for tool in xdotool xwininfo convert; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool is not installed"; exit 77; fi
done
if [ -z "${DISPLAY:-}" ]; then echo "SKIP: no X display (run under xvfb-run)"; exit 77; fi

work=$(mktemp -d)
trap '{ [ -z "${pid:-}" ] || kill -9 "$pid"; } 2>/dev/null; rm -rf "$work"' EXIT
program=$work/program
mkdir -p "$program/source" "$work/home/.config"
chmod 755 "$program"
cp "$binary" "$program/ozm-imgconv"
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
  XDG_CACHE_HOME=$work/home/.cache XDG_STATE_HOME=$work/home/.local/state \
  XDG_RUNTIME_DIR=$work/runtime XDG_DATA_DIRS=$work/share XDG_CONFIG_DIRS=$work/etc
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# A desktop folder with a blank in its name, as user-dirs.dirs may give it.
printf 'XDG_DESKTOP_DIR="$HOME/My Desk"\n' >"$XDG_CONFIG_HOME/user-dirs.dirs"
fail() { echo "FAIL: $*"; exit 1; }

convert -size 64x48 plasma:fractal "$program/source/p1.jpg"
convert -size 64x48 gradient:red-blue "$program/source/p2.jpg"
convert -size 64x48 gradient:green-white "$program/source/p3.jpg"
p1=$(md5sum <"$program/source/p1.jpg")
p2=$(md5sum <"$program/source/p2.jpg")

"$program/ozm-imgconv" 2>"$work/stderr" &
pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^OZM图片批量转换器" | head -1)
[ -n "$wid" ] || fail "window did not appear"
sleep 0.8  # the fade-in

click_at() { xdotool mousemove --window "$wid" "$1" "$2" click "${3:-1}"; sleep 0.3; }
wait_for() {  # seconds command...
  local n=$(( $1 * 10 )); shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}
dialog() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }

# The source list (left half): list it, select the first entry, Delete, Return = Yes.
click_at 400 400; xdotool key F5; sleep 0.3
click_at 200 83
xdotool key Delete
wait_for 5 test -n "$(dialog 提醒)" || fail "no question before deleting"
xdotool key Return
trashed=$XDG_DATA_HOME/Trash/files/p1.jpg
wait_for 5 test -f "$trashed" || fail "p1.jpg not in the trash: $(ls -R "$XDG_DATA_HOME" 2>&1)"
[ ! -e "$program/source/p1.jpg" ] || fail "p1.jpg still in the source folder"
[ "$(md5sum <"$trashed")" = "$p1" ] || fail "trashed bytes differ"
grep -qx "Path=$(printf '%s' "$program/source/p1.jpg" | sed 's/ /%20/g')" \
  "$XDG_DATA_HOME/Trash/info/p1.jpg.trashinfo" || fail "trash record: $(cat "$XDG_DATA_HOME/Trash/info/p1.jpg.trashinfo")"

# The list was refreshed: its first entry is now p2.jpg, which the rename window renames.
click_at 200 83
click_at 200 83 3
sleep 0.3
# 转换所选图片, (separator), 用默认方式打开, 打开所在文件夹, 删除所选图片, 重命名.
xdotool key Down Down Down Down Down Return
wait_for 5 test -n "$(dialog 更改名称)" || fail "rename window did not open"
rename_wid=$(dialog 更改名称)
sleep 0.3
if [ -n "$shots" ]; then
  import -window root "$work/root.png"
  geometry=$(xwininfo -id "$rename_wid" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2} END{print w"x"h"+"x"+"y}')
  convert "$work/root.png" -crop "$geometry" +repage "$shots/rename-window.png"
fi
xdotool type --delay 30 "holiday"
xdotool key Return
wait_for 5 test -f "$program/source/holiday.jpg" || fail "rename by Enter did not happen: $(ls "$program/source")"
[ "$(md5sum <"$program/source/holiday.jpg")" = "$p2" ] || fail "renamed bytes differ"
[ ! -e "$program/source/p2.jpg" ] || fail "p2.jpg still there"

# Esc in the rename window keeps the name.
click_at 200 83
click_at 200 83 3
xdotool key Down Down Down Down Down Return
wait_for 5 test -n "$(dialog 更改名称)" || fail "rename window did not open again"
xdotool type --delay 30 "other"
xdotool key Escape
sleep 0.5
[ -f "$program/source/holiday.jpg" ] && [ ! -e "$program/source/other.jpg" ] || fail "Esc renamed"

# The Desktop button of the target row (right half): the target folder becomes the desktop.
click_at 782 59
wait_for 5 grep -qxF "TargetPath=$HOME/My Desk/" "$program/defualt.ini" \
  || fail "target folder not the desktop: $(grep TargetPath "$program/defualt.ini")"
[ -d "$HOME/My Desk" ] || fail "desktop folder not made"

kill -TERM "$pid"; wait "$pid"; status=$?
[ $status -eq 0 ] || fail "exit status $status"
echo "PASS"
