"""What the GEGL operation's tests share: the gegl command, the built module's folder
(GEGL_PATH) and the built penamo-filter, all named by CTest; the pictures come from
tests/python/pictures.py."""

import os
import shutil
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))

import program as filter_program  # noqa: E402 (found through the path above)


@pytest.fixture(scope="session")
def penamo_filter():
    return filter_program.penamo_filter_runner()


@pytest.fixture
def gegl(tmp_path):
    """Runs the gegl command with the build's module folder first on GEGL_PATH (then GEGL's own,
    PENAMO_GEGL_SYSTEM_DIR) and GEGL's cache in the test's own folder."""
    program = shutil.which("gegl")
    if program is None:
        pytest.skip("no gegl command (Debian package gegl)")
    modules = os.environ.get("PENAMO_GEGL_MODULE_DIR")
    if not modules or not os.path.isdir(modules):
        pytest.skip("PENAMO_GEGL_MODULE_DIR does not name the build's GEGL module folder")
    # GEGL_PATH replaces GEGL's own folder: both are named, the build's first.
    search = os.pathsep.join(filter(None, [modules, os.environ.get("PENAMO_GEGL_SYSTEM_DIR")]))
    environment = dict(os.environ, GEGL_PATH=search, GEGL_SWAP=str(tmp_path / "swap"), XDG_CACHE_HOME=str(tmp_path / "cache"),
                       HOME=str(tmp_path / "home"))

    def run(*arguments):
        done = subprocess.run([program, *map(str, arguments)], capture_output=True, text=True,
                              env=environment, timeout=300)
        assert done.returncode == 0, f"gegl {arguments}: {done.stdout}{done.stderr}"
        return done

    return run
