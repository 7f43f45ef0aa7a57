#!/bin/bash
# Time from the start of a quick conversion ("ozm-imgconv -- FILE", as the file-manager hooks
# start it) until its menu is mapped at the pointer, under a virtual X server, ten times;
# prints each and the median. Target: the median within 600 ms.
# Usage: quick_menu_visible.sh [BIN_FOLDER]   (default: build-bench/bin, else build/bin)
set -u
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build-bench/bin}
[ -x "$bin/ozm-imgconv" ] || bin=$here/../build/bin
binary=$bin/ozm-imgconv
for tool in xvfb-run xdotool convert; do
  command -v "$tool" >/dev/null || { echo "quick_menu_visible: SKIP, $tool is not installed"; exit 0; }
done
[ -x "$binary" ] || { echo "quick_menu_visible: SKIP, no $binary"; exit 0; }
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$bin"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/home"
cp "$binary" "$work/program/"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache
convert -size 640x480 plasma:fractal "$work/a.jpg"
times=()
for run in $(seq 1 10); do
  xdotool mousemove 400 300
  started=$(date +%s%N)
  "$work/program/ozm-imgconv" -- "$work/a.jpg" 2>/dev/null &
  pid=$!
  timeout 20 xdotool search --sync --onlyvisible --classname ozm-imgconv >/dev/null
  took=$(( ($(date +%s%N) - started) / 1000000 ))
  kill -TERM "$pid"; wait "$pid" 2>/dev/null
  times+=("$took")
  echo "quick_menu_visible: run $run: ${took} ms"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 5,6p | awk '{s+=$1} END{print int(s/2)}')
echo "quick_menu_visible: median ${median} ms of 10 (target 600 ms)"
