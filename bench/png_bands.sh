#!/usr/bin/env bash
# PNG writing on every core: 50 photo-like JPEGs of about 4 megapixels (203 megapixels in all)
# converted to PNG (filter none, zlib level 6) in one run, side by side:
#   - one file at a time, as the desktop program converts: ozmconv --jobs 1 with one thread
#     per image (one core, the single-stream speed) and with the default threads (the bands);
#   - ozmconv with its default settings against ImageMagick, GraphicsMagick and libvips with
#     their own default threading (one call for the batch where the tool takes one, vips one
#     call per file in turn);
#   - the total size of the PNG files of each, against ozmconv on one thread. ImageMagick and
#     GraphicsMagick are asked for level 6 and filter none (-quality 60) but choose adaptive
#     row filters for colour images all the same: smaller files for much more work.
# Targets: the bands at least 1.7x one thread; the default ozmconv at least 1.5x the fastest
# peer; sizes within 0.5%. Needs a quiet machine for figures worth comparing.
# Usage: png_bands.sh [BIN_FOLDER]; OZM_BENCH_PHOTOS=N for a smaller corpus, ROUNDS=N for
# more rounds of ozmconv (the best counts), OZM_BENCH_BEFORE=PATH to time an earlier ozmconv
# binary one file at a time as well.
set -u
bin=${1:-build-bench/bin}
n=${OZM_BENCH_PHOTOS:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v convert >/dev/null || { echo "png_bands: ImageMagick missing, skipped"; exit 0; }
[ -x "$bin/ozmconv" ] || { echo "png_bands: no $bin/ozmconv, skipped"; exit 0; }
mkdir -p "$work/in"
# 2472 x 1648 = 4.07 megapixels; 50 of them 203.7 megapixels.
convert -size 2472x1648 -seed 5 plasma:fractal -blur 0x1.5 -quality 92 "$work/in/p0.jpg"
for i in $(seq 1 $((n - 1))); do
  convert "$work/in/p0.jpg" -roll +$((i * 53))+$((i * 29)) -quality 92 "$work/in/p$i.jpg"
done
mp=$(echo "$n * 2472 * 1648 / 1000000" | bc -l)

best() {  # best wall-clock seconds of $ROUNDS runs of "$@", each in a fresh output folder
  local b=999999 s e t
  for r in $(seq "${ROUNDS:-1}"); do
    rm -rf "$work/out" && mkdir "$work/out"
    s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    b=$(echo "if ($t < $b) $t else $b" | bc -l)
  done
  echo "$b"
}
size() { du -cb "$work"/out/*.png 2>/dev/null | tail -1 | cut -f1; }
row() {  # name seconds bytes
  printf '  %-34s %7.2f s  %6.1f ms/photo  %11d bytes  %+6.2f%%\n' "$1" "$2" \
    "$(echo "$2 * 1000 / $n" | bc -l)" "$3" "$(echo "($3 - $ref) * 100 / $ref" | bc -l)"
}
in_place() { cp "$work"/in/*.jpg "$work/out/"; (cd "$work/out" && "$@" ./*.jpg) && rm -f "$work"/out/*.jpg; }
vips_each() { for f in "$work"/in/*.jpg; do vips pngsave "$f" "$work/out/$(basename "$f" .jpg).png" --compression 6 --filter none || return 1; done; }

echo "png_bands: $n JPEG photos 2472x1648 ($(printf %.1f "$mp") megapixels) to PNG, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
t1=$(best "$bin/ozmconv" --jobs 1 --threads 1 --to png --out "$work/out" "$work"/in/*.jpg); ref=$(size)
row "ozmconv --jobs 1 --threads 1" "$t1" "$ref"
if [ -n "${OZM_BENCH_BEFORE:-}" ]; then
  tb=$(best "$OZM_BENCH_BEFORE" --jobs 1 --to png --out "$work/out" "$work"/in/*.jpg)
  row "earlier ozmconv --jobs 1" "$tb" "$(size)"
fi
tt=$(best "$bin/ozmconv" --jobs 1 --to png --out "$work/out" "$work"/in/*.jpg)
row "ozmconv --jobs 1 (bands)" "$tt" "$(size)"
printf '  %-34s %7.2f x  (target 1.7 x)\n' "  one file at a time, speed-up" "$(echo "$t1 / $tt" | bc -l)"
td=$(best "$bin/ozmconv" --to png --out "$work/out" "$work"/in/*.jpg)
row "ozmconv (default settings)" "$td" "$(size)"
fastest=999999
peer() {  # name seconds
  row "$1" "$2" "$(size)"
  fastest=$(echo "if ($2 < $fastest) $2 else $fastest" | bc -l)
}
# The peers convert copies in place; the copy is part of their figure (a fraction of a second).
peer "ImageMagick mogrify" "$(ROUNDS=1 best in_place mogrify -format png -quality 60)"
if command -v gm >/dev/null; then
  peer "GraphicsMagick gm mogrify" "$(ROUNDS=1 best in_place gm mogrify -format png -quality 60)"
else echo "  gm: not installed, skipped"; fi
if command -v vips >/dev/null; then
  peer "vips pngsave (one call per file)" "$(ROUNDS=1 best vips_each)"
else echo "  vips: not installed, skipped"; fi
[ "$fastest" != 999999 ] &&
  printf '  %-34s %7.2f x  (target 1.5 x)\n' "  default ozmconv against the fastest" "$(echo "$fastest / $td" | bc -l)"
exit 0
