#!/usr/bin/python3
# Re-makes the JPEG, PNG and GIF test files under tests/data/{jpeg,png,gif} with tools other
# than this program: Pillow, ImageMagick (convert) and libjpeg-turbo's cjpeg, plus a few GIFs
# written byte by byte below (local colour tables, offsets, interlacing) so that every flag is
# known. Run from this folder: /usr/bin/python3 make_codec_data.py
import struct
import subprocess
from PIL import Image, ImageDraw


def pattern(w, h, mode="RGB"):
    im = Image.new("RGB", (w, h))
    px = im.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = ((x * 255) // max(w - 1, 1), (y * 255) // max(h - 1, 1), ((x ^ y) * 37) & 255)
    d = ImageDraw.Draw(im)
    d.ellipse((w // 4, h // 4, 3 * w // 4, 3 * h // 4), outline=(255, 255, 255))
    return im if mode == "RGB" else im.convert(mode)


def run(*args):
    subprocess.run(args, check=True)


# ---- JPEG
pattern(37, 23).save("jpeg/colour_444.jpg", quality=90, subsampling=0)
pattern(64, 48).save("jpeg/colour_420.jpg", quality=80, subsampling=2)
pattern(37, 23, "L").save("jpeg/grey.jpg", quality=85)
pattern(40, 30).convert("CMYK").save("jpeg/cmyk_adobe.jpg", quality=90)
pattern(61, 35).save("jpeg/src.ppm")
run("cjpeg", "-progressive", "-quality", "85", "-outfile", "jpeg/progressive.jpg", "jpeg/src.ppm")
run("cjpeg", "-restart", "1", "-quality", "75", "-outfile", "jpeg/restart.jpg", "jpeg/src.ppm")
run("cjpeg", "-arithmetic", "-quality", "75", "-outfile", "jpeg/arithmetic.jpg", "jpeg/src.ppm")
run("rm", "jpeg/src.ppm")

# ---- PNG (ImageMagick's png:color-type and png:bit-depth fix the header exactly)
src = pattern(33, 21)
src.save("png/_src.png")
def im_png(name, ctype, depth, *extra):
    run("convert", "png/_src.png", *extra, "-define", "png:color-type=%d" % ctype,
        "-define", "png:bit-depth=%d" % depth, "png/" + name)
for depth in (1, 2, 4, 8, 16):
    im_png("grey%d.png" % depth, 0, depth, "-colorspace", "gray")
im_png("greyalpha8.png", 4, 8, "-colorspace", "gray", "-alpha", "set", "-channel", "A", "-evaluate", "set", "50%")
im_png("greyalpha16.png", 4, 16, "-colorspace", "gray", "-alpha", "set", "-channel", "A", "-evaluate", "set", "50%")
im_png("rgb8.png", 2, 8)
im_png("rgb16.png", 2, 16)
im_png("rgba8.png", 6, 8, "-alpha", "set", "-channel", "A", "-fx", "i/w")
im_png("rgba16.png", 6, 16, "-alpha", "set", "-channel", "A", "-fx", "j/h")
im_png("rgb8_interlaced.png", 2, 8, "-interlace", "PNG")
run("rm", "png/_src.png")
for bits, colours in ((1, 2), (2, 4), (4, 16), (8, 200)):
    p = src.quantize(colours)
    p.save("png/palette%d.png" % bits, bits=bits)
pal = src.quantize(16)
pal.save("png/palette4_trns.png", bits=4, transparency=3)
run("convert", "png/grey8.png", "-interlace", "PNG", "-define", "png:color-type=0",
    "-define", "png:bit-depth=8", "png/grey8_interlaced.png")

# ---- GIF
pattern(40, 30).quantize(64).save("gif/single.gif")
frames = [pattern(32, 24).quantize(32), pattern(32, 24).transpose(Image.FLIP_LEFT_RIGHT).quantize(32)]
frames[0].save("gif/animated.gif", save_all=True, append_images=frames[1:], duration=100, loop=0)
pattern(48, 32).quantize(128).save("gif/interlaced_pillow.gif", interlace=True)


def lzw_uncompressed(indexes, min_code_size=8):
    """LZW data that never grows its code size: a clear code before every 254 pixels."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    width = min_code_size + 1
    codes = []
    for i in range(0, len(indexes), 254):
        codes.append(clear)
        codes.extend(indexes[i:i + 254])
    codes.append(end)
    acc = nbits = 0
    out = bytearray()
    for c in codes:
        acc |= c << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 255)
            acc >>= 8
            nbits -= 8
    if nbits:
        out.append(acc & 255)
    blocks = bytearray([min_code_size])
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        blocks += bytes([len(chunk)]) + chunk
    return bytes(blocks + b"\x00")


def colour_table(colours):
    return b"".join(bytes(c) for c in colours)


def write_gif(name, screen, bg, global_colours, frame_box, frame_pixels, local_colours=None,
              interlace=False):
    sw, sh = screen
    flags = 0
    if global_colours:
        flags = 0x80 | 0x70 | 7  # 256-entry table, 8-bit colour resolution
    data = b"GIF89a" + struct.pack("<HHBBB", sw, sh, flags, bg, 0)
    if global_colours:
        data += colour_table(global_colours)
    left, top, w, h = frame_box
    iflags = (0x80 | 7 if local_colours else 0) | (0x40 if interlace else 0)
    rows = [frame_pixels[y * w:(y + 1) * w] for y in range(h)]
    if interlace:
        order = list(range(0, h, 8)) + list(range(4, h, 8)) + list(range(2, h, 4)) + list(range(1, h, 2))
        rows = [rows[y] for y in order]
    data += b"," + struct.pack("<HHHHB", left, top, w, h, iflags)
    if local_colours:
        data += colour_table(local_colours)
    data += lzw_uncompressed([p for r in rows for p in r]) + b";"
    with open("gif/" + name, "wb") as f:
        f.write(data)


greys = [(i, i, i) for i in range(256)]
rainbow = [((i * 7) & 255, (i * 13) & 255, (i * 29) & 255) for i in range(256)]
pix = [(x * 11 + y * 5) & 255 for y in range(13) for x in range(17)]
write_gif("offset_frame.gif", (30, 20), 9, greys, (5, 4, 17, 13), pix)
write_gif("local_table.gif", (17, 13), 0, greys, (0, 0, 17, 13), pix, local_colours=rainbow)
write_gif("interlaced.gif", (17, 13), 0, rainbow, (0, 0, 17, 13), pix, interlace=True)
