#!/bin/bash
# The online update on a real X server (run under xvfb-run by ctest), against the loopback
# web server: the help page's check button, the question, the update window, a complete
# update that starts the package once; then 20 rounds of closing the window and quitting at
# random moments, each leaving no temporary file, starting no package and ending promptly.
# Usage: update_window_e2e.sh OZM_IMGCONV_BINARY [SCREENSHOT.png]
set -u
binary=$1
screenshot=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
for tool in xdotool xwininfo xprop python3; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool is not installed"; exit 77; fi
done
if [ -z "${DISPLAY:-}" ]; then echo "SKIP: no X display (run under xvfb-run)"; exit 77; fi

work=$(mktemp -d)
trap '{ [ -z "${pid:-}" ] || kill -9 "$pid"; } 2>/dev/null; { [ -z "${server:-}" ] || kill "$server"; } 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
program=$work/program
mkdir -p "$program" "$work/home/run"
chmod 755 "$program"
chmod 700 "$work/home/run"
cp "$binary" "$program/ozm-imgconv"
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
  XDG_CACHE_HOME=$work/home/.cache XDG_STATE_HOME=$work/home/.local/state \
  XDG_RUNTIME_DIR=$work/home/run
fail() { echo "FAIL: $*"; exit 1; }

marker=$work/marker
python3 "$here/../tools/update_server.py" --marker "$marker" >"$work/port" 2>/dev/null &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(head -1 "$work/port")
[ -n "$port" ] || fail "the web server did not start"

. "$(dirname "$0")/find_window.sh"

start() {  # CASE: the server's behaviour for the package; the version offered is 2.4
  export OZM_PRODUCT_PAGE="http://127.0.0.1:$port/$1+ver-2.4/"
  "$program/ozm-imgconv" 2>"$work/stderr" &
  pid=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^OZM图片批量转换器" | head -1)
  [ -n "$wid" ] || fail "main window did not appear"
  sleep 0.6  # the fade-in
}

# The help tab, its check button, then Yes (the question's default button).
ask_for_update() {
  xdotool mousemove --window "$wid" 267 10 click 1; sleep 0.3
  xdotool mousemove --window "$wid" 211 40 click 1
  question=$(find_window "^OZM$")
  [ -n "$question" ] || fail "no question after the check"
  sleep 0.3
  xdotool key Return
  uwid=$(find_window "^OZM软件在线升级$")
  [ -n "$uwid" ] || fail "the update window did not appear"
}

# The package and its temporary files (".setupQV.run.XXXXXX").
leftovers() { ls -A "$program" | grep -F setupQV || true; }

# A complete update: the package is in place, executable, started once; the window closed.
start good
ask_for_update
caption=$(xprop -id "$uwid" _NET_WM_NAME | sed 's/^[^"]*"//; s/"$//')
[ "$caption" = "OZM软件在线升级" ] || fail "caption '$caption'"
for _ in $(seq 100); do [ -s "$marker" ] && break; sleep 0.1; done
[ "$(wc -l <"$marker" 2>/dev/null)" = 1 ] || fail "the package did not start once"
[ -x "$program/setupQV.run" ] || fail "no executable package"
[ "$(leftovers)" = "setupQV.run" ] || fail "unexpected files: $(leftovers)"
sleep 0.5
xdotool search --onlyvisible --name "^OZM软件在线升级$" >/dev/null && fail "the window stayed open"
kill -TERM "$pid"; wait "$pid"
rm -f "$marker" "$program/setupQV.run"

if [ -n "$screenshot" ]; then
  start slow
  ask_for_update
  sleep 3
  import -window "$uwid" "$screenshot" || fail "no screenshot"
  kill -TERM "$pid"; wait "$pid"
fi

# Quitting at random moments during a transfer that never completes: from before the
# download starts (1.25 s after the window shows) to well into it.
slowest=0
for round in $(seq 1 20); do
  start slow
  ask_for_update
  delay=$(( RANDOM % 2500 ))
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  if [ $((round % 2)) -eq 0 ]; then
    how="close button, then the main window's close request"
    geometry=$(xwininfo -id "$uwid" | awk '/Width/{w=$2} /Height/{h=$2} END{print w, h}')
    read -r w h <<<"$geometry"
    xdotool mousemove --window "$uwid" $((w - 50)) $((h - 24)) click 1
    sleep 0.2
    xdotool search --onlyvisible --name "^OZM软件在线升级$" >/dev/null && fail "round $round: close button"
    started=$(python3 "$here/close_window.py" "$wid" 0)
  else
    how="SIGTERM"
    started=$(date +%s%N)
    kill -TERM "$pid"
  fi
  for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.01; done
  kill -0 "$pid" 2>/dev/null && fail "round $round: still running 2 s after the $how"
  wait "$pid"; status=$?
  took=$(( ($(date +%s%N) - started) / 1000000 ))
  [ $took -gt $slowest ] && slowest=$took
  [ $status -eq 0 ] || fail "round $round: exit status $status"
  [ -z "$(leftovers)" ] || fail "round $round: files left: $(leftovers)"
  [ -e "$marker" ] && fail "round $round: a package was started"
  echo "round $round ($how after ${delay} ms): ended in ${took} ms"
done
echo "slowest end: ${slowest} ms"
echo "PASS"
