"""The analysis library (libtarvex-analysis, include/tarvex_analysis.h) over ctypes: eye
folding, measurements and mask tests, when the library is present.

It is looked for as the board library is: TARVEX_ANALYSIS_LIBRARY, beside the package, beside
the loaded board library, then the system's (libtarvex-analysis.so.1 / tarvex-analysis.dll).
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from ctypes import (POINTER, byref, c_char, c_char_p, c_double, c_int32, c_uint8, c_uint16,
                    c_uint32)
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _loader
from .errors import AnalysisError, LibraryNotFound

_WINDOWS = sys.platform == "win32"
ANALYSIS_LIBRARY_NAME = "tarvex-analysis.dll" if _WINDOWS else "libtarvex-analysis.so.1"
_MAJOR = 1  # TARVEX_ANALYSIS_VERSION's major number this package is written for

TVA_MEASUREMENT_COUNT = 17
TVA_MASK_MAX_REGIONS = 8
TVA_MASK_MAX_VERTICES = 32
TVA_MASK_NAME_BYTES = 32
_OK = 0
_BAD_RATES = 3
_MESSAGE_BYTES = 512


class TvaMeasurement(ctypes.Structure):
    _fields_ = [("value", c_double), ("samples", c_uint32), ("unit", c_uint32),
                ("measurable", c_uint32), ("reason", c_int32)]


class TvaEyeFrame(ctypes.Structure):
    _fields_ = [("crossingPhase", c_double), ("zeroLevel", c_double), ("oneLevel", c_double)]


class TvaEyeMeasurements(ctypes.Structure):
    _fields_ = [("items", TvaMeasurement * TVA_MEASUREMENT_COUNT), ("frame", TvaEyeFrame),
                ("frameValid", c_uint32), ("pointCount", c_uint32), ("unitInterval", c_double)]


class TvaPoint(ctypes.Structure):
    _fields_ = [("x", c_double), ("y", c_double)]


class TvaMaskRegion(ctypes.Structure):
    _fields_ = [("name", c_char * TVA_MASK_NAME_BYTES), ("vertexCount", c_uint32),
                ("reserved", c_uint32), ("vertices", TvaPoint * TVA_MASK_MAX_VERTICES)]


class TvaMask(ctypes.Structure):
    _fields_ = [("regionCount", c_uint32), ("reserved", c_uint32),
                ("regions", TvaMaskRegion * TVA_MASK_MAX_REGIONS)]


class TvaMaskResult(ctypes.Structure):
    _fields_ = [("regionHits", c_uint32 * TVA_MASK_MAX_REGIONS), ("failedSamples", c_uint32),
                ("testedSamples", c_uint32), ("passed", c_uint32), ("reserved", c_uint32),
                ("marginPercent", c_double)]


_u16p = POINTER(c_uint16)
EXPORTS = {
    "tvaVersion": (c_uint32, []),
    "tvaStatusText": (c_char_p, [c_int32]),
    "tvaFoldSamples": (c_int32, [_u16p, c_uint32, c_double, c_double, c_uint16, _u16p, _u16p,
                                 _u16p]),
    "tvaMeasurePoints": (c_int32, [_u16p, _u16p, c_uint32, c_uint16, c_double,
                                   POINTER(TvaEyeMeasurements)]),
    "tvaMeasurementName": (c_char_p, [c_uint32]),
    "tvaMeasurementLabel": (c_char_p, [c_uint32]),
    "tvaUnitSymbol": (c_char_p, [c_uint32]),
    "tvaMaskFromJson": (c_int32, [c_char_p, c_uint32, POINTER(TvaMask), c_char_p, c_uint32]),
    "tvaMaskHexagon": (c_int32, [c_double, c_double, c_double, c_double, POINTER(TvaMask)]),
    "tvaMaskCheck": (c_int32, [POINTER(TvaMask), c_char_p, c_uint32]),
    "tvaMaskTest": (c_int32, [_u16p, _u16p, c_uint32, c_uint16, POINTER(TvaEyeFrame),
                              POINTER(TvaMask), POINTER(TvaMaskResult), POINTER(c_uint8)]),
}

_lock = threading.Lock()
_dll: Optional[ctypes.CDLL] = None
# Looked for and not found: not looked for again.  The sentence and places are kept rather than
# the exception, which would gather a traceback each time it is raised again.
_missing: Optional[Tuple[str, List[str]]] = None


def _candidates() -> Tuple[List[str], List[str]]:
    given = os.environ.get("TARVEX_ANALYSIS_LIBRARY")
    if given:
        return [given], [f"{given} (TARVEX_ANALYSIS_LIBRARY)"]
    files = [str(Path(__file__).resolve().parent / ANALYSIS_LIBRARY_NAME)]
    if _loader._loaded is not None:
        files.append(str(Path(_loader._loaded.path).resolve().parent / ANALYSIS_LIBRARY_NAME))
    searched = [f"{f} (beside the package)" if i == 0 else f"{f} (beside the board library)"
                for i, f in enumerate(files)]
    system = ctypes.util.find_library("tarvex-analysis") if _WINDOWS else ANALYSIS_LIBRARY_NAME
    if system:
        files.append(system)
    searched.append(f"{ANALYSIS_LIBRARY_NAME} in the system's library path")
    return files, searched


def load_analysis(path: Optional[Union[str, "os.PathLike[str]"]] = None) -> ctypes.CDLL:
    """Loads the analysis library (from `path` if given) and returns it; LibraryNotFound says
    where the package looked.  Loaded, or looked for, once a process (unless a path is given)."""
    global _dll, _missing
    with _lock:
        if _dll is not None:
            return _dll
        if _missing is not None and path is None:
            raise LibraryNotFound(*_missing)
        files, searched = ([os.fspath(path)], [os.fspath(path)]) if path else _candidates()
        for file in files:
            if os.path.isabs(file) and not os.path.exists(file) and path is None:
                continue
            try:
                dll = ctypes.CDLL(file)
            except OSError:
                continue
            for name, (restype, argtypes) in EXPORTS.items():
                function = getattr(dll, name)
                function.restype = restype
                function.argtypes = list(argtypes)
            version = dll.tvaVersion()
            if version >> 16 != _MAJOR:
                raise LibraryNotFound(
                    f"{file} is the analysis library version {version >> 16}.{version >> 8 & 0xFF}; "
                    f"this package needs version {_MAJOR}.x", [file])
            _dll = dll
            return dll
        message = ("measurements and mask tests need the analysis library, which was not found; "
                   "looked at " + "; ".join(searched) + ". Build it (target tarvex_analysis) or "
                   "give its file in TARVEX_ANALYSIS_LIBRARY")
        if path is None:
            _missing = (message, searched)
        raise LibraryNotFound(message, searched)


def analysis_available() -> bool:
    """True when the analysis library can be loaded."""
    try:
        load_analysis()
    except LibraryNotFound:
        return False
    return True


def _checks_real(name: str, value: object) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float, np.floating, np.integer)):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)


def _check(operation: str, status: int) -> None:
    if status != _OK:
        text = load_analysis().tvaStatusText(status).decode()
        raise AnalysisError(operation, status, text)


def _u16(array: np.ndarray) -> "ctypes._Pointer[c_uint16]":
    return array.ctypes.data_as(_u16p)


def fold(samples: np.ndarray, data_rate: float, sample_rate: float,
         x_scale: int) -> Tuple[np.ndarray, np.ndarray, int]:
    """Folds samples as u_GetEyeXY does: (x, y, eye width)."""
    dll = load_analysis()
    samples = np.ascontiguousarray(samples, dtype=np.uint16)
    x = np.empty(len(samples), dtype=np.uint16)
    y = np.empty(len(samples), dtype=np.uint16)
    width = c_uint16(0)
    _check("folding", dll.tvaFoldSamples(_u16(samples), len(samples), data_rate, sample_rate,
                                         x_scale, _u16(x), _u16(y), ctypes.byref(width)))
    return x, y, width.value


def rates_fold(data_rate: float, sample_rate: float) -> Optional[bool]:
    """Whether the rates give an eye (a fold step), or None without the analysis library."""
    if not analysis_available():
        return None
    one, x, y, width = c_uint16(0), c_uint16(0), c_uint16(0), c_uint16(0)
    status = load_analysis().tvaFoldSamples(byref(one), 1, data_rate, sample_rate, 0, byref(x),
                                            byref(y), byref(width))
    return status != _BAD_RATES


@dataclass(frozen=True)
class Measurement:
    """One measurement: `value` in `unit` ("codes", "s", "%", ""), the `samples` it rests on,
    and when it is not measurable (value 0) the `reason` why."""

    name: str
    label: str
    value: float
    unit: str
    samples: int
    measurable: bool
    reason: str


@dataclass(frozen=True)
class EyeFrame:
    """Where the eye sits: the crossing's phase (0 <= p < 1) and the zero and one levels
    (codes); masks are drawn in this frame."""

    crossing_phase: float
    zero_level: float
    one_level: float


@dataclass(frozen=True)
class Measurements:
    """An eye's measurements by name ("eyeHeight", "jitterRms", ...: docs/analysis.md defines
    them), its frame (None when the levels or the crossing were not found), the points measured
    and the unit interval in seconds."""

    items: Dict[str, Measurement]
    frame: Optional[EyeFrame]
    point_count: int
    unit_interval: float

    def __getitem__(self, name: str) -> Measurement:
        return self.items[name]

    def __iter__(self):  # type: ignore[no-untyped-def]
        return iter(self.items.values())


def measure(x: np.ndarray, y: np.ndarray, width: int, data_rate: float) -> Measurements:
    dll = load_analysis()
    out = TvaEyeMeasurements()
    _check("eye measurement", dll.tvaMeasurePoints(_u16(x), _u16(y), len(x), width, data_rate,
                                                   ctypes.byref(out)))
    items: Dict[str, Measurement] = {}
    for i in range(TVA_MEASUREMENT_COUNT):
        item = out.items[i]
        name = dll.tvaMeasurementName(i).decode()
        items[name] = Measurement(
            name, dll.tvaMeasurementLabel(i).decode(), item.value,
            dll.tvaUnitSymbol(item.unit).decode(), item.samples, item.measurable == 1,
            "" if item.measurable == 1 else dll.tvaStatusText(item.reason).decode())
    frame = (EyeFrame(out.frame.crossingPhase, out.frame.zeroLevel, out.frame.oneLevel)
             if out.frameValid == 1 else None)
    return Measurements(items, frame, out.pointCount, out.unitInterval)


class Mask:
    """An eye mask: polygons in the eye's frame (x in UI from the crossing, y 0 at the zero
    level and 1 at the one level), read from a mask file or made as the usual NRZ hexagon."""

    def __init__(self, record: TvaMask) -> None:
        self._record = record

    @classmethod
    def from_json(cls, text: Union[str, bytes]) -> "Mask":
        """A mask from the text of a mask file (JSON, docs/analysis.md); ValueError says what
        is wrong and where."""
        data = text.encode() if isinstance(text, str) else bytes(text)
        record = TvaMask()
        message = ctypes.create_string_buffer(_MESSAGE_BYTES)
        status = load_analysis().tvaMaskFromJson(data, len(data), ctypes.byref(record), message,
                                                 _MESSAGE_BYTES)
        if status != _OK:
            raise ValueError(f"mask: {message.value.decode() or 'not a mask'}")
        return cls(record)

    @classmethod
    def from_file(cls, path: Union[str, "os.PathLike[str]"]) -> "Mask":
        with open(path, "rb") as f:
            return cls.from_json(f.read())

    @classmethod
    def hexagon(cls, x1: float, x2: float, y1: float, y2: float) -> "Mask":
        """The NRZ mask of the usual shape (regions "hexagon", "top", "bottom"): a hexagon with
        its points at (x1, 0.5) and (1 - x1, 0.5) and its flat sides from x2 to 1 - x2 at heights
        y1 and 1 - y1, and bars above 1 + y2 and below -y2.  The ranges the analysis library
        takes are tvaMaskHexagon's (tarvex_analysis.h); others raise ValueError."""
        values = [_checks_real(name, v) for name, v in zip(("x1", "x2", "y1", "y2"),
                                                           (x1, x2, y1, y2))]
        record = TvaMask()
        status = load_analysis().tvaMaskHexagon(*values, ctypes.byref(record))
        if status != _OK:
            raise ValueError(f"hexagon mask x1={x1}, x2={x2}, y1={y1}, y2={y2}: "
                             f"{load_analysis().tvaStatusText(status).decode()} (the ranges are "
                             "tvaMaskHexagon's, in tarvex_analysis.h)")
        return cls(record)

    @property
    def region_names(self) -> List[str]:
        return [self._record.regions[r].name.decode()
                for r in range(self._record.regionCount)]


@dataclass(frozen=True)
class MaskResult:
    """A mask test: `passed` when no sample is inside any region; the samples inside each
    region by name (an unnamed region by its number), the samples inside any, the samples
    tested, the margin in percent (negative when samples are inside), and per point a byte
    with bit r set when it is inside region r."""

    passed: bool
    region_hits: Dict[str, int]
    failed_samples: int
    tested_samples: int
    margin_percent: float
    flags: np.ndarray


def mask_test(x: np.ndarray, y: np.ndarray, width: int, frame: EyeFrame,
              mask: Mask) -> MaskResult:
    dll = load_analysis()
    record = TvaEyeFrame(frame.crossing_phase, frame.zero_level, frame.one_level)
    result = TvaMaskResult()
    flags = np.zeros(len(x), dtype=np.uint8)
    _check("mask test", dll.tvaMaskTest(_u16(x), _u16(y), len(x), width, ctypes.byref(record),
                                        ctypes.byref(mask._record), ctypes.byref(result),
                                        flags.ctypes.data_as(POINTER(c_uint8))))
    names = mask.region_names
    hits = {(name or str(r)): result.regionHits[r] for r, name in enumerate(names)}
    return MaskResult(result.passed == 1, hits, result.failedSamples, result.testedSamples,
                      result.marginPercent, flags)


__all__: Sequence[str] = [
    "Mask", "MaskResult", "Measurement", "Measurements", "EyeFrame", "load_analysis",
    "analysis_available"]
