"""The Python example in docs/api-python.md runs as written, on a picture of its own."""

import os
import pathlib
import re

import numpy

import penamo
from pictures import gradient, write_png

GUIDE = pathlib.Path(__file__).resolve().parents[2] / "docs" / "api-python.md"


def test_the_guides_example_runs_and_writes_what_it_says(tmp_path, monkeypatch, capsys):
    blocks = re.findall(r"```python\n(.*?)```", GUIDE.read_text(encoding="utf-8"), re.S)
    assert len(blocks) == 1, "the guide has one Python example"
    monkeypatch.chdir(tmp_path)
    write_png(tmp_path / "photo.png", gradient(48, 64, 3, 16))
    exec(compile(blocks[0], str(GUIDE), "exec"), {})
    printed = capsys.readouterr().out
    assert "diffusion" in printed and "open-failed" in printed
    panel, _ = penamo.read("panel.png")
    assert set(numpy.unique(panel[..., 0])) <= {0, 85, 170, 255}
    assert penamo.read("photo-pattern16.bmp")[0].shape == (48, 64, 3)
    assert sorted(os.listdir(tmp_path)) == ["panel.png", "photo-pattern16.bmp", "photo.png"]
