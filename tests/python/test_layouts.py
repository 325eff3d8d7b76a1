"""Every layout and sample type the module takes, at any strides, gives what the same pixels
packed as RGB or RGBA give; the output's shape follows the input's alpha and the grey option."""

import numpy
import pytest

import penamo
from pictures import gradient

DEPTHS = {"uint8": 8, "uint16": 16}
FILTERS = [("pattern16", {}), ("diffusion32", {}), ("diffusion", {"levels": 6}), ("ordered", {"levels": 3})]


@pytest.fixture(params=sorted(DEPTHS))
def depth(request):
    return DEPTHS[request.param]


@pytest.mark.parametrize("name,options", FILTERS)
def test_grey_layouts_equal_rgb_with_equal_channels(depth, name, options):
    grey = gradient(23, 31, 0, depth)
    alpha = gradient(23, 31, 2, depth)[..., 1]
    rgb = numpy.repeat(grey[..., None], 3, axis=2)
    rgba = numpy.concatenate([rgb, alpha[..., None]], axis=2)
    expected = penamo.filter(rgb, name, **options)
    assert numpy.array_equal(penamo.filter(grey, name, **options), expected)
    assert numpy.array_equal(penamo.filter(grey[..., None], name, **options), expected)
    with_alpha = penamo.filter(numpy.stack([grey, alpha], axis=-1), name, **options)
    assert numpy.array_equal(with_alpha, penamo.filter(rgba, name, **options))


@pytest.mark.parametrize(
    "channels,grey,shape",
    [(0, False, (9, 11, 3)), (1, False, (9, 11, 3)), (2, False, (9, 11, 4)), (3, False, (9, 11, 3)),
     (4, False, (9, 11, 4)), (0, True, (9, 11)), (2, True, (9, 11, 2)), (3, True, (9, 11)), (4, True, (9, 11, 2))],
)
def test_output_shape_follows_alpha_and_grey(depth, channels, grey, shape):
    pixels = gradient(9, 11, channels if channels != 1 else 0, depth)
    if channels == 1:
        pixels = pixels[..., None]
    out = penamo.filter(pixels, "diffusion", grey=grey, levels=4)
    assert out.shape == shape and out.dtype == numpy.uint8 and out.flags.c_contiguous


def strided_views(big):
    """Views of big's memory that are not packed rows, each named, with the rows they show."""
    return {
        "rows with a gap after each (in place)": big[3:40, 5:45],
        "every other row (in place)": big[::2],
        "every other pixel (copied)": big[:, ::2],
        "upside down (copied)": big[::-1],
        "mirrored (copied)": big[:, ::-1],
        "channels reversed (copied)": big[..., ::-1],
        "Fortran order (copied)": numpy.asfortranarray(big),
        "one row": big[7:8],
        "one column": big[:, 9:10],
        "not writable": numpy.frombuffer(big.tobytes(), big.dtype).reshape(big.shape),
    }


@pytest.mark.parametrize("channels", [0, 2, 3, 4])
def test_any_strides_give_what_a_packed_copy_gives(depth, channels):
    big = gradient(48, 64, channels, depth, seed=3)
    for label, view in strided_views(big).items():
        packed = numpy.ascontiguousarray(view)
        for name, options in FILTERS:
            assert numpy.array_equal(penamo.filter(view, name, **options), penamo.filter(packed, name, **options)), (label, name)


def test_byte_swapped_samples_are_read_by_their_value():
    pixels = gradient(17, 19, 3, 16)
    swapped = pixels.astype(pixels.dtype.newbyteorder())
    assert numpy.array_equal(penamo.filter(swapped, "diffusion", levels=5), penamo.filter(pixels, "diffusion", levels=5))


def test_sixteen_bit_samples_reach_the_deep_filters_at_full_precision():
    # Two pictures that round to the same 8-bit picture differ through the deep filters.
    fine = gradient(40, 40, 3, 16)
    coarse = (numpy.rint(fine / 257.0) * 257).astype(numpy.uint16)
    assert numpy.array_equal(penamo.filter(fine, "diffusion64"), penamo.filter(coarse, "diffusion64"))
    assert not numpy.array_equal(penamo.filter(fine, "diffusion", levels=4), penamo.filter(coarse, "diffusion", levels=4))


@pytest.mark.parametrize("mode,channels", [("RGB", 3), ("RGBA", 4), ("L", 0), ("LA", 2)])
def test_a_pillow_image_works_through_numpy_asarray(mode, channels):
    from PIL import Image

    pixels = gradient(21, 29, channels, 8)
    image = Image.fromarray(pixels, mode)
    expected = penamo.filter(pixels, "diffusion16")
    assert numpy.array_equal(penamo.filter(numpy.asarray(image), "diffusion16"), expected)
    assert numpy.array_equal(penamo.filter(image, "diffusion16"), expected)


def test_a_sixteen_bit_pillow_image_is_read_at_sixteen_bits():
    from PIL import Image

    grey = gradient(21, 29, 0, 16)
    image = Image.fromarray(grey.astype("<u2"), "I;16")
    assert numpy.asarray(image).dtype == numpy.dtype("<u2")
    assert numpy.array_equal(penamo.filter(image, "ordered", levels=3), penamo.filter(grey, "ordered", levels=3))


def test_read_gives_arrays_of_the_files_depth(tmp_path):
    from pictures import write_png

    deep = gradient(13, 17, 4, 16)
    write_png(tmp_path / "deep.png", deep)
    read16, _ = penamo.read(tmp_path / "deep.png")
    # Colour at full precision; alpha as penamo keeps it, at 8 bits (widened by 257).
    assert read16.dtype == numpy.uint16 and numpy.array_equal(read16[..., :3], deep[..., :3])
    assert numpy.array_equal(read16[..., 3], numpy.rint(deep[..., 3] / 257.0).astype(numpy.uint16) * 257)
    read8, _ = penamo.read(tmp_path / "deep.png", depth=8)
    assert read8.dtype == numpy.uint8 and read8.shape == (13, 17, 4)
    shallow = gradient(13, 17, 3, 8)
    write_png(tmp_path / "shallow.png", shallow)
    assert numpy.array_equal(penamo.read(tmp_path / "shallow.png")[0], shallow)
    widened, _ = penamo.read(tmp_path / "shallow.png", depth=16)
    assert numpy.array_equal(widened, shallow.astype(numpy.uint16) * 257)


def test_metadata_goes_through_read_and_save(tmp_path):
    from pictures import write_png

    write_png(tmp_path / "plain.png", gradient(8, 8, 3, 8))
    pixels, metadata = penamo.read(tmp_path / "plain.png")
    assert metadata == {"icc_profile": None, "exif": None, "xmp": None}
    xmp = b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"/></x:xmpmeta>'
    penamo.save(pixels, tmp_path / "with.png", "pattern4", xmp=xmp)
    assert penamo.read(tmp_path / "with.png")[1]["xmp"] == xmp
    penamo.save(pixels, tmp_path / "stripped.png", "pattern4", xmp=xmp, strip=True)
    assert penamo.read(tmp_path / "stripped.png")[1]["xmp"] is None


def test_filters_lists_the_seven_with_their_ranges():
    listed = penamo.filters()
    assert [f["name"] for f in listed] == ["pattern4", "pattern16", "diffusion64", "diffusion32", "diffusion16", "diffusion", "ordered"]
    by_name = {f["name"]: f for f in listed}
    assert by_name["diffusion32"]["strength"] == (0, 100, 100) and by_name["diffusion32"]["levels"] is None
    assert by_name["diffusion"]["levels"] == (2, 256, 256) and by_name["diffusion"]["strength"] is None
    assert by_name["pattern16"]["fixed_levels"] == 16 and by_name["ordered"]["fixed_levels"] is None
    assert all(f["caption"] for f in listed)
    assert penamo.__version__ and penamo.__version__[0].isdigit()


def test_formats_lists_every_kind_read_and_the_two_written():
    listed = penamo.formats()
    names = [f["name"] for f in listed]
    assert names[0] == "Bitmap" and "PNG" in names and "JPEG XL" in names
    assert [f["extensions"][0] for f in listed if f["writable"]] == ["bmp", "png"]
    by_name = {f["name"]: f for f in listed}
    assert by_name["JPEG"]["extensions"] == ["jpg", "jpeg", "jpe", "jfif"]
    assert by_name["PNG"]["mime_types"] == ["image/png"]


def test_out_receives_the_result_at_any_row_stride():
    pixels = gradient(30, 40, 3, 16)
    expected = penamo.filter(pixels, "diffusion", levels=5)
    packed = numpy.zeros((30, 40, 3), numpy.uint8)
    assert penamo.filter(pixels, "diffusion", levels=5, out=packed) is packed
    assert numpy.array_equal(packed, expected)
    wide = numpy.full((30, 50, 3), 7, numpy.uint8)
    penamo.filter(pixels, "diffusion", levels=5, out=wide[:, 4:44])
    assert numpy.array_equal(wide[:, 4:44], expected)
    assert (wide[:, :4] == 7).all() and (wide[:, 44:] == 7).all()
    grey = numpy.zeros((30, 40), numpy.uint8)
    penamo.filter(pixels, "diffusion", levels=5, grey=True, out=grey)
    assert numpy.array_equal(grey, penamo.filter(pixels, "diffusion", levels=5, grey=True))


@pytest.mark.parametrize(
    "make,reason",
    [
        (lambda p: numpy.zeros((30, 40, 4), numpy.uint8), "unsupported-out"),
        (lambda p: numpy.zeros((30, 40, 3), numpy.uint16), "unsupported-out"),
        (lambda p: numpy.zeros((30, 40, 3), numpy.uint8)[:, ::-1], "unsupported-out"),
        (lambda p: numpy.frombuffer(bytes(3600), numpy.uint8).reshape(30, 40, 3), "unsupported-out"),
        (lambda p: [[0] * 3] * 40, "unsupported-out"),
        (lambda p: p, "out-overlaps"),
    ],
    ids=["wrong shape", "wrong type", "mirrored", "read-only", "a list", "the input itself"],
)
def test_an_out_that_cannot_take_the_result_is_refused_untouched(make, reason):
    pixels = gradient(30, 40, 3, 8)
    out = make(pixels)
    before = numpy.array(out, copy=True)
    with pytest.raises(penamo.InvalidArgumentError) as raised:
        penamo.filter(pixels, "diffusion64", out=out)
    assert raised.value.reason == reason
    assert numpy.array_equal(numpy.asarray(out), before)
