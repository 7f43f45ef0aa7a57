#!/bin/sh
# Re-makes the bitmap files of this folder that other programs wrote (im_*.bmp with
# ImageMagick 6, pil_*.bmp with Pillow). All show the same 21 x 13 crop of ImageMagick's
# built-in "rose:" picture. Run from anywhere: sh tests/data/bmp/make_tool_samples.sh
set -eu
cd "$(dirname "$0")"
IM=${CONVERT:-convert}
rose="rose: -crop 21x13+20+10 +repage"
alpha="-alpha set -channel A -fx i/w +channel"

$IM $rose BMP3:im_bmp3_24.bmp
$IM $rose BMP2:im_bmp2_24.bmp
$IM $rose -colors 40 -type palette -compress none BMP2:im_bmp2_8.bmp
$IM $rose BMP:im_v5_24.bmp
$IM $rose $alpha BMP:im_v5_32_alpha.bmp
$IM $rose -define bmp:subtype=RGB565 BMP:im_rgb565.bmp
$IM $rose -define bmp:subtype=RGB555 BMP:im_rgb555.bmp
$IM $rose $alpha -define bmp:subtype=ARGB1555 BMP:im_argb1555.bmp
$IM $rose $alpha -define bmp:subtype=ARGB4444 BMP:im_argb4444.bmp
$IM $rose -colors 16 -type palette -compress none BMP3:im_pal4.bmp
$IM $rose -colors 200 -type palette -compress none BMP3:im_pal8.bmp
$IM $rose -colors 60 -compress RLE BMP3:im_rle8.bmp
$IM $rose -monochrome BMP3:im_mono.bmp
$IM $rose -colorspace gray -colors 64 -type palette -compress none BMP3:im_gray8.bmp

$IM $rose ppm:- | python3 -c '
import io, sys
from PIL import Image
im = Image.open(io.BytesIO(sys.stdin.buffer.read())).convert("RGB")
a = im.convert("RGBA")
a.putalpha(Image.linear_gradient("L").resize(im.size))
a.save("pil_rgba.bmp")
im.convert("L").save("pil_l.bmp")
im.convert("1").save("pil_1.bmp")
'
