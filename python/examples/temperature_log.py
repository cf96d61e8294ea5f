#!/usr/bin/env python3
"""Logs a board's temperature over time as CSV lines (time,celsius) on standard output.

    python3 temperature_log.py --interval 10 >> temperature.csv      # until Ctrl-C
    TARVEX_DEMO=clock=virtual python3 temperature_log.py --demo --count 5 --interval 0.1
"""
import argparse
import datetime
import sys
import time

import tarvex


def main() -> int:
    parser = argparse.ArgumentParser(description="Log a board's temperature.")
    parser.add_argument("-i", "--index", type=int, default=0, help="the board's index")
    parser.add_argument("--interval", type=float, default=10.0, help="seconds between readings")
    parser.add_argument("--count", type=int, default=0, help="readings to take (0: until Ctrl-C)")
    parser.add_argument("--demo", action="store_true",
                        help="use the demo library (set up by TARVEX_DEMO)")
    args = parser.parse_args()

    tarvex.load(demo=args.demo)
    print("time,celsius", flush=True)
    taken = 0
    try:
        with tarvex.Board(args.index) as board:
            while args.count == 0 or taken < args.count:
                if taken:
                    time.sleep(args.interval)
                now = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
                print(f"{now},{board.temperature()}", flush=True)
                taken += 1
    except KeyboardInterrupt:
        pass
    except (tarvex.TarvexError, ValueError) as error:
        print(f"temperature_log.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
