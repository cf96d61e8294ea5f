"""Boards: finding them, opening and closing them, and each command against the library's own
calls (the same exports called directly, typed here on their own)."""
from __future__ import annotations

import ctypes
import ipaddress
import json
import os
import subprocess
import sys
import threading
from ctypes import byref, c_float, c_uint8, c_uint16

import numpy as np
import pytest
import tarvex
from conftest import LOADED, PYTHON_DIR

C = LOADED.dll  # the exports, to check the package against


def c_port(index: int, number: int) -> int:
    value = c_uint16()
    assert C.u_GetPort(index, number, byref(value)) == 1
    return value.value


def c_bytes(function: str, size: int, *args: int) -> bytes:
    out = (c_uint8 * size)()
    assert getattr(C, function)(0, *args, out) == 1
    return bytes(out)


def test_devices_lists_boards_and_other_devices() -> None:
    assert tarvex.devices() == [tarvex.Interface(0, True), tarvex.Interface(1, True),
                                tarvex.Interface(2, False)]
    assert tarvex.board_count() == 2


@pytest.mark.parametrize("index", [2, 7])
def test_no_board_at_an_index_names_the_boards_there_are(index: int) -> None:
    with pytest.raises(tarvex.BoardNotFound) as raised:
        tarvex.Board(index).open()
    assert raised.value.boards == [0, 1]
    assert str(raised.value) == f"no board at index {index}: 2 boards found, at indexes 0, 1"


@pytest.mark.parametrize("index, error", [(32, ValueError), (-1, ValueError), ("0", TypeError),
                                          (True, TypeError), (1.0, TypeError)])
def test_an_index_outside_the_port_table_is_refused(index: object, error: type) -> None:
    with pytest.raises(error):
        tarvex.Board(index)  # type: ignore[arg-type]


def test_the_with_block_closes_the_pipes_on_an_exception() -> None:
    with pytest.raises(RuntimeError):
        with tarvex.Board(1) as board:
            board.ping()
            raise RuntimeError("a script's own failure")
    assert not board.is_open
    assert C.u_GetPort(1, 3, byref(c_uint16())) == tarvex._abi.XFER_FAIL  # the row is closed
    with pytest.raises(tarvex.TarvexError, match="board 1 is not open"):
        board.ping()


def test_the_pipes_close_with_the_last_board_holding_them() -> None:
    first = tarvex.Board(1).open()
    second = tarvex.Board(1).open()
    second.close()
    assert first.port(3) == c_port(1, 3)
    first.close()
    assert C.u_GetPort(1, 3, byref(c_uint16())) == tarvex._abi.XFER_FAIL


def test_read_commands_give_what_the_library_reads(board: tarvex.Board) -> None:
    C.u_SetPort(0, 6, 0x1234)
    assert board.port(6) == 0x1234
    assert board.ping().reply == c_bytes("u_Ping", 20)
    assert board.ping().text == "TVX-SCOPE FW 1.04"
    assert list(board.status()) == [f == 1 for f in c_bytes("u_GetStatus", 4)]
    assert board.temperature() == ctypes.c_int8(c_bytes("u_GetVSCTemp", 1)[0]).value
    values = (c_float * 7)(*[0.5 * i for i in range(7)])
    assert C.u_StoreScopeCalibValues(0, values) == 1
    assert board.calibration == tuple(0.5 * i for i in range(7))
    settings = board.network
    assert settings.netmask.packed == c_bytes("u_GetEthIPMask", 4)
    assert settings.mac == ":".join(f"{b:02x}" for b in c_bytes("u_GetEthMACAddress", 6))
    eeprom = (c_uint8 * 4)()
    assert C.u_I2C_Read(0, 0x50, 4, eeprom, 0, 0) == 1
    assert board.i2c_read(0x50, 0, 4) == bytes(eeprom)
    assert all(isinstance(a, ipaddress.IPv4Address) for a in settings[:3])
    phy = c_uint16()
    assert C.u_GetMDIO(0, 0, 2, byref(phy)) == 1
    assert board.mdio_read(0, 2) == phy.value != 0xFFFF


def test_set_commands_reach_the_board(board: tarvex.Board) -> None:
    board.set_port(5, 0xBEEF)
    assert c_port(0, 5) == 0xBEEF
    board.calibration = [1, 2.5, 3.25, 0, 65535.5, 6, 7.0001]
    stored = (c_float * 7)()
    assert C.u_GetScopeCalibValues(0, stored) == 1
    assert list(stored) == pytest.approx([1, 2.5, 3.25, 0, 65535.5, 6, 7.0001], abs=1e-4)
    before = board.network
    board.set_network(address="10.1.2.3", mac="02-00-5E-10-20-30")
    assert c_bytes("u_GetEthIPAddr", 4) == bytes([10, 1, 2, 3])
    assert c_bytes("u_GetEthMACAddress", 6) == bytes([2, 0, 0x5E, 0x10, 0x20, 0x30])
    assert board.network.gateway == before.gateway  # not given, not sent
    board.network = before
    assert board.network == before
    board.i2c_write(0x50, 0x10, b"tvx")
    assert board.i2c_read(0x50, 0x10, 3) == b"tvx"
    board.si5326.write(20, 0x3C)
    value = c_uint8()
    assert C.u_GetSi5326(0, 0x68, 20, byref(value)) == 1 and value.value == 0x3C
    assert board.si5326.read(20) == 0x3C
    board.mdio_write(0, 0x10, 0x0BAD)
    assert board.mdio_read(0, 0x10) == 0x0BAD


def test_vscope_and_descriptors(board: tarvex.Board) -> None:
    eye = board.vscope()
    assert eye.dtype == np.uint8 and eye.shape == (1024,) and eye.any()
    found = board.descriptors()
    assert (found.vendor_id, found.product_id) == (0x04D8, 0x0030)
    assert found.product == "Tarvex Sampling Scope" and found.manufacturer == "Tarvex Instruments"
    assert found.configurations[0][1] == 2 and found.languages == [0x0409]


BAD_CALLS = [
    ("board.port(256)", "ValueError"), ("board.port('3')", "TypeError"),
    ("board.set_port(3, 65536)", "ValueError"), ("board.set_port(3, -1)", "ValueError"),
    ("board.set_port(3, 1.0)", "TypeError"), ("board.set_id(300)", "ValueError"),
    ("board.reset(boot=1)", "TypeError"), ("board.capture(0)", "ValueError"),
    ("board.capture(65536)", "ValueError"), ("board.capture_fast(2.0)", "TypeError"),
    ("board.eye(0, 99e6, 10)", "ValueError"), ("board.eye(float('nan'), 99e6, 10)", "ValueError"),
    ("board.eye('1G', 99e6, 10)", "TypeError"), ("board.eye(1e9, 99e6, 10, x_scale=70000)", "ValueError"),
    ("board.calibration = [1] * 6", "ValueError"), ("board.calibration = [1] * 6 + [65536]", "ValueError"),
    ("board.calibration = [1] * 6 + [float('inf')]", "ValueError"),
    ("board.calibration = [1] * 6 + [-0.5]", "ValueError"), ("board.calibration = '1234567'", "TypeError"),
    ("board.set_network(address='10.0.0.256')", "ValueError"),
    ("board.set_network(address='10.0.0.1', mac='02:00:5e:10:20')", "ValueError"),
    ("board.set_network(netmask=b'abc')", "ValueError"), ("board.set_network(gateway=1.5)", "TypeError"),
    ("board.network = ('10.0.0.1',) * 3 + ('02:00:00:00:00:01',)", "TypeError"),
    ("board.i2c_read(0x50, 0, 0)", "ValueError"), ("board.i2c_write(0x50, 0, bytes(256))", "ValueError"),
    ("board.i2c_write(0x50, 0, 'text')", "TypeError"), ("board.i2c_write(0x50, 0, [1, 256])", "ValueError"),
    ("board.si5338.write(1, 256)", "ValueError"), ("board.mdio_write(0, 65536, 1)", "ValueError"),
    ("board.capture(10, out=bytearray(640))", "TypeError"),
    ("board.capture(10, out=__import__('numpy').zeros(320, 'int16'))", "TypeError"),
    ("board.capture(10, out=__import__('numpy').zeros(319, 'uint16'))", "ValueError"),
    ("board.capture(10, out=__import__('numpy').zeros(640, 'uint16')[::2])", "ValueError"),
    ("board.eye(1e9, 99e6, 10, out=__import__('numpy').zeros(640, 'uint16'))", "ValueError"),
    ("board.eye(1e9, 99e6, 10, out=__import__('numpy').zeros((3, 320), 'uint16'))", "ValueError"),
]


def test_bad_arguments_are_refused_before_any_packet_goes_out() -> None:
    # In a process of its own with the demo board's trace on: every packet a board receives is
    # printed on standard error, so no line there means no I/O.
    script = "\n".join([
        "import json, tarvex", "tarvex.load(demo=True)", "board = tarvex.Board(0).open()",
        "raised = []", "for call in %r:" % [c for c, _ in BAD_CALLS],
        "    try:", "        exec(call)", "        raised.append(None)",
        "    except Exception as error:", "        raised.append(type(error).__name__)",
        "print(json.dumps(raised))"])
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          env={**os.environ, "PYTHONPATH": str(PYTHON_DIR),
                               "TARVEX_DEMO": "clock=virtual,trace=1"}, timeout=60)
    assert done.returncode == 0, done.stderr
    assert dict(zip([c for c, _ in BAD_CALLS], json.loads(done.stdout))) == dict(BAD_CALLS)
    assert "received" not in done.stderr


def test_boards_from_several_threads() -> None:
    failures: list = []

    def work(index: int) -> None:
        try:
            for _ in range(10):
                with tarvex.Board(index) as board:
                    assert board.ping().text == "TVX-SCOPE FW 1.04"
                    assert board.capture(8).stats.ok_count == 8
        except Exception as error:  # handed to the test's thread
            failures.append(error)

    threads = [threading.Thread(target=work, args=(i % 2,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
    assert C.u_GetPort(0, 3, byref(c_uint16())) == tarvex._abi.XFER_FAIL  # all closed again
