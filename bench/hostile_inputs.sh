#!/usr/bin/env bash
# Hostile inputs (see make_hostile_inputs.cpp) converted to PNG by ozmconv, one process per
# file: wall and processor time, peak memory and ozmconv's first line of output for each.
# Every one of them should end within 10 s of one core and 1 GiB.
set -eu
bin=${1:-build-bench/bin}
[ -x /usr/bin/time ] || { echo "hostile_inputs: /usr/bin/time missing, skipped"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out"
"$bin/make_hostile_inputs" "$work/in"
for f in progressive_883.jpg progressive_5.jpg sparse_2g.bmp sparse_1g_header.bmp; do
  rm -f "$work"/out/*
  status=0
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$bin/ozmconv" --jobs 1 --to png --out "$work/out" \
    "$work/in/$f" >"$work/log" 2>&1 || status=$?
  # /usr/bin/time puts "Command exited with non-zero status N" above its figures.
  read -r secs user sys kib < <(tail -n 1 "$work/time") || true
  verdict=$(head -n 1 "$work/log" | sed "s|$work/in/||" | cut -c1-80)
  printf '%-22s %6.2f s wall %6.2f s cpu %8d KiB  exit %d  %s\n' "$f" "$secs" \
    "$(echo "$user + $sys" | bc)" "$kib" "$status" "$verdict"
done
