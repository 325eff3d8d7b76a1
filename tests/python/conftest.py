"""What the Python module's tests share: the built penamo-filter (PENAMO_FILTER_PROGRAM, set by
CTest) to compare with, and the pictures they make in their own temporary folders."""

import os
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))


@pytest.fixture(scope="session")
def penamo_filter():
    program = os.environ.get("PENAMO_FILTER_PROGRAM")
    if not program or not os.access(program, os.X_OK):
        pytest.skip("PENAMO_FILTER_PROGRAM does not name the built penamo-filter")

    def run(*arguments):
        done = subprocess.run([program, *map(str, arguments)], capture_output=True, text=True)
        assert done.returncode == 0, f"penamo-filter {arguments}: {done.stderr}"
        return done

    return run
