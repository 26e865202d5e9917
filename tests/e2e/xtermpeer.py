"""A real xterm on Xvfb for the end-to-end tests of the terminal's mouse path:
the X server picks its own display number (parallel tests never race for one),
xdotool drives the pointer, and the processes are ended in reverse order."""
import contextlib
import os
import shutil
import subprocess

import pytest

from termpane import waitfor
from x11peer import start_xvfb

needsxterm = pytest.mark.skipif(not all(shutil.which(t) for t in ("Xvfb", "xterm", "xdotool")),
                                reason="Xvfb, xterm and xdotool are needed")


def startxvfb():
    """The X server and its display name (":N")."""
    server, number = start_xvfb(["-screen", "0", "1280x1024x24", "-nolisten", "tcp"])
    if server is None:
        raise RuntimeError("Xvfb did not start")
    return server, ":%d" % number


def xdotool(env, *args):
    return subprocess.run(["xdotool"] + list(args), env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=True, timeout=20).stdout.decode()


def cellsize(env, window, columns, rows):
    """The pixels of one character cell of an xterm started without a border."""
    geometry = xdotool(env, "getwindowgeometry", window)
    width, height = (int(v) for v in geometry.split("Geometry:")[1].split()[0].split("x"))
    return width // columns, height // rows


def pointat(env, window, cell, column, row):
    """Moves the pointer to the middle of a terminal cell."""
    xdotool(env, "mousemove", "--window", window, str(column * cell[0] + cell[0] // 2),
            str(row * cell[1] + cell[1] // 2))


def stopall(procs):
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()


@contextlib.contextmanager
def xterm(columns, rows, title, command, started):
    """An xterm of columns x rows cells, without a border, in the "fixed" font, on
    an X server of its own, running the argument vector `command`; `started()`
    tells (with a true value) when the program in it is running. Yields the
    environment of the display, the window id, the xterm process, what `started`
    gave, and the cell size in pixels."""
    server, display = startxvfb()
    procs = [server]
    try:
        env = dict(os.environ, DISPLAY=display)
        term = subprocess.Popen(["xterm", "-geometry", "%dx%d+0+0" % (columns, rows), "-b", "0",
                                 "-fn", "fixed", "-title", title, "-e"] + list(command),
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(term)
        ready = started()
        window = waitfor(lambda: xdotool(env, "search", "--name", title).split(), 20, "the xterm")[0]
        yield {"env": env, "window": window, "term": term, "ready": ready,
               "cell": cellsize(env, window, columns, rows)}
    finally:
        stopall(procs)
