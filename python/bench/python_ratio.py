#!/usr/bin/python3
"""How much a capture and an eye cost from Python against the same calls from C, in one run.

Board.capture(65535) and Board.eye(...) are timed against the same exports called from C
(c_reference.c, built here with cc) in the same process, through the same library file, on the
same demo boards on the virtual clock, so that only the caller's share differs.  The C and the
Python calls alternate, call by call; each figure is the best of --repeats, in the calling
thread's CPU time (on a shared machine the time a call waits for a core is not its own).
The C calls write into buffers allocated once, as a C host program would; Board's plain calls
allocate their arrays each time, as a script gets them (fresh memory the system must map in,
page by page), and with out= they write into arrays allocated once too.  Goal: Python / C <= 1.05
for the plain calls.

    /usr/bin/python3 python/bench/python_ratio.py [--library FILE] [--brief]
"""
from __future__ import annotations

import argparse
import os
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, Dict

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path[:0] = [str(HERE.parent), str(HERE)]

import numpy as np  # noqa: E402

import tarvex  # noqa: E402
from reference import Reference  # noqa: E402

GOAL = 1.05
DATA_RATE, SAMPLE_RATE, X_SCALE = 1.25e9, 99e6, 0


def python_seconds(call: Callable[[], object]) -> float:
    start = time.thread_time()
    call()
    return time.thread_time() - start


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", default=os.environ.get(
        "TARVEX_LIBRARY", str(ROOT / "build/release/library/libtarvex-demo.so.1")))
    parser.add_argument("--packets", type=int, default=65535)
    parser.add_argument("--repeats", type=int, default=9)
    parser.add_argument("--brief", action="store_true",
                        help="two calls of 1000 packets each: that it runs, not figures")
    args = parser.parse_args()
    if args.brief:
        args.packets, args.repeats = 1000, 2

    library = str(Path(args.library).resolve())
    tarvex.load(library, demo=True, clock="virtual")
    count = args.packets * tarvex._abi.SAMPLES_PER_PACKET
    x = np.empty(count, dtype=np.uint16)
    y = np.empty(count, dtype=np.uint16)
    samples_out = np.empty(count, dtype=np.uint16)
    points_out = np.empty((2, count), dtype=np.uint16)
    best: Dict[str, float] = {}

    def keep(name: str, seconds: float) -> None:
        best[name] = min(best.get(name, seconds), seconds)

    with tempfile.TemporaryDirectory() as scratch, tarvex.Board(0) as board:
        reference = Reference(Path(scratch), library)
        for _ in range(args.repeats):
            result, stats, seconds = reference.capture(0, args.packets, y)
            assert result == 1 and stats.okCount == args.packets, "the C capture lost packets"
            keep("c capture", seconds)
            keep("python capture", python_seconds(lambda: board.capture(args.packets)))
            result, stats, seconds = reference.eye(0, args.packets, DATA_RATE, SAMPLE_RATE,
                                                   X_SCALE, x, y)
            assert result == 1 and stats.okCount == args.packets, "the C eye lost packets"
            keep("c eye", seconds)
            keep("python eye", python_seconds(
                lambda: board.eye(DATA_RATE, SAMPLE_RATE, args.packets, X_SCALE)))
            keep("python capture out", python_seconds(
                lambda: board.capture(args.packets, out=samples_out)))
            keep("python eye out", python_seconds(
                lambda: board.eye(DATA_RATE, SAMPLE_RATE, args.packets, X_SCALE, out=points_out)))

    print(f"{args.packets} packets, best of {args.repeats}, CPU time, TARVEX_DEMO=clock=virtual, "
          f"{library}")
    missed = 0
    for mode, what, python in (
            ("capture", f"Board.capture({args.packets})", "python capture"),
            ("eye", f"Board.eye(1.25e9, 99e6, {args.packets})", "python eye"),
            ("capture", f"Board.capture({args.packets}, out=)", "python capture out"),
            ("eye", f"Board.eye(1.25e9, 99e6, {args.packets}, out=)", "python eye out")):
        c, p = best[f"c {mode}"], best[python]
        ratio = p / c
        missed += ratio > GOAL and not python.endswith("out")
        verdict = "brief run, no verdict" if args.brief else "met" if ratio <= GOAL else "missed"
        print(f"  {what:<42} python {p * 1e3:9.2f} ms   C {c * 1e3:9.2f} ms   ratio {ratio:.3f}"
              f"  (goal <= {GOAL}: {verdict})")
    return 0 if args.brief or not missed else 1


if __name__ == "__main__":
    sys.exit(main())
