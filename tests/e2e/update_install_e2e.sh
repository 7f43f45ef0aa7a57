#!/bin/bash
# The update end to end, on a real X server (run under xvfb-run by ctest) in a scratch home:
# the older version is installed with its own setup package; a feed of the newer one, built
# from the same tree, is served on the loopback; the installed program's help page, "检查更新",
# Yes: the newer package is downloaded, checked, started and installs itself. Afterwards the
# program in the program folder is the newer one (caption and --version), the manifest is
# the newer install's, the settings and recent folders are as they were, and nothing else in
# the home changed.
# Usage: update_install_e2e.sh OLD_BIN NEW_BIN SOURCE (each BIN holds ozm-imgconv and
# ozm-setup; NEW_BIN's is the newer version). Skips (77) when NEW_BIN has no program.
set -u
old=$1 new=$2 src=$3
for tool in xdotool xprop python3 strip sha256sum; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool is not installed"; exit 77; fi
done
if [ -z "${DISPLAY:-}" ]; then echo "SKIP: no X display (run under xvfb-run)"; exit 77; fi
if [ ! -x "$new/ozm-imgconv" ] || [ ! -x "$new/ozm-setup" ]; then
  echo "SKIP: no build of the newer version in $new (./x test makes it)"; exit 77
fi
old_version=$("$old/ozm-imgconv" --version | cut -d' ' -f2)
new_version=$("$new/ozm-imgconv" --version | cut -d' ' -f2)
[ "$old_version" != "$new_version" ] || { echo "SKIP: both builds are version $old_version"; exit 77; }

work=$(mktemp -d)
trap '{ [ -z "${pid:-}" ] || kill -9 "$pid"; } 2>/dev/null; { [ -z "${server:-}" ] || kill "$server"; } 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
began=$SECONDS
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
  XDG_CACHE_HOME=$work/home/.cache XDG_STATE_HOME=$work/home/.local/state \
  XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
programs=$HOME/.local/lib/ozm-imgconv
manifest=$XDG_DATA_HOME/ozm-imgconv/图片批量转换.manifest

export SOURCE_DATE_EPOCH=1700000000
"$src/packaging/make-setup.sh" "$old" "$old_version" "$work/setupQV-old.run" || fail "make-setup"
"$src/packaging/make-feed.sh" "$new" "$new_version" "$work/feed" || fail "make-feed"
"$work/setupQV-old.run" >"$work/install.log" 2>&1 || fail "the older install: $(cat "$work/install.log")"
[ "$("$programs/ozm-imgconv" --version)" = "ozm-imgconv $old_version" ] || fail "the older program"

# The feed, as a static web server serves it.
python3 - "$work/feed" >"$work/port" 2>/dev/null <<'PY' &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
handler.log_message = lambda *args: None
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(head -1 "$work/port")
[ -n "$port" ] || fail "the web server did not start"
export OZM_PRODUCT_PAGE="http://127.0.0.1:$port/"

. "$(dirname "$0")/find_window.sh"
start() {  # the installed program, through its link; checks the caption's version
  "$HOME/.local/bin/ozm-imgconv" 2>>"$work/stderr" &
  pid=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^OZM图片批量转换器" | head -1)
  [ -n "$wid" ] || fail "main window did not appear"
  sleep 0.6  # the fade-in
  caption=$(xprop -id "$wid" _NET_WM_NAME | sed 's/^[^"]*"//; s/"$//')
  [[ $caption == "OZM图片批量转换器 v$1 "* ]] || fail "caption '$caption', not version $1"
}
stop() { kill -TERM "$pid"; wait "$pid"; }
# Every path under the home with its type and the hash of every file, but the scratch
# runtime folder.
listing() {
  (cd "$HOME" && find . -path ./.cache -prune -o -printf '%y %p\n' | LC_ALL=C sort
   find . -path ./.cache -prune -o -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum)
}

# A first start writes the settings; a recent folder of the user's own.
start "$old_version"
stop
printf '%s\n' "$HOME/Pictures/旅行" >>"$programs/HistoryPaths.txt"
[ -s "$programs/defualt.ini" ] || fail "no settings after the first start"
cp "$programs/defualt.ini" "$work/settings-before"
cp "$programs/HistoryPaths.txt" "$work/history-before"
listing >"$work/before"

start "$old_version"
xdotool mousemove --window "$wid" 267 10 click 1; sleep 0.3
xdotool mousemove --window "$wid" 211 40 click 1
[ -n "$(find_window "^OZM$")" ] || fail "no question after the check"
sleep 0.3
xdotool key Return
[ -n "$(find_window "^OZM软件在线升级$")" ] || fail "the update window did not appear"
# The newer package installs itself: its manifest names the newer program's hash last.
strip --strip-unneeded --remove-section=.comment -o "$work/new-program" "$new/ozm-imgconv"
new_hash=$(sha256sum <"$work/new-program" | cut -d' ' -f1)
for _ in $(seq 300); do grep -q "$new_hash" "$manifest" 2>/dev/null && break; sleep 0.1; done
grep -q "$new_hash" "$manifest" || fail "the newer package did not install ($(cat "$work/stderr"))"
sleep 1
stop

[ "$("$programs/ozm-imgconv" --version)" = "ozm-imgconv $new_version" ] || fail "--version after"
start "$new_version"
stop
cmp -s "$programs/ozm-imgconv" "$work/new-program" || fail "the program is not the newer one"
# Every file the manifest names is there as it says.
while IFS=$'\t' read -r kind hash path; do
  [ "$kind" = file ] || continue
  [ "$(sha256sum <"$path" | cut -d' ' -f1)" = "$hash" ] || fail "manifest: $path differs"
done <"$manifest"
cmp -s "$programs/HistoryPaths.txt" "$work/history-before" || fail "the recent folders changed"
cmp -s "$programs/defualt.ini" "$work/settings-before" || fail "the settings changed"

# Nothing else changed: the program, the manifest and the downloaded package are the update's.
listing >"$work/after"
owned="\./\.local/lib/ozm-imgconv/(ozm-imgconv|setupQV\.run)$|图片批量转换\.manifest$"
changes=$(diff "$work/before" "$work/after" | grep '^[<>]' | grep -Ev "$owned")
[ -z "$changes" ] || fail "other changes in the home: $changes"
echo "update from $old_version to $new_version took $((SECONDS - began)) s"
echo "PASS"
