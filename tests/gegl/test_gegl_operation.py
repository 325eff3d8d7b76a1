"""penamo:dither run by the gegl command gives penamo-filter's pixels for the same 8- and 16-bit
PNG pictures (both decoded to RGBA: the two PNG encoders' bytes may differ). Its properties are
checked against the library's list by PropertiesMatchTheLibrary.c."""

import numpy
import pytest

from pictures import decode_rgba, gradient, write_png

CASES = [
    ("pattern4", {}),
    ("pattern16", {}),
    ("diffusion64", {}),
    ("diffusion32", {"strength": 55}),
    ("diffusion16", {}),
    ("diffusion", {}),
    ("diffusion", {"levels": 4, "grey": True}),
    ("diffusion", {"levels": 8, "light": "encoded"}),
    ("ordered", {"levels": 3}),
]


def gegl_properties(options):
    words = []
    for name, value in options.items():
        words.append(f"{name}={'true' if value is True else value}")
    return words


def command_options(options):
    arguments = []
    for name, value in options.items():
        arguments += [f"--{name}"] if value is True else [f"--{name}", str(value)]
    return arguments


@pytest.mark.parametrize("kind", ["rgb8", "rgba8", "rgb16", "rgba16"])
@pytest.mark.parametrize("name,options", CASES, ids=[f"{n}-{'-'.join(map(str, o.values())) or 'default'}" for n, o in CASES])
def test_operation_gives_the_programs_pixels(gegl, penamo_filter, tmp_path, kind, name, options):
    channels = 4 if "rgba" in kind else 3
    depth = 16 if kind.endswith("16") else 8
    source = tmp_path / f"{kind}.png"
    write_png(source, gradient(41, 67, channels, depth))
    program = tmp_path / "program.png"
    penamo_filter(*command_options(options), name, source, program)
    operated = tmp_path / "gegl.png"
    gegl(source, "-o", operated, "--", "penamo:dither", f"filter={name}", *gegl_properties(options))
    expected = decode_rgba(program)
    got = decode_rgba(operated)
    assert got.shape == expected.shape
    differing = numpy.argwhere(numpy.any(got != expected, axis=2))
    assert differing.size == 0, f"{len(differing)} pixels differ, first at {differing[0]}"
