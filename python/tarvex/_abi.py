"""The C interface of tarvex.h as ctypes sees it: constants, records and one table of types.

Everything here is a fact of include/tarvex.h, written once for the package: every call the
package makes goes through a function typed by EXPORTS, and nothing else declares a signature.
"""
from __future__ import annotations

import ctypes
from ctypes import POINTER, c_char_p, c_double, c_float, c_int, c_uint8, c_uint16, c_uint32, c_void_p
from typing import Dict, Sequence, Tuple

# Transfer results of the port family and the u_ commands.
XFER_FAIL = 0
XFER_OK = 1
XFER_SHORT = 2

# Pipe directions of MPUSBOpen, and the board's vendor/product string and data pipe.
PIPE_WRITE = 0
PIPE_READ = 1
TARVEX_BOARD_VID_PID = b"vid_04d8&pid_0030"
TARVEX_BOARD_PIPE = b"\\MCHP_EP1"

# The port table's rows: indexes 32 and above are refused without I/O.
PORT_COUNT = 32

# Reply and capture sizes.
PING_REPLY_BYTES = 20
STATUS_FLAG_COUNT = 4
IP_ADDRESS_BYTES = 4
MAC_ADDRESS_BYTES = 6
SCOPE_PACKET_BYTES = 64
SAMPLES_PER_PACKET = 32
FAST_SLOT_BYTES = 512
FAST_SAMPLES_PER_PACKET = 256
VSCOPE_EYE_BYTES = 64 * 16
CALIB_VALUE_COUNT = 7
MAX_PACKETS = 0xFFFF  # the packet count is 16 bits

# Versions.
TARVEX_API_REVISION = 4096
MPUSB_DLL_VERSION = 0x01010000

_POINTER_BITS = ctypes.sizeof(c_void_p) * 8
# "No handle": all bits set, as c_void_p gives it back.
INVALID_HANDLE = (1 << _POINTER_BITS) - 1


class ScopeStats(ctypes.Structure):
    """The capture statistics record, laid out as tarvex.h lays it out (12 bytes)."""

    _fields_ = [
        ("sampleCount", c_uint32),
        ("failCount", c_uint16),
        ("okCount", c_uint16),
        ("shortCount", c_uint16),
        ("flagSeen", c_uint8),
    ]


assert ctypes.sizeof(ScopeStats) == 12, "ScopeStats is shared with the library"
assert ScopeStats.flagSeen.offset == 10, "ScopeStats field offsets are shared with the library"

_u8p = POINTER(c_uint8)
_u16p = POINTER(c_uint16)
_u32p = POINTER(c_uint32)
_statsp = POINTER(ScopeStats)

# name: (result type, argument types), in the header's order.
EXPORTS: Dict[str, Tuple[object, Sequence[object]]] = {
    # MPUSB family
    "MPUSBGetDeviceCount": (c_uint32, [c_char_p]),
    "MPUSBOpen": (c_void_p, [c_uint32, c_char_p, c_char_p, c_uint32, c_uint32]),
    "MPUSBRead": (c_uint32, [c_void_p, c_void_p, c_uint32, _u32p, c_uint32]),
    "MPUSBWrite": (c_uint32, [c_void_p, c_void_p, c_uint32, _u32p, c_uint32]),
    "MPUSBReadInt": (c_uint32, [c_void_p, c_void_p, c_uint32, _u32p, c_uint32]),
    "MPUSBClose": (c_int, [c_void_p]),
    "MPUSBGetDeviceDescriptor": (c_uint32, [c_void_p, c_void_p, c_uint32, _u32p]),
    "MPUSBGetConfigurationDescriptor": (c_uint32, [c_void_p, c_uint8, c_void_p, c_uint32, _u32p]),
    "MPUSBGetStringDescriptor": (c_uint32, [c_void_p, c_uint8, c_uint16, c_void_p, c_uint32, _u32p]),
    "MPUSBSetConfiguration": (c_uint32, [c_void_p, c_uint16]),
    "MPUSBGetDLLVersion": (c_uint32, []),
    # Port family
    "OpenUSBPort": (c_int, [c_uint32]),
    "CloseUSBPort": (c_int, [c_uint32]),
    "SendUSBPacket": (c_int, [c_uint32, _u8p, c_uint32, c_uint32]),
    "SendReceiveUSBPacket": (c_int, [c_uint32, _u8p, c_uint32, _u8p, _u32p, c_uint32, c_uint32]),
    # u_ family: system
    "u_About": (c_int, []),
    "u_GetAPIRev": (c_int, []),
    "u_GetDeviceCount": (c_int, []),
    "u_Ping": (c_int, [c_uint16, _u8p]),
    "u_Reset_MCU": (c_int, [c_uint16]),
    "u_Reset_MCU_Boot": (c_int, [c_uint16]),
    "u_SetDeviceID": (c_int, [c_uint16, c_uint8]),
    # network
    "u_SetEthIPAddr": (c_int, [c_uint16, _u8p]),
    "u_GetEthIPAddr": (c_int, [c_uint16, _u8p]),
    "u_SetEthIPMask": (c_int, [c_uint16, _u8p]),
    "u_GetEthIPMask": (c_int, [c_uint16, _u8p]),
    "u_SetEthIPGateway": (c_int, [c_uint16, _u8p]),
    "u_GetEthIPGateway": (c_int, [c_uint16, _u8p]),
    "u_SetEthMACAddress": (c_int, [c_uint16, _u8p]),
    "u_GetEthMACAddress": (c_int, [c_uint16, _u8p]),
    # I2C, clock chips, MDIO
    "u_I2C_Write": (c_int, [c_uint16, c_uint8, _u8p, c_uint8, c_uint8, c_uint8]),
    "u_I2C_Read": (c_int, [c_uint16, c_uint8, c_uint8, _u8p, c_uint8, c_uint8]),
    "u_SetSi5326": (c_int, [c_uint16, c_uint8, c_uint8, c_uint8]),
    "u_GetSi5326": (c_int, [c_uint16, c_uint8, c_uint8, _u8p]),
    "u_SetSi5338": (c_int, [c_uint16, c_uint8, c_uint8, c_uint8]),
    "u_GetSi5338": (c_int, [c_uint16, c_uint8, c_uint8, _u8p]),
    "u_SetMDIO": (c_int, [c_uint16, c_uint8, c_uint16, c_uint16]),
    "u_GetMDIO": (c_int, [c_uint16, c_uint8, c_uint16, _u16p]),
    # port registers, status, acquisition control
    "u_SetPort": (c_int, [c_uint16, c_uint8, c_uint16]),
    "u_GetPort": (c_int, [c_uint16, c_uint8, _u16p]),
    "u_GetStatus": (c_int, [c_uint16, _u8p]),
    "u_ResetFIFO": (c_int, [c_uint16]),
    # scope capture and eye folding
    "u_GetScopePacket": (c_int, [c_uint16, _u8p]),
    "u_GetScopePacketFast": (c_int, [c_uint16, _u8p]),
    "u_GetScopeSamples": (c_int, [c_uint16, c_uint16, _u16p, _statsp]),
    "u_GetScopeSamplesFast": (c_int, [c_uint16, c_uint16, _u8p, _statsp]),
    "u_GetEyeXY": (c_int, [c_uint16, c_uint16, c_double, c_double, _u16p, c_uint16, _u16p, _statsp]),
    # VScope eye and VSC temperature
    "u_GenerateVScopeEye": (c_int, [c_uint16]),
    "u_GetVScopePacket": (c_int, [c_uint16, _u8p, c_uint8, c_uint8]),
    "u_GetVScopeSamples": (c_int, [c_uint16, _u8p]),
    "u_GetVSCTemp": (c_int, [c_uint16, _u8p]),
    # calibration values
    "u_StoreScopeCalibValues": (c_int, [c_uint16, POINTER(c_float)]),
    "u_GetScopeCalibValues": (c_int, [c_uint16, POINTER(c_float)]),
}

assert len(EXPORTS) == 53, "the library has exactly 53 exports"


def declare(dll: ctypes.CDLL) -> None:
    """Gives every export of `dll` its types; AttributeError names the first one missing."""
    for name, (restype, argtypes) in EXPORTS.items():
        function = getattr(dll, name)
        function.restype = restype
        function.argtypes = list(argtypes)
