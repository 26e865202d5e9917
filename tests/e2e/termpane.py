"""Helpers for the terminal tests: a tmux server of the test's own (a shell, or one
command that the pane outlives), the termdemo driver of the build under test, and
a reader of `capture-pane -e` that turns the pane back into cells (character,
foreground, background)."""
import os
import re
import shutil
import struct
import subprocess
import time

import pytest

BUILD = os.environ.get("KZV_BUILD", "")
EMULATOR = [part for part in os.environ.get("KZV_EMULATOR", "").split(";") if part]
DEMO = os.path.join(BUILD, "termdemo")
SLOW = 4 if EMULATOR else 1

# Raw mode is set with the old termio requests, which qemu-user passes on
# half-translated, so keys wait for a line end there: the raw-terminal tests run on
# the native builds only.
needsraw = pytest.mark.skipif(bool(EMULATOR), reason="qemu-user mistranslates TCSETA")


def demo_command(*args):
    if not os.path.exists(DEMO):
        pytest.skip("termdemo is not built in " + (BUILD or "(KZV_BUILD unset)"))
    if not shutil.which("tmux"):
        pytest.skip("tmux is not installed")
    return EMULATOR + [DEMO] + [str(a) for a in args]


def shellquote(words):
    return " ".join("'" + w.replace("'", "'\\''") + "'" for w in words)


class tmuxserver:
    """One tmux server on a socket of its own, with one window of the given size
    running /bin/sh with a fixed prompt, or the shell command `command` (the pane
    stays after it ends, so that its last screen can be read)."""

    def __init__(self, tmpdir, columns=80, rows=24, command=None):
        self.socket = os.path.join(str(tmpdir), "tmux.sock")
        self.columns, self.rows = columns, rows
        env = dict(os.environ, PS1="$ ", TERM="xterm-256color", ENV="")
        env.pop("TMUX", None)
        self.env = env
        run = ["/bin/sh"] + (["-c", command] if command else [])
        self.tmux("-f", "/dev/null", "new-session", "-d", "-s", "t", "-x", str(columns),
                  "-y", str(rows), *run)
        if command:
            self.tmux("set-option", "-t", "t", "remain-on-exit", "on")
        self.tmux("set-option", "-g", "status", "off")
        self.tmux("set-option", "-g", "escape-time", "0")
        self.tmux("resize-window", "-t", "t", "-x", str(columns), "-y", str(rows))

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket] + list(args), env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True,
                              timeout=30).stdout.decode("utf-8", "replace")

    def type(self, *keys):
        self.tmux("send-keys", "-t", "t", *keys)

    def run(self, line):
        self.tmux("send-keys", "-t", "t", "-l", line)
        self.tmux("send-keys", "-t", "t", "Enter")

    def capture(self, colours=True):
        return self.tmux("capture-pane", "-t", "t", "-p", "-N", *(["-e"] if colours else []))

    def text(self):
        """The pane's text with its history: lines the restore scrolled out count."""
        return self.tmux("capture-pane", "-t", "t", "-p", "-S", "-200")

    def paneflags(self):
        """Cursor shown, auto-wrap on and any mouse reporting, as tmux keeps them."""
        cursor, wrap, anymouse, allmouse = self.flags(["cursor_flag", "wrap_flag", "mouse_any_flag",
                                                       "mouse_all_flag"])
        return {"cursor": cursor == "1", "wrap": wrap == "1",
                "mouse": anymouse == "1" or allmouse == "1"}

    def flags(self, names):
        """tmux's values of the named pane variables, as strings."""
        return self.tmux("display-message", "-p", "-t", "t",
                         " ".join("#{%s}" % n for n in names)).split()

    def dead(self):
        return self.flags(["pane_dead"]) == ["1"]

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


def waitfor(predicate, timeout=10, what="the condition"):
    start = time.monotonic()
    while time.monotonic() - start < timeout:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def readlog(path):
    """The log's complete lines: the demo may be half-way through writing the last one."""
    try:
        with open(path, "r") as f:
            return f.read().split("\n")[:-1]
    except FileNotFoundError:
        return []


def readyline(path, timeout=20):
    """The demo's first log line as numbers: x, y, width, height, screen w, h, pid."""
    line = waitfor(lambda: [l for l in readlog(path) if l.startswith("ready ")], timeout * SLOW,
                   "the demo to be ready")[0]
    x, y, w, h, sw, sh, pid = (int(v) for v in line.split()[1:])
    return {"x": x, "y": y, "width": w, "height": h, "screenwidth": sw, "screenheight": sh,
            "pid": pid}


def events(path):
    return [tuple(int(v) for v in l.split()[1:]) for l in readlog(path) if l.startswith("event ")]


SGR = re.compile(r"\x1b\[([0-9;]*)m")


def parsepane(captured, columns, rows):
    """Cells of a `capture-pane -e -N` text: (character, fg, bg), colours as palette
    indices or None for the terminal's default."""
    grid = []
    fg = bg = None              # tmux carries the attributes from one line to the next
    for line in captured.split("\n")[:rows]:
        cells = []
        i = 0
        while i < len(line):
            m = SGR.match(line, i)
            if m:
                fg, bg = applysgr(m.group(1), fg, bg)
                i = m.end()
                continue
            cells.append((line[i], fg, bg))
            i += 1
        cells += [(" ", None, None)] * (columns - len(cells))
        grid.append(cells[:columns])
    while len(grid) < rows:
        grid.append([(" ", None, None)] * columns)
    return grid


def applysgr(text, fg, bg):
    params = [int(p) if p else 0 for p in text.split(";")] if text else [0]
    i = 0
    while i < len(params):
        p = params[i]
        if p == 0:
            fg = bg = None
        elif 30 <= p <= 37:
            fg = p - 30
        elif 90 <= p <= 97:
            fg = p - 90 + 8
        elif 40 <= p <= 47:
            bg = p - 40
        elif 100 <= p <= 107:
            bg = p - 100 + 8
        elif p in (38, 48) and i + 2 < len(params) and params[i + 1] == 5:
            if p == 38:
                fg = params[i + 2]
            else:
                bg = params[i + 2]
            i += 2
        elif p == 39:
            fg = None
        elif p == 49:
            bg = None
        i += 1
    return fg, bg


def readdump(path):
    """The screen the demo dumped: width, height and rows of 0xRRGGBB words."""
    with open(path, "rb") as f:
        data = f.read()
    width, height = struct.unpack_from("<II", data, 0)
    words = struct.unpack_from("<%dI" % (width * height), data, 8)
    return width, height, [words[y * width:(y + 1) * width] for y in range(height)]


def colour3(rgb):
    """The 3-bit colour of a half-block cell: red 1, green 2, blue 4 for each
    channel of at least half intensity (0x80)."""
    return sum(bit for bit, shift in ((1, 16), (2, 8), (4, 0)) if (rgb >> shift) & 0xFF >= 0x80)


def halfblocklook(grid, erased=0):
    """The cells as they look in a half-block picture: a blank shows its
    background in both halves, as a half block of that colour does. The program
    erases the terminal to colour ERASED and sends only the cells that look
    different; tmux keeps an erased cell's colour but leaves the erased cells at a
    line's end out of its capture, so a blank without colours is an erased one."""
    def look(ch, fg, bg):
        if ch != " ":
            return (ch, fg, bg)
        colour = erased if bg is None and fg is None else bg
        return ("\u2584", colour, colour) if colour is not None else (ch, fg, bg)
    return [[look(*cell) for cell in line] for line in grid]


def halfblocks(width, height, rows, columns, panerows):
    """The cells a screen of one pixel a column and two a row shows: the lower
    pixel as the foreground of U+2584, the upper one as the background."""
    grid = []
    for r in range(panerows):
        line = []
        for c in range(columns):
            if c < width and 2 * r + 1 < height:
                line.append(("\u2584", colour3(rows[2 * r + 1][c]), colour3(rows[2 * r][c])))
            else:
                line.append(None)
        grid.append(line)
    return grid
