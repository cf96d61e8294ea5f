"""The driver's device interfaces, and which of them are boards."""
from __future__ import annotations

from dataclasses import dataclass
from typing import List, Optional

from . import _abi
from ._loader import library


@dataclass(frozen=True)
class Interface:
    """One device interface of the driver, at its member index (the index a Board takes).

    `board` is True for a board, False for another device of the same driver, and None for an
    interface that may be a board which this process could not open (another program holds it,
    or the system denies access): the library counts it as a board but cannot say which one.
    """

    index: int
    board: Optional[bool]


def devices() -> List[Interface]:
    """Every interface of the driver present now, in member-index order.

    The library counts interfaces and boards; which index is a board shows by opening the
    interface itself (no pipe, no packet to the board) and closing it again at once, as the
    tarvex tool does to read descriptors.
    """
    dll = library().dll
    present = dll.MPUSBGetDeviceCount(None)
    boards = dll.MPUSBGetDeviceCount(_abi.TARVEX_BOARD_VID_PID)
    found: List[Interface] = []
    confirmed = 0
    for index in range(present):
        handle = dll.MPUSBOpen(index, _abi.TARVEX_BOARD_VID_PID, None, _abi.PIPE_READ, 0)
        opened = handle != _abi.INVALID_HANDLE
        if opened:
            dll.MPUSBClose(handle)
            confirmed += 1
        found.append(Interface(index, True if opened else None))
    # Every board opened: the others are other devices.
    if confirmed >= boards:
        found = [Interface(i.index, bool(i.board)) for i in found]
    return found
