"""Runs the codectool driver of the build under test (through qemu where the build
needs it) and supplies the corpus of the codec cross-checks: files every Debian
machine has, and edge cases made here."""
import glob
import os
import random
import shutil
import subprocess

import pytest

BUILD = os.environ.get("KZV_BUILD", "")
EMULATOR = [part for part in os.environ.get("KZV_EMULATOR", "").split(";") if part]
TOOL = os.path.join(BUILD, "codectool")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SLOW = 8 if EMULATOR else 1
# Under an emulator the large files are cut, so a run stays within its time.
MAXBYTES = 300000 if EMULATOR else 2000000


def command(*args):
    if not os.path.exists(TOOL):
        pytest.skip("codectool is not built in " + (BUILD or "(KZV_BUILD unset)"))
    if EMULATOR and not shutil.which(EMULATOR[0]):
        pytest.skip(EMULATOR[0] + " is not installed")
    return EMULATOR + [TOOL] + [str(a) for a in args]


def run(*args):
    return subprocess.run(command(*args), capture_output=True, timeout=120 * SLOW)


def _firstof(pattern):
    found = sorted(glob.glob(pattern))
    return found[0] if found else None


def corpus():
    """(name, bytes) pairs: text, a program, a library, compressed data, an
    image, and the edge cases."""
    files = [
        ("services", "/etc/services"),
        ("license", "/usr/share/common-licenses/GPL-3"),
        ("program", "/usr/bin/ls"),
        ("library", _firstof("/usr/lib/*-linux-gnu*/libc.so.6")),
        ("gzipped", _firstof("/usr/share/doc/*/changelog.Debian.gz")),
        ("image", "/usr/share/pixmaps/debian-logo.png"),
    ]
    items = []
    for name, path in files:
        if path and os.path.exists(path):
            with open(path, "rb") as f:
                items.append((name, f.read(MAXBYTES)))
    rng = random.Random(20261210)
    items += [
        ("empty", b""),
        ("one byte", b"x"),
        ("64 KiB run", b"\0" * 65536),
        ("64 KiB run and one", b"a" * 65537),
        ("incompressible", rng.randbytes(150000)),
        ("two letters", bytes(rng.choice(b"ab") for _ in range(70000))),
    ]
    return items


CORPUS = corpus()
CORPUSIDS = [name for name, _ in CORPUS]
