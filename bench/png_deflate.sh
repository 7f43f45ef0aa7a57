#!/usr/bin/env bash
# The deflate libraries on PNG image data, and a check of the PNG files ozmconv writes.
#
#   bench/png_deflate.sh [BIN_FOLDER] [--repeat N]
#
# 1. make_pictures.py makes the pictures: photos (JPEG, grainy and smooth), screenshots (PNG), scanned pages
#    (JPEG, one grey, one colour) and palette pictures (8-, 4- and 1-bit PNG).
# 2. png_deflate compresses each picture's rows, as a PNG with filter None carries them, with
#    zlib, libdeflate and ISA-L's igzip at several levels, and with the PNG writer itself:
#    bytes and CPU seconds (user + system, the least of --repeat runs, default 3), per
#    picture and per kind. CPU time, not wall time, so that a busy machine still gives
#    figures worth comparing.
# 3. ozmconv converts every picture to PNG on 1 and on 4 threads: the files must be the same
#    bytes, pass pngcheck (when installed), have filter type 0 on every row and a zlib stream
#    that Python's zlib inflates with its checksum, and decode in Pillow to the pixels of
#    ozmconv's own BMP of the same picture.
set -u
bin=build-bench/bin
repeat=3
while [ $# -gt 0 ]; do
  case $1 in
    --repeat) repeat=$2; shift 2 ;;
    *) bin=$1; shift ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$bin/png_deflate" ] || { echo "png_deflate: no $bin/png_deflate, skipped"; exit 0; }
/usr/bin/python3 -c 'import PIL' 2>/dev/null || { echo "png_deflate: Pillow (python3-pil) missing, skipped"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/make_pictures.py" all "$work/in"
pictures=("$work"/in/photos/* "$work"/in/smooth/* "$work"/in/screenshots/* "$work"/in/scans/* "$work"/in/palette/*)

echo "png_deflate: $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$bin/png_deflate" --repeat "$repeat" "${pictures[@]}"
status=$?
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

[ -x "$bin/ozmconv" ] || exit $status
mkdir "$work/one" "$work/four"
"$bin/ozmconv" --jobs 1 --threads 1 --to png,bmp --out "$work/one" "${pictures[@]}" >/dev/null 2>&1
"$bin/ozmconv" --jobs 1 --threads 4 --to png --out "$work/four" "${pictures[@]}" >/dev/null 2>&1
/usr/bin/python3 - "$work" <<'PY' || status=1
import glob, os, struct, subprocess, sys, zlib
from PIL import Image

work = sys.argv[1]
have_pngcheck = subprocess.run(["sh", "-c", "command -v pngcheck"], capture_output=True).returncode == 0
bad = 0
files = sorted(glob.glob(os.path.join(work, "one", "*.png")))
for path in files:
    name = os.path.basename(path)
    data = open(path, "rb").read()
    problems = []
    if data != open(os.path.join(work, "four", name), "rb").read():
        problems.append("differs on 4 threads")
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", data[pos + 8:pos + 21])
        elif kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + length]
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = ihdr
    rows = zlib.decompress(idat)  # checks the Adler-32 sum too
    stride = len(rows) // height
    if interlace != 0 or colour not in (2, 3) or (colour == 2 and depth != 8):
        problems.append("header %r" % (ihdr,))
    if len(rows) != stride * height or any(rows[y * stride] != 0 for y in range(height)):
        problems.append("a row filter other than 0")
    if have_pngcheck and subprocess.run(["pngcheck", "-q", path], capture_output=True).returncode != 0:
        problems.append("pngcheck refuses it")
    bmp = Image.open(path[:-4] + ".bmp").convert("RGB").tobytes()
    if Image.open(path).convert("RGB").tobytes() != bmp:
        problems.append("pixels differ from the BMP")
    print("  %-20s %10d bytes, colour type %d, %d bits: %s" %
          (name, len(data), colour, depth, "; ".join(problems) or "ok"))
    bad += bool(problems)
print("checked %d PNG files%s, %d with problems" %
      (len(files), "" if have_pngcheck else " (pngcheck not installed)", bad))
sys.exit(1 if bad else 0)
PY
exit $status
