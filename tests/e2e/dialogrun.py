"""Runs the velkra program of the build under test as a user would: in a shell of
a detached tmux pane, its answer taken with x=$(...), keys and xterm mouse reports
typed into the pane, and the terminal's settings compared before and after. Also
plain runs without a terminal for the paths that end before any window opens."""
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import tempfile
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

# The terminal of the dialogs. Without a graphic viewer the terminal back-end shows
# its pixel screen as half-block cells, one pixel a column and two a row, so cells
# of 1 x 2 pixels make the 320 x 150 pane a 320 x 300 pixel screen: the choosers
# fill it (their 750 x 550 is cut to the screen) and the message boxes sit in its
# middle. Mouse reports carry each coordinate in one byte (33 + the cell), so only
# columns and rows below 223 can be clicked.
CELLX = 1
CELLY = 2
COLUMNS = 320
ROWS = 150
NODISPLAY = ":4711"
SCREENX = COLUMNS * CELLX
SCREENY = ROWS * CELLY


def unprivileged():
    """Words that run a command without root's power over file permissions: none
    for a user that has none, setpriv to nobody for root. Files such a run must
    reach lie in a folder from `sharedfolder`."""
    if os.geteuid() != 0:
        return []
    if not shutil.which("setpriv"):
        pytest.skip("setpriv is not installed")
    return ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


@pytest.fixture
def sharedfolder():
    """A folder every user can reach (the test's own tmp_path may be private to root)."""
    path = tempfile.mkdtemp(prefix="kzvshared-", dir="/tmp")
    os.chmod(path, 0o755)
    yield pathlib.Path(path)
    for root, dirs, files in os.walk(path):
        os.chmod(root, 0o755)
    shutil.rmtree(path, ignore_errors=True)


def windoworigin(window):
    """Where the back-end places a window of window = (w, h): centred, cut to the screen."""
    w, h = min(window[0], SCREENX), min(window[1], SCREENY)
    return (SCREENX - w) // 2, (SCREENY - h) // 2


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
    # A display number nobody serves: with DISPLAY unset the program would try the
    # default display, which a test of the X11 client may be running just then.
    base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.environ.get("HOME", "/"),
            "DISPLAY": NODISPLAY}
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
    assert column < 223 and row < 223, "a mouse report cannot reach that cell"
    return bytes([27, ord("["), ord("M"), 32 + button, 33 + column, 33 + row])


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

    def sendraw(self, data):
        """Bytes into the pane as they are (also bytes above 127)."""
        self.tmux("send-keys", "-H", *("%02x" % b for b in data))

    def termwrite(self, data):
        """Bytes into the pane's terminal as a program's output would go, such as
        the modes an earlier program leaves set."""
        fd = os.open(self.tty, os.O_WRONLY | os.O_NOCTTY)
        try:
            os.write(fd, data)
        finally:
            os.close(fd)

    def keymodes(self):
        """Application cursor keys and application keypad, as tmux keeps them."""
        cursor, keypad = self.tmux("display-message", "-p", "#{keypad_cursor_flag} #{keypad_flag}").split()
        return {"cursor": cursor == "1", "keypad": keypad == "1"}

    def cell(self, window, x, y):
        """The cell whose centre the back-end reports as the point nearest (x, y)
        of the window: column * CELLX + CELLX / 2 and row * CELLY + CELLY / 2."""
        x0, y0 = windoworigin(window)
        return (x0 + x) // CELLX, (y0 + y) // CELLY

    def click(self, window, x, y, count=1):
        """Left clicks at (x, y) of the window: press and release over that cell,
        `count` times in one burst (a double click is 2)."""
        column, row = self.cell(window, x, y)
        self.sendraw((mousereport(0, column, row) + mousereport(3, column, row)) * count)

    def wheel(self, window, x, y, down, count=1):
        column, row = self.cell(window, x, y)
        self.sendraw(mousereport(65 if down else 64, column, row) * count)

    def start(self, args, env=None, name=None, cwd=None, redirect=False, stdout=None, wrapper=()):
        """Starts the program from a script run by the pane's shell: x=$(program
        args), or with its standard output sent to a file (redirect), or where
        `stdout` says: a shell redirection (">/dev/full", ">&-") or "|" for a pipe
        whose reader has gone. The script writes the status, the captured answer
        and the terminal settings after the run into files. Arguments may be bytes
        (names that are no UTF-8); `wrapper` goes in front of the program's words."""
        self.runs += 1
        n = self.runs
        self.files = {k: self.workdir / ("%s%d" % (k, n)) for k in ("out", "err", "rc", "stty")}
        env = dict(env or {})
        env.setdefault("KZVTERM_CXS", str(CELLX))
        env.setdefault("KZVTERM_CYS", str(CELLY))
        q = lambda a: shlex.quote(os.fsdecode(a) if isinstance(a, bytes) else str(a))
        assigns = " ".join("%s=%s" % (k, q(v)) for k, v in env.items())
        argv = " ".join(q(a) for a in list(wrapper) + command(args, name))
        f = {k: q(v) for k, v in self.files.items()}
        if stdout == "|":
            run = "{ env %s %s 2>%s; echo $? >%s.tmp; } | true; : >%s" % (assigns, argv, f["err"], f["rc"],
                                                                          f["out"])
        elif stdout:
            run = "env %s %s %s 2>%s; echo $? >%s.tmp; : >%s" % (assigns, argv, stdout, f["err"], f["rc"],
                                                                 f["out"])
        elif redirect:
            run = "env %s %s >%s 2>%s; echo $? >%s.tmp" % (assigns, argv, f["out"], f["err"], f["rc"])
        else:
            run = ("x=$(env %s %s 2>%s); echo $? >%s.tmp; printf '%%s' \"$x\" >%s"
                   % (assigns, argv, f["err"], f["rc"], f["out"]))
        where = "cd %s\n" % q(cwd) if cwd else ""
        script = "%s%s\nstty -g >%s\nmv %s.tmp %s\n" % (where, run, f["stty"], f["rc"], f["rc"])
        path = self.workdir / ("run%d.sh" % n)
        path.write_bytes(os.fsencode(script))
        self.before = self.stty()
        # The screen is cleared first, so a frame left by an earlier run is not
        # taken for this one's.
        self.sendbytes("printf '\\033[H\\033[2J'; sh " + shlex.quote(str(path)))
        self.send("Enter")

    def framed(self, seconds=10):
        """The dialog has drawn its first frame: the pane shows cells (half blocks,
        or blanks where both halves have one colour) in some colour besides the
        screen's background (the colour of the back-end's first, empty flush: a
        blue too dark to count in half blocks, so black), and they stay the same
        for a moment."""
        background = {"\x1b[30m", "\x1b[40m", "\x1b[34m", "\x1b[44m"}
        def drawn():
            shot = self.screen(escapes=True)
            if set(re.findall("\x1b\\[[0-9;]*m", shot)) <= background:
                return False
            time.sleep(0.2)
            return self.screen(escapes=True) == shot
        return waitfor(drawn, seconds)

    def finished(self, seconds=10):
        return waitfor(lambda: self.files["rc"].exists(), seconds)

    def result(self, seconds=10):
        """(answer, stderr, status, terminal restored) once the run has ended; the
        terminal counts as restored when its settings are those from before the
        run and its cursor is shown again."""
        assert self.finished(seconds), "the dialog did not end"
        out = self.files["out"].read_bytes()
        err = self.files["err"].read_bytes()
        rc = int(self.files["rc"].read_text().strip())
        after = self.files["stty"].read_text().strip()
        # tmux may still be reading the program's last bytes (the cursor shown
        # again) when the shell has already written the status.
        return out, err, rc, after == self.before and bool(waitfor(self.cursorvisible, 2))
