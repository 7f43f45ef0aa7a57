#!/bin/bash
# The main window on a real X server (run under xvfb-run by ctest): placement, caption, a
# conversion driven with mouse and keyboard, and a close during a run.
# Usage: main_window_e2e.sh OZM_IMGCONV_BINARY
set -u
binary=$1
for tool in xdotool xwininfo xprop convert; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool is not installed"; exit 77; fi
done
if [ -z "${DISPLAY:-}" ]; then echo "SKIP: no X display (run under xvfb-run)"; exit 77; fi

work=$(mktemp -d)
trap 'kill -9 ${pid:-0} 2>/dev/null; rm -rf "$work"' EXIT
program=$work/program
mkdir -p "$program/source" "$work/home"
chmod 755 "$program"
cp "$binary" "$program/ozm-imgconv"
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
fail() { echo "FAIL: $*"; exit 1; }

photos() {  # count size
  convert -size "$2" plasma:fractal -quality 85 "$work/seed.jpg"
  for i in $(seq 1 "$1"); do cp "$work/seed.jpg" "$program/source/p$((100 + i)).jpg"; done
}

start() {
  "$program/ozm-imgconv" 2>"$work/stderr" &
  pid=$!
  caption_prefix="OZM图片批量转换器 v2.3 "
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^${caption_prefix}" | head -1)
  [ -n "$wid" ] || fail "window did not appear"
}

# Centre of a widget found by its accessible name: not exposed to X, so positions are
# given by the layout: the lists are reached by clicking and keys.
click_at() { xdotool mousemove --window "$wid" "$1" "$2" click 1; sleep 0.2; }

photos 6 640x480
start
geometry=$(xwininfo -id "$wid" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2} END{print x","y","w"x"h}')
[ "$geometry" = "10,10,1240x934" ] || fail "geometry $geometry"
name=$(xprop -id "$wid" _NET_WM_NAME | sed 's/^[^"]*"//; s/"$//')
expected="OZM图片批量转换器 v2.3 $(date +%Y-%m-%d) - https://www.ozmware.example/"
[ "$name" = "$expected" ] || fail "caption '$name'"

sleep 0.6  # the fade-in
# Tick PNG (second row, first column of the format group), list both folders, select all.
click_at 22 112
click_at 900 400; xdotool key F5; sleep 0.3
click_at 400 400; xdotool key F5; sleep 0.3
xdotool key ctrl+a; sleep 0.2
click_at 80 28   # the convert button
for _ in $(seq 50); do
  [ "$(ls "$program/target" 2>/dev/null | grep -c '\.png$')" -eq 6 ] && break
  sleep 0.2
done
[ "$(ls "$program/target" | grep -c '\.png$')" -eq 6 ] || fail "PNG files missing: $(ls "$program/target")"
[ "$(ls "$program/target" | grep -c '\.jpg$')" -eq 6 ] || fail "JPG files missing"
grep -q "CbPNG=1" "$program/defualt.ini" || fail "tick not stored"
xdotool key --window "$wid" alt+F4 2>/dev/null
kill -TERM "$pid"; wait "$pid"; status=$?
[ $status -eq 0 ] || fail "exit status $status"

# Close during a run, at different moments: status 0, no temporary or partial files.
rm -rf "$program/target" "$program/source"/*
photos 40 1920x1080
for round in 1 2 3; do
  rm -rf "$program/target"
  start
  sleep 0.6
  click_at 900 400; xdotool key F5; sleep 0.2
  click_at 400 400; xdotool key F5; xdotool key ctrl+a; sleep 0.2
  click_at 80 28
  sleep "0.$((RANDOM % 9 + 1))"
  started=$(date +%s%N)
  kill -TERM "$pid"; wait "$pid"; status=$?
  took=$(( ($(date +%s%N) - started) / 1000000 ))
  [ $status -eq 0 ] || fail "round $round: exit status $status"
  leftovers=$(ls -A "$program/target" 2>/dev/null | grep -E '^\.ozm-|\.part$|\.tmp' || true)
  [ -z "$leftovers" ] || fail "round $round: temporary files $leftovers"
  for f in "$program/target"/*.png; do
    [ -e "$f" ] || continue
    convert "$f" info: >/dev/null 2>&1 || fail "round $round: damaged $f"
  done
  echo "round $round: closed in ${took} ms, $(ls "$program/target" 2>/dev/null | wc -l) files"
done
echo "PASS"
