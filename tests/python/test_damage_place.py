"""A damaged file's cause says where the reader found the damage, in the same words from the
module, the C library underneath it and penamo-filter."""

import os
import re
import struct
import subprocess

import pytest

import penamo
from pictures import gradient, write_png

CAUSE = re.compile(r": 画像のデータが壊れています \((\d+) バイト目(付近)?\)$")


def small_bitmap(planes):
    """A 2×2 bitmap of 24 bits a pixel whose planes field (bytes 27 and 28) says planes."""
    header = struct.pack("<2sIHHI", b"BM", 70, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, 2, 2, planes, 24, 0, 16, 0, 0, 0, 0)
    return header + info + bytes(range(16))


def damaged_png(path):
    """A PNG whose one pixel chunk has a byte changed, its checksum left as it was; the changed
    byte's offset and the chunk's end."""
    write_png(path, gradient(64, 64, 3, 8))
    data = bytearray(path.read_bytes())
    idat = data.index(b"IDAT") - 4
    length = struct.unpack(">I", data[idat : idat + 4])[0]
    at = idat + 8 + length // 2
    data[at] ^= 0x5A
    path.write_bytes(bytes(data))
    return at, idat + 12 + length


def cause_of(path):
    with pytest.raises(penamo.ReadError) as raised:
        penamo.read(path)
    return raised.value.cause


def test_a_bitmap_names_the_damaged_field_exactly(tmp_path):
    path = tmp_path / "planes.bmp"
    path.write_bytes(small_bitmap(planes=3))
    match = CAUSE.search(cause_of(path))
    assert match and match.group(1) == "27" and match.group(2) is None, cause_of(path)


def test_a_png_names_where_its_library_had_read_to(tmp_path):
    path = tmp_path / "damaged.png"
    damaged, chunk_end = damaged_png(path)
    match = CAUSE.search(cause_of(path))
    assert match and match.group(2) == "付近", cause_of(path)
    assert damaged + 1 <= int(match.group(1)) <= chunk_end + 8


@pytest.mark.parametrize("kind", ["bmp", "png"])
def test_penamo_filter_prints_the_same_cause(kind, tmp_path):
    program = os.environ.get("PENAMO_FILTER_PROGRAM")
    if not program or not os.access(program, os.X_OK):
        pytest.skip("PENAMO_FILTER_PROGRAM does not name the built penamo-filter")
    path = tmp_path / f"damaged.{kind}"
    if kind == "bmp":
        path.write_bytes(small_bitmap(planes=0))
    else:
        damaged_png(path)
    cause = cause_of(path)
    assert CAUSE.search(cause), cause
    done = subprocess.run(
        [program, "pattern4", str(path), str(tmp_path / "out.bmp")], capture_output=True, text=True
    )
    assert done.returncode == 1
    assert cause + "\n" in done.stderr, done.stderr
    assert not (tmp_path / "out.bmp").exists()
