#!/usr/bin/python3
"""Draws the PNG sizes of ozm-imgconv.svg (the same shapes) with Pillow: drawn 4 times larger,
then reduced, for smooth edges. Run once; the PNG files are committed."""
import math
from PIL import Image, ImageDraw

S = 4  # drawing scale over the 256-unit design


def p(x, y):
    return (x * S, y * S)


def rotated_rect(x, y, w, h, deg, cx, cy):
    a = math.radians(deg)
    pts = []
    for px, py in ((x, y), (x + w, y), (x + w, y + h), (x, y + h)):
        dx, dy = px - cx, py - cy
        pts.append(p(cx + dx * math.cos(a) - dy * math.sin(a), cy + dx * math.sin(a) + dy * math.cos(a)))
    return pts


img = Image.new("RGBA", (256 * S, 256 * S), (0, 0, 0, 0))
d = ImageDraw.Draw(img)
back = rotated_rect(18, 30, 150, 120, -8, 93, 90)
d.polygon(back, fill="#d9e7f5", outline="#3d6a99")
d.line(back + [back[0]], fill="#3d6a99", width=8 * S, joint="curve")
d.rounded_rectangle([p(84, 98), p(238, 222)], radius=14 * S, fill="#ffffff", outline="#2b5a8a",
                    width=8 * S)
d.rectangle([p(100, 114), p(222, 206)], fill="#8fc8f0")
d.ellipse([p(183, 123), p(209, 149)], fill="#ffd23f")
d.polygon([p(100, 206), p(138, 152), p(160, 180), p(178, 160), p(222, 206)], fill="#3f9e4d")
# The arc of the arrow: centre (110, 166), radius 70, from the left towards the bottom.
d.arc([p(40, 96), p(180, 236)], start=90, end=180, fill="#e0572b", width=14 * S)
d.polygon([p(80, 218), p(112, 240), p(80, 252)], fill="#e0572b")
for size in (16, 24, 32, 48, 64, 128, 256):
    img.resize((size, size), Image.LANCZOS).save(f"ozm-imgconv-{size}.png", optimize=True)
