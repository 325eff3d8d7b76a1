"""penamo.filter, penamo.save and penamo.filter_file give exactly what penamo-filter gives for the
same picture: the pixels (decoded by Pillow, an independent decoder) and the files' bytes."""

import numpy
import pytest

import penamo
from pictures import decode_rgba, gradient, write_png

PICTURES = {"rgb8": (3, 8), "rgba8": (4, 8), "rgb16": (3, 16), "rgba16": (4, 16)}

CASES = [
    ("pattern4", {}),
    ("pattern16", {}),
    ("diffusion64", {}),
    ("diffusion32", {"strength": 40}),
    ("diffusion16", {"strength": 0}),
    ("diffusion", {}),
    ("diffusion", {"levels": 4, "grey": True}),
    ("diffusion", {"levels": 16, "light": "encoded"}),
    ("ordered", {}),
    ("ordered", {"levels": 2, "grey": True}),
    ("none", {}),
]


def command_options(options):
    arguments = []
    for name, value in options.items():
        if value is True:
            arguments.append(f"--{name}")
        else:
            arguments += [f"--{name}", str(value)]
    return arguments


@pytest.fixture(params=sorted(PICTURES))
def picture(request, tmp_path):
    channels, depth = PICTURES[request.param]
    path = tmp_path / f"{request.param}.png"
    write_png(path, gradient(37, 53, channels, depth))
    return path


def as_rgba(filtered):
    """The filter's output laid out as the decoder's RGBA."""
    if filtered.ndim == 2:
        filtered = filtered[..., None]
    if filtered.shape[2] in (1, 2):
        grey = numpy.repeat(filtered[..., :1], 3, axis=2)
        filtered = numpy.concatenate([grey, filtered[..., 1:]], axis=2)
    if filtered.shape[2] == 3:
        filtered = numpy.concatenate([filtered, numpy.full(filtered.shape[:2] + (1,), 255, numpy.uint8)], axis=2)
    return filtered


@pytest.mark.parametrize("name,options", CASES, ids=[f"{n}-{'-'.join(map(str, o.values())) or 'default'}" for n, o in CASES])
def test_filter_save_and_filter_file_equal_the_program(penamo_filter, picture, tmp_path, name, options):
    program_png = tmp_path / "program.png"
    program_bmp = tmp_path / "program.bmp"
    penamo_filter(*command_options(options), name, picture, program_png)
    penamo_filter(*command_options(options), name, picture, program_bmp)

    pixels, metadata = penamo.read(picture)
    filtered = penamo.filter(pixels, name, **options)
    assert filtered.dtype == numpy.uint8
    assert numpy.array_equal(as_rgba(filtered), decode_rgba(program_png))
    # A bitmap keeps no alpha: its pixels are the colour alone.
    assert numpy.array_equal(as_rgba(filtered)[..., :3], decode_rgba(program_bmp)[..., :3])

    saved_png = tmp_path / "saved.png"
    saved_bmp = tmp_path / "saved.bmp"
    penamo.save(pixels, saved_png, name, metadata=metadata, **options)
    penamo.save(pixels, str(saved_bmp), name, **options)
    assert saved_png.read_bytes() == program_png.read_bytes()
    assert saved_bmp.read_bytes() == program_bmp.read_bytes()

    filed = tmp_path / "filed.png"
    penamo.filter_file(picture, filed, name, **options)
    assert filed.read_bytes() == program_png.read_bytes()


@pytest.mark.parametrize("format,program_format", [("png", "png"), ("bmp", "bmp")])
def test_format_overrides_the_name_as_the_program_does(penamo_filter, tmp_path, format, program_format):
    source = tmp_path / "in.png"
    write_png(source, gradient(20, 30, 3, 8))
    program = tmp_path / "program.out"
    penamo_filter("--format", program_format, "diffusion64", source, program)
    mine = tmp_path / "mine.out"
    penamo.filter_file(source, mine, "diffusion64", format=format)
    assert mine.read_bytes() == program.read_bytes()
    saved = tmp_path / "saved.out"
    penamo.save(penamo.read(source)[0], saved, "diffusion64", format=format)
    assert saved.read_bytes() == program.read_bytes()


def test_threads_change_nothing(tmp_path):
    pixels = gradient(300, 200, 3, 16)
    one = penamo.filter(pixels, "diffusion", levels=8, threads=1)
    many = penamo.filter(pixels, "diffusion", levels=8, threads=4)
    assert numpy.array_equal(one, many)
