#!/usr/bin/env bash
# ozmconv --keep-metadata and --colour-manage. The photos are made by Pillow and exiftool with
# the colour profiles of colord-data; what ozmconv writes is read back by exiftool and Pillow,
# and its colours are compared with lcms2's own transform of the same pixels (Pillow's
# ImageCms). Exit 77 (skipped) when one of those is missing.
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

icc=/usr/share/color/icc/colord
py=""
for p in python3 /usr/bin/python3; do
  if "$p" -c "from PIL import ImageCms" 2>/dev/null; then py=$p; break; fi
done
[ -n "$py" ] || { echo "SKIP: Pillow with ImageCms is not installed"; exit 77; }
command -v exiftool >/dev/null || { echo "SKIP: exiftool is not installed"; exit 77; }
for f in AdobeRGB1998 ProPhotoRGB SwappedRedAndGreen; do
  [ -f "$icc/$f.icc" ] || { echo "SKIP: colord-data is not installed"; exit 77; }
done

# The sources: one 64 x 48 picture of smooth ramps, with an EXIF block (date, camera, GPS,
# orientation 6, pixel sizes, a thumbnail) and the Adobe RGB profile made larger than one
# JPEG segment holds (130 000 bytes, so it is stored in three APP2 pieces), as JPEG, PNG,
# WebP (lossless) and TIFF.
"$py" - "$work" "$icc" <<'PY'
import sys, struct
from PIL import Image
work, icc = sys.argv[1], sys.argv[2]
im = Image.new("RGB", (64, 48))
px = im.load()
for y in range(48):
    for x in range(64):
        px[x, y] = (x * 4, y * 5, (x * 3 + y * 2) % 256)
im.save(work + "/plain.png")
im.resize((16, 12)).save(work + "/thumb.jpg")
profile = bytearray(open(icc + "/AdobeRGB1998.icc", "rb").read())
profile += bytes(130000 - len(profile))
profile[0:4] = struct.pack(">I", len(profile))
open(work + "/big.icc", "wb").write(profile)
im.save(work + "/photo.jpg", quality=95, icc_profile=bytes(profile))
PY
exiftool -q -overwrite_original -DateTimeOriginal="2021:05:06 07:08:09" -Make=OzmTest \
  -Model="Camera 7" -GPSLatitude=48.5 -GPSLatitudeRef=N -GPSLongitude=2.25 \
  -GPSLongitudeRef=E -Orientation#=6 -ExifImageWidth=64 -ExifImageHeight=48 \
  "-ThumbnailImage<=$work/thumb.jpg" "$work/photo.jpg" 2>/dev/null
"$py" - "$work" <<'PY'
import sys
from PIL import Image
work = sys.argv[1]
src = Image.open(work + "/photo.jpg")
exif, icc = src.info["exif"], src.info["icc_profile"]
plain = Image.open(work + "/plain.png")
plain.save(work + "/photo.png", exif=exif, icc_profile=icc)
plain.save(work + "/photo.webp", exif=exif, icc_profile=icc, lossless=True)
PY
[ "$(exiftool -s3 -DateTimeOriginal "$work/photo.png")" = "2021:05:06 07:08:09" ] ||
  { echo "SKIP: the test photos lack their EXIF block"; exit 77; }

# Prints what a written file carries, one field a line, as exiftool and Pillow read it.
carried() {
  exiftool -s3 -n -DateTimeOriginal -Make -GPSLatitude -GPSLongitude -Orientation \
    -ExifImageWidth -ExifImageHeight "$1"
  "$py" - "$1" "$work/big.icc" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1])
icc = im.info.get("icc_profile")
print("profile:", "none" if not icc else "same" if icc == open(sys.argv[2], "rb").read() else "other")
print("exif date:", im.getexif().get_ifd(0x8769).get(0x9003))
print("size:", *im.size)
PY
}
want() { printf '%s\n' "2021:05:06 07:08:09" OzmTest 48.5 2.25 "$@"; }

# Every source into every format that holds metadata: the date, camera, place and profile
# (byte for byte, three JPEG pieces joined) survive; pixel sizes follow the written picture.
mkdir "$work/k"
"$bin" --keep-metadata --to jpg,png,webp --out "$work/k" "$work"/photo.{jpg,png,webp} \
  >/dev/null 2>"$work/err"
check "keep: exit 0, no notes" '[ $? -eq 0 ] && ! grep -q ": " <(grep -v converted "$work/err")'
kept=$(want 6 64 48; echo "profile: same"; echo "exif date: 2021:05:06 07:08:09"; echo "size: 64 48")
n=0
for src in jpg png webp; do
  for out in jpg png webp; do
    # The second and third sources' outputs are numbered: photo(1).jpg, photo(2).jpg ...
    name=photo; [ $n -gt 0 ] && name="photo($n)"
    check "keep: $src to $out" '[ "$(carried "$work/k/$name.$out")" = "$kept" ]'
  done
  n=$((n + 1))
done
"$bin" --keep-metadata --to tif --out "$work/k" "$work/photo.jpg" >/dev/null 2>&1
check "keep: TIFF takes the profile" '[ "$(carried "$work/k/photo.tif" | grep profile)" = "profile: same" ]'
check "keep: the thumbnail stays" '[ "$(exiftool -s3 -ThumbnailLength "$work/k/photo.jpg")" = "$(stat -c %s "$work/thumb.jpg")" ]'

# Turned upright and halved: orientation 1, the new pixel sizes, the old thumbnail gone.
mkdir "$work/u"
"$bin" --keep-metadata --auto-orient --scale 50 --to jpg,png,webp --out "$work/u" \
  "$work/photo.jpg" >/dev/null 2>&1
upright=$(want 1 24 32; echo "profile: same"; echo "exif date: 2021:05:06 07:08:09"; echo "size: 24 32")
for out in jpg png webp; do
  check "upright: $out" '[ "$(carried "$work/u/photo.$out")" = "$upright" ]'
done
check "upright: thumbnail dropped" '[ -z "$(exiftool -s3 -ThumbnailLength "$work/u/photo.jpg")" ]'

# Without the option nothing is carried, as before.
mkdir "$work/d"
"$bin" --to jpg,png,webp --out "$work/d" "$work/photo.jpg" >/dev/null 2>&1
for out in jpg png webp; do
  check "default: $out bare" '[ -z "$(exiftool -s3 -EXIF:all -ICC_Profile:all "$work/d/photo.$out")" ]'
done

# --colour-manage: the pixels equal lcms2's transform of the decoded source to sRGB within 2
# levels, for Adobe RGB, ProPhoto and a profile that swaps red and green, from PNG, WebP,
# TIFF and JPEG; the outputs carry no profile.
"$py" - "$work" "$icc" <<'PY'
import sys, io
from PIL import Image, ImageCms
work, icc = sys.argv[1], sys.argv[2]
plain = Image.open(work + "/plain.png")
srgb = ImageCms.createProfile("sRGB")
for name in ["AdobeRGB1998", "ProPhotoRGB", "SwappedRedAndGreen"]:
    profile = open("%s/%s.icc" % (icc, name), "rb").read()
    plain.save("%s/cm_%s.png" % (work, name), icc_profile=profile)
    plain.save("%s/cm_%s.webp" % (work, name), icc_profile=profile, lossless=True)
    plain.save("%s/cm_%s.tif" % (work, name), icc_profile=profile)
    source = ImageCms.ImageCmsProfile(io.BytesIO(profile))
    ImageCms.profileToProfile(plain, source, srgb).save("%s/ref_%s.png" % (work, name))
jpeg = Image.open(work + "/photo.jpg")
jpeg.load()
source = ImageCms.ImageCmsProfile(io.BytesIO(jpeg.info["icc_profile"]))
ImageCms.profileToProfile(jpeg.convert("RGB"), source, srgb).save(work + "/ref_photo.png")
PY
# Largest difference of any channel of any pixel between two pictures, and their profiles.
differ() { "$py" - "$1" "$2" <<'PY'
import sys
from PIL import Image, ImageChops
a, b = (Image.open(f) for f in sys.argv[1:3])
print(max(hi for lo, hi in ImageChops.difference(a.convert("RGB"), b.convert("RGB")).getextrema()),
      "icc" if a.info.get("icc_profile") else "none")
PY
}
mkdir "$work/c"
for name in AdobeRGB1998 ProPhotoRGB SwappedRedAndGreen; do
  for ext in png webp tif; do
    mkdir -p "$work/c/$ext"
    "$bin" --colour-manage --to png --out "$work/c/$ext" "$work/cm_$name.$ext" >/dev/null 2>&1
    check "colour-manage: $name from $ext" \
      '[ "$(differ "$work/c/$ext/cm_$name.png" "$work/ref_$name.png" | awk "\$1 <= 2 { print \$2 }")" = none ]'
  done
done
"$bin" --colour-manage --to png --out "$work/c" "$work/photo.jpg" >/dev/null 2>&1
check "colour-manage: JPEG in three pieces" \
  '[ "$(differ "$work/c/photo.png" "$work/ref_photo.png" | awk "\$1 <= 2 { print \$2 }")" = none ]'
check "colour-manage: the swap really converts" \
  '[ "$(differ "$work/c/png/cm_SwappedRedAndGreen.png" "$work/plain.png" | cut -d" " -f1)" -gt 100 ]'
# Both options: the EXIF block stays, the original profile never rides on converted pixels.
mkdir "$work/b"
"$bin" --colour-manage --keep-metadata --to jpg,png,webp --out "$work/b" "$work/photo.jpg" \
  >/dev/null 2>&1
both=$(want 6 64 48; echo "profile: none"; echo "exif date: 2021:05:06 07:08:09"; echo "size: 64 48")
for out in jpg png webp; do
  check "both: $out keeps EXIF, no profile" '[ "$(carried "$work/b/photo.$out")" = "$both" ]'
done

# Bad blocks: a profile lcms2 cannot read is ignored with a note and the pixels stay; an
# incomplete set of JPEG pieces and an EXIF block that is no TIFF structure are not kept.
"$py" - "$work" <<'PY'
import sys, struct
from PIL import Image
work = sys.argv[1]
plain = Image.open(work + "/plain.png")
junk = struct.pack(">I", 400) + b"\xA5" * 396
plain.save(work + "/junk.png", icc_profile=junk)
data = bytearray(open(work + "/photo.jpg", "rb").read())
at = data.find(b"ICC_PROFILE\0\x02")  # the second of three pieces: renamed, so it is missing
data[at:at + 11] = b"ICC_PROFILX"
open(work + "/gap.jpg", "wb").write(data)
plain.save(work + "/badexif.png", exif=b"not a TIFF structure at all")
PY
mkdir "$work/x"
"$bin" --colour-manage --keep-metadata --to png --out "$work/x" "$work"/junk.png "$work"/gap.jpg \
  "$work"/badexif.png >/dev/null 2>"$work/err"
check "bad blocks: exit 0" "[ $? -eq 0 ]"
check "damaged profile: a note" 'grep -q "junk.png: damaged colour profile ignored" "$work/err"'
check "damaged profile: pixels as read" '[ "$(differ "$work/x/junk.png" "$work/plain.png")" = "0 none" ]'
check "missing piece: a note" 'grep -q "gap.jpg: incomplete colour profile not kept" "$work/err"'
check "missing piece: no profile" '[ "$(carried "$work/x/gap.png" | grep profile)" = "profile: none" ]'
check "damaged EXIF: a note" 'grep -q "badexif.png: damaged EXIF data not kept" "$work/err"'
check "damaged EXIF: none written" '[ -z "$(exiftool -s3 -EXIF:all "$work/x/badexif.png")" ]'
"$bin" --colour-manage --to png --out "$work/x" "$work/badexif.png" >/dev/null 2>"$work/err"
check "damaged EXIF: no note when EXIF is not kept" '! grep -q EXIF "$work/err"'

help=$("$bin" --help)
for opt in --keep-metadata --colour-manage; do
  check "--help names $opt" 'echo "$help" | grep -q -- "$opt"'
done

exit $fail
