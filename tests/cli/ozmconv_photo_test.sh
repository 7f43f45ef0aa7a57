#!/usr/bin/env bash
# ozmconv's photo options: --auto-orient, --fit, --filter box, WebP and --background. The test
# pictures come from other tools (Pillow, jpegtran, exiftool, img2webp), never from ozmconv.
# Exit 77 (skipped) when one of those tools is missing.
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

py=""
for p in python3 /usr/bin/python3; do
  if "$p" -c "import PIL" 2>/dev/null; then py=$p; break; fi
done
for tool in jpegtran exiftool img2webp; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -n "$py" ] || { echo "SKIP: Pillow is not installed"; exit 77; }

# Prints "W H" and an md5 of the RGB pixels of a picture, as Pillow decodes it.
pixels() { "$py" -c '
import sys, hashlib
from PIL import Image
im = Image.open(sys.argv[1]); im.seek(0); im = im.convert("RGB")
print(im.size[0], im.size[1], hashlib.md5(im.tobytes()).hexdigest())' "$1"; }
size() { pixels "$1" | cut -d" " -f1-2; }

# One photo: 64 x 48 of flat 8 x 8 blocks, all colours distinct, stored without chroma
# subsampling, so that the lossless turns of jpegtran decode to exactly turned pixels.
"$py" - "$work/upright.jpg" <<'PY'
import sys
from PIL import Image
im = Image.new("RGB", (64, 48))
for by in range(6):
    for bx in range(8):
        colour = (bx * 32, by * 40, (bx * 7 + by * 13) % 8 * 32)
        for y in range(by * 8, by * 8 + 8):
            for x in range(bx * 8, bx * 8 + 8):
                im.putpixel((x, y), colour)
im.save(sys.argv[1], quality=100, subsampling=0)
PY
# Stored pictures that show `upright` when turned by their orientation 1..8.
turns=("" "" "-flip horizontal" "-rotate 180" "-flip vertical" "-transpose" "-rotate 270"
       "-transverse" "-rotate 90")
mkdir "$work/o" "$work/out"
for o in 1 2 3 4 5 6 7 8; do
  if [ "$o" -eq 1 ]; then cp "$work/upright.jpg" "$work/o/o$o.jpg"
  else jpegtran -perfect ${turns[$o]} -outfile "$work/o/o$o.jpg" "$work/upright.jpg"; fi
  exiftool -q -overwrite_original -n -Orientation=$o "$work/o/o$o.jpg"
done
"$bin" --auto-orient --to png --out "$work/out" "$work"/o/o?.jpg >/dev/null 2>"$work/err"
check "auto-orient: exit 0" "[ $? -eq 0 ]"
want=$(pixels "$work/upright.jpg")
for o in 1 2 3 4 5 6 7 8; do
  check "orientation $o upright, pixel for pixel" '[ "$(pixels "$work/out/o$o.png")" = "$want" ]'
done
check "no notes for sound EXIF" '! grep -q EXIF "$work/err"'
# Without the option nothing changes: orientation 6 stays as stored, 48 x 64.
"$bin" --to png --out "$work/out" "$work/o/o6.jpg" >/dev/null 2>&1
check "without --auto-orient as stored" '[ "$(size "$work/out/o6(1).png")" = "48 64" ]'

# A damaged EXIF block: converted as stored, with a note. A missing block: no note.
"$py" - "$work/o/o6.jpg" "$work/damaged.jpg" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(b"Exif\0\0")
assert at > 0
for i in range(at + 6, at + 40):  # the TIFF header and the first directory
    data[i] = 0xEE
open(sys.argv[2], "wb").write(data)
PY
exiftool -q -all= -o "$work/noexif.jpg" "$work/o/o6.jpg"
"$bin" --auto-orient --to png --out "$work/out" "$work/damaged.jpg" "$work/noexif.jpg" >/dev/null 2>"$work/err"
check "damaged EXIF: exit 0" "[ $? -eq 0 ]"
check "damaged EXIF: a note" 'grep -q "damaged.jpg: damaged EXIF data ignored" "$work/err"'
check "damaged EXIF: as stored" '[ "$(size "$work/out/damaged.png")" = "48 64" ]'
check "missing EXIF: no note" '! grep -q "noexif" "$work/err"'
check "missing EXIF: as stored" '[ "$(size "$work/out/noexif.png")" = "48 64" ]'

# --fit: shrink only, proportions kept, one side or both.
"$py" -c 'from PIL import Image; Image.effect_mandelbrot((600, 400), (-2, -1.2, 1, 1.2), 60).convert("RGB").save("'"$work"'/p.png")'
mkdir "$work/f"
fit() { rm -f "$work/f/p.png"; "$bin" --to png --out "$work/f" "$@" "$work/p.png" >/dev/null 2>&1 && size "$work/f/p.png"; }
check "fit both sides" '[ "$(fit --fit 300x300)" = "300 200" ]'
check "fit exact size: unchanged" '[ "$(fit --fit 600x400 --filter box)" = "600 400" ]'
check "fit never enlarges" '[ "$(fit --fit 5000x5000)" = "600 400" ]'
check "fit width only" '[ "$(fit --fit 60x --filter box)" = "60 40" ]'
check "fit height only" '[ "$(fit --fit x100)" = "150 100" ]'
check "fit to one pixel" '[ "$(fit --fit 1x1 --filter box)" = "1 1" ]'
check "huge box" '[ "$(fit --fit 2147483647x2147483647)" = "600 400" ]'
check "box with --scale" '[ "$(fit --scale 10 --filter box)" = "60 40" ]'
# A JPEG photo shrunk on load ends at the exact size the options give.
"$py" -c 'from PIL import Image; Image.effect_mandelbrot((1999, 1333), (-2, -1.2, 1, 1.2), 60).convert("RGB").save("'"$work"'/big.jpg", quality=90)'
"$bin" --to png --fit 250x250 --filter box --out "$work/f" "$work/big.jpg" >/dev/null 2>&1
check "shrink on load: exact size" '[ "$(size "$work/f/big.png")" = "250 167" ]'
"$bin" --to png --fit 32x --filter box --auto-orient --out "$work/f" "$work/o/o6.jpg" >/dev/null 2>&1
check "fit after orientation" '[ "$(size "$work/f/o6.png")" = "32 24" ]'

# WebP out and in: lossless back exactly, lossy smaller, the first frame of an animation.
mkdir "$work/w" "$work/wb"
"$bin" --to webp --lossless --out "$work/w" "$work/p.png" >/dev/null 2>&1
check "lossless webp exact" '[ "$(pixels "$work/w/p.webp")" = "$(pixels "$work/p.png")" ]'
"$bin" --to webp --quality 40 --out "$work/wb" "$work/p.png" >/dev/null 2>&1
check "lossy webp smaller" '[ $(stat -c %s "$work/wb/p.webp") -lt $(stat -c %s "$work/w/p.webp") ]'
"$bin" --to png --out "$work/wb" "$work/w/p.webp" >/dev/null 2>&1
check "webp read back" '[ "$(pixels "$work/wb/p.png")" = "$(pixels "$work/p.png")" ]'
"$py" -c '
from PIL import Image
for i, c in enumerate([(200, 10, 10), (10, 200, 10)]):
    Image.new("RGB", (32, 16), c).save("'"$work"'/frame%d.png" % i)'
img2webp -lossless "$work/frame0.png" "$work/frame1.png" -o "$work/anim.webp" >/dev/null 2>&1
"$bin" --to png --out "$work/wb" "$work/anim.webp" >/dev/null 2>&1
check "animated webp: first frame" '[ "$(pixels "$work/wb/anim.png")" = "$(pixels "$work/frame0.png")" ]'
head -c 100 "$work/w/p.webp" > "$work/cut.webp"
"$bin" --to png --out "$work/wb" "$work/cut.webp" >/dev/null 2>"$work/err"
check "cut webp: exit 1 with a reason" "[ $? -eq 1 ] && grep -q 'cannot read .*cut.webp: ' '$work/err'"
check "cut webp: no output" '[ ! -e "$work/wb/cut.png" ]'

# --background: transparency blended onto the colour; without it, the readers' own rule.
"$py" -c '
from PIL import Image
im = Image.new("RGBA", (4, 2), (255, 0, 0, 0)); im.putpixel((1, 0), (0, 0, 255, 128))
im.putpixel((2, 0), (0, 255, 0, 255)); im.save("'"$work"'/t.png")
Image.new("RGBA", (4, 2), (0, 0, 0, 0)).save("'"$work"'/t.webp", lossless=True)
g = Image.new("P", (4, 2), 1); g.putpalette([255, 255, 255, 9, 9, 9] + [0] * 762)
g.putpixel((0, 0), 0); g.save("'"$work"'/t.gif", transparency=1)'
# The three outputs are t.png, t(1).png (the GIF) and t(2).png (the WebP).
mkdir "$work/b"
"$bin" --to png --background "#204060" --out "$work/b" "$work/t.png" "$work/t.gif" "$work/t.webp" >/dev/null 2>&1
check "background: exit 0" "[ $? -eq 0 ]"
px() { "$py" -c 'import sys; from PIL import Image; print(*Image.open(sys.argv[1]).convert("RGB").getpixel((int(sys.argv[2]), 0)))' "$1" "$2"; }
check "png transparent pixel shows the colour" '[ "$(px "$work/b/t.png" 0)" = "32 64 96" ]'
check "png half alpha blended" '[ "$(px "$work/b/t.png" 1)" = "16 32 176" ]'
check "png opaque pixel kept" '[ "$(px "$work/b/t.png" 2)" = "0 255 0" ]'
check "gif transparent index shows the colour" '[ "$(px "$work/b/t(1).png" 1)" = "32 64 96" ]'
check "gif opaque index kept" '[ "$(px "$work/b/t(1).png" 0)" = "255 255 255" ]'
check "webp transparent shows the colour" '[ "$(px "$work/b/t(2).png" 0)" = "32 64 96" ]'
"$bin" --to png --out "$work/b" "$work/t.png" >/dev/null 2>&1
check "without --background alpha dropped" '[ "$(px "$work/b/t(3).png" 0)" = "255 0 0" ]'

# Usage errors and the help text.
for bad in "--fit 0x10" "--fit x" "--fit 10" "--filter lanczos" "--background #12345" \
           "--background chartreuse" "--fit 10x10 --resize 5x5" "--scale 50 --fit 10x"; do
  "$bin" $bad "$work/p.png" >/dev/null 2>&1
  check "usage error: $bad" "[ $? -eq 2 ]"
done
help=$("$bin" --help)
for opt in --to --out --quality --lossless --resize --scale --fit --filter --auto-orient \
           --background --rotate --jobs --null --version --help webp; do
  check "--help names $opt" 'echo "$help" | grep -q -- "$opt"'
done

exit $fail
