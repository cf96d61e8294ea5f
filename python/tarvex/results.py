"""What board commands return: small named records and NumPy arrays."""
from __future__ import annotations

import ipaddress
from dataclasses import dataclass, field
from typing import Dict, List, NamedTuple

import numpy as np

from . import _abi


@dataclass(frozen=True)
class ScopeStats:
    """A capture's statistics (the library's ScopeStats): samples delivered, and per packet
    whether its exchange was whole (ok), short or failed; flag_seen when any sample word had
    its flag bit (bit 12) set."""

    sample_count: int
    ok_count: int
    short_count: int
    fail_count: int
    flag_seen: bool

    @property
    def packets(self) -> int:
        """The packets requested."""
        return self.ok_count + self.short_count + self.fail_count

    @classmethod
    def from_record(cls, record: _abi.ScopeStats) -> "ScopeStats":
        return cls(record.sampleCount, record.okCount, record.shortCount, record.failCount,
                   record.flagSeen == 1)


class Capture(NamedTuple):
    """A scope capture: `samples`, uint16, 32 a packet (12-bit codes), and its `stats`."""

    samples: np.ndarray
    stats: ScopeStats


class FastCapture(NamedTuple):
    """A fast capture: `data`, uint8 of shape (packets, 512), each packet's bytes as the board
    sent them at the start of its 512-byte slot (the rest of a slot is 0), and its `stats`."""

    data: np.ndarray
    stats: ScopeStats


class PingReply(NamedTuple):
    """The board's answer to a ping: its 20 bytes, and the firmware identification they spell
    ("TVX-SCOPE FW 1.04"; empty when they are not text)."""

    text: str
    reply: bytes

    @classmethod
    def from_reply(cls, reply: bytes) -> "PingReply":
        body = reply.rstrip(b"\0")
        text = body.decode("ascii") if all(0x20 <= b <= 0x7E for b in body) else ""
        return cls(text, reply)


class Status(NamedTuple):
    """The board's four status flags (u_GetStatus), each True when the board is well."""

    fifo_ok: bool      # no FIFO underflow (port 3 bit 7 clear)
    data_ready: bool   # samples ready (port 2 bit 4 set)
    pll_locked: bool   # sampling PLL locked (port 2 bit 13 set)
    front_end_ok: bool  # no front-end fault (port 4 bit 4 clear)


class NetworkSettings(NamedTuple):
    """The board's network settings: three IPv4 addresses and the MAC address as text
    ("02:54:56:58:00:01")."""

    address: ipaddress.IPv4Address
    netmask: ipaddress.IPv4Address
    gateway: ipaddress.IPv4Address
    mac: str


@dataclass(frozen=True)
class Descriptors:
    """The board's USB descriptors: the device descriptor and each configuration's, as the
    bytes the board gave, with the string descriptors they name, decoded."""

    device: bytes
    configurations: List[bytes]
    languages: List[int]
    strings: Dict[int, str] = field(default_factory=dict)

    @property
    def vendor_id(self) -> int:
        return int.from_bytes(self.device[8:10], "little")

    @property
    def product_id(self) -> int:
        return int.from_bytes(self.device[10:12], "little")

    @property
    def manufacturer(self) -> str:
        return self.strings.get(self.device[14], "")

    @property
    def product(self) -> str:
        return self.strings.get(self.device[15], "")

    @property
    def serial_number(self) -> str:
        return self.strings.get(self.device[16], "")
