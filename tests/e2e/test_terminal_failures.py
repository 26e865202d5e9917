"""A display that cannot be opened ends the run at once with one clear line on
standard error and exit status 2, nothing on standard output and no wait: no
display at all, refused cell sizes, a shared directory too long for its field, and
no terminal to draw on (no controlling terminal, output captured). A terminal
that refuses raw mode ends the run the same way, with its settings as they were
and nothing drawn on it."""
import os
import pty
import subprocess
import sys
import termios
import time

import pytest

import dialogrun
from termpane import EMULATOR, SLOW, demo_command

HELPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "orphanterminal.py")


def run(tmp_path, env):
    log = str(tmp_path / "log.txt")
    base = {k: v for k, v in os.environ.items() if not k.startswith("KZVTERM_") and k != "DISPLAY"}
    base.update(env)
    start = time.monotonic()
    r = subprocess.run(demo_command(log, 200, 100), env=base, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
                       timeout=60 * SLOW)
    return r, time.monotonic() - start


# The X11 path is the X11 client's: with no terminal asked for, a display number
# whose socket does not exist must fail as quickly, ending with the program's line.
CASES = [
    ("no display", {"DISPLAY": ":1999"}, b"X server"),
    ("cell height unset", {"KZVTERM_CXS": "8"}, b"KZVTERM_CXS and KZVTERM_CYS must be cell sizes"),
    ("cell height 0", {"KZVTERM_CXS": "8", "KZVTERM_CYS": "0"}, b"cell sizes of 1 to 256"),
    ("cell width 257", {"KZVTERM_CXS": "257", "KZVTERM_CYS": "16"}, b"cell sizes of 1 to 256"),
    ("cell width not a number", {"KZVTERM_CXS": "8px", "KZVTERM_CYS": "16"}, b"cell sizes"),
    ("directory too long", {"KZVTERM_CXS": "8", "KZVTERM_CYS": "16", "KZVTERM_TMP": "/" + "d" * 400},
     b"KZVTERM_TMP is longer than 259 bytes"),
    ("no terminal", {"KZVTERM_CXS": "8", "KZVTERM_CYS": "16"}, b"no terminal to draw on"),
]


@pytest.mark.parametrize("name,env,message", CASES, ids=[c[0] for c in CASES])
def test_failed_display_ends_the_run(tmp_path, name, env, message):
    r, elapsed = run(tmp_path, env)
    assert r.returncode == 2
    assert r.stdout == b""
    lines = r.stderr.splitlines()
    assert lines and message in lines[-1] and lines[-1].startswith(b"termdemo: ")
    if "DISPLAY" not in env:
        assert len(lines) == 1
    assert elapsed < 3 * SLOW


def waitfile(path, seconds):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.02)
    return os.path.exists(path)


def drain(fd):
    """What the terminal's other side holds now, without waiting."""
    data = b""
    os.set_blocking(fd, False)
    try:
        while True:
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            data += chunk
    except (BlockingIOError, OSError):
        pass
    return data


# A background process group that is orphaned gets EIO for every settings request
# on its terminal, while reading the settings works: a terminal that refuses raw
# mode, made by the kernel itself (orphanterminal.py).
PROGRAMS = [
    ("termdemo", lambda log: demo_command(log, 200, 100), b"termdemo: "),
    ("velkra", lambda log: dialogrun.command(["yesno"]), dialogrun.prefix()),
]


@pytest.mark.parametrize("name,command,prefix", PROGRAMS, ids=[p[0] for p in PROGRAMS])
def test_terminal_refusing_raw_mode_ends_the_run(tmp_path, name, command, prefix):
    words = command(str(tmp_path / "log.txt"))
    master, slave = pty.openpty()
    before = termios.tcgetattr(master)
    status, err = str(tmp_path / "status"), str(tmp_path / "err")
    env = {k: v for k, v in os.environ.items() if not k.startswith("KZVTERM_") and k != "DISPLAY"}
    env.update({"KZVTERM_CXS": "8", "KZVTERM_CYS": "16", "DISPLAY": dialogrun.NODISPLAY})
    leader = subprocess.Popen([sys.executable, HELPER, os.ttyname(slave), status, err] + words,
                              stdin=subprocess.PIPE, env=env)
    try:
        start = time.monotonic()
        ended = waitfile(status, 10 * SLOW)
        elapsed = time.monotonic() - start
        shown = drain(master)
        after = termios.tcgetattr(master)
    finally:
        if not os.path.exists(status) and os.path.exists(status + ".pid"):
            with open(status + ".pid") as f:
                try:
                    os.kill(int(f.read()), 9)   # the program, hanging on the terminal
                except ProcessLookupError:
                    pass
        leader.stdin.close()
        try:
            leader.wait(timeout=10)
        except subprocess.TimeoutExpired:
            leader.kill()
            leader.wait()
        os.close(master)
        os.close(slave)
    assert ended, f"{name} did not end on a terminal that refuses raw mode"
    with open(status) as f:
        assert f.read() == "2"
    with open(err, "rb") as f:
        lines = f.read().splitlines()
    assert lines == [prefix + b"the terminal refused raw mode"]
    assert after == before
    assert b"\x1b" not in shown
    assert elapsed < 3 * SLOW
