"""The built penamo-filter as the Python and GEGL tests call it, to compare with."""

import os
import subprocess

import pytest


def penamo_filter_runner():
    """penamo-filter (PENAMO_FILTER_PROGRAM, set by CTest) as a function of its arguments that
    asserts the run succeeded and returns it; the test is skipped where no program is named."""
    program = os.environ.get("PENAMO_FILTER_PROGRAM")
    if not program or not os.access(program, os.X_OK):
        pytest.skip("PENAMO_FILTER_PROGRAM does not name the built penamo-filter")

    def run(*arguments):
        done = subprocess.run([program, *map(str, arguments)], capture_output=True, text=True)
        assert done.returncode == 0, f"penamo-filter {arguments}: {done.stderr}"
        return done

    return run
