#!/bin/bash
# Start-up time of the main window under a virtual X server: from the program's start until
# its window is mapped with the caption, five times; prints each and the median.
# Target: the median within 1.5 s. Usage: window_startup.sh [BENCH_BIN_FOLDER]
set -u
bin=${1:-$(dirname "$0")/../build-bench/bin}
binary=$bin/ozm-imgconv
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "window_startup: SKIP, $tool is not installed"; exit 0; }
done
[ -x "$binary" ] || { echo "window_startup: SKIP, no $binary"; exit 0; }
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$bin"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/home"
cp "$binary" "$work/program/"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
times=()
for run in 1 2 3 4 5; do
  started=$(date +%s%N)
  "$work/program/ozm-imgconv" 2>/dev/null &
  pid=$!
  timeout 20 xdotool search --sync --onlyvisible --name "^OZM" >/dev/null
  took=$(( ($(date +%s%N) - started) / 1000000 ))
  kill -TERM "$pid"; wait "$pid" 2>/dev/null
  times+=("$took")
  echo "window_startup: run $run: ${took} ms"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
echo "window_startup: median ${median} ms of 5 (target 1500 ms)"
