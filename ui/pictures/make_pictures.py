#!/usr/bin/env python3
"""Draws the button glyphs and the program icon and writes them as Windows bitmap files.

Run from anywhere: python3 make_pictures.py [output folder]. The files it writes are kept
in the repository beside it, so the build needs no Python; run it again only after changing a
drawing here.

The glyph strips are 16-colour (4-bit) pictures except the open folder, which is 256-colour
(8-bit), as the buttons expect. The colour of each strip's bottom-left pixel is the colour the
button treats as transparent: purple in the 16-colour strips, black in the folder. The disabled
twin of the floppy disk uses only white, grey and purple so that the button's recolouring of
exactly those three colours turns it into the raised, greyed look of the desktop.

penamo.png is the icon once more, for the desktop entry that the install puts in place.
"""

import os
import struct
import sys
import zlib

# The 16-colour system palette, in its usual order, as (red, green, blue).
SYSTEM16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# One letter per colour of the 16-colour drawings below.
LETTERS16 = {
    "k": 0,   # black
    "m": 1,   # maroon
    "g": 2,   # green
    "o": 3,   # olive
    "n": 4,   # navy
    ".": 5,   # purple: transparent
    "t": 6,   # teal
    "s": 7,   # silver
    "d": 8,   # grey
    "r": 9,   # red
    "l": 10,  # lime
    "y": 11,  # yellow
    "b": 12,  # blue
    "f": 13,  # fuchsia
    "c": 14,  # aqua
    "w": 15,  # white
}


def write_bmp(path, width, height, bits, palette, pixels):
    """Writes pixels (rows top first, palette indices) as an uncompressed bottom-up bitmap."""
    assert bits in (4, 8)
    assert len(pixels) == height and all(len(row) == width for row in pixels)
    colours = 1 << bits
    assert len(palette) <= colours
    palette = list(palette) + [(0, 0, 0)] * (colours - len(palette))
    stride = ((width * bits + 31) // 32) * 4
    body = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        if bits == 8:
            line.extend(row)
        else:
            for x in range(0, width, 2):
                high = row[x]
                low = row[x + 1] if x + 1 < width else 0
                line.append((high << 4) | low)
        line.extend(b"\0" * (stride - len(line)))
        body.extend(line)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(body), 3780, 3780, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + table + body)


def write_png(path, palette, pixels, transparent):
    """Writes pixels as an RGBA PNG for desktops, with one palette index fully transparent."""

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    height, width = len(pixels), len(pixels[0])
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for index in row:
            r, g, b = palette[index]
            raw.extend((r, g, b, 0 if index == transparent else 255))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def parse16(drawing):
    rows = [line.strip() for line in drawing.strip().splitlines()]
    for row in rows:
        assert len(row) == len(rows[0]), row
    return [[LETTERS16[c] for c in row] for row in rows]


FULL_VIEW = """
................
.kkkkkkkkkkkkkk.
.kcccccccccyyck.
.kccccccccyyyyk.
.kccccccccyyyyk.
.kcccccccccyyck.
.kcccccccccccck.
.kccggcccccccck.
.kcglllgccccggk.
.kglllllgccgllk.
.kllllllllglllk.
.kllllllllllllk.
.kooooooooooook.
.kmmmmmmmmmmmmk.
.kkkkkkkkkkkkkk.
................
"""

VERSION = """
................
................
.kkkkkkkkkkkkkk.
.knnnnnnnnnnwwk.
.knnnnnnnnnnwwk.
.kwwwwwwwwwwwwkd
.kwssssssssswwkd
.kwwwwwwwwwwwwkd
.kwssssssswwwwkd
.kwwwwwwwwwwwwkd
.kwsssssssssswkd
.kwwwwwwwwwwwwkd
.kkkkkkkkkkkkkkd
..dddddddddddddd
................
................
"""

EXIT = """
................
..dddddddddd....
..dccccccccdm...
..dccccccyydmm..
..dcccccyyydmom.
..dccccccyydmom.
..dccccccccdmom.
..dccccccccdmym.
..dccccccccdmym.
..dccccccccdmom.
..dgggccccgdmom.
..dllgggggldmom.
..dlllllllldmm..
..dlllllllldm...
..dddddddddd....
................
"""

FLOPPY = """
................
.nnnnnnnnnnnnnn.
.nbbsssssssbbbn.
.nbbsnnsssbbbbn.
.nbbsnnsssbbbbn.
.nbbsssssbbbbbn.
.nbbbbbbbbbbbbn.
.nbbbbbbbbbbbbn.
.nbwwwwwwwwwwbn.
.nbwddddddddwbn.
.nbwwwwwwwwwwbn.
.nbwddddddddwbn.
.nbwwwwwwwwwwbn.
.nbwwwwwwwwwwbn.
.nnnnnnnnnnnnnn.
................
"""


def dithered(drawing):
    """The same picture as a coarse two-colour checker per area, as an ordered dither shows it."""
    pairs = {
        LETTERS16["c"]: (LETTERS16["b"], LETTERS16["w"]),
        LETTERS16["y"]: (LETTERS16["y"], LETTERS16["r"]),
        LETTERS16["l"]: (LETTERS16["g"], LETTERS16["y"]),
        LETTERS16["g"]: (LETTERS16["g"], LETTERS16["k"]),
        LETTERS16["o"]: (LETTERS16["m"], LETTERS16["y"]),
        LETTERS16["m"]: (LETTERS16["m"], LETTERS16["k"]),
    }
    out = []
    for y, row in enumerate(drawing):
        line = []
        for x, c in enumerate(row):
            if c in pairs:
                line.append(pairs[c][(x + y) % 2])
            else:
                line.append(c)
        out.append(line)
    return out


def disabled_twin(drawing, lines):
    """Grey where the glyph draws its lines, white one pixel down-right of them: the embossed
    look of a disabled glyph."""
    purple, grey, white = LETTERS16["."], LETTERS16["d"], LETTERS16["w"]
    h, w = len(drawing), len(drawing[0])
    line_colours = {LETTERS16[c] for c in lines}

    def ink(x, y):
        return 0 <= x < w and 0 <= y < h and drawing[y][x] in line_colours

    out = []
    for y in range(h):
        line = []
        for x in range(w):
            if ink(x, y):
                line.append(grey)
            elif ink(x - 1, y - 1):
                line.append(white)
            else:
                line.append(purple)
        out.append(line)
    return out


def folder():
    """The open command's yellow folder: a 256-colour strip, black all around (transparent)."""
    palette = list(SYSTEM16)
    outline, back, front, shine = 16, 17, 18, 19
    palette += [(128, 80, 0), (224, 176, 32), (255, 224, 80), (255, 248, 192)]
    # 6 x 6 x 6 colour cube and a grey ramp fill the rest, as a 256-colour picture has them.
    for r in range(6):
        for g in range(6):
            for b in range(6):
                palette.append((r * 51, g * 51, b * 51))
    while len(palette) < 256:
        v = (len(palette) - 236) * 12
        palette.append((v, v, v))
    letters = {".": 0, "O": outline, "y": back, "Y": front, "h": shine}
    drawing = """
................
................
................
.OOOO...........
OhyyyO..........
OyyyyyOOOOOOO...
OyyyyyyyyyyyyO..
OyyOOOOOOOOOOOOO
OyOhhYYYYYYYYYYO
OyOYYYYYYYYYYYO.
OOYYYYYYYYYYYYO.
OOYYYYYYYYYYYO..
OYYYYYYYYYYYYO..
OOOOOOOOOOOOO...
................
................
"""
    rows = [line.strip() for line in drawing.strip().splitlines()]
    assert all(len(r) == 16 for r in rows) and len(rows) == 16
    return palette, [[letters[c] for c in row] for row in rows]


def icon():
    """The program icon: a blue-to-red gradient square framed in green over its coarse dithered
    twin, a yellow sparkle at the top right; teal around it marks what is transparent."""
    size = 32
    palette = [(0, 128, 128), (0, 160, 0), (255, 255, 0), (255, 255, 255), (0, 0, 255), (255, 0, 0)]
    background, green, yellow, white, blue, red = range(6)
    gradient0 = len(palette)
    steps = 24
    for i in range(steps):
        t = i / (steps - 1)
        palette.append((round(255 * t), 0, round(255 * (1 - t))))
    while len(palette) < 256:
        palette.append((0, 0, 0))
    pixels = [[background] * size for _ in range(size)]

    # The dithered twin: 2 x 2 cells, each blue or red by a 2 x 2 ordered threshold.
    back_left, back_top, side = 1, 3, 23
    bayer = [[0, 2], [3, 1]]
    for y in range(side):
        for x in range(side):
            t = y / (side - 1)
            cell = bayer[(y // 2) % 2][(x // 2) % 2]
            pixels[back_top + y][back_left + x] = red if t * 4 > cell + 0.5 else blue

    # The smooth square with its green frame, lying over the twin's bottom-right part.
    front_left, front_top = 7, 8
    for y in range(side):
        for x in range(side):
            if x in (0, side - 1) or y in (0, side - 1):
                colour = green
            else:
                colour = gradient0 + round((y - 1) * (steps - 1) / (side - 3))
            pixels[front_top + y][front_left + x] = colour

    # The sparkle: a small four-pointed star, white at its heart.
    cx, cy = 27, 4
    for d in (-3, -2, -1, 1, 2, 3):
        pixels[cy][cx + d] = yellow
        pixels[cy + d][cx] = yellow
    for d in (-1, 1):
        pixels[cy + d][cx + d] = yellow
        pixels[cy + d][cx - d] = yellow
    pixels[cy][cx] = white
    return palette, pixels


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    full = parse16(FULL_VIEW)
    write_bmp(os.path.join(out, "fullview.bmp"), 16, 16, 4, SYSTEM16, full)
    write_bmp(os.path.join(out, "sampleview.bmp"), 16, 16, 4, SYSTEM16, dithered(full))
    write_bmp(os.path.join(out, "version.bmp"), 16, 16, 4, SYSTEM16, parse16(VERSION))
    write_bmp(os.path.join(out, "exit.bmp"), 16, 16, 4, SYSTEM16, parse16(EXIT))
    disk = parse16(FLOPPY)
    strip = [a + b for a, b in zip(disk, disabled_twin(disk, "nkd"))]
    write_bmp(os.path.join(out, "save.bmp"), 32, 16, 4, SYSTEM16, strip)
    palette, pixels = folder()
    write_bmp(os.path.join(out, "open.bmp"), 16, 16, 8, palette, pixels)
    palette, pixels = icon()
    write_bmp(os.path.join(out, "icon.bmp"), 32, 32, 8, palette, pixels)
    # The same icon for the desktop's menus, its surround transparent.
    write_png(os.path.join(out, "penamo.png"), palette, pixels, pixels[-1][0])


if __name__ == "__main__":
    main()
