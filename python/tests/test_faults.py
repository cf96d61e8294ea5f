"""Failures as exceptions: each demo fault in a process of its own, each command's exception,
its last-error code and name, and what arrived."""
from __future__ import annotations

import pytest
from conftest import run_script

# Runs each call on board 0 and reports how it ended: the exception's class, its code's name
# and what it carried (summed up).
SCRIPT = """
import json, tarvex
lib = tarvex.load(demo=True)
calls = %r
ended = {}
board = tarvex.Board(0)
for name, call in calls:
    try:
        exec(call)
        ended[name] = [None, None, None, ""]
    except tarvex.TarvexError as error:
        received = getattr(error, "received", None)
        if hasattr(received, "stats"):
            received = [received.stats.ok_count, received.stats.short_count,
                        received.stats.fail_count]
        elif received is not None:
            received = repr(received)
        ended[name] = [type(error).__name__, getattr(error, "code_name", None), received,
                       str(error)]
print(json.dumps({"codes": lib.error_codes, "ended": ended}))
"""

OPEN = ("open", "board.open()")
PORT = ("port", "board.port(3)")
SET_PORT = ("set_port", "board.set_port(4, 1)")
PING = ("ping", "board.ping()")
CALIBRATION = ("calibration", "board.calibration")
CAPTURE = ("capture", "board.capture(4)")
EYE = ("eye", "board.eye(1.25e9, 99e6, 4)")
AGAIN = ("open again", "board.close(); tarvex.Board(0).open()")

# fault: [(call, exception, code name, what arrived)]
CASES = {
    "no-reply": [(OPEN, None, None, None), (PORT, "TransferError", "ERROR_IO_PENDING", None),
                 (SET_PORT, None, None, None), (PING, "TransferError", "ERROR_IO_PENDING", None),
                 (CAPTURE, "TransferError", "ERROR_IO_PENDING", [0, 0, 4]),
                 (EYE, "TransferError", "ERROR_IO_PENDING", [0, 0, 4])],
    "short-reply": [(OPEN, None, None, None), (PORT, "ShortReply", "ERROR_SUCCESS", "0"),
                    (PING, "ShortReply", "ERROR_SUCCESS", "PingReply(text='T', reply=b'T" +
                     "\\x00" * 19 + "')"),
                    (CALIBRATION, "ShortReply", "ERROR_SUCCESS", repr((0.0,) * 7)),
                    (CAPTURE, "ShortReply", "ERROR_SUCCESS", [0, 4, 0])],
    "unplug": [(OPEN, None, None, None),
               (PORT, "TransferError", "ERROR_DEVICE_NOT_CONNECTED", None),
               (AGAIN, "BoardNotFound", None, None)],
    "busy": [(OPEN, "TransferError", "ERROR_SHARING_VIOLATION", None)],
}


@pytest.mark.parametrize("fault", CASES)
def test_faults_raise_with_their_codes(fault: str) -> None:
    cases = CASES[fault]
    report = run_script(SCRIPT % [call for call, *_ in cases], demo=f"clock=virtual,fault={fault}")
    assert report["codes"] is True  # the library leaves its code in errno
    for (name, _), error, code, received in cases:
        assert report["ended"][name][:3] == [error, code, received], name


def test_the_messages_say_what_happened() -> None:
    report = run_script(SCRIPT % [OPEN, PORT], demo="clock=virtual,fault=no-reply")
    assert report["ended"]["port"][3] == (
        "board 0 did not answer the port 3 read in time (the request did not complete in time "
        "(error 997); ERROR_IO_PENDING); check that it is powered and its firmware runs, or "
        "unplug it and plug it back")
    report = run_script(SCRIPT % [OPEN, CAPTURE], demo="clock=virtual,fault=short-reply")
    assert report["ended"]["capture"][3] == (
        "board 0: 4 of the 4 packets came back short in the capture, so some samples are not "
        "the board's (they are in .received); capture again")
