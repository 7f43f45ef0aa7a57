#!/usr/bin/env bash
# Hostile inputs (see make_hostile_inputs.cpp) converted to PNG by ozmconv, one process per
# file: wall time, peak memory and ozmconv's verdict for each. Every one of them must end
# within 10 s of one core and 1 GiB.
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
  /usr/bin/time -f '%e %M' -o "$work/time" "$bin/ozmconv" --jobs 1 --to png --out "$work/out" \
    "$work/in/$f" >"$work/log" 2>&1 || status=$?
  read -r secs kib <"$work/time" || true
  verdict=$(grep -v '^Command exited' "$work/log" | tail -n 1 | cut -c1-90)
  printf '%-22s %6.2f s %8d KiB  exit %d  %s\n' "$f" "$secs" "$kib" "$status" "$verdict"
done
