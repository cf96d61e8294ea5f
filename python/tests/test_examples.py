"""The example scripts, run as a person runs them, against the demo library."""
from __future__ import annotations

import csv
import os
import subprocess
import sys
from pathlib import Path
from typing import List

import pytest
from conftest import PYTHON_DIR

EXAMPLES = PYTHON_DIR / "examples"


def run(script: str, arguments: List[str], blocked: str = "") -> subprocess.CompletedProcess:
    # A module named in `blocked` cannot be imported, as on a machine without it.
    command = [sys.executable, str(EXAMPLES / script), "--demo"] + arguments
    if blocked:
        command = [sys.executable, "-c", f"import sys; sys.modules[{blocked!r}] = None; "
                   f"sys.argv = {command[1:]!r}; exec(open(sys.argv[0]).read())"]
    environment = {**os.environ, "PYTHONPATH": str(PYTHON_DIR), "TARVEX_DEMO": "clock=virtual"}
    return subprocess.run(command, env=environment, capture_output=True, text=True, timeout=120)


def test_capture_to_csv(tmp_path: Path) -> None:
    output = tmp_path / "samples.csv"
    done = run("capture_csv.py", ["-n", "10", "-o", str(output)])
    assert done.returncode == 0, done.stderr
    rows = list(csv.reader(output.open()))
    assert rows[0] == ["sample", "value"] and len(rows) == 1 + 320
    assert [int(r[0]) for r in rows[1:]] == list(range(320))
    assert all(0 <= int(r[1]) < 4096 for r in rows[1:]) and len({r[1] for r in rows[1:]}) > 10
    assert "capture: 10/10 packets" in done.stderr


def test_a_missing_board_is_one_sentence(tmp_path: Path) -> None:
    done = run("capture_csv.py", ["-i", "3", "-o", str(tmp_path / "x.csv")])
    assert done.returncode == 1
    assert done.stderr == "capture_csv.py: no board at index 3: 1 board found, at index 0\n"


def test_eye_picture(tmp_path: Path) -> None:
    pytest.importorskip("matplotlib")
    output = tmp_path / "eye.png"
    done = run("eye_picture.py", ["-n", "200", "-o", str(output)])
    assert done.returncode == 0, done.stderr
    assert output.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_eye_picture_without_matplotlib(tmp_path: Path) -> None:
    output = tmp_path / "eye.png"
    done = run("eye_picture.py", ["-o", str(output)], blocked="matplotlib")
    assert done.returncode == 0 and not output.exists()
    assert "skipped: matplotlib is not installed" in done.stderr


def test_temperature_log() -> None:
    done = run("temperature_log.py", ["--count", "3", "--interval", "0.01"])
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == "time,celsius" and len(lines) == 4
    assert all(-128 <= int(line.split(",")[1]) < 128 for line in lines[1:])
