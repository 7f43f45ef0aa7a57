#!/usr/bin/env bash
# ozmconv side by side with the image programs Debian ships, on the same JPEG photos in one
# run, printed as a markdown table.
#
#   bench/peers.sh [BIN_FOLDER] [--photos N] [--size WxH] [--rounds N]
#
# BIN_FOLDER holds ozmconv (default build-bench/bin). The photos are made by make_pictures.py
# (Pillow): by default 8 of 1600 x 1067, a few minutes in all; `--photos 50 --size 2472x1648`
# is the full run of 50 photos of 4 megapixels (203 megapixels).
#
# Jobs, every one JPEG photos in, files written to an empty folder:
#   JPEG to PNG        filter none at zlib level 6 where the program takes it (vips; ImageMagick
#                      and GraphicsMagick are given -quality 60, which asks for it, but choose
#                      adaptive row filters for colour images all the same: smaller files for
#                      much more work)
#   JPEG to JPEG q75   quality 75
#   JPEG to BMP        24-bit
#   GIF output         each program's own reduction to 256 colours
#   resize             half the size in each direction, area average (box), JPEG quality 75;
#                      vips by `vips shrink 2 2`, vipsthumbnail by its shrink-on-load
#   rotate             90 degrees clockwise, JPEG quality 75
# Programs: ozmconv on one core (--jobs 1 --threads 1), one file at a time with its threads
# (--jobs 1), and with its defaults; ImageMagick's mogrify and GraphicsMagick's gm mogrify, one
# call for all the photos with their own threads; vips and vipsthumbnail, which take one file a
# call, one call per core at a time (xargs -P). A program not installed, or a job it cannot
# do, shows "-".
#
# Each figure is the best of --rounds runs (default 2): wall seconds, and CPU seconds (user +
# system of the program and its children). The ratio is the fastest peer's figure divided by
# this one: above 1 is faster than every peer. On a loaded machine the CPU table is the one
# to read.
set -u
bin=build-bench/bin
photos=8
size=1600x1067
rounds=2
while [ $# -gt 0 ]; do
  case $1 in
    --photos) photos=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    -*) echo "usage: peers.sh [BIN_FOLDER] [--photos N] [--size WxH] [--rounds N]" >&2; exit 2 ;;
    *) bin=$1; shift ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
ozmconv=$(cd "$bin" 2>/dev/null && pwd)/ozmconv
[ -x "$ozmconv" ] || { echo "peers: no $ozmconv, skipped"; exit 0; }
/usr/bin/python3 -c 'import PIL' 2>/dev/null || { echo "peers: Pillow (python3-pil) missing, skipped"; exit 0; }
cores=$(nproc)
width=${size%x*}
height=${size#*x}

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/ozm-peers.XXXXXX")
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/make_pictures.py" photos "$work/in" --count "$photos" --size "$size"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

have() { command -v "$1" >/dev/null; }

# The command of one program for one job, as words; empty when the program lacks the job.
command_for() {  # program job
  local in=("$work"/in/*.jpg) out=$work/out
  local half="$((width / 2))x$((height / 2))"
  case $1 in
    ozm1|ozmj|ozm)
      local o=("$ozmconv" --out "$out")
      [ "$1" = ozm1 ] && o+=(--jobs 1 --threads 1)
      [ "$1" = ozmj ] && o+=(--jobs 1)
      case $2 in
        png) echo "${o[@]}" --to png ;;
        jpg) echo "${o[@]}" --to jpg --quality 75 ;;
        bmp) echo "${o[@]}" --to bmp ;;
        gif) echo "${o[@]}" --to gif ;;
        resize) echo "${o[@]}" --to jpg --fit "$half" --filter box ;;
        rotate) echo "${o[@]}" --to jpg --rotate 90 ;;
      esac
      ;;
    magick|gm)
      local o
      if [ "$1" = magick ]; then have mogrify || return; o=(mogrify -path "$out")
      else have gm || return; o=(gm mogrify -output-directory "$out"); fi
      case $2 in
        png) echo "${o[@]}" -format png -quality 60 ;;
        jpg) echo "${o[@]}" -format jpg -quality 75 ;;
        bmp) echo "${o[@]}" -format bmp ;;
        gif) echo "${o[@]}" -format gif ;;
        resize) echo "${o[@]}" -format jpg -filter box -resize 50% -quality 75 ;;
        rotate) echo "${o[@]}" -format jpg -rotate 90 -quality 75 ;;
      esac
      ;;
    vips|vipsthumbnail)
      # One call per photo: a command for `sh -c`, the photo in $1 and its name in $n.
      have "$1" || return
      local each='each:n=$(basename "$1" .jpg); '
      case $1.$2 in
        vips.png) echo "$each"'vips copy "$1" "'"$out"'/$n.png[compression=6,filter=none]"' ;;
        vips.jpg) echo "$each"'vips copy "$1" "'"$out"'/$n.jpg[Q=75]"' ;;
        vips.gif) echo "$each"'vips copy "$1" "'"$out"'/$n.gif"' ;;
        vips.resize) echo "$each"'vips shrink "$1" "'"$out"'/$n.jpg[Q=75]" 2 2' ;;
        vips.rotate) echo "$each"'vips rot "$1" "'"$out"'/$n.jpg[Q=75]" d90' ;;
        vipsthumbnail.resize) echo "$each"'vipsthumbnail "$1" -s '"$half"' -o "'"$out"'/$n.jpg[Q=75]"' ;;
      esac
      ;;
  esac
}

# Best wall and CPU seconds of `rounds` runs, the files written and their bytes:
# "wall cpu files bytes". The command is words, or "each:" and a command run once per photo.
measure() {
  local best_wall=999999 best_cpu=999999 files=0 t wall user sys
  for _ in $(seq "$rounds"); do
    rm -rf "$work/out" && mkdir "$work/out"
    if [ "${1#each:}" != "$1" ]; then
      t=$( { TIMEFORMAT='%R %U %S'
             time ls "$work"/in/*.jpg | xargs -P "$cores" -I{} sh -c "${1#each:}" sh {} >/dev/null 2>&1; } 2>&1 )
    else
      # Relative names: gm mogrify puts the whole name given under its output folder.
      t=$( cd "$work/in" && { TIMEFORMAT='%R %U %S'; time "$@" *.jpg >/dev/null 2>&1; } 2>&1 )
    fi
    read -r wall user sys <<<"$t"
    best_wall=$(awk -v a="$wall" -v b="$best_wall" 'BEGIN {print (a < b) ? a : b}')
    best_cpu=$(awk -v u="$user" -v s="$sys" -v b="$best_cpu" 'BEGIN {c = u + s; print (c < b) ? c : b}')
    files=$(find "$work/out" -type f | wc -l)
  done
  echo "$best_wall $best_cpu $files $(du -cb "$work"/out/* 2>/dev/null | tail -1 | cut -f1)"
}

programs=(ozm1 ozmj ozm magick gm vips vipsthumbnail)
titles=("ozmconv 1 core" "ozmconv --jobs 1" "ozmconv" "ImageMagick mogrify" "gm mogrify" "vips" "vipsthumbnail")
jobs=(png jpg bmp gif resize rotate)
job_titles=("JPEG to PNG" "JPEG to JPEG q75" "JPEG to BMP" "GIF output" "resize to 50%" "rotate 90")
declare -A wall cpu bytes
for job in "${jobs[@]}"; do
  for p in "${programs[@]}"; do
    words=$(command_for "$p" "$job")
    [ -n "$words" ] || continue
    if [ "${words#each:}" != "$words" ]; then
      read -r w c f b <<<"$(measure "$words")"
    else
      read -r -a argv <<<"$words"
      read -r w c f b <<<"$(measure "${argv[@]}")"
    fi
    if [ "$f" -ne "$photos" ]; then
      wall[$job.$p]=failed
      continue
    fi
    wall[$job.$p]=$w; cpu[$job.$p]=$c; bytes[$job.$p]=$b
  done
done

mp=$(awk -v n="$photos" -v w="$width" -v h="$height" 'BEGIN {printf "%.1f", n * w * h / 1e6}')
table() {  # name of the array: wall or cpu
  local -n figures=$1
  local header="| job |" rule="|---|" job p i fastest cell
  for i in "${!programs[@]}"; do header+=" ${titles[$i]} |"; rule+="---:|"; done
  echo "$header"; echo "$rule"
  for i in "${!jobs[@]}"; do
    job=${jobs[$i]}
    fastest=""
    for p in magick gm vips vipsthumbnail; do
      local v=${figures[$job.$p]:-}
      [[ "$v" =~ ^[0-9.]+$ ]] || continue
      if [ -z "$fastest" ] || awk -v a="$v" -v b="$fastest" 'BEGIN {exit !(a < b)}'; then fastest=$v; fi
    done
    local row="| ${job_titles[$i]} |"
    for p in "${programs[@]}"; do
      local v=${figures[$job.$p]:-}
      if [ -z "$v" ]; then cell="-"
      elif [ "$v" = failed ] || [ "${wall[$job.$p]}" = failed ]; then cell="failed"
      elif [ -n "$fastest" ]; then cell=$(awk -v v="$v" -v f="$fastest" 'BEGIN {printf "%.2f s (%.2fx)", v, f / v}')
      else cell=$(printf "%.2f s" "$v"); fi
      row+=" $cell |"
    done
    echo "$row"
  done
}

echo "## ozmconv and its peers, $(date '+%Y-%m-%d %H:%M')"
echo
echo "$photos JPEG photos of $width x $height ($mp megapixels), $cores cores, load average" \
  "$load_before before and $(cut -d' ' -f1-3 /proc/loadavg) after; best of $rounds runs."
echo "Ratio: the fastest peer's figure / this one (above 1: faster than every peer)."
echo
echo "Wall seconds:"
echo
table wall
echo
echo "CPU seconds (user + system):"
echo
table cpu
echo
png_sizes="PNG bytes:"
for i in "${!programs[@]}"; do
  b=${bytes[png.${programs[$i]}]:-}
  [ -n "$b" ] && png_sizes+=" ${titles[$i]} $b;"
done
echo "${png_sizes%;}"
