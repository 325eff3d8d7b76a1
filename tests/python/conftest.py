"""What the Python module's tests share: the built penamo-filter (PENAMO_FILTER_PROGRAM, set by
CTest) to compare with, and the pictures they make in their own temporary folders."""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import program as filter_program  # noqa: E402 (found through the path above)


@pytest.fixture(scope="session")
def penamo_filter():
    return filter_program.penamo_filter_runner()
