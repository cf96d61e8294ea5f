"""Finding and loading the library, and reading its last-error code.

One library per process: the library keeps one port table and one command buffer for the whole
process, and the demo library reads TARVEX_DEMO once, so the package loads one file, once, and
every Board uses it.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import struct
import sys
import threading
from pathlib import Path
from typing import Any, Callable, List, Mapping, Optional, Tuple, Union

from . import _abi
from .errors import LibraryNotFound, TarvexError

_WINDOWS = sys.platform == "win32"
LIBRARY_NAME = "tarvex.dll" if _WINDOWS else "libtarvex.so.1"
DEMO_LIBRARY_NAME = "tarvex-demo.dll" if _WINDOWS else "libtarvex-demo.so.1"
_PACKAGE_DIR = Path(__file__).resolve().parent

PathLike = Union[str, "os.PathLike[str]"]
DemoValue = Union[str, int, float, bool, Tuple[Any, ...], List[Any]]


class Library:
    """A loaded Tarvex library: the 53 exports, typed, and how to read the last-error code.

    `path` is the file loaded, `demo` whether it was asked for as the demo library, and
    `demo_options` the TARVEX_DEMO text in force when it was loaded (None if not a demo).
    `error_codes` tells whether the library hands its last-error code over to Python: always on
    Windows; elsewhere when the library leaves it in errno as each export returns.
    """

    def __init__(self, dll: ctypes.CDLL, path: str, demo: bool, demo_options: Optional[str]):
        self.dll = dll
        self.path = path
        self.demo = demo
        self.demo_options = demo_options
        self._read_code: Callable[[], int] = (
            ctypes.get_last_error if _WINDOWS else ctypes.get_errno)  # type: ignore[attr-defined]
        self._set_code: Callable[[int], int] = (
            ctypes.set_last_error if _WINDOWS else ctypes.set_errno)  # type: ignore[attr-defined]
        self.error_codes = self._hands_over_codes()

    def _hands_over_codes(self) -> bool:
        # An interrupt read into no buffer is refused before any I/O with ERROR_NOACCESS (998),
        # a number errno never holds on its own.  This is also the library's first call, the
        # one that sets the demo library up from TARVEX_DEMO.
        self._set_code(0)
        self.dll.MPUSBReadInt(_abi.INVALID_HANDLE, None, 0, None, 0)
        return self._read_code() == 998

    def last_error(self) -> Optional[int]:
        """The calling thread's last-error code as the library's last call on this thread left
        it, or None where the library does not hand it over."""
        return self._read_code() if self.error_codes else None

    def __repr__(self) -> str:
        kind = f"demo library, TARVEX_DEMO={self.demo_options!r}" if self.demo else "library"
        return f"<tarvex {kind} at {self.path}>"


_lock = threading.Lock()
_loaded: Optional[Library] = None


def _bitness_problem(path: str) -> Optional[str]:
    """A sentence when the file is a library for the other word size, else None."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    ours = struct.calcsize("P") * 8
    theirs: Optional[int] = None
    if head[:4] == b"\x7fELF" and len(head) > 4:
        theirs = {1: 32, 2: 64}.get(head[4])
    elif head[:2] == b"MZ" and len(head) >= 0x40:
        pe = struct.unpack_from("<I", head, 0x3C)[0]
        if head[pe:pe + 4] == b"PE\0\0" and len(head) >= pe + 6:
            machine = struct.unpack_from("<H", head, pe + 4)[0]
            theirs = {0x14C: 32, 0x8664: 64, 0xAA64: 64}.get(machine)
    if theirs is None or theirs == ours:
        return None
    return (f"{path} is a {theirs}-bit library and this Python is {ours}-bit: use the "
            f"{ours}-bit library (the Windows archive has x64/ and x86/) or a {theirs}-bit Python")


def _open(path: str) -> ctypes.CDLL:
    mode = {"use_last_error": True} if _WINDOWS else {"use_errno": True}
    try:
        dll = ctypes.CDLL(path, **mode)
    except OSError as error:
        why = _bitness_problem(path) or str(error)
        raise LibraryNotFound(f"could not load the Tarvex library {path}: {why}", [path]) from error
    try:
        _abi.declare(dll)
    except AttributeError as error:
        raise LibraryNotFound(
            f"{path} is not a Tarvex library (it lacks an export: {error})", [path]) from error
    return dll


def _candidates(path: Optional[PathLike], demo: bool) -> Tuple[List[str], List[str]]:
    """The files to try in order, and how to say where the package looked."""
    if path is not None:
        return [os.fspath(path)], [f"{os.fspath(path)} (given)"]
    from_environment = os.environ.get("TARVEX_LIBRARY")
    if from_environment:
        return [from_environment], [f"{from_environment} (TARVEX_LIBRARY)"]
    name = DEMO_LIBRARY_NAME if demo else LIBRARY_NAME
    beside = str(_PACKAGE_DIR / name)
    system: List[str] = []
    if _WINDOWS:
        # Python's DLL search leaves PATH out; find_library looks there.
        found = ctypes.util.find_library(name)
        if found:
            system.append(found)
        where = f"{name} on PATH"
    else:
        system.append(name)  # the dynamic loader's own search: ld.so.cache, LD_LIBRARY_PATH
        where = f"{name} in the system's library path (ldconfig, LD_LIBRARY_PATH)"
    return [beside] + system, [f"{beside} (beside the package)", where]


def demo_text(options: Mapping[str, DemoValue]) -> str:
    """TARVEX_DEMO text for keyword options: data_rate="2.5G" is data-rate=2.5G, True is 1,
    a sequence is joined with ':' (levels=(800, 3300)) or '+' (devices=["board", "other"])."""
    items = []
    for key, value in options.items():
        if isinstance(value, bool):
            text = "1" if value else "0"
        elif isinstance(value, (int, float, str)):
            text = str(value)
        elif isinstance(value, (tuple, list)) and all(
                isinstance(v, (int, float, str)) and not isinstance(v, bool) for v in value):
            text = ("+" if key == "devices" else ":").join(str(v) for v in value)
        else:
            raise TypeError(f"demo option {key}: give a text, a number, a bool or a sequence of "
                            f"them, not {type(value).__name__}")
        if "," in text or "=" in text:
            raise ValueError(f"demo option {key}={text!r}: a value holds no ',' or '='")
        items.append(f"{key.replace('_', '-')}={text}")
    return ",".join(items)


def load(path: Optional[PathLike] = None, *, demo: bool = False, **options: DemoValue) -> Library:
    """Loads the Tarvex library for this process and returns it.

    The file: `path` if given, else the one TARVEX_LIBRARY names, else the library beside the
    package, else the system's (libtarvex.so.1 / tarvex.dll; with demo=True libtarvex-demo.so.1 /
    tarvex-demo.dll).  An explicit file is loaded whatever `demo` says.

    With demo=True, keyword options set the demo boards up as TARVEX_DEMO would ("clock",
    "boards", "data_rate" for data-rate, ...); given, they take the place of the environment's
    TARVEX_DEMO (os.environ is set, so programs started from here see it too), else the
    environment's holds.  The demo library reads TARVEX_DEMO once, when it is loaded: its options
    cannot change later in the process.  The demo library checks them: an option it cannot read
    is said on standard error and gives a driver with no boards.

    Loading again returns the library already loaded when nothing new is asked for; another
    file, or other demo options, raise TarvexError.
    """
    global _loaded
    if options and not demo:
        raise TypeError("demo options are for the demo library: load(demo=True, "
                        + ", ".join(f"{k}=..." for k in options) + ")")
    text = demo_text(options) if options else None
    with _lock:
        if _loaded is not None:
            return _same_as_loaded(_loaded, path, demo, text)
        if text is not None:
            os.environ["TARVEX_DEMO"] = text
        candidates, searched = _candidates(path, demo)
        explicit = path is not None or bool(os.environ.get("TARVEX_LIBRARY"))
        dll = None
        for candidate in candidates:
            here = os.path.isabs(candidate) and os.path.exists(candidate)
            if not explicit and os.path.isabs(candidate) and not here:
                continue
            try:
                dll = _open(candidate)
            except LibraryNotFound:
                # A file that is there but does not load is worth its own sentence.
                if explicit or here:
                    raise
                continue
            break
        if dll is None:
            kind = "demo library" if demo else "library"
            raise LibraryNotFound(
                f"the Tarvex {kind} was not found; looked at " + "; ".join(searched)
                + ". Build or install it (see the README), or give its file: tarvex.load(path) "
                "or TARVEX_LIBRARY", searched)
        demo_options = os.environ.get("TARVEX_DEMO", "") if demo else None
        _loaded = Library(dll, candidate, demo, demo_options)
        return _loaded


def _same_as_loaded(loaded: Library, path: Optional[PathLike], demo: bool,
                    text: Optional[str]) -> Library:
    if path is not None and os.path.realpath(os.fspath(path)) != os.path.realpath(loaded.path):
        raise TarvexError(f"{loaded.path} is loaded already; one Tarvex library serves a process")
    if demo != loaded.demo and path is None:
        raise TarvexError(f"{loaded.path} is loaded already as the "
                          f"{'demo ' if loaded.demo else ''}library; one serves a process")
    if text is not None and text != loaded.demo_options:
        raise TarvexError(f"the demo library was set up with TARVEX_DEMO={loaded.demo_options!r} "
                          "when it was loaded; its options cannot change in this process")
    return loaded


def library() -> Library:
    """The loaded library, loading the default one (load()) on first use."""
    return _loaded if _loaded is not None else load()


__all__ = ["Library", "load", "library", "demo_text", "LIBRARY_NAME", "DEMO_LIBRARY_NAME"]
