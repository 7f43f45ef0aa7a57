#!/usr/bin/env bash
# A batch of JPEG photos converted to PNG and to JPG by ozmconv (one job), side by side with
# the codec floor (the same library calls and settings, no program around them), and
# ozmconv's peak memory against one decoded image.
set -eu
bin=${1:-build-bench/bin}
n=${OZM_BENCH_PHOTOS:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v convert >/dev/null || { echo "batch_vs_floor: ImageMagick missing, skipped"; exit 0; }
mkdir -p "$work/in" "$work/a" "$work/b"
# Photo-like content: plasma noise, blurred, quality 90.
convert -size 1920x1080 -seed 1 plasma:fractal -blur 0x2 -quality 90 "$work/in/p0.jpg"
for i in $(seq 1 $((n - 1))); do
  convert "$work/in/p0.jpg" -roll +$((i * 37))+$((i * 11)) -quality 90 "$work/in/p$i.jpg"
done
sec() { local s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
for fmt in png jpg; do
  best_tool=999; best_floor=999
  for round in 1 2 3; do
    rm -f "$work"/a/* "$work"/b/*
    t=$(sec "$bin/ozmconv" --jobs 1 --to $fmt --out "$work/a" "$work"/in/*.jpg)
    f=$(sec "$bin/codec_floor" $fmt "$work/b" "$work"/in/*.jpg)
    best_tool=$(echo "if ($t < $best_tool) $t else $best_tool" | bc)
    best_floor=$(echo "if ($f < $best_floor) $f else $best_floor" | bc)
  done
  printf 'to %s: ozmconv %.1f ms/image, codec floor %.1f ms/image, ratio %.3f\n' $fmt \
    "$(echo "$best_tool * 1000 / $n" | bc -l)" "$(echo "$best_floor * 1000 / $n" | bc -l)" \
    "$(echo "$best_tool / $best_floor" | bc -l)"
done
if [ -x /usr/bin/time ]; then
  rm -f "$work"/a/*
  /usr/bin/time -f %M -o "$work/mem" "$bin/ozmconv" --jobs 1 --to png --out "$work/a" "$work"/in/*.jpg >/dev/null
  kb=$(cat "$work/mem")
  printf 'ozmconv peak memory %d KiB; one decoded 1920x1080 image is %d KiB (ratio %.2f)\n' \
    "$kb" $((1920 * 1080 * 3 / 1024)) "$(echo "$kb / (1920 * 1080 * 3 / 1024)" | bc -l)"
fi
