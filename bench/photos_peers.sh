#!/usr/bin/env bash
# ozmconv's photo downscaling checked against a Lanczos-3 reduction, and its WebP writing side
# by side with cwebp. (The timing of downscaling against vipsthumbnail and the other programs is
# bench/peers.sh's resize job.)
#
#   bench/photos_peers.sh BIN_DIR      (BIN_DIR holds ozmconv)
#
# 1. OZM_PHOTOS (default 20) photo-like 6000 x 4000 JPEG files (ImageMagick's plasma fractal,
#    four of them shifted and tinted differently, quality 90, the others those four turned
#    or mirrored losslessly by jpegtran) shrunk into 1920 x 1920 by
#    `ozmconv --fit 1920x1920 --filter box`, JPEG at quality 75. Each output is compared with
#    a Lanczos-3 reduction of the same photo made by ImageMagick (-filter Lanczos): the mean
#    absolute difference in 8-bit levels (ImageMagick's MAE), the target being at most 4.
# 2. The first OZM_WEBP_PHOTOS (default 5) photos written as WebP at quality 75, method 4,
#    one file at a time: `ozmconv --to webp --jobs 1` against `cwebp -q 75 -m 4`; target
#    within 1.1 times cwebp's time.
#
# Every time is the best wall time of OZM_PEER_RUNS (default 3) runs, the commands' runs
# interleaved; all files in a RAM folder when there is one. A missing peer is skipped.
set -euo pipefail

bin=${1:?usage: photos_peers.sh BIN_DIR}
ozmconv=$bin/ozmconv
photos=${OZM_PHOTOS:-20}
webp_photos=${OZM_WEBP_PHOTOS:-5}
runs=${OZM_PEER_RUNS:-3}
[ -x "$ozmconv" ] || { echo "photos_peers: $ozmconv not built"; exit 1; }
magick=""
for c in magick convert-im6.q16 convert; do
  if command -v "$c" >/dev/null && "$c" -version 2>/dev/null | grep -q ImageMagick; then
    magick=$(command -v "$c"); break
  fi
done
[ -n "$magick" ] || { echo "photos_peers: skipped: ImageMagick is needed to make the photos"; exit 0; }
compare_bin=$(command -v compare-im6.q16 || command -v compare || true)

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/ozm-photos.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"

echo "photos_peers: making $photos photos of 6000 x 4000"
"$magick" -size 1500x1000 -seed 7 plasma:fractal -blur 0x0.7 "$work/plasma.png"
# Fine detail on top of the smooth fractal, as in a real photo's textures.
"$magick" -size 6000x4000 -seed 11 xc: +noise Gaussian -blur 0x1.2 "$work/grain.png"
turns=("" "-flip horizontal" "-flip vertical" "-rotate 180" "-transpose")
for i in $(seq 1 "$photos"); do
  out="$work/in/photo$(printf %02d "$i").jpg"
  if [ "$i" -le 4 ] || ! command -v jpegtran >/dev/null; then
    "$magick" "$work/plasma.png" -roll +$((i * 67))+$((i * 41)) -modulate 100,$((80 + i * 3)),$((i * 9 % 200)) \
      -filter Cubic -resize 6000x4000! "$work/grain.png" -compose Overlay -composite \
      -quality 90 "$out"
  else
    jpegtran ${turns[$(((i - 1) / 4 % 5))]} -outfile "$out" "$work/in/photo$(printf %02d $(((i - 1) % 4 + 1))).jpg"
  fi
done

best() {  # best wall time in seconds of running "$@" $runs times
  local best=""
  for _ in $(seq 1 "$runs"); do
    rm -rf "$work/out" && mkdir "$work/out"
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    best=$(echo "$t1 $t0 ${best:-999999}" | awk '{d = $1 - $2; print (d < $3) ? d : $3}')
  done
  echo "$best"
}

oursN() { "$ozmconv" --fit 1920x1920 --filter box --to jpg --out "$work/out" "$work"/in/*.jpg; }

# Quality against a Lanczos-3 reduction.
rm -rf "$work/out" && mkdir "$work/out" "$work/ref"
oursN >/dev/null 2>&1
if [ -n "$compare_bin" ]; then
  worst=0; sum=0; n=0
  for f in "$work"/in/*.jpg; do
    name=$(basename "$f" .jpg)
    "$magick" "$f" -filter Lanczos -resize 1920x1920 "$work/ref/$name.png"
    # MAE's second figure is normalized to 0..1.
    # (compare's exit status is 1 whenever the pictures differ at all.)
    mae=$({ "$compare_bin" -metric MAE "$work/out/$name.jpg" "$work/ref/$name.png" null: 2>&1 || true; } |
          sed 's/.*(\(.*\)).*/\1/')
    levels=$(echo "$mae * 255" | bc -l)
    sum=$(echo "$sum + $levels" | bc -l); n=$((n + 1))
    worst=$(echo "$levels $worst" | awk '{print ($1 > $2) ? $1 : $2}')
  done
  printf "  mean absolute difference from Lanczos-3: mean %.2f, worst %.2f levels (target <= 4)\n" \
    "$(echo "$sum / $n" | bc -l)" "$worst"
fi

# WebP writing.
if command -v cwebp >/dev/null; then
  list=$(ls "$work"/in/*.jpg | head -n "$webp_photos")
  oursW() { "$ozmconv" --jobs 1 --to webp --quality 75 --out "$work/out" $list; }
  cwebpW() { for f in $list; do cwebp -quiet -q 75 -m 4 "$f" -o "$work/out/$(basename "$f" .jpg).webp"; done; }
  w1=$(best oursW); c1=$(best cwebpW)
  echo "photos_peers: $webp_photos photos of 6000 x 4000 as WebP, quality 75, method 4, best of $runs"
  printf "  ozmconv --to webp --jobs 1:  %7.2f s\n" "$w1"
  printf "  cwebp -q 75 -m 4:            %7.2f s   (ours / cwebp: %.2f, target <= 1.10)\n" "$c1" "$(echo "$w1 / $c1" | bc -l)"
else
  echo "  cwebp skipped: not installed (Debian package webp)"
fi
