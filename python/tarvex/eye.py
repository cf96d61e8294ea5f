"""An eye diagram's points, as u_GetEyeXY gives them, and what the analysis library makes of
them."""
from __future__ import annotations

from typing import Optional

import numpy as np

from . import analysis
from .analysis import EyeFrame, Mask, MaskResult, Measurements
from .results import ScopeStats


class Eye:
    """A capture folded onto one bit period: point i is (x[i], y[i]), x its position within the
    unit interval scaled to the eye's width, y the sample code (uint16 arrays, as u_GetEyeXY
    wrote them).  `stats` are the capture's.

    width, measure() and mask_test() use the analysis library (LibraryNotFound without it).
    """

    def __init__(self, x: np.ndarray, y: np.ndarray, stats: ScopeStats, data_rate: float,
                 sample_rate: float, x_scale: int) -> None:
        self.x = x
        self.y = y
        self.stats = stats
        self.data_rate = data_rate
        self.sample_rate = sample_rate
        self.x_scale = x_scale
        self._width: Optional[int] = None
        self._measurements: Optional[Measurements] = None

    def __len__(self) -> int:
        return len(self.x)

    def __repr__(self) -> str:
        return (f"<Eye of {len(self)} points, data rate {self.data_rate:g}/s, sample rate "
                f"{self.sample_rate:g}/s>")

    @property
    def width(self) -> int:
        """The span of the X axis (every x is below it), as the fold chose it from x_scale."""
        if self._width is None:
            # Folding the points' Y again gives the export's X and width: the zeros it replaced
            # were below the smallest nonzero sample, which stays the smallest.
            self._width = analysis.fold(self.y, self.data_rate, self.sample_rate,
                                        self.x_scale)[2]
        return self._width

    def measure(self) -> Measurements:
        """The eye's measurements (levels, noise, height, Q, crossing, jitter, width, rise and
        fall times, duty-cycle distortion) and its frame."""
        if self._measurements is None:
            self._measurements = analysis.measure(self.x, self.y, self.width, self.data_rate)
        return self._measurements

    def mask_test(self, mask: Mask, frame: Optional[EyeFrame] = None) -> MaskResult:
        """Tests the points against `mask` in `frame` (the measured frame if not given; a
        ValueError when the eye has none, as its levels or crossing were not found)."""
        if not isinstance(mask, Mask):
            raise TypeError(f"mask must be a tarvex.Mask, not {type(mask).__name__}")
        if frame is None:
            frame = self.measure().frame
            if frame is None:
                raise ValueError("the eye's levels and crossing were not found, so a mask has no "
                                 "frame to sit in; give one: mask_test(mask, frame=EyeFrame(...))")
        return analysis.mask_test(self.x, self.y, self.width, frame, mask)
