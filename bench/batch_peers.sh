#!/usr/bin/env bash
# A batch of 40 JPEG photos of 1920 x 1080, converted by ozmconv and by ImageMagick's mogrify,
# GraphicsMagick's gm mogrify and vips, side by side in one run, with the same settings:
# point sampling, PNG filter none at zlib level 6, JPEG quality 75. Three jobs: to PNG, to JPG
# at 50%, to JPG rotated by 90 degrees. Each timing is the best of three rounds of the whole
# command (reading and writing included); the peers, which take many times longer, run once. vips converts one file per call, so it runs with
# one call per core in parallel (xargs -P); mogrify and gm take the whole batch in one call.
set -u
bin=${1:-build-bench/bin}
n=${OZM_BENCH_PHOTOS:-40}
cores=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v convert >/dev/null || { echo "batch_peers: ImageMagick missing, skipped"; exit 0; }
mkdir -p "$work/in"
convert -size 1920x1080 -seed 3 plasma:fractal -blur 0x2 -quality 90 "$work/in/p0.jpg"
for i in $(seq 1 $((n - 1))); do
  convert "$work/in/p0.jpg" -roll +$((i * 41))+$((i * 13)) -quality 90 "$work/in/p$i.jpg"
done

best() {  # best wall-clock seconds of $ROUNDS runs of "$@", each in a fresh output folder
  local b=999999 s e t
  for r in $(seq "${ROUNDS:-3}"); do
    rm -rf "$work/out" && mkdir "$work/out"
    s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    b=$(echo "if ($t < $b) $t else $b" | bc -l)
  done
  echo "$b"
}
row() { printf '  %-28s %7.2f s  %6.1f ms/photo\n' "$1" "$2" "$(echo "$2 * 1000 / $n" | bc -l)"; }

im_batch() { cp "$work"/in/*.jpg "$work/out/"; (cd "$work/out" && mogrify "$@" ./*.jpg); }
gm_batch() { cp "$work"/in/*.jpg "$work/out/"; (cd "$work/out" && gm mogrify "$@" ./*.jpg); }
cp_only() { cp "$work"/in/*.jpg "$work/out/"; }
vips_each() { ls "$work"/in/*.jpg | xargs -P "$cores" -I{} sh -c "$1"; }

echo "batch of $n JPEG photos 1920x1080, $cores cores"
copy=$(ROUNDS=1 best cp_only)
for job in png half rot90; do
  case $job in
    png) echo "to PNG (filter none, level 6):"
         ours=(--to png); im=(-format png -quality 60); gmo=(-format png -quality 60)
         vcmd='vips pngsave {} "$0/out/$(basename {} .jpg).png" --compression 6 --filter none' ;;
    half) echo "to JPG at 50% (point sampling, quality 75):"
         ours=(--to jpg --scale 50); im=(-format jpg -filter point -resize 50% -quality 75)
         gmo=(-format jpg -filter point -resize 50% -quality 75)
         vcmd='vips resize {} "$0/out/$(basename {} .jpg).jpg[Q=75]" 0.5 --kernel nearest' ;;
    rot90) echo "to JPG rotated by 90 degrees (quality 75):"
         ours=(--to jpg --rotate 90); im=(-format jpg -rotate 90 -quality 75)
         gmo=(-format jpg -rotate 90 -quality 75)
         vcmd='vips rot {} "$0/out/$(basename {} .jpg).jpg[Q=75]" d90' ;;
  esac
  t1=$(best "$bin/ozmconv" --jobs 1 "${ours[@]}" --out "$work/out" "$work"/in/*.jpg)
  tn=$(best "$bin/ozmconv" "${ours[@]}" --out "$work/out" "$work"/in/*.jpg)
  row "ozmconv --jobs 1" "$t1"
  row "ozmconv (default jobs)" "$tn"
  printf '  %-28s %7.2f x\n' "  jobs speed-up" "$(echo "$t1 / $tn" | bc -l)"
  # The peers work in place on copies; the copy time is taken off their figure.
  tim=$(ROUNDS=1 best im_batch "${im[@]}"); row "ImageMagick mogrify" "$(echo "$tim - $copy" | bc -l)"
  if command -v gm >/dev/null; then tgm=$(ROUNDS=1 best gm_batch "${gmo[@]}"); row "GraphicsMagick gm mogrify" "$(echo "$tgm - $copy" | bc -l)";
  else echo "  gm: not installed, skipped"; fi
  if command -v vips >/dev/null; then
    export -f vips_each
    tv=$(ROUNDS=1 best bash -c "ls '$work'/in/*.jpg | xargs -P $cores -I{} sh -c '$vcmd' '$work'")
    row "vips (xargs -P $cores)" "$tv"
  else echo "  vips: not installed, skipped"; fi
done
