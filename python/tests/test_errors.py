"""The error codes' names and sentences: the package says what the tarvex tool says."""
from __future__ import annotations

import re
import sys
from typing import Dict, Iterator, Tuple

import pytest
import tarvex
from conftest import REPO


def constants() -> Dict[str, int]:
    found: Dict[str, int] = {}
    for header in ("platform/platform.h", "platform/libusb/errors.h"):
        path = REPO / header
        if path.exists():
            for name, value in re.findall(r"constexpr std::uint32_t (kError\w+) = (\d+);",
                                          path.read_text()):
                found[name] = int(value)
    return found


def tool_sentences() -> Iterator[Tuple[int, str]]:
    source = (REPO / "tools/tarvex/errors.cpp").read_text()
    body = source[source.index("std::string systemErrorText"):]
    body = body[:body.index("default:")]
    values = constants()
    for name, branch in re.findall(r"case platform::(kError\w+):(.*?)(?=case platform::|$)",
                                   body, re.S):
        if "#ifdef _WIN32" in branch:  # a sentence of its own for Windows
            branch = branch.split("#else")[0 if sys.platform == "win32" else 1]
        yield values[name], "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', branch))


SENTENCES = list(tool_sentences())


def test_the_tool_has_sentences_to_compare() -> None:
    assert len(SENTENCES) >= 14


@pytest.mark.parametrize("code, sentence", SENTENCES, ids=[str(c) for c, _ in SENTENCES])
def test_each_sentence_is_the_tools(code: int, sentence: str) -> None:
    assert tarvex.error_text(code) == sentence


@pytest.mark.parametrize("code, name", [(6, "ERROR_INVALID_HANDLE"), (121, "ERROR_SEM_TIMEOUT"),
                                        (997, "ERROR_IO_PENDING"), (998, "ERROR_NOACCESS"),
                                        (1167, "ERROR_DEVICE_NOT_CONNECTED"), (4242, "error 4242")])
def test_codes_have_their_win32_names(code: int, name: str) -> None:
    assert tarvex.error_name(code) == name


def test_an_unknown_code_is_said_as_the_tool_says_it() -> None:
    assert tarvex.error_text(4242) == "the system reported error 4242"


def test_a_transfer_error_carries_its_code() -> None:
    error = tarvex.TransferError(3, "port 2 read", 0, 997)
    assert (error.code, error.code_name, error.sentence) == (
        997, "ERROR_IO_PENDING", "the request did not complete in time (error 997)")
    assert isinstance(tarvex.ShortReply(3, "ping", 2, 0, received=b"T"), tarvex.TransferError)
    assert str(tarvex.TransferError(3, "reset", 0, 1167, reply=False)).startswith(
        "lost board 3 during the reset (the device is not connected (error 1167); "
        "ERROR_DEVICE_NOT_CONNECTED)")
