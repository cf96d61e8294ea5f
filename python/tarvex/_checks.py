"""Argument checks made before any I/O: a wrong type is a TypeError, a wrong value a ValueError."""
from __future__ import annotations

import math
import numbers
from typing import Any


def whole(name: str, value: Any, low: int, high: int) -> int:
    """`value` as an int from `low` to `high`; bools are refused (True is not a port number)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be a whole number, not {type(value).__name__}")
    number = int(value)
    if not low <= number <= high:
        raise ValueError(f"{name} must be from {low} to {high}, not {number}")
    return number


def byte(name: str, value: Any) -> int:
    return whole(name, value, 0, 0xFF)


def word(name: str, value: Any) -> int:
    return whole(name, value, 0, 0xFFFF)


def rate(name: str, value: Any) -> float:
    """A rate in hertz or bits per second: a real number above 0 and finite."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number (per second), not {type(value).__name__}")
    number = float(value)
    if not (math.isfinite(number) and number > 0):
        raise ValueError(f"{name} must be above 0 and finite, not {number}")
    return number
