"""Dialogs as tall as the screen under wine on a 1280 x 1024 Xvfb: a window whose
frame would not fit on the monitor opens without caption and border, so its
whole client area, the button row along its bottom included, lies on the screen,
and the buttons answer when clicked there. A window whose frame fits keeps its
caption."""
import os
import time

import pytest

from winepeer import PROGRAM, desk, have_tools, maketree, windowspath  # noqa: F401 (desk)

pytestmark = pytest.mark.skipif(not have_tools() or not os.path.exists(PROGRAM),
                                reason="needs wine, Xvfb, xdotool, xwininfo, xwd and the Windows program built")

SCREEN = (1280, 1024)                   # the wine desktop's


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    return maketree(tmp_path_factory.mktemp("fittree"))


def onscreen(x, y, w, h):
    return x >= 0 and y >= 0 and x + w <= SCREEN[0] and y + h <= SCREEN[1]


# Clicks are in client pixels; a negative y counts from the client area's bottom.
# The height of 99999 is cut to the screen's by the window module.
CASES = [
    ("question 1024, Yes", ["yesno", "-height=1024"], "question", (300, 1024), [(80, -21)], b"yes\n"),
    ("question 1024, No", ["yesno", "-height=1024"], "question", (300, 1024), [(220, -21)], b"no\n"),
    ("question 99999", ["yesno", "-height=99999"], "question", (300, 1024), [(80, -21)], b"yes\n"),
    ("message 1023", ["info", "-height=1023"], "info", (300, 1023), [(150, -21)], b""),
    ("chooser 1010, Cancel", ["file", "-height=1010", "-folder=%s"], "choose file", (750, 1010),
     [(135, -22)], b""),
    ("chooser 1010, a row and OK", ["file", "-height=1010", "-folder=%s"], "choose file", (750, 1010),
     [(400, 66 + 18 * 2), (615, -22)], b"%s/c.png\n"),
]


@pytest.mark.parametrize("name,args,title,client,clicks,answer", CASES, ids=[c[0] for c in CASES])
def test_tall_dialog_keeps_its_buttons_on_the_screen(desk, tree, name, args, title, client, clicks, answer):
    folder = windowspath(tree)
    args = [a % folder if "%s" in a else a for a in args]
    proc = desk.start(PROGRAM, args)
    found = desk.findwindow(title)
    assert found, desk.wait(proc, 5)
    x, y, w, h = found[1:]
    # No frame: the X window is the client area, and all of it is on the screen.
    assert (w, h) == client and onscreen(x, y, w, h), (found, desk.wait(proc, 5))
    time.sleep(0.3)                         # the first frame is drawn
    for cx, cy in clicks:
        px, py = x + cx, y + (cy if cy >= 0 else h + cy)
        desk.tool("xdotool", "mousemove", str(px), str(py))
        time.sleep(0.05)
        desk.tool("xdotool", "click", "1")
        time.sleep(0.2)
    expected = answer % folder.encode() if b"%s" in answer else answer
    assert desk.wait(proc, 20) == (0, expected, b"")


def test_a_dialog_whose_frame_fits_keeps_its_caption(desk):
    proc = desk.start(PROGRAM, ["yesno", "-height=990"])
    found = desk.findwindow("question")
    assert found, desk.wait(proc, 5)
    x, y, w, h = found[1:]
    assert w > 300 and h > 990 and onscreen(x, y, w, h), found
    desk.tool("xdotool", "mousemove", str(x + w // 2), str(y + h // 2))
    desk.tool("xdotool", "key", "Escape")
    assert desk.wait(proc, 20) == (0, b"no\n", b"")
