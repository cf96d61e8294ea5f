"""Progress of a capture, seen from outside the library's call.

u_GetScopeSamples takes no progress callback, and splitting a capture into several calls would
start the board's capture again for each (other bytes on the wire, gaps in the data).  But the
call unpacks each packet into the caller's buffer as it arrives, in order, failed packets
included, and a sample is a 12-bit code: a buffer filled with 0xFFFF beforehand shows how far
the capture has come.  So with a progress callable the call runs on a worker thread (ctypes lets
go of the GIL for it) while the calling thread watches the buffer and reports; the wire sees
exactly the bytes of a plain call.  Without one the call runs on the calling thread, as from C.
"""
from __future__ import annotations

import threading
from typing import Callable, Dict, Optional, TypeVar

import numpy as np

from . import _abi

Progress = Callable[[int, int], object]
T = TypeVar("T")

_POLL_SECONDS = 0.1
UNWRITTEN = 0xFFFF  # never a sample: samples are 12-bit codes


def packets_unpacked(samples: np.ndarray) -> int:
    """How many packets a capture running into `samples` (filled with UNWRITTEN before) has
    unpacked: the packets are written in order, so the first slot still unwritten ends them."""
    low, high = 0, len(samples) // _abi.SAMPLES_PER_PACKET
    while low < high:
        middle = (low + high) // 2
        if samples[middle * _abi.SAMPLES_PER_PACKET] != UNWRITTEN:
            low = middle + 1
        else:
            high = middle
    return low


def run(call: Callable[[], T], total: int, progress: Optional[Progress],
        done: Optional[Callable[[], int]]) -> T:
    """Runs `call` and reports progress(done, total): 0 first, `total` at the end, and between
    them every _POLL_SECONDS what `done` counts (when given).

    `call` must read anything per thread (the last-error code) itself, as it may run on a
    worker thread.  The library cannot stop a capture: when `progress` raises (or Ctrl-C comes)
    the capture runs to its end first, so its buffers outlive it, and then the exception goes on.
    """
    if progress is None:
        return call()
    outcome: Dict[str, object] = {}

    def work() -> None:
        try:
            outcome["value"] = call()
        except BaseException as error:  # handed to the calling thread
            outcome["error"] = error

    progress(0, total)
    worker = threading.Thread(target=work, name="tarvex capture", daemon=True)
    worker.start()
    reported = 0
    try:
        while worker.is_alive():
            worker.join(_POLL_SECONDS)
            if done is not None and worker.is_alive():
                now = done()
                if now != reported:
                    reported = now
                    progress(now, total)
    except BaseException:
        worker.join()
        raise
    if "error" in outcome:
        raise outcome["error"]  # type: ignore[misc]
    progress(total, total)
    return outcome["value"]  # type: ignore[return-value]
