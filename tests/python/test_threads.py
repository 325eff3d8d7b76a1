"""The interpreter lock is released while penamo works: another Python thread keeps running
during a long filter call."""

import threading
import time

import numpy

import penamo
from pictures import gradient


def test_another_thread_runs_while_a_filter_works():
    pixels = gradient(2000, 2000, 3, 16)
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.002)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        time.sleep(0.05)
        start = time.perf_counter()
        out = penamo.filter(pixels, "diffusion", levels=4, threads=1)
        end = time.perf_counter()
    finally:
        stop.set()
        ticker.join()
    assert out.shape == (2000, 2000, 3)
    # Ticks inside the call's middle half: none could happen if the call held the lock.
    quarter = (end - start) / 4
    during = [t for t in ticks if start + quarter < t < end - quarter]
    assert end - start > 0.04, "the call was too quick to tell"
    assert len(during) >= 3, f"{len(during)} ticks in {end - start:.3f} s"


def test_separate_threads_filter_at_once_with_the_same_results():
    pixels = gradient(300, 300, 4, 8)
    expected = penamo.filter(pixels, "diffusion32")
    results = [None] * 4

    def work(i):
        results[i] = penamo.filter(pixels, "diffusion32")

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(numpy.array_equal(r, expected) for r in results)
