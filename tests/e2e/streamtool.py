"""Runs the streamtool driver of the build under test (through qemu where the
build needs it) for the end-to-end stream tests."""
import os
import shutil

import pytest

BUILD = os.environ.get("KZV_BUILD", "")
EMULATOR = [part for part in os.environ.get("KZV_EMULATOR", "").split(";") if part]
TOOL = os.path.join(BUILD, "streamtool")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# A slow emulator needs more time for the same work.
SLOW = 4 if EMULATOR else 1


def command(*args):
    if not os.path.exists(TOOL):
        pytest.skip("streamtool is not built in " + (BUILD or "(KZV_BUILD unset)"))
    if EMULATOR and not shutil.which(EMULATOR[0]):
        pytest.skip(EMULATOR[0] + " is not installed")
    return EMULATOR + [TOOL] + [str(a) for a in args]


def pattern(n):
    """The bytes the tool writes for a count: a-z repeated."""
    alphabet = b"abcdefghijklmnopqrstuvwxyz"
    return (alphabet * (n // 26 + 1))[:n]
