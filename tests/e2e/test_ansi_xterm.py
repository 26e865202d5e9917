"""The key decoder against a real xterm on Xvfb: xdotool clicks, scrolls and moves
the pointer, with and without Alt held, and xterm itself turns that into mouse
reports (the renderer asks for all motion). Every report must come out as the
right mouse code at the right cell, modifiers ignored; a click in column 94 (whose
coordinate byte is 127, the Backspace byte) must stay a click, and no coordinate
byte may ever arrive as a typed key."""
import os
import time

import pytest

import xtermpeer
from termpane import needsraw, waitfor
from xtermpeer import xdotool

BUILD = os.environ.get("KZV_BUILD", "")
TOOL = os.path.join(BUILD, "ansitool")

pytestmark = [
    needsraw,
    pytest.mark.skipif(not os.path.exists(TOOL), reason="ansitool is not built"),
    xtermpeer.needsxterm,
]

COLUMNS, ROWS = 120, 30


def keys(log):
    try:
        return [int(l.split()[1], 16) for l in open(log).read().split("\n") if l.startswith("key ")]
    except OSError:
        return []


@pytest.fixture
def xterm(tmp_path):
    log = str(tmp_path / "log")
    started = lambda: waitfor(lambda: os.path.exists(log) and "size" in open(log).read(), 30, "the renderer")
    with xtermpeer.xterm(COLUMNS, ROWS, "kzvansi", [TOOL, "render", log], started) as x:
        x["log"] = log
        yield x


def pointat(x, column, row):
    xtermpeer.pointat(x["env"], x["window"], x["cell"], column, row)


def code(kind, column, row):
    return kind << 16 | row << 8 | column


def test_mouse_reports_from_xterm(xterm):
    assert open(xterm["log"]).read().split("\n")[0] == "size %d %d" % (COLUMNS, ROWS)
    cases = [
        # column, row, modifier key or None, xdotool button, expected kinds
        (30, 10, None, "1", [0x11, 0x12]),
        (40, 12, None, "3", [0x13, 0x14]),
        (35, 11, None, "2", [0x15, 0x16]),
        (33, 13, None, "4", [0x17]),
        (34, 13, None, "5", [0x18]),
        (94, 20, None, "1", [0x11, 0x12]),         # the coordinate byte is 127
        (95, 21, "alt", "1", [0x11, 0x12]),        # Meta adds 8 to the button byte
        (50, 5, "alt", "3", [0x13, 0x14]),
        (51, 6, "alt", "4", [0x17]),
        (52, 7, "ctrl", "5", [0x18]),              # Ctrl adds 16 (Ctrl+click is xterm's menu)
    ]
    expected = []
    for column, row, modifier, button, kinds in cases:
        pointat(xterm, column, row)
        time.sleep(0.15)
        if modifier:
            xdotool(xterm["env"], "keydown", modifier)
        xdotool(xterm["env"], "click", button)
        if modifier:
            xdotool(xterm["env"], "keyup", modifier)
        expected += [code(k, column, row) for k in kinds]
        waitfor(lambda: len([k for k in keys(xterm["log"]) if (k >> 16) != 0x19]) >= len(expected),
                10, "the reports of %r" % ((column, row, button),))
    got = keys(xterm["log"])
    clicks = [k for k in got if (k >> 16) != 0x19]
    assert clicks == expected
    # The pointer moves were reported as motion, on the cells it passed.
    moves = [k for k in got if (k >> 16) == 0x19]
    assert code(0x19, 94, 20) in moves and code(0x19, 51, 6) in moves
    # Nothing arrived as a typed key: no byte codes at all.
    assert all(k >= 0x10000 for k in got)
    xdotool(xterm["env"], "type", "q")
    waitfor(lambda: xterm["term"].poll() is not None, 10, "xterm to end with the tool")
