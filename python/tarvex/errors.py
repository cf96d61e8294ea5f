"""The package's exceptions, and the names and sentences of the library's error codes.

The library speaks Win32 error numbers on every system.  The sentences are the ones the tarvex
tool prints (tools/tarvex/errors.cpp, systemErrorText): keep the two in step.
"""
from __future__ import annotations

import sys
from typing import Any, Dict, Optional, Sequence, Tuple

# Where there is no driver to grant access, the udev rule does (the tool says the same).
_ACCESS_DENIED = ("access is denied (error 5)" if sys.platform == "win32" else
                  "access is denied (error 5); to reach boards without root, install the udev "
                  "rule 70-tarvex.rules (see docs/real-boards.md) and plug the board in again")

# code: (name, sentence)
_CODES: Dict[int, Tuple[str, Optional[str]]] = {
    0: ("ERROR_SUCCESS", "no error was reported"),
    1: ("ERROR_INVALID_FUNCTION", None),
    2: ("ERROR_FILE_NOT_FOUND", "the device is not there (error 2)"),
    3: ("ERROR_PATH_NOT_FOUND", None),
    5: ("ERROR_ACCESS_DENIED", _ACCESS_DENIED),
    6: ("ERROR_INVALID_HANDLE", "its pipes are no longer open (error 6)"),
    8: ("ERROR_NOT_ENOUGH_MEMORY", "the system is out of memory (error 8)"),
    31: ("ERROR_GEN_FAILURE", "the device is not working properly (error 31)"),
    32: ("ERROR_SHARING_VIOLATION", "another program has the pipe open (error 32)"),
    38: ("ERROR_HANDLE_EOF", "the driver reported the end of the data (error 38)"),
    50: ("ERROR_NOT_SUPPORTED", "the driver does not support the request (error 50)"),
    87: ("ERROR_INVALID_PARAMETER", "the driver refused the request (error 87)"),
    121: ("ERROR_SEM_TIMEOUT", "the board did not answer a control request in time (error 121)"),
    122: ("ERROR_INSUFFICIENT_BUFFER", None),
    170: ("ERROR_BUSY", "the system refused the request while a kernel driver or another "
          "program held the board (error 170)"),
    234: ("ERROR_MORE_DATA", "the board sent more than was asked for (error 234); please report "
          "it with a recording (see docs/real-boards.md)"),
    259: ("ERROR_NO_MORE_ITEMS", None),
    995: ("ERROR_OPERATION_ABORTED", "the request was cancelled (error 995)"),
    996: ("ERROR_IO_INCOMPLETE", None),
    997: ("ERROR_IO_PENDING", "the request did not complete in time (error 997)"),
    998: ("ERROR_NOACCESS", "a buffer was not accessible (error 998)"),
    1167: ("ERROR_DEVICE_NOT_CONNECTED", "the device is not connected (error 1167)"),
    1784: ("ERROR_INVALID_USER_BUFFER", None),
}

_TIMED_OUT = (995, 997)
_LOST = (2, 6, 1167)


def error_name(code: int) -> str:
    """The Win32 name of a last-error code ("ERROR_IO_PENDING"), or "error <code>"."""
    known = _CODES.get(code)
    return known[0] if known else f"error {code}"


def error_text(code: int) -> str:
    """The code's sentence for a person, as the tarvex tool says it."""
    known = _CODES.get(code)
    if known and known[1]:
        return known[1]
    return f"the system reported error {code}"


class TarvexError(Exception):
    """Every failure the package reports is a TarvexError (or a TypeError / ValueError for an
    argument refused before any I/O)."""


class LibraryNotFound(TarvexError):
    """The library could not be loaded; `searched` lists where the package looked."""

    def __init__(self, message: str, searched: Sequence[str] = ()) -> None:
        super().__init__(message)
        self.searched = list(searched)


class BoardNotFound(TarvexError):
    """No board at `index`; `boards` holds the indexes at which there are boards."""

    def __init__(self, index: int, boards: Sequence[int]) -> None:
        self.index = index
        self.boards = list(boards)
        if not self.boards:
            found = "no board found"
        elif len(self.boards) == 1:
            found = f"1 board found, at index {self.boards[0]}"
        else:
            found = f"{len(self.boards)} boards found, at indexes " + ", ".join(
                str(b) for b in self.boards)
        super().__init__(f"no board at index {index}: {found}")


class TransferError(TarvexError):
    """A command did not complete: nothing usable came back, or the board did not take it.

    Attributes: `index` (the board), `operation` ("port 3 read"), `result` (what the export
    returned), `code` (the thread's last-error code after the call, a Win32 number; None where
    the library does not hand it over), `code_name` ("ERROR_IO_PENDING"), `sentence` (the
    code's meaning for a person) and `received` (what did arrive, for a capture; else None).
    """

    def __init__(self, index: int, operation: str, result: int, code: Optional[int], *,
                 received: Any = None, reply: bool = True, message: Optional[str] = None) -> None:
        self.index = index
        self.operation = operation
        self.result = result
        self.code = code
        self.code_name = error_name(code) if code is not None else None
        self.sentence = error_text(code) if code is not None else None
        self.received = received
        super().__init__(self._with_why(message) if message else self._message(reply))

    def _with_why(self, message: str) -> str:
        return f"{message} ({self._why()})"

    def _why(self) -> str:
        if self.code is None:
            return "the library gives no error code on this system"
        return f"{self.sentence}; {self.code_name}"

    def _message(self, reply: bool) -> str:
        if self.code in _TIMED_OUT:
            verb = "answer" if reply else "take"
            return (f"board {self.index} did not {verb} the {self.operation} in time "
                    f"({self._why()}); check that it is powered and its firmware runs, or "
                    "unplug it and plug it back")
        if self.code in _LOST:
            return (f"lost board {self.index} during the {self.operation} ({self._why()}); "
                    "plug it back and open it again")
        return f"the {self.operation} on board {self.index} failed ({self._why()})"


class ShortReply(TransferError):
    """The board answered with fewer bytes than the command expects: the values in `received`
    are what the library stored from the reply (zeros where nothing arrived), not the board's."""

    def _with_why(self, message: str) -> str:
        return message  # the transfers went through: their code says nothing

    def _message(self, reply: bool) -> str:
        return (f"board {self.index} sent a short reply to the {self.operation}, so the values "
                "read are not the board's; try again, and reset the board if it keeps happening")


class AnalysisError(TarvexError):
    """The analysis library refused a call: `status` is its code, the message its sentence."""

    def __init__(self, operation: str, status: int, sentence: str) -> None:
        self.operation = operation
        self.status = status
        super().__init__(f"{operation}: {sentence} (status {status})")
