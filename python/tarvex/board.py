"""A board as an object: its pipes opened and closed around a `with` block, a method for every
board command, results as Python values and NumPy arrays, failures as exceptions.

Each method calls one export of the library and checks its result the way tarvex.h states it:
set commands return 1 or 0; commands that read a reply XFER_OK, XFER_SHORT or XFER_FAIL; commands
of several steps the AND of their steps; captures 1, with each packet's outcome in ScopeStats.
"""
from __future__ import annotations

import ctypes
import ipaddress
import math
import numbers
import re
import threading
from ctypes import byref, c_float, c_uint8, c_uint16
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _abi, _checks, _progress, analysis
from ._loader import Library, library
from .discovery import devices
from .errors import BoardNotFound, ShortReply, TarvexError, TransferError
from .eye import Eye
from .results import (Capture, Descriptors, FastCapture, NetworkSettings, PingReply, ScopeStats,
                      Status)

Progress = Callable[[int, int], object]
AddressLike = Union[str, int, bytes, ipaddress.IPv4Address]

_u8p = ctypes.POINTER(c_uint8)
_u16p = ctypes.POINTER(c_uint16)

# The board keeps calibration values from 0 up to 65536 in steps of 0.0001; others would be
# stored as their 16-bit remainders.
_CALIB_BEYOND = 65536.0
_MAC_TEXT = re.compile(r"^[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}$")

# Which Board objects hold each index's row of the port table open.  The table is the process's,
# so the row is opened by the first and closed by the last.
_rows_lock = threading.Lock()
_row_users: Dict[int, int] = {}


def _bytes_of(buffer: "ctypes.Array[c_uint8]") -> bytes:
    return bytes(buffer)


class ClockChip:
    """One of the board's two clock chips (Si5326, Si5338): registers read and written over the
    board's I2C bus at the chip's address."""

    def __init__(self, board: "Board", name: str, address: int, get: str, set_: str) -> None:
        self._board = board
        self.name = name
        self.address = address
        self._get = get
        self._set = set_

    def read(self, register: int, device: Optional[int] = None) -> int:
        """The register's value, 0..255 (`device`: the chip's I2C address if not the usual)."""
        device = self.address if device is None else _checks.byte("device", device)
        register = _checks.byte("register", register)
        value = c_uint8(0)
        result = self._board._call(self._get, device, register, byref(value))
        self._board._got(result, f"{self.name} register {register} read", lambda: value.value)
        return value.value

    def write(self, register: int, value: int, device: Optional[int] = None) -> None:
        """Writes `value` (0..255) to the register."""
        device = self.address if device is None else _checks.byte("device", device)
        register = _checks.byte("register", register)
        value = _checks.byte("value", value)
        result = self._board._call(self._set, device, register, value)
        self._board._sent(result, f"{self.name} register {register} write")


class Board:
    """The board at `index` (its member index among the driver's interfaces, 0..31).

    Use it in a `with` block, which opens its pipes and closes them on the way out, exception or
    not; or call open() and close().  Opening an index no board holds raises BoardNotFound,
    naming the boards there are.  Several Board objects (threads) may hold the same index: the
    pipes close when the last one closes.

    The library runs one command at a time for the whole process; a capture holds it until it
    ends, so other threads' commands wait for it.
    """

    def __init__(self, index: int = 0) -> None:
        self.index = _checks.whole("index", index, 0, _abi.PORT_COUNT - 1)
        self._library: Optional[Library] = None
        self.si5326 = ClockChip(self, "Si5326", 0x68, "u_GetSi5326", "u_SetSi5326")
        self.si5338 = ClockChip(self, "Si5338", 0x70, "u_GetSi5338", "u_SetSi5338")

    # ---- opening and closing ----------------------------------------------------------------

    @property
    def is_open(self) -> bool:
        return self._library is not None

    def open(self) -> "Board":
        """Opens the board's pipes (OpenUSBPort); returns the board."""
        if self._library is not None:
            return self
        lib = library()
        with _rows_lock:
            if _row_users.get(self.index, 0) == 0:
                self._open_row(lib)
            _row_users[self.index] = _row_users.get(self.index, 0) + 1
        self._library = lib
        return self

    def _open_row(self, lib: Library) -> None:
        if lib.dll.OpenUSBPort(self.index) == 1:
            return
        # A half-open row keeps the pipe that did open until it is closed.
        lib.dll.CloseUSBPort(self.index)
        found = devices()
        here = [i.board for i in found if i.index == self.index]
        # A board this process cannot open (board None) is there: its pipes say why.
        if not here or here[0] is False:
            raise BoardNotFound(self.index, [i.index for i in found if i.board])
        raise TransferError(self.index, "opening of its pipes", 0, self._why_pipes_fail(lib),
                            message=f"could not open the pipes of board {self.index}")

    def _why_pipes_fail(self, lib: Library) -> Optional[int]:
        # The port table keeps no record of which of its two opens failed, and the second one
        # leaves its own code: each pipe is asked again on its own.
        for direction in (_abi.PIPE_WRITE, _abi.PIPE_READ):
            handle = lib.dll.MPUSBOpen(self.index, _abi.TARVEX_BOARD_VID_PID,
                                       _abi.TARVEX_BOARD_PIPE, direction, 0)
            if handle == _abi.INVALID_HANDLE:
                return lib.last_error()
            lib.dll.MPUSBClose(handle)
        return lib.last_error()

    def close(self) -> None:
        """Closes the board's pipes (CloseUSBPort), unless another Board still holds them."""
        lib = self._library
        if lib is None:
            return
        self._library = None
        with _rows_lock:
            _row_users[self.index] -= 1
            if _row_users[self.index] == 0:
                del _row_users[self.index]
                lib.dll.CloseUSBPort(self.index)

    def __enter__(self) -> "Board":
        return self.open()

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<tarvex.Board {self.index} ({'open' if self.is_open else 'closed'})>"

    # ---- calling and checking -----------------------------------------------------------------

    def _lib(self) -> Library:
        if self._library is None:
            raise TarvexError(f"board {self.index} is not open: use it in a with block "
                              "(with tarvex.Board(...) as board:) or call open() first")
        return self._library

    def _call(self, name: str, *args: Any) -> int:
        return int(getattr(self._lib().dll, name)(self.index, *args))

    def _code(self) -> Optional[int]:
        return self._lib().last_error()

    def _sent(self, result: int, operation: str) -> None:
        """A set command: 1 sent, anything else not."""
        if result != 1:
            raise TransferError(self.index, operation, result, self._code(), reply=False)

    def _got(self, result: int, operation: str, received: Callable[[], Any]) -> None:
        """A command that reads a reply (or the AND of several): XFER_OK, else an exception."""
        if result == _abi.XFER_OK:
            return
        code = self._code()
        if result == _abi.XFER_SHORT:
            raise ShortReply(self.index, operation, result, code, received=received())
        raise TransferError(self.index, operation, result, code)

    # ---- system commands --------------------------------------------------------------------

    def ping(self) -> PingReply:
        """Pings the board; it answers with its firmware identification."""
        reply = (c_uint8 * _abi.PING_REPLY_BYTES)()
        result = self._call("u_Ping", reply)
        self._got(result, "ping", lambda: PingReply.from_reply(_bytes_of(reply)))
        return PingReply.from_reply(_bytes_of(reply))

    def reset(self, boot: bool = False) -> None:
        """Resets the board's microcontroller; boot=True resets it into its boot loader."""
        if not isinstance(boot, bool):
            raise TypeError(f"boot must be True or False, not {type(boot).__name__}")
        if boot:
            self._sent(self._call("u_Reset_MCU_Boot"), "reset into the boot loader")
        else:
            self._sent(self._call("u_Reset_MCU"), "reset")

    def set_id(self, device_id: int) -> None:
        """Sets the board's device id (0..255)."""
        device_id = _checks.byte("device_id", device_id)
        self._sent(self._call("u_SetDeviceID", device_id), "device id write")

    # ---- port registers, status, acquisition control ------------------------------------------

    def port(self, number: int) -> int:
        """Port register `number` (0..255): its 16-bit value."""
        number = _checks.byte("port number", number)
        value = c_uint16(0)
        result = self._call("u_GetPort", number, byref(value))
        self._got(result, f"port {number} read", lambda: value.value)
        return value.value

    def set_port(self, number: int, value: int) -> None:
        """Writes `value` (0..65535) to port register `number`."""
        number = _checks.byte("port number", number)
        value = _checks.word("value", value)
        self._sent(self._call("u_SetPort", number, value), f"port {number} write")

    def status(self) -> Status:
        """The board's four status flags."""
        flags = (c_uint8 * _abi.STATUS_FLAG_COUNT)()
        result = self._call("u_GetStatus", flags)
        self._got(result, "status read", lambda: Status(*(f == 1 for f in flags)))
        return Status(*(f == 1 for f in flags))

    def reset_fifo(self) -> None:
        """Resets the board's sample FIFO."""
        self._sent(self._call("u_ResetFIFO"), "FIFO reset")

    # ---- captures -----------------------------------------------------------------------------

    def _packets(self, packets: int) -> int:
        return _checks.whole("packets", packets, 1, _abi.MAX_PACKETS)

    def _check_capture(self, result: int, code: Optional[int], stats: ScopeStats, packets: int,
                       received: Any, what: str) -> None:
        if result != 1:
            raise TransferError(self.index, what, result, code)
        if stats.fail_count == 0 and stats.short_count == 0:
            return
        if stats.fail_count == packets:
            raise TransferError(self.index, f"{what}'s packet requests", result, code,
                                received=received)
        parts = []
        if stats.fail_count:
            parts.append(f"{stats.fail_count} of the {packets} packets failed")
        if stats.short_count:
            parts.append(f"{stats.short_count} came back short" if parts else
                         f"{stats.short_count} of the {packets} packets came back short")
        message = (f"board {self.index}: " + " and ".join(parts) + f" in the {what}, so some "
                   "samples are not the board's (they are in .received); capture again")
        kind = TransferError if stats.fail_count else ShortReply
        raise kind(self.index, what, result, code, received=received, message=message)

    def capture(self, packets: int, progress: Optional[Progress] = None,
                out: Optional[np.ndarray] = None) -> Capture:
        """Captures `packets` scope packets (1..65535) of 32 samples each: the samples, uint16
        12-bit codes, written by the library straight into the array, and the stats.

        `progress(done, total)` (optional) is told the packets captured so far: 0 first, then
        about ten times a second, then total.  The capture cannot be stopped once it runs.
        `out` (optional): a uint16 array of at least packets x 32 elements to capture into, so
        that a loop of captures reuses its memory; the samples are then a view of it.
        A packet that failed or came back short raises TransferError / ShortReply after the
        capture, with the Capture in `.received`.
        """
        packets = self._packets(packets)
        count = packets * _abi.SAMPLES_PER_PACKET
        samples = (np.empty(count, dtype=np.uint16) if out is None
                   else _out_array("out", out, (count,)))
        lib = self._lib()
        # Every slot is written, failed packets too; with progress the unwritten ones show.
        if progress:
            samples.fill(_progress.UNWRITTEN)
        record = _abi.ScopeStats()
        function = lib.dll.u_GetScopeSamples
        pointer = samples.ctypes.data_as(_u16p)

        def call() -> Tuple[int, Optional[int]]:
            result = function(self.index, packets, pointer, byref(record))
            return result, lib.last_error()

        result, code = _progress.run(call, packets, progress,
                                     lambda: _progress.packets_unpacked(samples))
        stats = ScopeStats.from_record(record)
        capture = Capture(samples[:stats.sample_count], stats)
        self._check_capture(result, code, stats, packets, capture, "capture")
        return capture

    def capture_fast(self, packets: int, progress: Optional[Progress] = None) -> FastCapture:
        """Captures `packets` fast packets (1..65535): each packet's bytes in its 512-byte slot
        (uint8, shape (packets, 512)), and the stats (256 sample words a packet).

        `progress(done, total)` is told 0 before and total after: the raw bytes have no value
        that marks a slot unwritten, so the packets in between do not show.
        """
        packets = self._packets(packets)
        lib = self._lib()
        data = np.zeros((packets, _abi.FAST_SLOT_BYTES), dtype=np.uint8)
        record = _abi.ScopeStats()
        function = lib.dll.u_GetScopeSamplesFast
        pointer = data.ctypes.data_as(_u8p)

        def call() -> Tuple[int, Optional[int]]:
            result = function(self.index, packets, pointer, byref(record))
            return result, lib.last_error()

        result, code = _progress.run(call, packets, progress, None)
        stats = ScopeStats.from_record(record)
        capture = FastCapture(data, stats)
        self._check_capture(result, code, stats, packets, capture, "fast capture")
        return capture

    def eye(self, data_rate: float, sample_rate: float, packets: int, x_scale: int = 0,
            progress: Optional[Progress] = None, out: Optional[np.ndarray] = None) -> Eye:
        """Captures `packets` packets and folds them onto one bit period (u_GetEyeXY): the
        signal's `data_rate` in bits per second, the board's `sample_rate` in samples per second,
        `x_scale` the eye's width (0: the sample range, 1..10: that multiple of it, above: itself).

        `progress` as for capture().  `out` (optional): a uint16 array of shape (2, n), n at
        least packets x 32, to fold into (X in row 0, Y in row 1); the Eye's arrays are then
        views of it.  Failed or short packets raise as for capture(), with the Eye in
        `.received`.
        """
        data_rate = _checks.rate("data_rate", data_rate)
        sample_rate = _checks.rate("sample_rate", sample_rate)
        packets = self._packets(packets)
        x_scale = _checks.word("x_scale", x_scale)
        count = packets * _abi.SAMPLES_PER_PACKET
        if out is not None:
            out = _out_array("out", out, (2, count))
        if analysis.rates_fold(data_rate, sample_rate) is False:
            raise ValueError(f"a {data_rate:g} b/s signal sampled at {sample_rate:g} S/s gives no "
                             "eye: the sample period spans too many bit periods")
        lib = self._lib()
        # X and Y in one allocation, rows 0 and 1.
        points = np.empty((2, count), dtype=np.uint16) if out is None else out
        x, y = points[0, :count], points[1, :count]
        if progress:
            y.fill(_progress.UNWRITTEN)
        record = _abi.ScopeStats()
        function = lib.dll.u_GetEyeXY
        x_pointer = x.ctypes.data_as(_u16p)
        y_pointer = y.ctypes.data_as(_u16p)

        def call() -> Tuple[int, Optional[int]]:
            result = function(self.index, packets, data_rate, sample_rate, x_pointer, x_scale,
                              y_pointer, byref(record))
            return result, lib.last_error()

        result, code = _progress.run(call, packets, progress,
                                     lambda: _progress.packets_unpacked(y))
        stats = ScopeStats.from_record(record)
        eye = Eye(x[:stats.sample_count], y[:stats.sample_count], stats, data_rate, sample_rate,
                  x_scale)
        self._check_capture(result, code, stats, packets, eye, "eye capture")
        return eye

    # ---- VScope and temperature -----------------------------------------------------------------

    def vscope(self) -> np.ndarray:
        """The VSC device's VScope eye: the board builds it (1.5 s), then its sixteen 64-byte
        pages are read; 1024 bytes (uint8)."""
        eye = np.zeros(_abi.VSCOPE_EYE_BYTES, dtype=np.uint8)
        result = self._call("u_GetVScopeSamples", eye.ctypes.data_as(_u8p))
        self._got(result, "VScope eye read", lambda: eye)
        return eye

    def temperature(self) -> int:
        """The VSC device's temperature in whole degrees Celsius."""
        reading = c_uint8(0)
        result = self._call("u_GetVSCTemp", byref(reading))
        self._got(result, "temperature read", lambda: ctypes.c_int8(reading.value).value)
        # Two's complement: the VSC device reports below-zero readings on a cold start.
        return ctypes.c_int8(reading.value).value

    # ---- calibration --------------------------------------------------------------------------

    @property
    def calibration(self) -> Tuple[float, ...]:
        """The seven calibration values kept on the board (floats, four decimals); assign seven
        numbers from 0 up to 65536 to store them."""
        values = (c_float * _abi.CALIB_VALUE_COUNT)()
        result = self._call("u_GetScopeCalibValues", values)
        self._got(result, "calibration read", lambda: tuple(values))
        return tuple(values)

    @calibration.setter
    def calibration(self, values: Sequence[float]) -> None:
        if isinstance(values, (str, bytes)) or not hasattr(values, "__len__"):
            raise TypeError(f"calibration takes {_abi.CALIB_VALUE_COUNT} numbers, not "
                            f"{type(values).__name__}")
        if len(values) != _abi.CALIB_VALUE_COUNT:
            raise ValueError(f"calibration takes {_abi.CALIB_VALUE_COUNT} values, not "
                             f"{len(values)}")
        stored = (c_float * _abi.CALIB_VALUE_COUNT)()
        for i, value in enumerate(values):
            if isinstance(value, bool) or not isinstance(value, numbers.Real):
                raise TypeError(f"calibration value {i} must be a number, not "
                                f"{type(value).__name__}")
            single = float(np.float32(value))
            if not (math.isfinite(float(value)) and 0 <= single < _CALIB_BEYOND):
                raise ValueError(f"calibration value {i} ({value}) is out of range: the board "
                                 "keeps values from 0 up to 65536, in steps of 0.0001")
            stored[i] = single
        self._sent(self._call("u_StoreScopeCalibValues", stored), "calibration store")

    # ---- network settings -------------------------------------------------------------------------

    _ADDRESS_COMMANDS = {
        "address": ("u_GetEthIPAddr", "u_SetEthIPAddr", "IP address"),
        "netmask": ("u_GetEthIPMask", "u_SetEthIPMask", "IP mask"),
        "gateway": ("u_GetEthIPGateway", "u_SetEthIPGateway", "gateway address"),
    }

    @property
    def network(self) -> NetworkSettings:
        """The board's network settings; assign a NetworkSettings to set all four, or use
        set_network() for some of them."""
        addresses = {}
        for key, (get, _, what) in self._ADDRESS_COMMANDS.items():
            raw = (c_uint8 * _abi.IP_ADDRESS_BYTES)()
            result = self._call(get, raw)
            self._got(result, f"{what} read", lambda: ipaddress.IPv4Address(_bytes_of(raw)))
            addresses[key] = ipaddress.IPv4Address(_bytes_of(raw))
        mac = (c_uint8 * _abi.MAC_ADDRESS_BYTES)()
        result = self._call("u_GetEthMACAddress", mac)
        self._got(result, "MAC address read", lambda: _mac_text(_bytes_of(mac)))
        return NetworkSettings(addresses["address"], addresses["netmask"], addresses["gateway"],
                               _mac_text(_bytes_of(mac)))

    @network.setter
    def network(self, settings: NetworkSettings) -> None:
        if not isinstance(settings, NetworkSettings):
            raise TypeError(f"network takes a tarvex.NetworkSettings, not "
                            f"{type(settings).__name__}; set_network() sets some of them")
        self.set_network(**settings._asdict())

    def set_network(self, address: Optional[AddressLike] = None,
                    netmask: Optional[AddressLike] = None,
                    gateway: Optional[AddressLike] = None,
                    mac: Optional[Union[str, bytes]] = None) -> None:
        """Sets the settings given: IPv4 addresses as text, ipaddress objects, 4 bytes or ints;
        the MAC address as "02:54:56:58:00:01" (or with '-') or 6 bytes.  All are checked
        before any is sent."""
        packed: List[Tuple[str, str, bytes]] = []
        for key, value in (("address", address), ("netmask", netmask), ("gateway", gateway)):
            if value is not None:
                _, set_, what = self._ADDRESS_COMMANDS[key]
                packed.append((set_, f"{what} write", _address_bytes(key, value)))
        if mac is not None:
            packed.append(("u_SetEthMACAddress", "MAC address write", _mac_bytes(mac)))
        for function, what, raw in packed:
            buffer = (c_uint8 * len(raw)).from_buffer_copy(raw)
            self._sent(self._call(function, buffer), what)

    # ---- I2C and MDIO -----------------------------------------------------------------------------

    def i2c_read(self, device: int, register: int, count: int = 1, aux: int = 0) -> bytes:
        """Reads `count` bytes (1..255) from register `register` of the I2C device at address
        `device` on the board's bus (`aux`: the board's auxiliary byte)."""
        device = _checks.byte("device", device)
        register = _checks.byte("register", register)
        count = _checks.whole("count", count, 1, 0xFF)
        aux = _checks.byte("aux", aux)
        data = (c_uint8 * count)()
        result = self._call("u_I2C_Read", device, count, data, register, aux)
        self._got(result, f"I2C read of device 0x{device:02x}", lambda: _bytes_of(data))
        return _bytes_of(data)

    def i2c_write(self, device: int, register: int, data: Union[bytes, bytearray, Sequence[int]],
                  aux: int = 0) -> None:
        """Writes `data` (at most 255 bytes) to the I2C device at `device` from `register` on."""
        device = _checks.byte("device", device)
        register = _checks.byte("register", register)
        aux = _checks.byte("aux", aux)
        if isinstance(data, str):
            raise TypeError("data must be bytes or a sequence of byte values, not str")
        values = [_checks.byte(f"data[{i}]", b) for i, b in enumerate(data)]
        if len(values) > 0xFF:
            raise ValueError(f"{len(values)} bytes are too many for one I2C write: at most 255")
        buffer = (c_uint8 * max(len(values), 1))(*values)
        result = self._call("u_I2C_Write", device, buffer, len(values), register, aux)
        self._sent(result, f"I2C write to device 0x{device:02x}")

    def mdio_read(self, address: int, register: int) -> int:
        """The 16-bit value of register `register` of the PHY at MDIO address `address`."""
        address = _checks.byte("address", address)
        register = _checks.word("register", register)
        value = c_uint16(0)
        result = self._call("u_GetMDIO", address, register, byref(value))
        self._got(result, f"MDIO read of PHY {address} register {register}", lambda: value.value)
        return value.value

    def mdio_write(self, address: int, register: int, value: int) -> None:
        """Writes `value` (0..65535) to register `register` of the PHY at `address`."""
        address = _checks.byte("address", address)
        register = _checks.word("register", register)
        value = _checks.word("value", value)
        result = self._call("u_SetMDIO", address, register, value)
        self._sent(result, f"MDIO write of PHY {address} register {register}")

    # ---- descriptors --------------------------------------------------------------------------------

    def descriptors(self) -> Descriptors:
        """The board's USB device and configuration descriptors and the strings they name, read
        through its interface (opened for this and closed again)."""
        from ._descriptors import read_descriptors
        return read_descriptors(self._lib(), self.index)


def _out_array(name: str, out: Any, shape: Tuple[int, ...]) -> np.ndarray:
    """`out` as the array a capture writes into: uint16, C-contiguous, writable, of `shape` (its
    last axis may be longer); the part of that shape."""
    if not isinstance(out, np.ndarray) or out.dtype != np.uint16:
        raise TypeError(f"{name} must be a numpy uint16 array, not "
                        f"{getattr(out, 'dtype', type(out).__name__)}")
    if not (out.flags.c_contiguous and out.flags.writeable):
        raise ValueError(f"{name} must be C-contiguous and writable")
    if out.ndim != len(shape) or out.shape[:-1] != shape[:-1] or out.shape[-1] < shape[-1]:
        want = " x ".join(str(n) for n in shape)
        raise ValueError(f"{name} has shape {out.shape}; this capture needs {want} (or longer)")
    return out[..., :shape[-1]]


def _address_bytes(name: str, value: AddressLike) -> bytes:
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an IPv4 address, not bool")
    if isinstance(value, (bytes, bytearray)) and len(value) != _abi.IP_ADDRESS_BYTES:
        raise ValueError(f"{name} as bytes must be 4 of them, not {len(value)}")
    if not isinstance(value, (str, int, bytes, bytearray, ipaddress.IPv4Address)):
        raise TypeError(f"{name} must be an IPv4 address (text, ipaddress.IPv4Address, 4 bytes "
                        f"or an int), not {type(value).__name__}")
    try:
        return ipaddress.IPv4Address(bytes(value) if isinstance(value, bytearray) else value).packed
    except ValueError as error:
        raise ValueError(f"{name}: {error}") from None


def _mac_bytes(value: Union[str, bytes]) -> bytes:
    if isinstance(value, (bytes, bytearray)):
        if len(value) != _abi.MAC_ADDRESS_BYTES:
            raise ValueError(f"mac as bytes must be 6 of them, not {len(value)}")
        return bytes(value)
    if not isinstance(value, str):
        raise TypeError(f"mac must be text like 02:54:56:58:00:01 or 6 bytes, not "
                        f"{type(value).__name__}")
    if not _MAC_TEXT.match(value):
        raise ValueError(f"mac {value!r} is not six hexadecimal bytes like 02:54:56:58:00:01")
    return bytes(int(part, 16) for part in re.split("[:-]", value))


def _mac_text(raw: bytes) -> str:
    return ":".join(f"{b:02x}" for b in raw)


__all__ = ["Board", "ClockChip"]
