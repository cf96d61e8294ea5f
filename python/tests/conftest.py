"""The tests run against the built demo library on its virtual clock.

The library is TARVEX_LIBRARY's file, or the release build's (build/release/library/); the
analysis library TARVEX_ANALYSIS_LIBRARY's, or the release build's when it is there.  This
process loads the demo library once, with DEMO_OPTIONS; the demo library reads its options once
a process, so a test that needs other boards or a fault runs a script in a process of its own
(run_script).
"""
from __future__ import annotations

import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Any, Dict, Iterator

import pytest

PYTHON_DIR = Path(__file__).resolve().parent.parent
REPO = PYTHON_DIR.parent
sys.path[:0] = [str(PYTHON_DIR), str(PYTHON_DIR / "bench")]

DEMO_OPTIONS: Dict[str, Any] = {"clock": "virtual", "boards": 2, "other": 1}


def _built(variable: str, relative: str) -> str:
    given = os.environ.get(variable)
    return str(Path(given).resolve()) if given else str((REPO / relative).resolve())


LIBRARY = _built("TARVEX_LIBRARY", "build/release/library/libtarvex-demo.so.1")
ANALYSIS_LIBRARY = _built("TARVEX_ANALYSIS_LIBRARY",
                          "build/release/analysis/libtarvex-analysis.so.1")
if not Path(LIBRARY).exists():
    pytest.exit(f"the demo library {LIBRARY} is not built: cmake --build build/release --target "
                "tarvex_demo, or give its file in TARVEX_LIBRARY", returncode=2)
os.environ["TARVEX_LIBRARY"] = LIBRARY
if Path(ANALYSIS_LIBRARY).exists():
    os.environ["TARVEX_ANALYSIS_LIBRARY"] = ANALYSIS_LIBRARY
else:
    os.environ.pop("TARVEX_ANALYSIS_LIBRARY", None)

import tarvex  # noqa: E402

LOADED = tarvex.load(demo=True, **DEMO_OPTIONS)

needs_analysis = pytest.mark.skipif(not tarvex.analysis_available(),
                                    reason=f"the analysis library {ANALYSIS_LIBRARY} is not built")


def run_script(code: str, demo: str = "clock=virtual", **env: str) -> Any:
    """Runs `code` in a Python process of its own with TARVEX_DEMO=`demo` and returns what it
    printed last, read as JSON.  The script fails the test if it fails."""
    path = os.pathsep.join([str(PYTHON_DIR), str(PYTHON_DIR / "bench")])
    environment = {**os.environ, "PYTHONPATH": path, "TARVEX_DEMO": demo, **env}
    # From the top of the tree, where no folder is named tarvex: the package comes from the path.
    done = subprocess.run([sys.executable, "-c", code], env=environment, capture_output=True,
                          text=True, timeout=120, cwd=REPO)
    assert done.returncode == 0, f"script failed:\n{done.stderr}"
    return json.loads(done.stdout.strip().splitlines()[-1])


@pytest.fixture(scope="session")
def reference() -> Iterator[Any]:
    """The C caller of c_reference.c, bound to the loaded library."""
    from reference import Reference
    with tempfile.TemporaryDirectory() as scratch:
        yield Reference(Path(scratch), LOADED.path)


@pytest.fixture
def board() -> Iterator[tarvex.Board]:
    with tarvex.Board(0) as b:
        yield b
