"""The mouse path against a real peer: the demo runs in an xterm on Xvfb, and
xdotool clicks, scrolls and moves the pointer there. xterm itself turns these into
mouse reports (all motion reported, since the display asks for it), and the
window must get the right button events at the centre of the clicked cell."""
import time

import pytest

from termpane import SLOW, needsraw, demo_command, events, readyline, shellquote, waitfor
import xtermpeer
from xtermpeer import pointat, xdotool

pytestmark = [
    needsraw,
    xtermpeer.needsxterm,
]

CELLX, CELLY = 8, 16            # the cell size the display is told


@pytest.fixture
def xterm(tmp_path):
    log = str(tmp_path / "log.txt")
    run = "KZVTERM_CXS=%d KZVTERM_CYS=%d exec %s" % (CELLX, CELLY, shellquote(demo_command(log, 200, 100)))
    with xtermpeer.xterm(80, 24, "kzvdemo", ["/bin/sh", "-c", run], lambda: readyline(log, timeout=30)) as x:
        x["log"] = log
        yield x


def click(x, column, row, button):
    pointat(x["env"], x["window"], x["cell"], column, row)
    time.sleep(0.1)
    xdotool(x["env"], "click", button)


def expectedpoint(x, column, row):
    r = x["ready"]
    return (column * CELLX + CELLX // 2 - r["x"], row * CELLY + CELLY // 2 - r["y"])


def buttonevents(log):
    return [e for e in events(log) if e[0] in (165, 166, 167, 168, 169, 170, 177, 178, 163)]


def test_clicks_in_xterm_become_window_events(xterm):
    assert (xterm["ready"]["x"], xterm["ready"]["y"]) == (220, 142)
    log = xterm["log"]
    cases = [
        (30, 10, "1", [165, 166]),
        (40, 12, "3", [169, 170]),
        (35, 11, "2", [167, 168]),
        (33, 13, "4", [177]),
        (34, 13, "5", [178]),
        (30, 8, "1", [165, 166]),          # the title bar: a press with y < 0
    ]
    expected = []
    for column, row, button, codes in cases:
        click(xterm, column, row, button)
        expected += [(code,) + expectedpoint(xterm, column, row) for code in codes]
        waitfor(lambda: len(buttonevents(log)) >= len(expected), 10 * SLOW, "button events")
    assert buttonevents(log) == expected
    assert expected[-2][2] < 0
    # A click in the close box ends the run.
    click(xterm, 49, 8, "1")
    waitfor(lambda: (163, 0, 0) in events(log), 10 * SLOW, "the close event")
    waitfor(lambda: xterm["term"].poll() is not None, 10 * SLOW, "xterm to end with the demo")
