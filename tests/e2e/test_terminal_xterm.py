"""The mouse path against a real peer: the demo runs in an xterm on Xvfb, and
xdotool clicks, scrolls and moves the pointer there. xterm itself turns these into
mouse reports (all motion reported, since the display asks for it), and the
window must get the right button events at the centre of the clicked cell."""
import os
import shutil
import subprocess
import time

import pytest

from termpane import EMULATOR, SLOW, demo_command, events, readyline, shellquote, waitfor

pytestmark = [
    pytest.mark.skipif(bool(EMULATOR), reason="qemu-user mistranslates TCSETA"),
    pytest.mark.skipif(not all(shutil.which(t) for t in ("Xvfb", "xterm", "xdotool")),
                       reason="Xvfb, xterm and xdotool are needed"),
]

CELLX, CELLY = 8, 16            # the cell size the display is told


def freedisplay():
    for n in range(90, 190):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            return n
    pytest.skip("no free X display number")


@pytest.fixture
def xterm(tmp_path):
    n = freedisplay()
    server = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    procs = [server]
    try:
        waitfor(lambda: os.path.exists("/tmp/.X11-unix/X%d" % n), 20, "Xvfb")
        env = dict(os.environ, DISPLAY=":%d" % n)
        log = str(tmp_path / "log.txt")
        run = "KZVTERM_CXS=%d KZVTERM_CYS=%d exec %s" % (CELLX, CELLY, shellquote(demo_command(log, 200, 100)))
        term = subprocess.Popen(["xterm", "-geometry", "80x24+0+0", "-b", "0", "-fn", "fixed",
                                 "-title", "kzvdemo", "-e", "/bin/sh", "-c", run], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(term)
        ready = readyline(log, timeout=30)
        window = waitfor(lambda: xdotool(env, "search", "--name", "kzvdemo").split(), 20, "the xterm")[0]
        geometry = xdotool(env, "getwindowgeometry", window)
        width, height = (int(v) for v in geometry.split("Geometry:")[1].split()[0].split("x"))
        yield {"env": env, "window": window, "log": log, "ready": ready, "term": term,
               "cellwidth": width // 80, "cellheight": height // 24}
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    p.kill()


def xdotool(env, *args):
    return subprocess.run(["xdotool"] + list(args), env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=True, timeout=20).stdout.decode()


def pointat(x, column, row):
    """Moves the pointer to the middle of a terminal cell."""
    xdotool(x["env"], "mousemove", "--window", x["window"],
            str(column * x["cellwidth"] + x["cellwidth"] // 2),
            str(row * x["cellheight"] + x["cellheight"] // 2))


def expectedpoint(x, column, row):
    r = x["ready"]
    return (column * CELLX + CELLX // 2 - r["x"], row * CELLY + CELLY // 2 - r["y"])


def buttonevents(log):
    return [e for e in events(log) if e[0] in (165, 166, 167, 168, 169, 170, 177, 178, 163)]


def test_clicks_in_xterm_become_window_events(xterm):
    assert (xterm["ready"]["x"], xterm["ready"]["y"]) == (220, 142)
    log = xterm["log"]
    cases = [
        (30, 10, "click", "1", [165, 166]),
        (40, 12, "click", "3", [169, 170]),
        (35, 11, "click", "2", [167, 168]),
        (33, 13, "click", "4", [177]),
        (34, 13, "click", "5", [178]),
        (30, 8, "click", "1", [165, 166]),          # the title bar: a press with y < 0
    ]
    expected = []
    for column, row, action, button, codes in cases:
        pointat(xterm, column, row)
        time.sleep(0.1)
        xdotool(xterm["env"], action, button)
        expected += [(code,) + expectedpoint(xterm, column, row) for code in codes]
        waitfor(lambda: len(buttonevents(log)) >= len(expected), 10 * SLOW, "button events")
    assert buttonevents(log) == expected
    assert expected[-2][2] < 0
    # A click in the close box ends the run.
    pointat(xterm, 49, 8)
    time.sleep(0.1)
    xdotool(xterm["env"], "click", "1")
    waitfor(lambda: (163, 0, 0) in events(log), 10 * SLOW, "the close event")
    waitfor(lambda: xterm["term"].poll() is not None, 10 * SLOW, "xterm to end with the demo")
