"""A real xterm on Xvfb for the end-to-end tests of the terminal's mouse path:
the X server picks its own display number (parallel tests never race for one),
xdotool drives the pointer, and the processes are ended in reverse order."""
import os
import subprocess

import pytest


def startxvfb():
    """The X server and its display name (":N")."""
    rd, wr = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(wr), "-screen", "0", "1280x1024x24",
                               "-nolisten", "tcp"], pass_fds=(wr,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(wr)
    with os.fdopen(rd) as f:
        number = f.readline().strip()
    if not number:
        server.kill()
        pytest.skip("Xvfb did not start")
    return server, ":" + number


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
