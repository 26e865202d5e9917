"""The Windows program's terminal path under wine, without any window: on a pty
(tmux), wine's console reports the pane's size; standard output that is no console
is drawn on at 80 x 24 cells. The question draws on the pane, is answered by keys
read through the console (Enter "yes", Esc "no"; the file chooser's cursor keys,
which a console reports without a character), and exits with status 0 after
putting the terminal's modes back. Through a pipe the picture is cell for cell the
Linux program's; keys from a redirected input answer too, and an input that ends
ends the run with status 2 instead of waiting for ever.

What wine's console does, seen with winpeer's record reader: Esc arrives as a key
press of virtual key 27 without a character (after a pause in which wine waits for
more of a sequence), Enter with the character 10 or 13, Left without a character.
Escape sequences written to a console on a pty are passed on, but wine counts
their bytes as columns and breaks lines where it thinks a row is full, so the
picture drawn straight on wine's console is torn; the same bytes through a pipe
are not."""
import os
import subprocess
import time

import pytest

from termpane import halfblocklook, parsepane, shellquote, tmuxserver, waitfor
from winepeer import PROGRAM, TESTAPP, WINPEER, desk, have_tools, maketree, windowspath  # noqa: F401 (desk)

pytestmark = pytest.mark.skipif(not have_tools() or not os.path.exists(PROGRAM),
                                reason="needs wine, tmux and the Windows program built")

LINUXPROGRAM = os.path.join(os.path.dirname(os.environ.get("KZV_BUILD", "")), "linux-x86_64",
                            "velkra-linux-x86_64")
HALFBLOCK = "\u2584"
CELLS = {"KZVTERM_CXS": "1", "KZVTERM_CYS": "2"}
RESTORE = b"\x1b[?25h\x1b[0m\x1b[999;1f\x1b[?1003l\x1b[?7h\n"


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    return maketree(tmp_path_factory.mktemp("contree"))


def winecommand(desk, program, args, env=None):
    """A shell line running the program under wine in the foreground of the pane, so
    that wine's console owns the pty (a background job could not read it)."""
    names = ("WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "DISPLAY")
    settings = ["%s=%s" % (n, desk.env[n]) for n in names] + ["%s=%s" % kv for kv in (env or {}).items()]
    return "env " + shellquote(settings) + " timeout --foreground 60 wine " + shellquote([program] + args)


class Pane:
    """One shell line typed into a shell in a tmux pane of its own (the shell stays,
    so the pane's last screen and modes can be read); its exit status lands in a file."""

    def __init__(self, tmp_path, columns, rows, line):
        self.status = tmp_path / "status"
        self.server = tmuxserver(tmp_path, columns, rows)
        self.server.run("%s; echo $? > %s" % (line, self.status))

    def rowswith(self, text):
        return [row for row in self.server.capture(colours=False).split("\n") if text in row]

    def drawnrows(self):
        """Rows showing the picture: a half block, or a blank on a colour (a cell
        of one colour goes out as a blank; erased cells are left out of a capture)."""
        grid = parsepane(self.server.capture(), 1000, 1000)
        return [row for row in grid
                if any(ch == HALFBLOCK or (ch == " " and bg is not None) for ch, _, bg in row)]

    def wait_drawn(self, rows):
        waitfor(lambda: len(self.drawnrows()) >= rows, 60, "the question on the pane")

    def finish(self):
        waitfor(lambda: self.status.exists() and self.status.read_text().strip(), 60, "the end of the run")
        return int(self.status.read_text())

    def close(self):
        self.server.close()


@pytest.fixture
def panes():
    opened = []
    yield opened
    for p in opened:
        p.close()


def open_pane(panes, tmp_path, columns, rows, line):
    tmp_path.mkdir(parents=True, exist_ok=True)
    p = Pane(tmp_path, columns, rows, line)
    panes.append(p)
    return p


@pytest.mark.parametrize("redirect,expected", [("", "100x30 terminal"), (" | cat", "80x24 unsized")],
                         ids=["console", "pipe"])
def test_size_of_the_console(desk, panes, tmp_path, redirect, expected):
    p = open_pane(panes, tmp_path, 100, 30, winecommand(desk, TESTAPP, ["size"]) + redirect)
    assert p.finish() == 0
    assert p.rowswith(expected), p.server.capture(colours=False)


@pytest.mark.parametrize("key,answer", [("Enter", "yes"), ("Escape", "no")])
def test_question_on_the_console(desk, panes, tmp_path, key, answer):
    """Drawn straight on wine's console: the pixels reach the pane (torn by wine's
    line breaks), the key comes through the console reader, the answer is the
    last line, and the cursor, auto-wrap and mouse reports are back as they were."""
    p = open_pane(panes, tmp_path, 100, 30, winecommand(desk, PROGRAM, ["yesno", "-text=Go on?"], CELLS))
    p.wait_drawn(20)
    time.sleep(0.5)
    p.server.type(key)
    assert p.finish() == 0
    # The answer is written over the start of the picture's last row.
    assert [row for row in p.server.text().split("\n")
            if row.startswith(answer) and set(row[len(answer):]) <= {HALFBLOCK, " "}]
    restored = {"cursor": True, "wrap": True, "mouse": False}
    waitfor(lambda: p.server.paneflags() == restored, 10, "the modes put back: %s" % p.server.paneflags())


@pytest.mark.parametrize("args,keys,answer", [
    (["yesno"], ["Enter"], b"yes"),
    (["yesno"], ["Escape"], b"no"),
    (["file", "-folder=%s"], ["Down", "Down", "Enter"], b"%s/c.png"),
    (["file", "-folder=%s"], ["Down", "Up", "Enter"], b"%s/a.txt"),
], ids=["Enter", "Esc", "Down Down", "Down Up"])
def test_keys_from_the_console(desk, panes, tmp_path, tree, args, keys, answer):
    """Keys typed on wine's console while the picture goes to a file: the answer is
    the last line before the restore sequence."""
    folder = windowspath(tree)
    args = [a % folder if "%s" in a else a for a in args]
    out = tmp_path / "out"
    p = open_pane(panes, tmp_path, 100, 30, winecommand(desk, PROGRAM, args, CELLS) + " > %s" % out)
    waitfor(lambda: out.exists() and out.stat().st_size > 2000, 60, "the picture")
    time.sleep(0.5)
    for k in keys:
        p.server.type(k)
        time.sleep(0.2)
    assert p.finish() == 0
    data = out.read_bytes()
    expected = (answer % folder.encode() if b"%s" in answer else answer) + b"\n" + RESTORE
    assert data.endswith(expected), data[-200:]


def test_picture_through_a_pipe_is_the_linux_one(desk, panes, tmp_path):
    """Standard output that is no console gets the picture at 80 x 24 cells, the
    bytes untouched: on an 80 x 24 pane it is cell for cell what the Linux program
    draws there."""
    if not os.path.exists(LINUXPROGRAM):
        pytest.skip("the Linux program is not built beside this build")
    args = ["yesno", "-text=Go on?"]
    linux = open_pane(panes, tmp_path / "linux", 80, 24, "env %s %s" % (
        shellquote(["%s=%s" % kv for kv in CELLS.items()]), shellquote([LINUXPROGRAM] + args)))
    windows = open_pane(panes, tmp_path / "windows", 80, 24,
                        "{ %s; echo $? > %s; } | cat" % (winecommand(desk, PROGRAM, args, CELLS),
                                                        tmp_path / "windows" / "piped"))
    pictures = []
    for p in (linux, windows):
        p.wait_drawn(24)
        time.sleep(1.0)
        pictures.append(halfblocklook(parsepane(p.server.capture(), 80, 24)))
    assert pictures[0] == pictures[1]
    windows.server.type("Enter")
    waitfor(lambda: (tmp_path / "windows" / "piped").exists() and (tmp_path / "windows" / "piped").read_text(),
            60, "the end of the run")
    assert (tmp_path / "windows" / "piped").read_text().strip() == "0"
    assert windows.rowswith("yes")
    linux.server.type("Enter")


@pytest.mark.parametrize("keys,code,answer,error", [
    (b"\r", 0, b"yes", b""),
    (b"\x1b", 0, b"no", b""),
    (b"", 2, None, b"exit: the input has ended\n"),
], ids=["Enter", "Esc", "nothing"])
def test_keys_from_a_redirected_input(desk, tmp_path, keys, code, answer, error):
    """Keys from a pipe are read byte by byte; when it ends with no answer given, no
    key can come any more and the run ends instead of waiting."""
    p = desk.start(PROGRAM, ["yesno"], env=dict(desk.env, **CELLS), stdin=subprocess.PIPE)
    status, out, err = desk.wait(p, 60, keys)
    assert status == code and err == error, (status, err)
    assert out.startswith(b"\x1b[?7l\x1b[?25l\x1b[?1003h") and HALFBLOCK.encode() in out
    assert out.endswith(RESTORE)
    if answer:
        assert out.endswith(answer + b"\n" + RESTORE)


def test_console_key_records(desk, panes, tmp_path):
    """What wine's console gives a reader of its records: the facts the reader
    thread relies on (Esc may come without its character; the cursor keys always do)."""
    out = tmp_path / "keys"
    p = open_pane(panes, tmp_path, 100, 30, winecommand(desk, WINPEER, ["consolekeys", "30000"]) + " > %s" % out)
    waitfor(lambda: out.exists() and out.read_text().startswith("console"), 60, "the reader")
    time.sleep(0.5)
    # Wine holds a lone ESC for a while: a key typed within it would make one
    # Alt-modified press of the two.
    for k in ("Enter", "Escape", "Left", "q"):
        p.server.type(k)
        time.sleep(1.5)
    assert p.finish() == 0
    records = out.read_text().split("\n")
    assert records[0] == "console"
    keys = [tuple(int(v) for v in r.split()[1:]) for r in records if r.startswith("key ")]
    presses = [k for k in keys if k[0] in (13, 27, 37, 81)]
    assert [k[0] for k in presses] == [13, 27, 37, 81], records
    assert presses[0][1] in (10, 13) and presses[1][1] in (0, 27) and presses[2][1] == 0 and presses[3][1] == 113
