"""The C reference caller (c_reference.c): built with cc, loaded beside the package, bound to the
library the package has loaded.  Used by the speed script and by the tests that hold the
package's arrays against what the C library gives a C caller."""
from __future__ import annotations

import ctypes
import subprocess
from ctypes import POINTER, byref, c_double, c_int, c_uint16
from pathlib import Path
from typing import Tuple

import numpy as np

from tarvex import _abi

HERE = Path(__file__).resolve().parent
INCLUDE = HERE.parent.parent / "include"


class Reference:
    """u_GetScopeSamples and u_GetEyeXY called from C; each call returns what the export gave
    and the CPU seconds it took."""

    def __init__(self, directory: Path, library: str) -> None:
        shared = directory / "libc_reference.so"
        subprocess.run(["cc", "-O2", "-std=c11", "-Wall", "-Wextra", "-Werror", "-shared",
                        "-fPIC", "-fvisibility=hidden", f"-I{INCLUDE}",
                        str(HERE / "c_reference.c"), "-o", str(shared), "-ldl"], check=True)
        self._dll = ctypes.CDLL(str(shared))
        u16p = POINTER(c_uint16)
        statsp = POINTER(_abi.ScopeStats)
        self._dll.referenceBind.argtypes = [ctypes.c_char_p]
        self._dll.referenceCapture.argtypes = [c_uint16, c_uint16, u16p, statsp, POINTER(c_double)]
        self._dll.referenceEye.argtypes = [c_uint16, c_uint16, c_double, c_double, u16p, c_uint16,
                                           u16p, statsp, POINTER(c_double)]
        for name in ("referenceBind", "referenceCapture", "referenceEye"):
            getattr(self._dll, name).restype = c_int
        if self._dll.referenceBind(library.encode()) != 1:
            raise RuntimeError(f"c_reference: {library} lacks the capture exports")

    def capture(self, index: int, packets: int,
                samples: np.ndarray) -> Tuple[int, _abi.ScopeStats, float]:
        stats = _abi.ScopeStats()
        seconds = c_double()
        result = self._dll.referenceCapture(index, packets,
                                            samples.ctypes.data_as(POINTER(c_uint16)),
                                            byref(stats), byref(seconds))
        return result, stats, seconds.value

    def eye(self, index: int, packets: int, data_rate: float, sample_rate: float, x_scale: int,
            x: np.ndarray, y: np.ndarray) -> Tuple[int, _abi.ScopeStats, float]:
        stats = _abi.ScopeStats()
        seconds = c_double()
        result = self._dll.referenceEye(index, packets, data_rate, sample_rate,
                                        x.ctypes.data_as(POINTER(c_uint16)), x_scale,
                                        y.ctypes.data_as(POINTER(c_uint16)), byref(stats),
                                        byref(seconds))
        return result, stats, seconds.value
