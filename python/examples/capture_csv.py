#!/usr/bin/env python3
"""Captures scope samples from a board into a CSV file (sample,value), as `tarvex capture` does.

    python3 capture_csv.py -n 1000 -o samples.csv              # board 0
    TARVEX_DEMO=clock=virtual python3 capture_csv.py --demo -o samples.csv
"""
import argparse
import sys

import numpy as np

import tarvex


def show(done: int, total: int) -> None:
    print(f"\rcapture: {done}/{total} packets", end="\n" if done == total else "",
          file=sys.stderr, flush=True)


def main() -> int:
    parser = argparse.ArgumentParser(description="Capture scope samples to CSV.")
    parser.add_argument("-i", "--index", type=int, default=0, help="the board's index")
    parser.add_argument("-n", "--packets", type=int, default=100, help="packets of 32 samples")
    parser.add_argument("-o", "--output", required=True, help="the CSV file")
    parser.add_argument("--demo", action="store_true",
                        help="use the demo library (set up by TARVEX_DEMO)")
    args = parser.parse_args()

    tarvex.load(demo=args.demo)
    try:
        with tarvex.Board(args.index) as board:
            samples, stats = board.capture(args.packets, progress=show)
    except (tarvex.TarvexError, ValueError) as error:
        print(f"capture_csv.py: {error}", file=sys.stderr)
        return 1
    table = np.column_stack([np.arange(len(samples)), samples])
    np.savetxt(args.output, table, fmt="%d", delimiter=",", header="sample,value", comments="")
    print(f"{stats.sample_count} samples from {stats.ok_count} packets in {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
