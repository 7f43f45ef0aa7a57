#!/usr/bin/python3
"""Test pictures for the benchmarks, made with Pillow alone and the same on every run.

    make_pictures.py KIND OUTDIR [--count N] [--size WxH]

KIND is one of:
  photos       colour JPEG photos (quality 90, 4:2:0): smooth fields, objects with soft
               edges, and a fine grain as a sensor leaves it; default 4 of 2472 x 1648
  smooth       the same scenes as a phone gives them after its noise reduction: no texture,
               a faint grain; default 2 of 1920 x 1080
  screenshots  PNG screenshots: windows, antialiased text, icons, a photo in a window;
               default 2 of 1920 x 1080
  scans        scanned A4 pages at 300 dpi as JPEG: text on slightly uneven paper, one grey
               (read as an 8-bit palette picture) and one colour
  palette      palette PNG files: a photo dithered to 256 colours (8-bit), a flat chart of
               16 colours (4-bit) and a fax page (1-bit)
  all          every kind above, each in a folder of its name
"""

import argparse
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

FONT_DIR = "/usr/share/fonts/truetype/dejavu"


def font(name, size):
    try:
        return ImageFont.truetype(os.path.join(FONT_DIR, name), size)
    except OSError:
        return ImageFont.load_default()


def noise(rng, mode, size):
    """Uniform random bytes as a picture."""
    channels = 3 if mode == "RGB" else 1
    return Image.frombytes(mode, size, rng.randbytes(size[0] * size[1] * channels))


def smooth_field(rng, size, cell):
    """Colours that vary smoothly over about `cell` pixels."""
    small = (max(2, size[0] // cell + 2), max(2, size[1] // cell + 2))
    return noise(rng, "RGB", small).resize(size, Image.BICUBIC)


def photo(seed, size, grain=0.10, texture=True):
    rng = random.Random(seed)
    w, h = size
    img = Image.blend(smooth_field(rng, size, 400), smooth_field(rng, size, 90), 0.35)
    # Objects: soft-edged shapes of their own colour and shading.
    layer = Image.new("RGB", size)
    mask = Image.new("L", size, 0)
    draw, mdraw = ImageDraw.Draw(layer), ImageDraw.Draw(mask)
    for _ in range(40):
        x, y = rng.randrange(w), rng.randrange(h)
        r = rng.randrange(w // 40, w // 6)
        box = [x - r, y - rng.randrange(r // 2, r * 2), x + r, y + rng.randrange(r // 2, r * 2)]
        colour = tuple(rng.randrange(256) for _ in range(3))
        if rng.random() < 0.5:
            draw.ellipse(box, fill=colour)
            mdraw.ellipse(box, fill=rng.randrange(150, 256))
        else:
            draw.rectangle(box, fill=colour)
            mdraw.rectangle(box, fill=rng.randrange(150, 256))
    layer = Image.blend(layer, smooth_field(rng, size, 60), 0.3)
    img = Image.composite(layer, img, mask.filter(ImageFilter.GaussianBlur(3)))
    # Texture and grain: detail at a few pixels, then noise at the pixel.
    detail = noise(rng, "L", size).filter(ImageFilter.GaussianBlur(1.5))
    if texture:
        img = ImageChops.overlay(img, Image.merge("RGB", [detail] * 3))
    noise_layer = noise(rng, "RGB", size).filter(ImageFilter.GaussianBlur(0.6))
    return Image.blend(img, noise_layer, grain)


def screenshot(seed, size):
    rng = random.Random(seed)
    w, h = size
    img = Image.linear_gradient("L").resize(size).convert("RGB")
    img = Image.blend(img, Image.new("RGB", size, (40, 70, 120)), 0.7)
    draw = ImageDraw.Draw(img)
    text = font("DejaVuSans.ttf", 13)
    mono = font("DejaVuSansMono.ttf", 13)
    bold = font("DejaVuSans-Bold.ttf", 13)
    words = ("image convert folder file output size colour quality resize rotate batch "
             "settings open save cancel width height pixels format palette page").split()
    # Panel along the top.
    draw.rectangle([0, 0, w, 27], fill=(48, 48, 52))
    for i in range(8):
        draw.text((12 + i * 90, 6), rng.choice(words).title(), font=bold, fill=(230, 230, 230))
    # Windows, back to front.
    for win in range(5):
        x0, y0 = rng.randrange(0, w // 2), rng.randrange(40, h // 2)
        x1, y1 = min(w - 4, x0 + rng.randrange(w // 3, w // 2 + 200)), min(h - 4, y0 + rng.randrange(h // 3, h // 2 + 100))
        draw.rectangle([x0 + 4, y0 + 4, x1 + 4, y1 + 4], fill=(20, 30, 50))
        draw.rectangle([x0, y0, x1, y1], fill=(250, 250, 250), outline=(160, 160, 160))
        draw.rectangle([x0, y0, x1, y0 + 30], fill=(225, 228, 232))
        draw.text((x0 + 12, y0 + 8), "Window %d - %s" % (win + 1, rng.choice(words)), font=bold, fill=(30, 30, 30))
        for k, c in enumerate(((230, 80, 70), (240, 190, 60), (90, 190, 80))):
            draw.ellipse([x1 - 70 + k * 22, y0 + 9, x1 - 56 + k * 22, y0 + 23], fill=c)
        kind = win % 3
        if kind == 0:  # a list with icons
            for row, y in enumerate(range(y0 + 40, y1 - 20, 22)):
                if row % 2:
                    draw.rectangle([x0 + 1, y - 2, x1 - 1, y + 19], fill=(242, 244, 248))
                c = tuple(rng.randrange(60, 230) for _ in range(3))
                draw.rectangle([x0 + 10, y, x0 + 26, y + 16], fill=c, outline=(80, 80, 80))
                draw.text((x0 + 34, y + 1), " ".join(rng.choice(words) for _ in range(rng.randrange(2, 6))) + ".png",
                          font=text, fill=(20, 20, 20))
                draw.text((x1 - 110, y + 1), "%d KiB" % rng.randrange(10, 9000), font=text, fill=(90, 90, 90))
        elif kind == 1:  # source code
            for y in range(y0 + 40, y1 - 16, 17):
                indent = rng.randrange(0, 5) * 4
                line = " " * indent + " ".join(rng.choice(words) for _ in range(rng.randrange(1, 9)))
                draw.text((x0 + 10, y), "%4d" % ((y - y0) // 17), font=mono, fill=(150, 150, 150))
                draw.text((x0 + 50, y), line, font=mono, fill=rng.choice([(30, 30, 30), (20, 90, 160), (160, 40, 110)]))
        else:  # a photo and buttons
            pw, ph = max(20, x1 - x0 - 20), max(20, y1 - y0 - 90)
            img.paste(photo(seed * 7 + win, (pw, ph)), (x0 + 10, y0 + 40))
            for b in range(3):
                bx = x1 - 100 - b * 100
                draw.rounded_rectangle([bx, y1 - 40, bx + 88, y1 - 12], 5, fill=(235, 235, 238), outline=(150, 150, 160))
                draw.text((bx + 16, y1 - 33), rng.choice(words).title(), font=text, fill=(20, 20, 20))
    return img


def page_text(draw, rng, size, margin, line_height, fnt, ink):
    words = ("the of and to in is that for it with as was on be by this are from or have an "
             "which one had not but all were when we there can been has more if will would "
             "picture colour resolution scanner document printed paper pages").split()
    w, h = size
    y = margin
    while y < h - margin - line_height:
        if rng.random() < 0.06:
            y += line_height  # paragraph break
        x = margin
        while True:
            word = rng.choice(words)
            length = draw.textlength(word + " ", font=fnt)
            if x + length > w - margin:
                break
            draw.text((x, y), word, font=fnt, fill=ink)
            x += length
        y += line_height


def scan(seed, size, colour):
    rng = random.Random(seed)
    paper = Image.new("RGB" if colour else "L", size, (246, 242, 230) if colour else 243)
    draw = ImageDraw.Draw(paper)
    page_text(draw, rng, size, size[0] // 10, 58, font("DejaVuSerif.ttf", 40), (25, 25, 35) if colour else 20)
    if colour:  # a printed photo on the page
        pw, ph = size[0] // 2, size[1] // 6
        paper.paste(photo(seed + 1, (pw, ph)), (size[0] // 4, size[1] // 3))
    paper = paper.filter(ImageFilter.GaussianBlur(1.1))
    # Uneven paper and sensor noise.
    shade = smooth_field(rng, size, 300).convert("L").convert(paper.mode)
    paper = Image.blend(paper, ImageChops.multiply(paper, shade), 0.06)
    return Image.blend(paper, noise(rng, paper.mode, size), 0.04)


def chart16(seed, size):
    rng = random.Random(seed)
    img = Image.new("RGB", size, (255, 255, 255))
    draw = ImageDraw.Draw(img)
    colours = [(255, 255, 255), (0, 0, 0), (200, 200, 200), (90, 90, 90)] + \
        [tuple(rng.randrange(256) for _ in range(3)) for _ in range(12)]
    w, h = size
    fnt = font("DejaVuSans.ttf", 22)
    for x in range(80, w, 80):
        draw.line([x, 40, x, h - 60], fill=colours[2])
    for y in range(40, h - 60, 60):
        draw.line([80, y, w - 20, y], fill=colours[2])
        draw.text((10, y - 12), str((h - y) * 3), font=fnt, fill=colours[1])
    bars = (w - 120) // 40
    for i in range(bars):
        top = rng.randrange(80, h - 100)
        draw.rectangle([100 + i * 40, top, 128 + i * 40, h - 60], fill=colours[4 + i % 12], outline=colours[1])
    for series in range(3):
        pts = [(80 + i * 30, rng.randrange(60, h - 80)) for i in range((w - 100) // 30)]
        draw.line(pts, fill=colours[4 + series], width=3)
    draw.text((w // 3, h - 45), "Pictures converted per minute", font=fnt, fill=colours[1])
    pal = Image.new("P", (1, 1))
    pal.putpalette([c for rgb in colours for c in rgb])
    return img.quantize(palette=pal, dither=Image.Dither.NONE)


def save_jpeg(img, path):
    img.save(path, quality=90, subsampling=2 if img.mode == "RGB" else 0)


def make(kind, out, count, size):
    os.makedirs(out, exist_ok=True)
    if kind == "photos":
        size = size or (2472, 1648)
        for i in range(count or 4):
            save_jpeg(photo(100 + i, size), os.path.join(out, "photo%02d.jpg" % i))
    elif kind == "smooth":
        size = size or (1920, 1080)
        for i in range(count or 2):
            save_jpeg(photo(500 + i, size, grain=0.03, texture=False),
                      os.path.join(out, "smooth%02d.jpg" % i))
    elif kind == "screenshots":
        size = size or (1920, 1080)
        for i in range(count or 2):
            screenshot(200 + i, size).save(os.path.join(out, "screen%02d.png" % i), compress_level=1)
    elif kind == "scans":
        size = size or (2480, 3508)
        save_jpeg(scan(300, size, False), os.path.join(out, "scan_grey.jpg"))
        save_jpeg(scan(301, size, True), os.path.join(out, "scan_colour.jpg"))
    elif kind == "palette":
        dithered = photo(400, size or (1600, 1067)).quantize(256, dither=Image.Dither.FLOYDSTEINBERG)
        dithered.save(os.path.join(out, "dithered8.png"), compress_level=1)
        chart16(401, (1600, 1200)).save(os.path.join(out, "chart4.png"), bits=4, compress_level=1)
        fax = scan(402, (1728, 2292), False).point(lambda v: 255 if v > 128 else 0).convert("1")
        fax.save(os.path.join(out, "fax1.png"), compress_level=1)
    else:
        raise SystemExit("unknown kind " + kind)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("kind")
    parser.add_argument("out")
    parser.add_argument("--count", type=int)
    parser.add_argument("--size", help="WxH")
    args = parser.parse_args()
    size = tuple(int(v) for v in args.size.split("x")) if args.size else None
    kinds = (["photos", "smooth", "screenshots", "scans", "palette"] if args.kind == "all"
             else [args.kind])
    for kind in kinds:
        make(kind, os.path.join(args.out, kind) if args.kind == "all" else args.out, args.count, size)


if __name__ == "__main__":
    sys.exit(main())
