"""Tarvex sampling oscilloscope boards from Python.

    import tarvex

    tarvex.load(demo=True, clock="virtual")        # or tarvex.load() for real boards
    with tarvex.Board(0) as board:
        print(board.ping().text)                   # TVX-SCOPE FW 1.04
        samples, stats = board.capture(100)        # 3200 uint16 samples
        eye = board.eye(1.25e9, 99e6, packets=2000)
        print(eye.measure()["eyeHeight"].value)    # with the analysis library

Boards are objects opened in a `with` block; captures are NumPy arrays the library writes into;
failures are exceptions (TransferError, ShortReply, BoardNotFound, all TarvexError) and wrong
arguments TypeError / ValueError before any I/O.  The package calls the library's exports
through ctypes (include/tarvex.h) and never speaks to the board itself.  docs/python.md has the
whole interface.
"""
from __future__ import annotations

from ._loader import DEMO_LIBRARY_NAME, LIBRARY_NAME, Library, library, load
from .analysis import (EyeFrame, Mask, MaskResult, Measurement, Measurements,
                       analysis_available, load_analysis)
from .board import Board, ClockChip
from .discovery import Interface, devices
from .errors import (AnalysisError, BoardNotFound, LibraryNotFound, ShortReply, TarvexError,
                     TransferError, error_name, error_text)
from .eye import Eye
from .results import (Capture, Descriptors, FastCapture, NetworkSettings, PingReply,
                      ScopeStats, Status)

__version__ = "1.1.0"


def api_revision() -> int:
    """The library's API revision (u_GetAPIRev; 4096 for this interface)."""
    return int(library().dll.u_GetAPIRev())


def board_count() -> int:
    """The boards present now (u_GetDeviceCount)."""
    return int(library().dll.u_GetDeviceCount())


__all__ = [
    "load", "library", "Library", "LIBRARY_NAME", "DEMO_LIBRARY_NAME",
    "devices", "Interface", "board_count", "api_revision",
    "Board", "ClockChip", "Eye",
    "Capture", "FastCapture", "ScopeStats", "PingReply", "Status", "NetworkSettings",
    "Descriptors",
    "Mask", "MaskResult", "Measurement", "Measurements", "EyeFrame", "analysis_available",
    "load_analysis",
    "TarvexError", "LibraryNotFound", "BoardNotFound", "TransferError", "ShortReply",
    "AnalysisError", "error_name", "error_text",
]
