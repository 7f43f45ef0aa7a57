#!/usr/bin/python3
"""Draws the main window's button images (24-bit BMP) into this folder.

The images are the program's own simple drawings: a convert arrow, a stop sign and
folder pictograms. Run it again after changing a drawing; the BMP files are committed.
"""
import os
from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
BG = (245, 250, 254)


def save(img, name):
    img.convert("RGB").save(os.path.join(HERE, name + ".bmp"))


def folder(d, x, y, w, h, colour=(240, 190, 60)):
    d.rectangle([x, y + 3, x + w * 0.45, y + 6], fill=colour, outline=(150, 110, 20))
    d.rectangle([x, y + 6, x + w, y + h], fill=colour, outline=(150, 110, 20))


def convert_face(stop):
    img = Image.new("RGB", (136, 44), BG)
    d = ImageDraw.Draw(img)
    fill = (200, 40, 40) if stop else (40, 120, 200)
    d.rounded_rectangle([2, 2, 133, 41], radius=8, fill=fill, outline=(60, 60, 60))
    if stop:
        d.rectangle([54, 10, 78, 34], fill=(255, 255, 255))
    else:
        # Two pages and an arrow from one to the other.
        d.rectangle([14, 10, 38, 34], fill=(255, 255, 255), outline=(30, 30, 30))
        d.polygon([(50, 17), (76, 17), (76, 10), (90, 22), (76, 34), (76, 27), (50, 27)],
                  fill=(255, 230, 80), outline=(30, 30, 30))
        d.rectangle([98, 10, 122, 34], fill=(255, 255, 255), outline=(30, 30, 30))
        d.line([102, 18, 118, 18], fill=(40, 120, 200), width=2)
        d.line([102, 24, 118, 24], fill=(40, 120, 200), width=2)
    return img


def small(kind):
    img = Image.new("RGB", (20, 20), BG)
    d = ImageDraw.Draw(img)
    if kind in ("BtnSetSourceDir", "BtnSelectSaveAsDir"):
        folder(d, 1, 3, 17, 14)
        d.text((7, 5), "+", fill=(0, 0, 0))
    elif kind in ("BtnqvOpenDir", "BtnOpenSaveAsDir"):
        folder(d, 1, 3, 17, 14, (250, 215, 110))
        d.polygon([(6, 16), (10, 9), (18, 9), (14, 16)], fill=(255, 240, 170), outline=(150, 110, 20))
    elif kind == "BtnDeskTop":
        d.rectangle([2, 3, 17, 13], fill=(70, 140, 220), outline=(20, 20, 20))
        d.rectangle([7, 14, 12, 17], fill=(90, 90, 90))
    elif kind == "BtnMyDocuments":
        folder(d, 1, 3, 17, 14)
        d.rectangle([6, 8, 13, 15], fill=(255, 255, 255), outline=(80, 80, 80))
    elif kind == "BtnMyPictures":
        folder(d, 1, 3, 17, 14)
        d.polygon([(5, 15), (9, 9), (12, 13), (14, 11), (16, 15)], fill=(60, 160, 60))
    elif kind == "BtnUDisk":
        d.rectangle([6, 2, 13, 6], fill=(180, 180, 180), outline=(60, 60, 60))
        d.rectangle([4, 6, 15, 18], fill=(60, 90, 160), outline=(20, 20, 20))
    elif kind == "BtnMyFav":
        d.polygon([(10, 1), (12, 7), (19, 7), (13, 11), (15, 18), (10, 14), (5, 18), (7, 11),
                   (1, 7), (8, 7)], fill=(250, 200, 30), outline=(150, 110, 20))
    elif kind == "BtnAddFav":
        d.polygon([(8, 2), (10, 7), (15, 7), (11, 10), (13, 15), (8, 12), (3, 15), (5, 10),
                   (1, 7), (6, 7)], fill=(250, 200, 30), outline=(150, 110, 20))
        d.line([15, 12, 15, 19], fill=(0, 120, 0), width=2)
        d.line([12, 16, 19, 16], fill=(0, 120, 0), width=2)
    elif kind == "BtnHistory":
        d.ellipse([2, 2, 17, 17], fill=(255, 255, 255), outline=(40, 40, 40))
        d.line([10, 10, 10, 5], fill=(0, 0, 0), width=2)
        d.line([10, 10, 14, 12], fill=(0, 0, 0), width=2)
    return img


save(convert_face(False), "BtnImgCovert")
save(convert_face(True), "BtnStopImgConvert")
for name in ("BtnSetSourceDir", "BtnqvOpenDir", "BtnSelectSaveAsDir", "BtnOpenSaveAsDir",
             "BtnDeskTop", "BtnMyDocuments", "BtnMyPictures", "BtnUDisk", "BtnMyFav",
             "BtnAddFav", "BtnHistory"):
    save(small(name), name)
