"""Runs the velkra program of the build under test as a user would: in a shell of
a detached tmux pane, its answer taken with x=$(...), keys and xterm mouse reports
typed into the pane, and the terminal's settings compared before and after. Also
plain runs without a terminal for the paths that end before any window opens."""
import os
import shlex
import shutil
import subprocess
import time

import pytest

BUILD = os.environ.get("KZV_BUILD", "")
TARGET = os.environ.get("KZV_TARGET", "linux")
ARCH = os.environ.get("KZV_ARCH", "x86_64")
SUFFIX = os.environ.get("KZV_SUFFIX", "linux-" + ARCH)
EMULATOR = [part for part in os.environ.get("KZV_EMULATOR", "").split(";") if part]
PROGRAM = os.path.join(BUILD, "velkra-" + SUFFIX)
SLOW = 8 if EMULATOR else 1
# qemu-user passes TCSETA on half-translated, so raw mode never takes effect under
# it and keys would wait for a line end: the terminal dialogs are skipped there.
RAWWORKS = not EMULATOR

# The terminal of the dialogs: 75 x 67 cells of 16 x 12 pixels make a 1200 x 804
# pixel screen that holds the 750 x 550 chooser. Every cell stays below column and
# row 95, so each coordinate of a mouse report is one byte below 128.
CELLX = 16
CELLY = 12
COLUMNS = 75
ROWS = 67
SCREENX = COLUMNS * CELLX
SCREENY = ROWS * CELLY


def program():
    if not os.path.exists(PROGRAM):
        pytest.skip("velkra is not built in " + (BUILD or "(KZV_BUILD unset)"))
    if EMULATOR and not shutil.which(EMULATOR[0]):
        pytest.skip(EMULATOR[0] + " is not installed")
    return PROGRAM


def command(args, name=None):
    """The argument vector; `name` runs the program through a link of that name."""
    return EMULATOR + [name or program()] + [a if isinstance(a, bytes) else str(a) for a in args]


def prefix():
    """What diagnostics begin with: the program's name, then ": "."""
    return os.path.basename(PROGRAM).encode() + b": "


def plainrun(args, env=None, name=None, timeout=30, stdin=subprocess.DEVNULL):
    """A run without a terminal (no controlling tty either): stdout, stderr, status."""
    base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.environ.get("HOME", "/")}
    base.update(env or {})
    p = subprocess.run(command(args, name), env=base, stdin=stdin, capture_output=True,
                       timeout=timeout * SLOW, start_new_session=True)
    return p.stdout, p.stderr, p.returncode


def waitfor(test, seconds):
    end = time.time() + seconds * SLOW
    while time.time() < end:
        value = test()
        if value:
            return value
        time.sleep(0.03)
    return test()


def mousereport(button, column, row):
    """An xterm X10 report: button code, then column and row counted from 1, each + 32."""
    return "\x1b[M" + chr(32 + button) + chr(33 + column) + chr(33 + row)


class dialogpane:
    """One tmux server with one pane of COLUMNS x ROWS running a shell."""

    def __init__(self, workdir, columns=COLUMNS, rows=ROWS):
        if not shutil.which("tmux"):
            pytest.skip("tmux is not installed")
        if not RAWWORKS:
            pytest.skip("raw terminal input does not work under qemu-user")
        self.workdir = workdir
        self.socket = "kzvdialog-%d-%d" % (os.getpid(), int(time.time() * 1000000) % 10000000)
        self.columns, self.rows = columns, rows
        self.tmux("-f", "/dev/null", "new-session", "-d", "-x", str(columns), "-y", str(rows),
                  "-c", str(workdir), "sh")
        self.tmux("set-option", "-g", "status", "off")
        self.tmux("resize-window", "-x", str(columns), "-y", str(rows))
        self.tty = self.tmux("display-message", "-p", "#{pane_tty}").strip()
        self.runs = 0

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), check=True,
                              capture_output=True, text=True).stdout

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)

    def stty(self):
        return subprocess.run(["stty", "-g", "-F", self.tty], check=True,
                              capture_output=True, text=True).stdout.strip()

    def screen(self, escapes=False):
        return self.tmux("capture-pane", "-p", *(["-e"] if escapes else []))

    def cursorvisible(self):
        return self.tmux("display-message", "-p", "#{cursor_flag}").strip() == "1"

    def send(self, *keys):
        self.tmux("send-keys", *keys)

    def sendbytes(self, text):
        self.tmux("send-keys", "-l", text)

    def click(self, window, x, y, count=1):
        """Left clicks at (x, y) of a window whose size is window = (w, h) and that
        is centred on the screen: press and release in the cell over that point,
        `count` times in one burst (a double click is 2)."""
        column = (SCREENX - window[0]) // 2 + x
        row = (SCREENY - window[1]) // 2 + y
        column, row = column // CELLX, row // CELLY
        assert column < 95 and row < 95, "a mouse report byte would not be ASCII"
        self.sendbytes((mousereport(0, column, row) + mousereport(3, column, row)) * count)

    def wheel(self, window, x, y, down, count=1):
        column = ((SCREENX - window[0]) // 2 + x) // CELLX
        row = ((SCREENY - window[1]) // 2 + y) // CELLY
        self.sendbytes(mousereport(65 if down else 64, column, row) * count)

    def start(self, args, env=None, name=None, cwd=None, redirect=False):
        """Starts the program from the pane's shell: x=$(program args), or with its
        standard output sent to a file (redirect). The shell writes the status, the
        captured answer and the terminal settings after the run into files."""
        self.runs += 1
        n = self.runs
        self.files = {k: self.workdir / ("%s%d" % (k, n)) for k in ("out", "err", "rc", "stty")}
        env = dict(env or {})
        env.setdefault("KZVTERM_CXS", str(CELLX))
        env.setdefault("KZVTERM_CYS", str(CELLY))
        assigns = " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in env.items())
        argv = " ".join(shlex.quote(a) for a in command(args, name))
        f = {k: shlex.quote(str(v)) for k, v in self.files.items()}
        if redirect:
            run = "env %s %s >%s 2>%s; echo $? >%s.tmp" % (assigns, argv, f["out"], f["err"], f["rc"])
        else:
            run = ("x=$(env %s %s 2>%s); echo $? >%s.tmp; printf '%%s' \"$x\" >%s"
                   % (assigns, argv, f["err"], f["rc"], f["out"]))
        where = "cd %s && " % shlex.quote(str(cwd)) if cwd else ""
        line = "%s%s; stty -g >%s; mv %s.tmp %s" % (where, run, f["stty"], f["rc"], f["rc"])
        self.before = self.stty()
        self.sendbytes(line)
        self.send("Enter")

    def framed(self):
        """The dialog has drawn its first frame: the pane shows half-block cells."""
        return waitfor(lambda: "\u2580" in self.screen() or "\u2584" in self.screen(), 10)

    def finished(self, seconds=10):
        return waitfor(lambda: self.files["rc"].exists(), seconds)

    def result(self, seconds=10):
        """(answer, stderr, status, terminal restored) once the run has ended."""
        assert self.finished(seconds), "the dialog did not end; screen:\n" + self.screen()
        out = self.files["out"].read_bytes()
        err = self.files["err"].read_bytes()
        rc = int(self.files["rc"].read_text().strip())
        after = self.files["stty"].read_text().strip()
        return out, err, rc, after == self.before
