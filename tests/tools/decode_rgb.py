#!/usr/bin/env python3
# Second decoder for the tests: prints "RGB <width> <height>\n" and the first frame's pixels
# as raw 8-bit red, green, blue triples, row 0 at the top.
import sys

try:
    from PIL import Image
except ImportError:
    sys.stdout.write("NOPIL\n")
    sys.exit(0)

try:
    with Image.open(sys.argv[1]) as im:
        im.seek(0)
        rgb = im.convert("RGB")
        sys.stdout.write("RGB %d %d\n" % rgb.size)
        sys.stdout.flush()
        sys.stdout.buffer.write(rgb.tobytes())
except Exception as e:  # any refusal is reported as text, not as a crash
    sys.stdout.write("ERROR %s\n" % e)
