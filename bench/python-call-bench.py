#!/usr/bin/env python3
"""The Python module's call against the C call it wraps: penamo.filter on a SIZE × SIZE RGB
uint8 array against penamo_filter_image called directly through ctypes on the same buffer (the
C call's own cost: ctypes adds microseconds to a call of hundreds of milliseconds), in
interleaved rounds; medians and ranges. The Python call also allocates its result (a new
array, whose pages are touched for the first time); the C call writes into a buffer it reuses,
and so does the Python call given out=, timed as a third contender.

    PYTHONPATH=build/test/python LD_LIBRARY_PATH=build/test/capi python3 bench/python-call-bench.py [ROUNDS]
    (PENAMO_LIBRARY names libpenamo.so.0; default: beside the module's build folder)
"""

import ctypes
import os
import statistics
import sys
import time

import numpy

import penamo

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 5
SIZE = int(os.environ.get("SIZE", "4096"))
FILTERS = os.environ.get("FILTERS", "diffusion64 diffusion ordered").split()


class Image(ctypes.Structure):
    _fields_ = [("pixels", ctypes.c_void_p), ("width", ctypes.c_int32), ("height", ctypes.c_int32),
                ("stride", ctypes.c_size_t), ("layout", ctypes.c_int), ("depth", ctypes.c_int)]


def library():
    path = os.environ.get("PENAMO_LIBRARY")
    if not path:
        built = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(penamo.__file__))))
        path = os.path.join(built, "capi", "libpenamo.so.0")
    lib = ctypes.CDLL(path)
    lib.penamo_context_new.restype = ctypes.c_void_p
    lib.penamo_context_free.argtypes = [ctypes.c_void_p]
    lib.penamo_set_filter.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    lib.penamo_filter_image.argtypes = [ctypes.c_void_p, ctypes.POINTER(Image), ctypes.POINTER(Image)]
    return lib


def main():
    lib = library()
    rng = numpy.random.default_rng(1)
    y, x = numpy.mgrid[0:SIZE, 0:SIZE]
    pixels = numpy.stack([x * 255 // SIZE, y * 255 // SIZE, (x + y) * 255 // (2 * SIZE)], axis=-1)
    pixels = numpy.clip(pixels + rng.integers(-2, 3, pixels.shape), 0, 255).astype(numpy.uint8)
    out = numpy.empty_like(pixels)
    source = Image(pixels.ctypes.data, SIZE, SIZE, SIZE * 3, 3, 8)
    target = Image(out.ctypes.data, SIZE, SIZE, SIZE * 3, 3, 8)
    print(f"{SIZE} x {SIZE} RGB, {ROUNDS} interleaved rounds, {os.cpu_count()} cores, "
          f"load {os.getloadavg()[0]:.1f} (a shared machine: compare within one run)")
    for name in FILTERS:
        times = {"python": [], "reused": [], "c": []}
        reused = numpy.empty_like(pixels)
        for _ in range(ROUNDS):
            start = time.perf_counter()
            mine = penamo.filter(pixels, name)
            times["python"].append(time.perf_counter() - start)
            start = time.perf_counter()
            penamo.filter(pixels, name, out=reused)
            times["reused"].append(time.perf_counter() - start)
            # The C side as one call does it too: a context, the filter, the work.
            start = time.perf_counter()
            context = lib.penamo_context_new()
            lib.penamo_set_filter(context, name.encode())
            status = lib.penamo_filter_image(context, ctypes.byref(source), ctypes.byref(target))
            times["c"].append(time.perf_counter() - start)
            lib.penamo_context_free(context)
            assert status == 0 and numpy.array_equal(mine, out), name
        median = {kind: statistics.median(values) for kind, values in times.items()}

        def shown(kind):
            return (f"{median[kind] * 1000:7.1f} ms ({min(times[kind]) * 1000:.0f} .. "
                    f"{max(times[kind]) * 1000:.0f})")

        print(f"  {name:12} Python {shown('python')}, with out= {shown('reused')}, C {shown('c')}: "
              f"{median['python'] / median['c']:.3f}x, with out= {median['reused'] / median['c']:.3f}x "
              "(target at most 1.1x)")


if __name__ == "__main__":
    main()
