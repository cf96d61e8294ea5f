"""Reading a board's USB descriptors through its interface, as the tarvex tool does."""
from __future__ import annotations

import ctypes
from ctypes import byref, c_uint32
from typing import Dict, List

from . import _abi
from ._loader import Library
from .errors import TransferError
from .results import Descriptors

_BUFFER_BYTES = 4096  # the largest descriptor asked for
_DEVICE_DESCRIPTOR_BYTES = 18
_CONFIGURATION_HEADER_BYTES = 9
_STRING_BYTES = 255
_ENGLISH_US = 0x0409
_INTERFACE_TYPE = 4
_CONFIGURATION_TYPE = 2


def _utf16(raw: bytes) -> str:
    end = min(len(raw), raw[0]) if raw else 0
    return raw[2:end].decode("utf-16-le", errors="replace")


def read_descriptors(lib: Library, index: int) -> Descriptors:
    dll = lib.dll
    handle = dll.MPUSBOpen(index, _abi.TARVEX_BOARD_VID_PID, None, _abi.PIPE_READ, 0)
    if handle == _abi.INVALID_HANDLE:
        raise TransferError(index, "interface open", 0, lib.last_error(),
                            message=f"could not open the interface of board {index}")
    try:
        buffer = (ctypes.c_uint8 * _BUFFER_BYTES)()
        length = c_uint32(0)

        def failed(what: str) -> TransferError:
            return TransferError(index, what, 0, lib.last_error(),
                                 message=f"board {index} did not give its {what}")

        if dll.MPUSBGetDeviceDescriptor(handle, buffer, 64, byref(length)) != 1:
            raise failed("device descriptor")
        if length.value < _DEVICE_DESCRIPTOR_BYTES:
            raise failed(f"device descriptor (only {length.value} bytes came)")
        device = bytes(buffer[:length.value])

        configurations: List[bytes] = []
        for number in range(1, device[17] + 1):
            # The first nine bytes tell the length of the whole configuration.
            if (dll.MPUSBGetConfigurationDescriptor(handle, number, buffer,
                                                    _CONFIGURATION_HEADER_BYTES, byref(length))
                    != 1 or length.value < _CONFIGURATION_HEADER_BYTES):
                raise failed(f"configuration descriptor {number}")
            total = min(int.from_bytes(bytes(buffer[2:4]), "little"), _BUFFER_BYTES)
            if dll.MPUSBGetConfigurationDescriptor(handle, number, buffer, total,
                                                   byref(length)) != 1:
                raise failed(f"configuration descriptor {number}")
            configurations.append(bytes(buffer[:length.value]))

        # String 0 lists the languages; the others are asked for in the first of them.
        languages: List[int] = []
        if dll.MPUSBGetStringDescriptor(handle, 0, 0, buffer, _STRING_BYTES, byref(length)) == 1:
            raw = bytes(buffer[:length.value])
            languages = [int.from_bytes(raw[i:i + 2], "little")
                         for i in range(2, len(raw) - 1, 2)]
        language = languages[0] if languages else _ENGLISH_US

        wanted = [device[14], device[15], device[16]]
        for config in configurations:
            at = 0
            while at + 1 < len(config) and config[at] >= 2:
                if config[at + 1] == _CONFIGURATION_TYPE and at + 6 < len(config):
                    wanted.append(config[at + 6])
                if config[at + 1] == _INTERFACE_TYPE and at + 8 < len(config):
                    wanted.append(config[at + 8])
                at += config[at]
        strings: Dict[int, str] = {}
        for number in wanted:
            if number == 0 or number in strings:
                continue
            if dll.MPUSBGetStringDescriptor(handle, number, language, buffer, _STRING_BYTES,
                                            byref(length)) != 1:
                raise failed(f"string descriptor {number}")
            strings[number] = _utf16(bytes(buffer[:length.value]))
        return Descriptors(device, configurations, languages, strings)
    finally:
        dll.MPUSBClose(handle)
