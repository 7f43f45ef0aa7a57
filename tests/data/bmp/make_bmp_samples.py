#!/usr/bin/env python3
"""Re-makes the hand-built bitmap files of this folder (the hb_*.bmp files).

Run from anywhere: python3 tests/data/bmp/make_bmp_samples.py

Each hb_NAME.bmp is written together with hb_NAME.rgb, the pixels the file stands for:
the text "RGB <width> <height>\n" followed by red, green, blue bytes, top row first.
The expectations are worked out here from the same description the file is built from,
not by decoding the file, so they are a check of their own.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def file_header(total, off_bits):
    return b"BM" + struct.pack("<IHHI", total, 0, 0, off_bits)


def info40(w, h, bits, comp=0, size_image=0, clr_used=0):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, comp, size_image, 2835, 2835,
                       clr_used, 0)


def core12(w, h, bits):
    return struct.pack("<IHHHH", 12, w, h, 1, bits)


def pad4(row):
    return row + b"\0" * (-len(row) % 4)


def colour(x, y):
    """The picture behind the direct-colour files."""
    return ((x * 53 + y * 19) % 256, (x * 29 + y * 71 + 40) % 256, (x * 97 + y * 13 + 90) % 256)


def palette_colours(n):
    return [((i * 67 + 20) % 256, (i * 131 + 7) % 256, (255 - i * 29) % 256) for i in range(n)]


def table(colours, entry=4):
    out = b""
    for r, g, b in colours:
        out += bytes((b, g, r)) + (b"\0" if entry == 4 else b"")
    return out


def pack_indexes(indexes, bits):
    """One row of palette indexes, leftmost pixel in the high bits."""
    out = bytearray()
    per_byte = 8 // bits
    for i in range(0, len(indexes), per_byte):
        v = 0
        group = indexes[i:i + per_byte]
        for k in range(per_byte):
            v = (v << bits) | (group[k] if k < len(group) else 0)
        out.append(v)
    return bytes(out)


def save(name, data, expected):
    """expected: rows of (r, g, b), top row first."""
    with open(os.path.join(HERE, name + ".bmp"), "wb") as f:
        f.write(data)
    h = len(expected)
    w = len(expected[0])
    with open(os.path.join(HERE, name + ".rgb"), "wb") as f:
        f.write(b"RGB %d %d\n" % (w, h))
        for row in expected:
            for px in row:
                f.write(bytes(px))


def assemble(info, colour_table, bits, off_bits=None, gap=b""):
    start = 14 + len(info) + len(colour_table) + len(gap)
    if off_bits is None:
        off_bits = start
    body = info + colour_table + gap + bits
    return file_header(14 + len(body), off_bits) + body


def expand(v, width):
    """A channel of `width` bits widened to 8 by repeating its bits downwards."""
    if width >= 8:
        return v >> (width - 8)
    out, n = 0, 0
    while n < 8:
        out = (out << width) | v
        n += width
    return (out >> (n - 8)) & 0xFF


def indexed_expectation(idx, colours):
    return [[colours[i] if i < len(colours) else (0, 0, 0) for i in row] for row in idx]


def palette_file(name, w, h, bits, n_colours, top_down=False, header="40", clr_used=None,
                 off_bits=None, gap=b"", index_fn=None):
    colours = palette_colours(n_colours)
    index_fn = index_fn or (lambda x, y: (x + 3 * y) % n_colours)
    idx = [[index_fn(x, y) for x in range(w)] for y in range(h)]  # top row first
    stored = idx if top_down else idx[::-1]
    bits_data = b"".join(pad4(pack_indexes(r, bits)) for r in stored)
    if header == "core":
        info = core12(w, h, bits)
        tab = table(colours, 3)
    elif header == "os2v2":
        # OS/2 2.x header, 64 bytes: the Windows fields, then units, reserved, recording,
        # rendering, two sizes, colour encoding and an identifier.
        info = struct.pack("<IiiHHIIiiII", 64, w, h, 1, bits, 0, len(bits_data), 0, 0,
                           n_colours, 0) + b"\0" * 24
        tab = table(colours)
    else:
        info = info40(w, -h if top_down else h, bits, 0, len(bits_data),
                      n_colours if clr_used is None else clr_used)
        tab = table(colours)
    save(name, assemble(info, tab, bits_data, off_bits, gap), indexed_expectation(idx, colours))


def direct_file(name, w, h, bits, masks=None, top_down=False, header_size=40, comp=None,
                alpha_mask=0):
    """16- or 32-bit bitfield files and 24/32-bit plain files of the colour() picture,
    quantised to the masks."""
    if masks is None and bits == 24:
        rows = []
        expected = []
        for y in range(h):
            row = b"".join(bytes(colour(x, y)[::-1]) for x in range(w))
            rows.append(pad4(row))
            expected.append([colour(x, y) for x in range(w)])
    else:
        widths = [bin(m).count("1") for m in masks]
        shifts = [(m & -m).bit_length() - 1 for m in masks]
        rows = []
        expected = []
        for y in range(h):
            row = b""
            exp_row = []
            for x in range(w):
                c = colour(x, y)
                px = 0
                got = []
                for ch in range(3):
                    wd = widths[ch]
                    if wd == 0:
                        got.append(0)
                        continue
                    # Stored value: the 8-bit channel cut to `wd` bits, or widened by
                    # repeating its bits.
                    v = c[ch] >> (8 - wd) if wd <= 8 else expand_up(c[ch], wd)
                    px |= v << shifts[ch]
                    got.append(expand(v, wd))
                px |= alpha_mask & ((x * 0x1234567) & 0xFFFFFFFF)  # alpha is dropped
                row += struct.pack("<H" if bits == 16 else "<I", px)
                exp_row.append(tuple(got))
            rows.append(pad4(row))
            expected.append(exp_row)
    stored = rows if top_down else rows[::-1]
    bits_data = b"".join(stored)
    hh = -h if top_down else h
    if comp is None:
        comp = 0 if masks is None else 3
    mask_bytes = b""
    if header_size == 40:
        info = info40(w, hh, bits, comp, len(bits_data))
        if comp == 3:
            mask_bytes = struct.pack("<III", *masks)
        elif comp == 6:
            mask_bytes = struct.pack("<IIII", *masks, alpha_mask)
    else:
        base = struct.pack("<IiiHHIIiiII", header_size, w, hh, 1, bits, comp, len(bits_data),
                           2835, 2835, 0, 0)
        m = struct.pack("<IIII", *(masks or (0, 0, 0)), alpha_mask)
        info = (base + m)[:header_size] if header_size <= 56 else base + m + b"\0" * (
            header_size - 56)
        if header_size >= 108:
            info = info[:56] + b"BGRs" + b"\0" * (header_size - 60)
    save(name, assemble(info + mask_bytes, b"", bits_data), expected)


def expand_up(v8, width):
    """An 8-bit value stored in a channel wider than 8 bits (its bits repeated)."""
    out, n = 0, 0
    while n < width:
        out = (out << 8) | v8
        n += 8
    return out >> (n - width)


class Rle:
    """Builds a run-length stream and, alongside, the indexes it paints (clipped to the
    row, rows past the top dropped, unpainted pixels 0)."""

    def __init__(self, w, h, rle4):
        self.w, self.h, self.rle4 = w, h, rle4
        self.grid = [[0] * w for _ in range(h)]  # bottom row first, as stored
        self.x = self.y = 0
        self.out = bytearray()

    def _paint(self, values):
        for v in values:
            if self.x < self.w and self.y < self.h:
                self.grid[self.y][self.x] = v
            self.x += 1
        self.x = min(self.x, self.w)

    def run(self, count, value):
        self.out += bytes((count, value))
        if self.rle4:
            pair = (value >> 4, value & 15)
            self._paint([pair[i & 1] for i in range(count)])
        else:
            self._paint([value] * count)

    def absolute(self, values):
        n = len(values)
        self.out += bytes((0, n))
        data = pack_indexes(values, 4) if self.rle4 else bytes(values)
        self.out += data + (b"\0" if len(data) % 2 else b"")
        self._paint(values)

    def eol(self):
        self.out += b"\0\0"
        self.x, self.y = 0, self.y + 1

    def delta(self, dx, dy):
        self.out += bytes((0, 2, dx, dy))
        self.x, self.y = min(self.x + dx, self.w), self.y + dy

    def eob(self):
        self.out += b"\0\1"

    def file(self, name, n_colours):
        colours = palette_colours(n_colours)
        bits = 4 if self.rle4 else 8
        info = info40(self.w, self.h, bits, 2 if self.rle4 else 1, len(self.out), n_colours)
        data = assemble(info, table(colours), bytes(self.out))
        save(name, data, indexed_expectation(self.grid[::-1], colours))


def main():
    # Palette files: top-down, OS/2 headers, short tables, a gap before the pixels, and
    # a bfOffBits of 0 (not usable, so the pixels follow the table).
    palette_file("hb_topdown_8", 9, 5, 8, 7, top_down=True)
    palette_file("hb_core_1", 11, 4, 1, 2, header="core")
    palette_file("hb_core_4", 7, 5, 4, 16, header="core")
    palette_file("hb_os2v2_8", 10, 3, 8, 9, header="os2v2")
    palette_file("hb_shortpal_4", 9, 4, 4, 5)
    palette_file("hb_shortpal_8", 6, 5, 8, 3)
    palette_file("hb_gap_offbits_4", 5, 3, 4, 16, off_bits=14 + 40 + 64 + 6, gap=b"\xAA" * 6)
    palette_file("hb_zero_offbits_1", 17, 3, 1, 2, off_bits=0)
    # Indexes 0..9 against a table of 4: the rest show black.
    palette_file("hb_index_overflow_8", 10, 2, 8, 4, index_fn=lambda x, y: x)

    # Direct colour.
    direct_file("hb_topdown_24", 7, 4, 24, top_down=True)
    direct_file("hb_bf565", 9, 4, 16, masks=(0xF800, 0x07E0, 0x001F))
    direct_file("hb_bf444_topdown", 5, 3, 16, masks=(0x0F00, 0x00F0, 0x000F), top_down=True)
    direct_file("hb_bf32_rgbx_v4", 6, 3, 32, masks=(0xFF, 0xFF00, 0xFF0000), header_size=108,
                alpha_mask=0xFF000000)
    direct_file("hb_bf32_101010", 5, 3, 32, masks=(0x3FF00000, 0x000FFC00, 0x000003FF))
    direct_file("hb_bf16_v2_52", 5, 2, 16, masks=(0x7C00, 0x03E0, 0x001F), header_size=52)
    direct_file("hb_bf32_v3_56", 5, 2, 32, masks=(0xFF0000, 0xFF00, 0xFF), header_size=56,
                alpha_mask=0xFF000000)
    direct_file("hb_alphabf_332", 7, 2, 16, masks=(0xE0, 0x1C, 0x03), comp=6,
                alpha_mask=0xFF00)

    # RLE8: runs, an odd absolute group (padded), a delta over two rows, end of line
    # escapes, end of bitmap; the pixels the delta skips stay index 0.
    r = Rle(13, 6, rle4=False)
    r.run(5, 1)
    r.absolute([2, 3, 4])
    r.run(5, 5)
    r.eol()
    r.run(2, 3)
    r.delta(4, 2)
    r.run(3, 2)
    r.absolute([1, 2, 3, 4])
    r.eol()
    r.run(13, 4)
    r.eol()
    r.absolute([5, 4, 3])
    r.run(10, 2)
    r.eob()
    r.file("hb_rle8", 6)

    # RLE4 on an odd width: alternating runs, even absolute groups, a delta, end of line,
    # and an end of bitmap in the middle of the top row.
    r = Rle(11, 5, rle4=True)
    r.run(11, 0x12)
    r.eol()
    r.run(3, 0x34)
    r.absolute([5, 6, 7, 8])
    r.delta(1, 1)
    r.run(2, 0x77)
    r.eol()
    r.absolute([1, 2, 3, 4, 5, 6, 7, 8])
    r.run(3, 0xAB)
    r.eol()
    r.run(5, 0xCD)
    r.eob()
    r.file("hb_rle4", 16)

    # RLE4 absolute groups of odd length: the last byte holds one pixel, the group is
    # padded to a 16-bit boundary.
    r = Rle(7, 3, rle4=True)
    r.absolute([1, 2, 3])
    r.run(1, 0x90)
    r.absolute([4, 5, 6])
    r.eol()
    r.absolute([7, 8, 9, 10, 11])
    r.eol()
    r.run(7, 0xEF)
    r.eob()
    r.file("hb_rle4_odd", 16)

    # RLE8 whose runs and groups run past the row's end (cut there) and whose last delta
    # moves past the top row (ends the picture).
    r = Rle(6, 4, rle4=False)
    r.run(9, 1)
    r.eol()
    r.run(4, 2)
    r.absolute([3, 3, 3, 3, 3])
    r.eol()
    r.delta(2, 5)
    r.run(3, 4)
    r.eob()
    r.file("hb_rle8_overrun", 5)


if __name__ == "__main__":
    main()
