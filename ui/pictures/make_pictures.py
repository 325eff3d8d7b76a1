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

hicolor/NxN/penamo.png are the icon once more, drawn afresh at each size of the desktop's icon
theme, for the menu entry that the install puts in place.
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


def compared(drawing):
    """The picture plain on the left and dithered on the right, parted by a black line: the
    original against the filtered picture, in one place."""
    dither = dithered(drawing)
    out = []
    for y, row in enumerate(drawing):
        line = row[:8] + dither[y][8:]
        if 1 <= y <= 14:
            line[8] = LETTERS16["k"]
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


ICON_SIZES = (16, 32, 48, 64, 128, 256)


class Shade(tuple):
    """A colour of the icon's gradient that knows its step, so that the 256-colour icon keeps
    the gradient's own palette entries even where a step equals plain blue or red."""

    def __new__(cls, colour, step):
        shade = super().__new__(cls, colour)
        shade.step = step
        return shade


def icon_drawing(size):
    """The program icon at size x size pixels: a blue-to-red gradient square framed in green over
    its coarse dithered twin, a yellow sparkle at the top right; None where it is transparent.

    The drawing is laid out on a 32-unit grid and each pixel is judged at its own centre, so
    every size is drawn afresh rather than resized: edges stay sharp, the gradient gets more
    steps as the icon grows, and at 32 pixels the result is exactly the 256-colour icon."""
    unit = size / 32
    yellow, white, green = (255, 255, 0), (255, 255, 255), (0, 160, 0)
    blue, red = (0, 0, 255), (255, 0, 0)
    steps = max(2, round(24 * unit))

    def gradient(i):
        t = i / (steps - 1)
        return Shade((round(255 * t), 0, round(255 * (1 - t))), i)

    # The dithered twin: cells of 2 x 2 units, each blue or red by a 2 x 2 ordered threshold.
    back_left, back_top, side = 1, 3, 23
    bayer = [[0, 2], [3, 1]]
    # The smooth square with its green frame, lying over the twin's bottom-right part.
    front_left, front_top = 7, 8
    # The frame is one unit wide, and never thinner than a pixel.
    frame = max(1, 1 / unit)

    # The sparkle: an astroid (a four-pointed star), white at its heart, its arms at least a
    # pixel long. Its centre moves to the nearest pixel centre or corner, so that the star stays
    # symmetric at every size.
    def snapped(v):
        return (round(((v + 0.5) * unit - 0.5) * 2) / 2 + 0.5) / unit - 0.5

    cx, cy, reach, heart = snapped(27), snapped(4), max(3.5, 1.5 / unit), 0.9

    def inside(v, start):
        return 0 <= v - start + 0.5 < side

    def at(x, y):
        dx, dy = abs(x - cx), abs(y - cy)
        star = dx ** (2 / 3) + dy ** (2 / 3)
        if star <= heart ** (2 / 3):
            return white
        if star <= reach ** (2 / 3):
            return yellow
        if inside(x, front_left) and inside(y, front_top):
            fx, fy = x - front_left + 0.5, y - front_top + 0.5
            if min(fx, fy) < frame or max(fx, fy) >= side - frame:
                return green
            t = min(max((fy - 1.5) / (side - 3), 0), 1)
            return gradient(round(t * (steps - 1)))
        if inside(x, back_left) and inside(y, back_top):
            bx, by = x - back_left, y - back_top
            cell = bayer[int((by + 0.5) // 2) % 2][int((bx + 0.5) // 2) % 2]
            t = min(max(by / (side - 1), 0), 1)
            return red if t * 4 > cell + 0.5 else blue
        return None

    # Pixel p's centre on the drawing's grid; at 32 pixels, exactly p.
    def centre(p):
        return (p + 0.5) / unit - 0.5

    return [[at(centre(x), centre(y)) for x in range(size)] for y in range(size)]


def icon():
    """The program icon as the window uses it: 32 x 32, 256 colours, teal marking what is
    transparent."""
    palette = [(0, 128, 128), (0, 160, 0), (255, 255, 0), (255, 255, 255), (0, 0, 255), (255, 0, 0)]
    gradient0 = len(palette)
    for i in range(24):
        t = i / 23
        palette.append((round(255 * t), 0, round(255 * (1 - t))))
    while len(palette) < 256:
        palette.append((0, 0, 0))
    index = {colour: i for i, colour in reversed(list(enumerate(palette[:gradient0])))}
    index[None] = 0

    def entry(colour):
        return gradient0 + colour.step if isinstance(colour, Shade) else index[colour]

    return palette, [[entry(c) for c in row] for row in icon_drawing(32)]


def write_rgba_png(path, pixels):
    """Writes rows of (red, green, blue) or None (transparent) as an RGBA PNG."""
    palette = sorted({c for row in pixels for c in row if c is not None})
    index = {c: i + 1 for i, c in enumerate(palette)}
    index[None] = 0
    write_png(path, [(0, 0, 0)] + palette, [[index[c] for c in row] for row in pixels], 0)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    full = parse16(FULL_VIEW)
    write_bmp(os.path.join(out, "fullview.bmp"), 16, 16, 4, SYSTEM16, full)
    write_bmp(os.path.join(out, "sampleview.bmp"), 16, 16, 4, SYSTEM16, dithered(full))
    write_bmp(os.path.join(out, "compare.bmp"), 16, 16, 4, SYSTEM16, compared(full))
    write_bmp(os.path.join(out, "version.bmp"), 16, 16, 4, SYSTEM16, parse16(VERSION))
    write_bmp(os.path.join(out, "exit.bmp"), 16, 16, 4, SYSTEM16, parse16(EXIT))
    disk = parse16(FLOPPY)
    strip = [a + b for a, b in zip(disk, disabled_twin(disk, "nkd"))]
    write_bmp(os.path.join(out, "save.bmp"), 32, 16, 4, SYSTEM16, strip)
    palette, pixels = folder()
    write_bmp(os.path.join(out, "open.bmp"), 16, 16, 8, palette, pixels)
    palette, pixels = icon()
    write_bmp(os.path.join(out, "icon.bmp"), 32, 32, 8, palette, pixels)
    # The same drawing for the desktop's menus at every size of the icon theme, its surround
    # transparent.
    for size in ICON_SIZES:
        folder_name = os.path.join(out, "hicolor", f"{size}x{size}")
        os.makedirs(folder_name, exist_ok=True)
        write_rgba_png(os.path.join(folder_name, "penamo.png"), icon_drawing(size))


if __name__ == "__main__":
    main()
