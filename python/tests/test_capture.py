"""Captures and eyes: the package's arrays against what the library gives a C caller, progress,
and the analysis library's view of an eye."""
from __future__ import annotations

import threading
import time

import numpy as np
import pytest
import tarvex
from conftest import needs_analysis, run_script
from tarvex import _progress

# In a process of its own, boards 0 and 1 are twins (the same seed): each step runs on board 1
# from C (c_reference.c) and on board 0 through the package, so each pair sees the same signal.
TWINS = """
import json, tempfile, numpy as np, tarvex
from pathlib import Path
from reference import Reference
lib = tarvex.load(demo=True)
reference = Reference(Path(tempfile.mkdtemp()), lib.path)
board = tarvex.Board(0).open(); tarvex.Board(1).open()
n, rates = 300, (1.25e9, 99e6)

def stats(s):
    return [s.sampleCount, s.okCount, s.shortCount, s.failCount, s.flagSeen]

def mine(s):
    return [s.sample_count, s.ok_count, s.short_count, s.fail_count, int(s.flag_seen)]

checks = {}
samples = np.empty(n * 32, np.uint16)
result, c_stats, _ = reference.capture(1, n, samples)
capture = board.capture(n)
checks["capture"] = [result == 1, capture.samples.dtype == np.uint16,
                     bool(np.array_equal(capture.samples, samples)),
                     mine(capture.stats) == stats(c_stats)]
seen = []
reference.capture(1, n, samples)
capture = board.capture(n, progress=lambda done, total: seen.append((done, total)))
checks["capture with progress"] = [bool(np.array_equal(capture.samples, samples)),
                                   seen[0] == (0, n), seen[-1] == (n, n)]
reference.capture(1, n, samples)
out = np.zeros(n * 32 + 5, np.uint16)
capture = board.capture(n, out=out)
checks["capture into out"] = [bool(np.array_equal(capture.samples, samples)),
                              np.shares_memory(capture.samples, out), not out[-5:].any()]
x, y = np.empty(n * 32, np.uint16), np.empty(n * 32, np.uint16)
reference.eye(1, n, *rates, 0, x, y)
points = np.zeros((2, n * 32), np.uint16)
eye = board.eye(*rates, n, out=points)
checks["eye into out"] = [bool(np.array_equal(eye.x, x)), bool(np.array_equal(eye.y, y)),
                          np.shares_memory(eye.x, points[0]), np.shares_memory(eye.y, points[1])]
for x_scale in (0, 3, 1000):
    result, c_stats, _ = reference.eye(1, n, *rates, x_scale, x, y)
    eye = board.eye(*rates, n, x_scale=x_scale)
    checks[f"eye {x_scale}"] = [result == 1, bool(np.array_equal(eye.x, x)),
                                bool(np.array_equal(eye.y, y)), mine(eye.stats) == stats(c_stats)]
if tarvex.analysis_available():
    samples = tarvex.Board(1).open().capture(n).samples
    eye = board.eye(*rates, n, x_scale=0)
    fx, fy, width = tarvex.analysis.fold(samples, *rates, 0)
    checks["eye = fold"] = [bool(np.array_equal(eye.x, fx)), bool(np.array_equal(eye.y, fy)),
                            eye.width == width, int(eye.x.max()) < width]
print(json.dumps(checks))
"""


def test_captures_and_eyes_equal_the_c_callers() -> None:
    checks = run_script(TWINS, demo="clock=virtual,boards=2")
    expected = {"capture", "capture with progress", "capture into out", "eye into out", "eye 0",
                "eye 3", "eye 1000"}
    assert expected <= set(checks)
    assert {name: all(results) for name, results in checks.items()} == {
        name: True for name in checks}


@pytest.mark.parametrize("written, expected", [(0, 0), (1, 1), (5, 5), (16, 16)])
def test_progress_counts_the_packets_unpacked(written: int, expected: int) -> None:
    samples = np.full(16 * 32, _progress.UNWRITTEN, dtype=np.uint16)
    samples[:written * 32] = np.arange(written * 32) % 4096
    assert _progress.packets_unpacked(samples) == expected


def test_progress_is_reported_while_the_call_runs() -> None:
    samples = np.full(10 * 32, _progress.UNWRITTEN, dtype=np.uint16)

    def slow_capture() -> str:
        for packet in range(10):
            time.sleep(0.03)
            samples[packet * 32:(packet + 1) * 32] = 7
        return "done"

    seen: list = []
    result = _progress.run(slow_capture, 10, lambda d, t: seen.append(d),
                           lambda: _progress.packets_unpacked(samples))
    assert result == "done"
    assert seen[0] == 0 and seen[-1] == 10 and seen == sorted(seen) and len(seen) > 2


def test_a_failing_progress_callable_waits_for_the_capture_to_end() -> None:
    ended = threading.Event()

    def capture() -> None:
        time.sleep(0.3)
        ended.set()

    def progress(done: int, total: int) -> None:
        if done == 0:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        _progress.run(capture, 1, progress, None)
    with pytest.raises(KeyError):
        _progress.run(capture, 1, lambda d, t: {}["stop"] if d else None, None)
    assert ended.is_set()


def test_a_capture_after_a_failed_progress_still_works(board: tarvex.Board) -> None:
    with pytest.raises(ZeroDivisionError):
        board.capture(50, progress=lambda done, total: 1 / done)
    assert board.capture(50).stats.ok_count == 50


def test_fast_capture_lays_each_packet_in_its_slot(board: tarvex.Board) -> None:
    fast = board.capture_fast(6)
    assert fast.data.shape == (6, 512) and fast.data.dtype == np.uint8
    assert fast.stats.sample_count == 6 * 256 and fast.stats.ok_count == 6
    assert fast.data[:, :64].any() and not fast.data[:, 64:].any()


@needs_analysis
def test_eye_measurements_and_mask_tests(board: tarvex.Board) -> None:
    eye = board.eye(1.25e9, 99e6, 2000)
    measured = eye.measure()
    assert measured.frame is not None and measured.point_count == len(eye) == 64000
    assert measured["eyeHeight"].measurable and measured["eyeHeight"].unit == "codes"
    assert measured["oneLevel"].value > measured["zeroLevel"].value
    small = eye.mask_test(tarvex.Mask.hexagon(0.3, 0.4, 0.4, 0.5))
    assert small.passed and small.tested_samples == len(eye) and small.margin_percent > 0
    large = eye.mask_test(tarvex.Mask.hexagon(0.0, 0.4, 0.05, 0.0))
    assert not large.passed and large.failed_samples == int(np.count_nonzero(large.flags))
    assert large.margin_percent < 0 and set(large.region_hits) == {"hexagon", "top", "bottom"}
    with pytest.raises(ValueError, match="mask"):
        tarvex.Mask.from_json("{")
    with pytest.raises(ValueError, match="outside its range"):
        tarvex.Mask.hexagon(0.4, 0.3, 0.2, 0.1)


@needs_analysis
def test_rates_that_give_no_eye_are_refused_before_the_capture(board: tarvex.Board) -> None:
    with pytest.raises(ValueError, match="gives no eye"):
        board.eye(1e12, 1e-3, 10)
