"""Pictures the Python and GEGL tests make for themselves: smooth gradients with a little noise
(where the filters' choices show), written as PNG files by Pillow (8 bits) or by the small
16-bit writer below (Pillow writes no 16-bit colour PNG)."""

import struct
import zlib

import numpy


def gradient(height, width, channels, depth, seed=7):
    """An H×W×channels array (H×W for channels 0) of uint8 or uint16: ramps across and down,
    a slow wave, noise, and for alpha a ramp that is fully transparent in one corner."""
    top = 255 if depth == 8 else 65535
    rng = numpy.random.default_rng(seed)
    y, x = numpy.mgrid[0:height, 0:width].astype(numpy.float64)
    planes = [
        x / max(width - 1, 1),
        y / max(height - 1, 1),
        0.5 + 0.5 * numpy.sin(x / 7.0 + y / 11.0),
        (x + y) / max(width + height - 2, 1),
    ]
    count = max(channels, 1)
    stack = numpy.stack(planes[:count], axis=-1) * top + rng.normal(0, top / 200, (height, width, count))
    if channels in (2, 4):
        stack[..., -1] = numpy.clip((x + y - 4) / max(width + height - 8, 1), 0, 1) * top
    pixels = numpy.clip(numpy.rint(stack), 0, top).astype(numpy.uint8 if depth == 8 else numpy.uint16)
    return pixels[..., 0] if channels == 0 else pixels


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def write_png(path, pixels):
    """Writes an H×W×3 or H×W×4 array (uint8 or uint16) as a PNG of that depth and layout."""
    height, width, channels = pixels.shape
    depth = 16 if pixels.dtype == numpy.uint16 else 8
    colour_type = {1: 0, 2: 4, 3: 2, 4: 6}[channels]
    rows = pixels.astype(">u2" if depth == 16 else numpy.uint8).reshape(height, -1)
    raw = b"".join(b"\0" + row.tobytes() for row in rows)
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n")
        file.write(_chunk(b"IHDR", header))
        file.write(_chunk(b"IDAT", zlib.compress(raw, 6)))
        file.write(_chunk(b"IEND", b""))


def decode_rgba(path):
    """A picture file's pixels as 8-bit RGBA by Pillow, an independent decoder (a 16-bit file's
    samples by their high byte, which is exact for 8-bit values widened by 257)."""
    from PIL import Image

    with Image.open(path) as image:
        return numpy.asarray(image.convert("RGBA"))
