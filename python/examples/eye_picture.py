#!/usr/bin/env python3
"""Draws a board's eye diagram as a density picture with matplotlib (optional: without it the
script says so and draws nothing), with the eye's measurements when the analysis library is
there.

    python3 eye_picture.py --data-rate 1.25e9 --sample-rate 99e6 -o eye.png
    TARVEX_DEMO=clock=virtual python3 eye_picture.py --demo -o eye.png
"""
import argparse
import sys

import numpy as np

import tarvex


def main() -> int:
    parser = argparse.ArgumentParser(description="Draw a board's eye diagram.")
    parser.add_argument("-i", "--index", type=int, default=0, help="the board's index")
    parser.add_argument("-n", "--packets", type=int, default=2000, help="packets of 32 samples")
    parser.add_argument("--data-rate", type=float, default=1.25e9, help="bits per second")
    parser.add_argument("--sample-rate", type=float, default=99e6, help="samples per second")
    parser.add_argument("-o", "--output", required=True, help="the picture (PNG, SVG, PDF)")
    parser.add_argument("--demo", action="store_true",
                        help="use the demo library (set up by TARVEX_DEMO)")
    args = parser.parse_args()
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("eye_picture.py: skipped: matplotlib is not installed (on Debian: apt install "
              "python3-matplotlib); no picture drawn", file=sys.stderr)
        return 0

    tarvex.load(demo=args.demo)
    try:
        with tarvex.Board(args.index) as board:
            eye = board.eye(args.data_rate, args.sample_rate, args.packets)
    except (tarvex.TarvexError, ValueError) as error:
        print(f"eye_picture.py: {error}", file=sys.stderr)
        return 1

    unit_interval = 1 / args.data_rate
    width = int(eye.x.max()) + 1
    # An equivalent-time sampler visits a set of phases of the bit: with a column around each
    # (when there are at most 200) the picture has no gaps.
    phases = np.unique(eye.x).astype(float)
    columns = (np.concatenate([[0], (phases[1:] + phases[:-1]) / 2, [width]])
               if len(phases) <= 200 else np.linspace(0, width, 201))
    counts, _, _ = np.histogram2d(eye.x, eye.y, bins=(columns, np.linspace(0, 4096, 257)))
    figure, axes = plt.subplots(figsize=(8, 5))
    axes.pcolormesh(columns / width * unit_interval * 1e12, np.linspace(0, 4096, 257),
                    np.log1p(counts.T), cmap="inferno")
    axes.set_xlabel("time within the bit (ps)")
    axes.set_ylabel("sample code")
    title = f"{args.data_rate / 1e9:g} Gb/s, {len(eye)} samples"
    if tarvex.analysis_available():
        measured = eye.measure()
        height, jitter = measured["eyeHeight"], measured["jitterRms"]
        if height.measurable and jitter.measurable:
            title += f": eye height {height.value:.0f} codes, jitter {jitter.value * 1e12:.1f} ps RMS"
    axes.set_title(title)
    figure.savefig(args.output, dpi=100)
    print(f"the eye of {len(eye)} samples is in {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
