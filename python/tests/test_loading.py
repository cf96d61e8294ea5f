"""Which library the package loads, how the demo options reach it, and what a missing or wrong
file says."""
from __future__ import annotations

import ctypes.util
import re
import shutil
import struct
from pathlib import Path

import pytest
import tarvex
from conftest import DEMO_OPTIONS, LIBRARY, LOADED, PYTHON_DIR, REPO, run_script
from tarvex import _loader


@pytest.mark.parametrize("options, text", [
    ({"boards": 2, "clock": "virtual"}, "boards=2,clock=virtual"),
    ({"data_rate": "2.5G", "sample_rate": 99e6}, "data-rate=2.5G,sample-rate=99000000.0"),
    ({"levels": (800, 3300), "trace": True}, "levels=800:3300,trace=1"),
    ({"devices": ["other", "board"], "trace": False}, "devices=other+board,trace=0"),
])
def test_keyword_options_are_written_as_tarvex_demo(options: dict, text: str) -> None:
    assert _loader.demo_text(options) == text


@pytest.mark.parametrize("call, error", [
    (lambda: tarvex.load(boards=2), TypeError),
    (lambda: tarvex.load(demo=True, pattern="prbs7,boards=9"), ValueError),
    (lambda: tarvex.load(demo=True, boards={"n": 2}), TypeError),
    (lambda: tarvex.load(demo=True, boards=5, clock="virtual"), tarvex.TarvexError),
    (lambda: tarvex.load("/elsewhere/libtarvex.so.1"), tarvex.TarvexError),
])
def test_loading_again_cannot_change_the_library(call, error: type) -> None:
    with pytest.raises(error):
        call()
    assert tarvex.load(demo=True, **DEMO_OPTIONS) is LOADED is tarvex.library()


LOAD = """
import json, os, tarvex
lib = tarvex.load(%s)
print(json.dumps({"path": lib.path, "boards": tarvex.board_count(),
                  "environment": os.environ.get("TARVEX_DEMO")}))
"""


def test_given_options_take_the_place_of_the_environments() -> None:
    assert run_script(LOAD % "demo=True, boards=3, clock='virtual'", demo="boards=1") == {
        "path": LIBRARY, "boards": 3, "environment": "boards=3,clock=virtual"}
    assert run_script(LOAD % "demo=True", demo="boards=1,clock=virtual")["boards"] == 1


def test_a_given_path_comes_before_tarvex_library() -> None:
    found = run_script(LOAD % f"{LIBRARY!r}, demo=True", TARVEX_LIBRARY="/nowhere/libtarvex.so.1")
    assert found["path"] == LIBRARY


def copy_package(where: Path, library: bool) -> Path:
    shutil.copytree(PYTHON_DIR / "tarvex", where / "tarvex")
    if library:
        shutil.copy(LIBRARY, where / "tarvex" / _loader.DEMO_LIBRARY_NAME)
    return where


PLACED = """
import json, sys, tarvex
try:
    lib = tarvex.load(demo=True)
    print(json.dumps({"path": lib.path, "boards": tarvex.board_count()}))
except tarvex.LibraryNotFound as error:
    print(json.dumps({"error": str(error), "searched": error.searched}))
"""


def test_the_library_beside_the_package_is_found(tmp_path: Path) -> None:
    place = copy_package(tmp_path, library=True)
    found = run_script(PLACED, PYTHONPATH=str(place), TARVEX_LIBRARY="")
    assert found == {"path": str(place / "tarvex" / _loader.DEMO_LIBRARY_NAME), "boards": 1}


@pytest.mark.skipif(ctypes.util.find_library("tarvex-demo") is not None,
                    reason="a demo library is installed on this system")
def test_a_missing_library_says_where_the_package_looked(tmp_path: Path) -> None:
    place = copy_package(tmp_path, library=False)
    found = run_script(PLACED, PYTHONPATH=str(place), TARVEX_LIBRARY="")
    beside = str(place / "tarvex" / _loader.DEMO_LIBRARY_NAME)
    assert found["searched"] == [f"{beside} (beside the package)", "libtarvex-demo.so.1 in the "
                                 "system's library path (ldconfig, LD_LIBRARY_PATH)"]
    assert found["error"].startswith(f"the Tarvex demo library was not found; looked at {beside}")
    assert "tarvex.load(path) or TARVEX_LIBRARY" in found["error"]


def elf(word_bits: int) -> bytes:
    return b"\x7fELF" + bytes([word_bits // 32, 1, 1]) + bytes(57)


def pe(machine: int) -> bytes:
    head = bytearray(256)
    head[:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, 0x80)
    head[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", head, 0x84, machine)
    return bytes(head)


@pytest.mark.parametrize("content, says", [
    (elf(32), "is a 32-bit library and this Python is 64-bit"),
    (pe(0x14C), "is a 32-bit library and this Python is 64-bit"),
    (b"not a library", "could not load the Tarvex library"),
])
def test_a_file_that_does_not_load_says_why(tmp_path: Path, content: bytes, says: str) -> None:
    file = tmp_path / "libtarvex.so.1"
    file.write_bytes(content)
    found = run_script(PLACED, TARVEX_LIBRARY=str(file))
    assert says in found["error"] and found["searched"] == [str(file)]
    assert str(file) in found["error"]


def test_a_library_without_the_exports_is_named(tmp_path: Path) -> None:
    found = run_script(PLACED, TARVEX_LIBRARY=ctypes.util.find_library("m") or "libm.so.6")
    assert "is not a Tarvex library (it lacks an export" in found["error"]


def test_the_package_version_is_the_projects() -> None:
    project = re.search(r"project\(tarvex VERSION ([0-9.]+)", (REPO / "CMakeLists.txt").read_text())
    pyproject = re.search(r'^version = "([0-9.]+)"', (PYTHON_DIR / "pyproject.toml").read_text(),
                          re.M)
    assert project and pyproject
    assert tarvex.__version__ == project.group(1) == pyproject.group(1)


MISSING_ANALYSIS = """
import json, tarvex
tarvex.load(demo=True)
depths = []
for _ in range(50):
    try:
        tarvex.load_analysis()
    except tarvex.LibraryNotFound as error:
        tb, depth = error.__traceback__, 0
        while tb:
            tb, depth = tb.tb_next, depth + 1
        depths.append(depth)
print(json.dumps({"depths": sorted(set(depths)), "available": tarvex.analysis_available()}))
"""


def test_a_missing_analysis_library_is_looked_for_once_and_said_afresh(tmp_path: Path) -> None:
    # Raising one kept exception again and again would grow its traceback (and hold its frames).
    found = run_script(MISSING_ANALYSIS, TARVEX_ANALYSIS_LIBRARY=str(tmp_path / "none.so"))
    assert found == {"depths": [2], "available": False}  # the caller and load_analysis
