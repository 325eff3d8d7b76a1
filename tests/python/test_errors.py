"""Failures come as penamo.Error subclasses, one per status, carrying the message, the reason tag
and the cause; nothing is written when a call fails."""

import os

import numpy
import pytest

import penamo
from pictures import gradient, write_png

RGB8 = gradient(6, 7, 3, 8)

ARGUMENT_CASES = [
    ("float samples", lambda: penamo.filter(RGB8.astype(numpy.float32), "diffusion64"), "unsupported-dtype"),
    ("signed samples", lambda: penamo.filter(RGB8.astype(numpy.int16), "diffusion64"), "unsupported-dtype"),
    ("five channels", lambda: penamo.filter(numpy.zeros((4, 4, 5), numpy.uint8), "diffusion64"), "unsupported-shape"),
    ("one dimension", lambda: penamo.filter(numpy.zeros(16, numpy.uint8), "diffusion64"), "unsupported-shape"),
    ("four dimensions", lambda: penamo.filter(numpy.zeros((2, 2, 2, 3), numpy.uint8), "diffusion64"), "unsupported-shape"),
    ("no rows", lambda: penamo.filter(numpy.zeros((0, 4, 3), numpy.uint8), "diffusion64"), "empty-picture"),
    ("no columns", lambda: penamo.filter(numpy.zeros((4, 0), numpy.uint8), "diffusion64"), "empty-picture"),
    ("levels on a fixed filter", lambda: penamo.filter(RGB8, "pattern4", levels=4), "option-not-taken"),
    ("grey on a fixed filter", lambda: penamo.filter(RGB8, "diffusion64", grey=True), "option-not-taken"),
    ("light on a fixed filter", lambda: penamo.filter(RGB8, "none", light="linear"), "option-not-taken"),
    ("strength on a deep filter", lambda: penamo.filter(RGB8, "ordered", strength=50), "option-not-taken"),
    ("unknown light", lambda: penamo.filter(RGB8, "diffusion", light="bright"), "unknown-light"),
    ("unknown format", lambda: penamo.save(RGB8, "never.gif", format="gif"), "unknown-format"),
    ("unknown metadata", lambda: penamo.save(RGB8, "never.png", metadata={"iptc": b""}), "unknown-metadata"),
]


@pytest.mark.parametrize("label,call,reason", ARGUMENT_CASES, ids=[c[0] for c in ARGUMENT_CASES])
def test_arguments_the_module_refuses(label, call, reason, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(penamo.InvalidArgumentError) as raised:
        call()
    error = raised.value
    assert isinstance(error, penamo.Error) and isinstance(error, ValueError)
    assert error.reason == reason and error.status == "PENAMO_INVALID_ARGUMENT"
    assert error.message and str(error).startswith(error.message)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize(
    "call",
    [
        lambda: penamo.filter(RGB8, "diffusion8"),
        lambda: penamo.filter(RGB8, "diffusion64", strength=101),
        lambda: penamo.filter(RGB8, "diffusion64", strength=-1),
        lambda: penamo.filter(RGB8, "diffusion", levels=1),
        lambda: penamo.filter(RGB8, "ordered", levels=257),
    ],
    ids=["unknown filter", "strength above", "strength below", "levels below", "levels above"],
)
def test_arguments_the_library_refuses_carry_its_message(call):
    with pytest.raises(penamo.InvalidArgumentError) as raised:
        call()
    assert raised.value.message and raised.value.reason


def test_a_missing_file_is_a_read_error_naming_it(tmp_path):
    missing = tmp_path / "missing.png"
    with pytest.raises(penamo.ReadError) as raised:
        penamo.read(missing)
    error = raised.value
    assert error.status == "PENAMO_READ_ERROR" and error.reason
    assert "missing.png" in error.cause and error.cause in str(error)
    with pytest.raises(penamo.ReadError):
        penamo.filter_file(missing, tmp_path / "out.png", "pattern4")
    assert sorted(os.listdir(tmp_path)) == []


def test_a_truncated_file_is_a_read_error_and_leaves_no_output(tmp_path):
    write_png(tmp_path / "whole.png", gradient(64, 64, 3, 8))
    data = (tmp_path / "whole.png").read_bytes()
    (tmp_path / "cut.png").write_bytes(data[: len(data) // 2])
    with pytest.raises(penamo.ReadError) as raised:
        penamo.filter_file(tmp_path / "cut.png", tmp_path / "out.png", "diffusion64")
    assert raised.value.reason
    assert not (tmp_path / "out.png").exists()


def test_a_file_of_an_unknown_kind_is_unsupported(tmp_path):
    (tmp_path / "notes.txt").write_bytes(b"not a picture at all, just some words\n" * 4)
    with pytest.raises(penamo.UnsupportedError) as raised:
        penamo.read(tmp_path / "notes.txt")
    assert raised.value.status == "PENAMO_UNSUPPORTED" and raised.value.message


def test_a_save_into_a_missing_folder_is_a_write_error(tmp_path):
    target = tmp_path / "no-such-folder" / "out.png"
    with pytest.raises(penamo.WriteError) as raised:
        penamo.save(RGB8, target, "pattern4")
    assert raised.value.status == "PENAMO_WRITE_ERROR" and raised.value.cause
    assert not target.parent.exists()


def test_a_failed_save_leaves_the_existing_file_as_it_was(tmp_path):
    target = tmp_path / "keep.png"
    target.write_bytes(b"precious")
    with pytest.raises(penamo.InvalidArgumentError):
        penamo.save(RGB8.astype(numpy.float64), target, "pattern4")
    assert target.read_bytes() == b"precious"


def test_a_progress_callback_that_says_stop_cancels(tmp_path):
    big = gradient(1024, 1024, 3, 16)
    seen = []

    def stop(fraction):
        seen.append(fraction)
        return True

    with pytest.raises(penamo.CancelledError) as raised:
        penamo.save(big, tmp_path / "out.png", "diffusion", progress=stop)
    assert seen and raised.value.status == "PENAMO_CANCELLED"
    assert os.listdir(tmp_path) == []


def test_an_exception_in_the_progress_callback_is_raised_and_stops_the_work():
    def fail(fraction):
        raise KeyError("from the callback")

    with pytest.raises(KeyError, match="from the callback"):
        penamo.filter(gradient(1024, 1024, 3, 8), "diffusion64", progress=fail)


def test_progress_runs_from_zero_to_one():
    seen = []
    penamo.filter(gradient(512, 512, 3, 8), "diffusion", progress=seen.append)
    assert seen and all(0.0 <= f <= 1.0 for f in seen) and seen == sorted(seen)


def test_every_status_has_its_class():
    names = ["InvalidArgumentError", "UnsupportedError", "ReadError", "TooLargeError", "WriteError",
             "OutOfMemoryError", "RefusedError", "CancelledError", "InternalError"]
    classes = [getattr(penamo, name) for name in names]
    assert all(issubclass(c, penamo.Error) for c in classes) and len(set(classes)) == len(names)
    assert all(c.__doc__ for c in classes)
