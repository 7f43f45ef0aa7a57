#!/bin/bash
# A conversion of the main window driven by assistive means alone (run under xvfb-run by
# ctest): through the accessibility bus (AT-SPI actions and text, no pointer, no key), or by
# the keyboard alone (Tab, Space, Enter, the Menu key, arrows). Both set the folders with
# the shortcut buttons, untick JPG and tick PNG, resize by 50 %, pick files in the source list
# and convert; the written files are checked. The AT-SPI run then drives the quick menu of a
# hook's start; the keyboard run converts once more by the convert button, opens the target
# folder from its list's menu and renames a file in the rename window.
# It runs under hermetic.sh (its own session bus, scratch home, recording stand-ins for the
# programs the window could start); it starts its own accessibility bus, and no outside
# program may be called but the one the target list's menu asks for.
# Usage: accessibility_e2e.sh atspi|keyboard OZM_IMGCONV_BINARY
set -u
mode=$1
binary=$2
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
[ -n "${DISPLAY:-}" ] || skip "no X display (run under xvfb-run)"
for tool in dbus-send xdotool python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
case "$mode" in
  atspi)
    launcher=/usr/libexec/at-spi-bus-launcher
    [ -x "$launcher" ] || skip "at-spi2-core is not installed"
    # Debian's pyatspi is for the system's Python, which need not be the first on PATH.
    python=""
    for candidate in /usr/bin/python3 python3; do
      if "$candidate" -c "import pyatspi" 2>/dev/null; then python=$candidate; break; fi
    done
    [ -n "$python" ] || skip "python3-pyatspi is not installed"
    ;;
  keyboard) ;;
  *) echo "usage: $0 atspi|keyboard OZM_IMGCONV_BINARY"; exit 2 ;;
esac

# hermetic.sh gives the run its bus, scratch home and recording stand-ins.
[ -n "${OZM_E2E_WORK:-}" ] || { echo "run under tests/e2e/hermetic.sh"; exit 2; }
work=$OZM_E2E_WORK
calls=$OZM_E2E_LOG
program=$work/program
desktop=$HOME/Desktop
pictures=$HOME/Pictures
mkdir -p "$program" "$desktop" "$pictures" "$XDG_CONFIG_HOME"
chmod 755 "$program"
cp "$binary" "$program/ozm-imgconv"
printf 'XDG_DESKTOP_DIR="$HOME/Desktop"\nXDG_PICTURES_DIR="$HOME/Pictures"\n' \
  >"$XDG_CONFIG_HOME/user-dirs.dirs"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$work/stderr" 2>/dev/null; exit 1; }

# Three 64x48 pictures with different contents, as 24-bit BMP.
python3 - "$desktop" <<'EOF'
import struct, sys
for n, name in enumerate(["a", "b", "c"]):
    w, h = 64, 48
    row = bytes((x * 4 + n * 60) & 255 for x in range(w) for _ in range(3))
    pixels = row * h
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    open(f"{sys.argv[1]}/{name}.bmp", "wb").write(header + info + pixels)
EOF

if [ "$mode" = atspi ]; then
  # The launcher reads its settings schema from the system's data folders, in memory only.
  XDG_DATA_DIRS=/usr/share GSETTINGS_BACKEND=memory "$launcher" --launch-immediately \
    2>"$work/atspi-log" &
  pids+=($!)
  for _ in $(seq 50); do
    dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus org.a11y.Bus.GetAddress \
      >/dev/null 2>&1 && break
    sleep 0.1
  done
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
fi

"$program/ozm-imgconv" 2>"$work/stderr" &
pid=$!
pids+=($pid)
wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^OZM图片批量转换器" 2>/dev/null | head -1)
[ -n "$wid" ] || fail "window did not appear"
sleep 0.8  # the fade-in

if [ "$mode" = atspi ]; then
  timeout 120 "$python" "$here/accessibility_e2e.py" main "$pid" "$desktop" "$pictures" ||
    fail "AT-SPI run"
else
  # Tab order: the convert button first, the eight format boxes, the zoom radios, the two
  # rotation edits and list, the page tabs, then the source row of nine buttons, its preview
  # box and list, then the target row of nine buttons, its preview box and list.
  keys() { for k in "$@"; do xdotool key --clearmodifiers "$k"; sleep 0.15; done; }
  tabs() { for _ in $(seq "$1"); do keys "${2:-Tab}"; done; }
  pngs() { ls "$pictures" | grep -c '\.png$'; }
  keys Tab space Tab Tab space            # JPG off, PNG on
  tabs 6                                  # the zoom radios
  keys Down Down                          # "按比例缩放": the percentage edit shows
  keys Tab ctrl+a 5 0                     # 50 %
  tabs 7                                  # leaves the edit; on the source row's Desktop
  keys space
  tabs 13                                 # the target row's My Pictures
  keys space
  tabs 5 shift+Tab                        # back to the source list
  keys Home space ctrl+Down ctrl+Down ctrl+space  # a.bmp and c.bmp
  keys Menu Down Return                   # "转换所选图片(&C)"
  for _ in $(seq 300); do [ "$(pngs)" -ge 2 ] && break; sleep 0.1; done
  sleep 0.5
  [ "$(ls "$pictures" | tr '\n' ' ')" = "a.png c.png " ] || fail "after the menu: $(ls "$pictures")"
  tabs 12                                 # round to the convert button
  keys space
  for _ in $(seq 300); do [ "$(pngs)" -ge 4 ] && break; sleep 0.1; done
  sleep 0.5
  [ "$(ls "$pictures" | tr '\n' ' ')" = "a(1).png a.png c(1).png c.png " ] ||
    fail "after the convert button: $(ls "$pictures")"
  python3 - "$pictures" <<'EOF' || fail "sizes"
import struct, sys, pathlib
for p in pathlib.Path(sys.argv[1]).iterdir():
    w, h = struct.unpack(">II", p.read_bytes()[16:24])
    if (w, h) != (32, 24):
        sys.exit(f"{p.name} is {w}x{h}")
EOF
  echo "keyboard run: wrote $(ls "$pictures" | tr '\n' ' ')"
  # The target list's menu: "打开所在的文件夹" hands the folder to the desktop (the stand-in).
  keys shift+Tab Menu Down Down Return
  for _ in $(seq 50); do [ -s "$calls" ] && break; sleep 0.1; done
  [ "$(cat "$calls")" = "$(printf 'xdg-open\t%s/' "$pictures")" ] ||
    fail "the target list's menu: $(cat "$calls")"
  : >"$calls"
  # The source list's menu: "重命名" on the current entry, c.bmp, in the rename window.
  tabs 11 shift+Tab
  keys Menu Down Down Down Down Down Return
  timeout 20 xdotool search --sync --onlyvisible --name "^更改名称$" >/dev/null ||
    fail "no rename window"
  sleep 0.3
  xdotool type --delay 50 renamed.bmp
  keys Return
  for _ in $(seq 50); do [ -e "$desktop/renamed.bmp" ] && break; sleep 0.1; done
  [ "$(ls "$desktop" | tr '\n' ' ')" = "a.bmp b.bmp renamed.bmp " ] ||
    fail "after the rename: $(ls "$desktop")"
  echo "keyboard run: opened the target folder, renamed c.bmp"
fi
kill -TERM "$pid"
wait "$pid"; status=$?
[ $status -eq 0 ] || fail "exit status $status"

if [ "$mode" = atspi ]; then
  # The quick menu as a file manager's hook opens it; the listener is there before the menu.
  timeout 60 "$python" "$here/accessibility_e2e.py" quick "$work/listening" &
  listener=$!
  for _ in $(seq 100); do [ -e "$work/listening" ] && break; sleep 0.1; done
  "$program/ozm-imgconv" -- "$desktop/b.bmp" 2>"$work/stderr" &
  pid=$!
  pids+=($pid)
  wait $listener || fail "AT-SPI quick menu"
  for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "the quick conversion did not end"
  wait "$pid"; status=$?
  [ $status -eq 0 ] || fail "quick conversion exit status $status"
  [ -f "$desktop/b.png" ] || fail "no b.png on the desktop: $(ls "$desktop")"
fi
if [ -s "$calls" ]; then echo "FAIL: the run started outside programs:"; cat "$calls"; exit 1; fi
[ -e "$HOME/.dbus" ] && fail "a session bus was autolaunched into HOME"
echo "PASS: $mode"
