#!/bin/bash
# Caja itself (run by hermetic.sh --real caja under xvfb-run): after an install into the
# scratch home its Scripts submenu lists our two scripts under their labels, "图片批量转换"
# hands over the selected file, "转换文件夹中的图片" the folder's pictures only (no hidden file,
# no other file, nothing from a sub-folder). A recording stand-in is installed as the program.
# Skips where Caja is not installed.
# Usage: caja_hooks_e2e.sh OZM_SETUP
set -u
setup=$1
for tool in caja xdotool; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool is not installed"; exit 77; fi
done
case $(command -v caja) in
  "${OZM_E2E_WORK:-/nonexistent}"/*) echo "SKIP: caja is a stand-in here (run with hermetic.sh --real caja)"; exit 77 ;;
esac
if [ -z "${DISPLAY:-}" ]; then echo "SKIP: no X display (run under xvfb-run)"; exit 77; fi

work=$(mktemp -d)
trap 'kill ${caja:-0} 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
record=$work/argv
printf '#!/bin/sh\nfor a in "$@"; do printf "%%s\\n" "$a"; done >%s\n' "'$record'" >"$work/program"
chmod 755 "$work/program"
"$setup" --program "$work/program" >"$work/setup" 2>&1 || { cat "$work/setup"; fail "setup failed"; }

pics=$HOME/pics
mkdir -p "$pics/sub"
for f in "a b.jpg" C.PNG s.TIFF notes.txt .hidden.jpg sub/in.jpg; do printf x >"$pics/$f"; done

caja --no-desktop --browser "$pics" >"$work/caja.log" 2>&1 &
caja=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --class caja | head -1)
[ -n "$wid" ] || fail "no Caja window: $(cat "$work/caja.log")"
sleep 2

# Selects the item whose name starts with $1 by typing it, then picks entry $2 (from 1) of the
# context menu's Scripts submenu: the ninth entry from the bottom, for a file as for a folder.
run_script() {
  xdotool type --delay 40 "$1"; sleep 0.6
  xdotool key Escape; sleep 0.3
  xdotool key shift+F10; sleep 1
  for _ in $(seq 9); do xdotool key Up; sleep 0.08; done
  xdotool key Right; sleep 0.6
  for _ in $(seq 2 "$2"); do xdotool key Down; sleep 0.1; done
  xdotool key Return
  for _ in $(seq 50); do [ -s "$record" ] && break; sleep 0.1; done
  [ -s "$record" ] || fail "$1: nothing was started"
}

# The scripts sort by name: "图片批量转换" first, "转换文件夹中的图片" second.
run_script "a b" 1
printf -- '--\n%s\n' "$pics/a b.jpg" | cmp -s - "$record" || fail "file entry handed over: $(cat "$record")"
rm -f "$record"

xdotool key alt+Up; sleep 1.5
run_script pics 2
sort "$record" >"$work/got"
printf '%s\n' -- "$pics/C.PNG" "$pics/a b.jpg" "$pics/s.TIFF" | sort >"$work/want"
diff "$work/want" "$work/got" || fail "folder entry handed over the above"
echo "PASS"
