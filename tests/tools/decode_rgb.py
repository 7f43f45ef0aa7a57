#!/usr/bin/env python3
# Second decoder for the tests: prints "RGB <width> <height>\n" and the first frame's pixels
# as raw 8-bit red, green, blue triples, row 0 at the top. 16-bit grey samples are reduced to
# their high byte, as 16-bit colour samples are.
import sys

try:
    from PIL import Image
except ImportError:
    sys.stdout.write("NOPIL\n")
    sys.exit(0)

try:
    with Image.open(sys.argv[1]) as im:
        im.seek(0)
        if im.mode in ("I", "I;16", "I;16B", "I;16L"):
            grey = Image.new("L", im.size)
            grey.putdata([min(255, max(0, v >> 8)) for v in im.getdata()])
            im = grey
        rgb = im.convert("RGB")
        sys.stdout.write("RGB %d %d\n" % rgb.size)
        sys.stdout.flush()
        sys.stdout.buffer.write(rgb.tobytes())
except Exception as e:  # any refusal is reported as text, not as a crash
    sys.stdout.write("ERROR %s\n" % e)
