#!/bin/bash
# The quick conversion on a real X server (run under xvfb-run by ctest), started as the
# file-manager hooks start it: the menu at the pointer, driven by the keyboard; the progress
# window; presets that reopen the menu in place; the end two seconds after Esc; the clipboard;
# the wallpaper through feh; every format into every destination; and closing the progress
# window at random moments.
# Usage: quick_menu_e2e.sh OZM_IMGCONV_BINARY [--quick | --full]
#   default  every format once and every destination once (8 runs), 6 random stops
#   --full   every format into every destination (64 runs), 20 random stops (about 7 minutes)
#   --quick  skips both
set -u
binary=$1
full=1
matrix=diagonal
stops=6
case "${2:-}" in
  --quick) full=0 ;;
  --full) matrix=all; stops=20 ;;
esac
for tool in xdotool xwininfo convert compare python3 xclip feh; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool is not installed"; exit 77; fi
done
if [ -z "${DISPLAY:-}" ]; then echo "SKIP: no X display (run under xvfb-run)"; exit 77; fi

work=$(mktemp -d)
trap '{ [ -z "${pid:-}" ] || kill -9 "$pid"; } 2>/dev/null; pkill -P $$ xclip 2>/dev/null; rm -rf "$work"' EXIT
program=$work/program
pics=$work/pics
mkdir -p "$program" "$pics" "$work/home"
chmod 755 "$program"
cp "$binary" "$program/ozm-imgconv"
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_CACHE_HOME=$work/home/.cache XDG_STATE_HOME=$work/home/.local/state
export XDG_RUNTIME_DIR=$work/home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP XDG_DATA_DIRS XDG_CONFIG_DIRS
fail() { echo "FAIL: $*"; cat "$work/stderr" 2>/dev/null; exit 1; }

convert -size 320x200 plasma:fractal -quality 90 "$pics/a.jpg"
convert -size 160x120 gradient:red-blue -type TrueColor "BMP3:$pics/b.bmp"

# Starts the program with the files, the pointer at 400,300; waits for the menu.
start() {
  xdotool mousemove 400 300
  "$program/ozm-imgconv" -- "$@" 2>"$work/stderr" &
  pid=$!
  menu=$(timeout 10 xdotool search --sync --onlyvisible --classname ozm-imgconv | head -1)
  [ -n "$menu" ] || fail "menu did not appear"
  sleep 0.3
}
place() { xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x","y}'; }
keys() { for k in "$@"; do xdotool key "$k"; sleep 0.12; done; }
# Waits at most $1 seconds for the program to end; fails otherwise; returns its status.
ends_within() {
  for _ in $(seq $(($1 * 20))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$pid" 2>/dev/null && fail "still running after $1 s"
  wait "$pid"
}
progress_window() { timeout 10 xdotool search --sync --onlyvisible --name "^Converting image" | head -1; }
close_progress() { python3 "$(dirname "$0")/close_window.py" "$1" >/dev/null; }
desktop=$HOME/Desktop

# 1. The menu at the pointer; PNG -> 我的桌面(&T); the progress window at the bottom right.
mkdir -p "$desktop"
convert -size 8x8 xc:white "$desktop/a.png"
start "$pics/a.jpg" "$pics/b.bmp"
[ "$(place "$menu")" = "400,300" ] || fail "menu at $(place "$menu")"
import -window root -crop 640x420+390+290 "$work/menu.png"
keys Down Down Right t
win=$(progress_window)
[ -n "$win" ] || fail "no progress window"
[ "$(place "$win")" = "727,831" ] || fail "progress window at $(place "$win")"
for _ in $(seq 50); do [ -f "$desktop/b.png" ] && break; sleep 0.1; done
sleep 0.5
import -window root -crop 560x130+715+820 "$work/progress.png"
[ "$(identify -format %wx%h "$desktop/a(1).png")" = "320x200" ] || fail "a(1).png"
[ "$(identify -format %wx%h "$desktop/b.png")" = "160x120" ] || fail "b.png"
close_progress "$win"
ends_within 5 || fail "exit status after the progress window closed"
grep -q "^LastUseImageTypeTag=2" "$program/defualt.ini" || fail "last format not stored"
head -1 "$program/HistoryPaths.txt" | grep -qx "$desktop/" || fail "target not first in the history"
# "转换后打开目标文件夹" is ticked by default: the folder goes to xdg-open (hermetic.sh's stand-in).
if [ -n "${OZM_E2E_LOG:-}" ]; then
  grep -qxF "xdg-open	$desktop/" "$OZM_E2E_LOG" || fail "target folder not opened: $(cat "$OZM_E2E_LOG")"
fi
echo "ok: PNG to the desktop, progress window at 727,831"
if [ -n "${OZM_SCREENSHOTS:-}" ]; then
  cp "$work/menu.png" "$OZM_SCREENSHOTS/quick-menu.png"
  cp "$work/progress.png" "$OZM_SCREENSHOTS/progress-window.png"
fi

# 2. A preset reopens the menu where it was, whatever the pointer did; Esc ends it ~2 s later.
start "$pics/a.jpg"
xdotool mousemove 900 900; sleep 0.2
keys Down Right Up Right Down Return  # JPG -> JPG质量 (the last entry) -> 好质量(75%)
sleep 0.5
reopened=$(xdotool search --onlyvisible --classname ozm-imgconv | head -1)
[ -n "$reopened" ] || fail "menu did not reopen"
[ "$(place "$reopened")" = "400,300" ] || fail "menu reopened at $(place "$reopened")"
grep -q "^MnJPGQualityTag=75" "$program/defualt.ini" || fail "quality not stored"
xdotool key Escape
escaped=$(date +%s%N)
ends_within 5 || fail "exit status after Esc"
took=$(( ($(date +%s%N) - escaped) / 1000000 ))
[ $took -ge 1800 ] && [ $took -le 3500 ] || fail "ended ${took} ms after Esc"
echo "ok: preset reopened in place, ended ${took} ms after Esc"

# 3. The clipboard holds the first file's pixels; another program taking it ends this one.
start "$pics/b.bmp" "$pics/a.jpg"
keys Up Up Up Up Return     # from the bottom: 拷贝到剪贴板
sleep 1
kill -0 "$pid" 2>/dev/null || fail "ended while holding the clipboard"
xclip -selection clipboard -t image/png -o >"$work/clip.png" || fail "nothing on the clipboard"
diff=$(compare -metric AE "$work/clip.png" "$pics/b.bmp" null: 2>&1)
[ "$diff" = "0" ] || fail "clipboard pixels differ in $diff places"
echo taken | xclip -selection clipboard -i
ends_within 5 || fail "exit status after the clipboard was taken"
echo "ok: clipboard pixels exact, program ended when the clipboard was taken"

# 4. The wallpaper through feh (no desktop named): 居中 of a 320x200 image on 1280x1024.
start "$pics/a.jpg"
keys Up Up Up Right Return
ends_within 10 || fail "exit status after the wallpaper"
[ "$(identify -format %wx%h "$XDG_DATA_HOME/ozm-imgconv/Wallpaper1.bmp")" = "320x200" ] ||
  fail "wallpaper bitmap"
import -window root "$work/root.png"
centre=$(convert "$work/root.png" -crop 320x200+480+412 +repage png:- |
  compare -metric AE -fuzz 3% - "$pics/a.jpg" null: 2>&1)
[ "${centre%% *}" -lt 640 ] 2>/dev/null || fail "wallpaper not on the root window ($centre)"
grep -q "^TileWallpaper=0" "$program/defualt.ini" || fail "wallpaper values not recorded"
echo "ok: feh shows the wallpaper"

[ $full -eq 1 ] || { echo "PASS (quick)"; exit 0; }

# 5. Every format into every destination: the seven codes, the chooser and a recent folder.
# Submenu positions: JPG, PNG, BMP at the top; JPEG, GIF, TIF, WMF, EMF under "other".
formats=(jpg png bmp jpeg gif tif wmf emf)
open_format() {  # index
  local i=$1
  if [ "$i" -lt 3 ]; then
    for _ in $(seq 0 "$i"); do xdotool key Down; sleep 0.05; done
    keys Right
  else
    keys Down Down Down Down Right
    for _ in $(seq 4 "$i"); do xdotool key Down; sleep 0.05; done
    keys Right
  fi
}
fav=$work/fav
mkdir -p "$fav" "$work/chosen"
printf '[default]\nOZMMyFavPath=%s/\n[ImgConvert]\nAutoShowTargetFolder1=0\nCbAutoClose=1\n' "$fav" >"$program/defualt.ini"
rm -rf "$desktop" "$HOME/Documents" "$HOME/Pictures"
destinations=(current docs pictures desktop chosen removable favourite recent)
count=0
for i in "${!formats[@]}"; do
  ext=${formats[$i]}
  picked=("${destinations[@]}")
  # The diagonal pairs format i with destination i + 1: each of both appears once.
  [ "$matrix" = all ] || picked=("${destinations[$(((i + 1) % 8))]}")
  for dest in "${picked[@]}"; do
    rm -f "$pics"/c.*
    cp "$pics/a.jpg" "$pics/c.jpg"
    start "$pics/c.jpg"
    open_format "$i"
    case $dest in
      current) keys Return; where=$pics ;;
      docs) keys Down Return; where=$HOME/Documents ;;
      pictures) keys Down Down Return; where=$HOME/Pictures ;;
      desktop) keys Down Down Down Return; where=$desktop ;;
      chosen)
        keys Down Down Down Down Return
        dialog=$(timeout 10 xdotool search --sync --onlyvisible --name "^$pics" | head -1)
        [ -n "$dialog" ] || fail "$ext: no folder chooser"
        sleep 0.5
        xdotool key ctrl+a; xdotool type --delay 5 "$work/chosen"; sleep 0.2; xdotool key Return
        where=$work/chosen ;;
      removable)
        # No removable volume here: the message, then the menu again.
        keys Down Down Down Down Down Return
        sleep 0.8; xdotool key Return; sleep 0.5
        xdotool search --onlyvisible --classname ozm-imgconv >/dev/null || fail "$ext: menu not back"
        xdotool key Escape
        ends_within 5 || fail "$ext removable: exit status"
        count=$((count + 1)); continue ;;
      favourite) keys Down Down Down Down Down Down Return; where=$fav ;;
      recent) keys Down Down Down Down Down Down Down Down Right Return; where=$(head -1 "$program/HistoryPaths.txt"); where=${where%/} ;;
    esac
    ends_within 20 || fail "$ext $dest: exit status"
    out=$(ls "$where"/c*."$ext" 2>/dev/null | head -1)
    [ -n "$out" ] || fail "$ext $dest: no c.$ext in $where ($(ls "$where" 2>/dev/null | tr '\n' ' '))"
    identify "$out" >/dev/null 2>&1 || [ "$ext" = wmf ] || [ "$ext" = emf ] || fail "$ext $dest: unreadable $out"
    rm -f "$where"/c*."$ext"
    count=$((count + 1))
  done
done
echo "ok: $count format and destination pairs"

# 6. Closing the progress window at random moments, or a SIGTERM: the process ends with
# status 0 and leaves only whole files.
convert -size 1920x1080 plasma:fractal -quality 85 "$work/seed.jpg"
files=()
for n in $(seq 1 8); do cp "$work/seed.jpg" "$pics/p$n.jpg"; files+=("$pics/p$n.jpg"); done
printf '[ImgConvert]\nAutoShowTargetFolder1=0\n' >"$program/defualt.ini"
for round in $(seq 1 "$stops"); do
  start "${files[@]}"
  keys Down Down Right Return   # PNG -> 当前路径: the files' own folder
  win=$(progress_window)
  [ -n "$win" ] || fail "round $round: no progress window"
  delay="0.$((RANDOM % 9))$((RANDOM % 10))"
  if [ $((round % 2)) -eq 0 ]; then
    how="close"
    python3 "$(dirname "$0")/close_window.py" "$win" "$delay" >/dev/null
  else
    how="SIGTERM"
    sleep "$delay"
    kill -TERM "$pid"
  fi
  ends_within 10 || fail "round $round: exit status after the $how"
  leftovers=$(ls -A "$pics" | grep -E '^\.ozm-' || true)
  [ -z "$leftovers" ] || fail "round $round: temporary files $leftovers"
  written=$(ls "$pics"/p*.png 2>/dev/null | wc -l)
  for f in "$pics"/p*.png; do
    [ -e "$f" ] || continue
    [ "$(convert "$f" -format %wx%h info: 2>/dev/null)" = "1920x1080" ] || fail "round $round: damaged $f"
  done
  rm -f "$pics"/p*.png
  echo "round $round ($how after ${delay} s): $written of 8 written"
done
echo "PASS"
