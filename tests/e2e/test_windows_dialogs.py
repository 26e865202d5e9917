"""The Windows program under wine on Xvfb: every dialog opens as a GDI window
with its title (the file chooser's client area exactly 750 x 550, the message
box drawn as the Linux program draws it), is answered with keys and clicks made
through XTEST (xdotool), and prints exactly the answer the Linux program prints
for the same keys, in the Windows program's own path form (/z/... for wine's
drive Z:), with exit status 0. Paths with blanks, quotes, backslashes before
quotes, non-ASCII letters and emoji survive the command line (raw command lines
handed over by CreateProcessW, split as wine's own CommandLineToArgvW splits
them) and the UTF-16 conversions; the clipboard text of a real X selection owner
(xclip) arrives through command 161; a deliberate fault prints the exception line
on standard error."""
import os
import subprocess
import time

import pytest

from winepeer import PROGRAM, TESTAPP, WINPEER, WineDesktop, have_tools, wait_for, windowspath

pytestmark = pytest.mark.skipif(not have_tools() or not os.path.exists(PROGRAM),
                                reason="needs wine, Xvfb, xdotool, xwininfo, xwd and the Windows program built")

LINUXPROGRAM = os.path.join(os.path.dirname(os.environ.get("KZV_BUILD", "")), "linux-x86_64",
                            "velkra-linux-x86_64")
BOX = (300, 100)
CHOOSER = (750, 550)
YES, NO, OK = (80, 79), (220, 79), (150, 79)
CHOOSEROK, CHOOSERCANCEL = (615, 528), (135, 528)
SMILE = "\U0001F600"


def filerow(i):
    return (400, 66 + 18 * i)


@pytest.fixture(scope="module")
def desk():
    d = WineDesktop()
    yield d
    d.close()


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    root = tmp_path_factory.mktemp("wintree")
    for name in ("alpha", "beta"):
        (root / name).mkdir()
    (root / "beta" / "inside.txt").write_text("in beta")
    for name in ("a.txt", "b.md", "c.png"):
        (root / name).write_text(name)
    odd = root / ("my dir caf\u00e9 " + SMILE)
    odd.mkdir()
    (odd / ("\u00e9t\u00e9 " + SMILE + ".txt")).write_text("x")
    return root


@pytest.fixture(scope="module")
def frame(desk):
    """The offset of a captioned window's client area in its X window, and the X
    window's extra width and height, found by locating the Linux program's picture
    of the message box in the Windows program's window: the two must match."""
    if not os.path.exists(LINUXPROGRAM):
        pytest.skip("the Linux program is not built beside this build")
    args = ["info", "-text=Hello from both"]
    linux = subprocess.Popen([LINUXPROGRAM] + args, env=desk.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        wid = desk.findwindow("info")
        assert wid, "the Linux program shows no window"
        time.sleep(0.5)
        x, y, w, h = wid[1:]
        reference = desk.screenshot().crop((x, y, x + w, y + h))
    finally:
        linux.kill()
        linux.communicate()
    wait_for(lambda: not desk.findwindow("info", 0.1), 5)
    d = Dialog(desk, args)
    wx, wy, ww, wh = d.find("info")
    time.sleep(0.5)
    shot = desk.screenshot().crop((wx, wy, wx + ww, wy + wh))
    found = None
    for dy in range(0, wh - BOX[1] + 1):
        for dx in range(0, ww - BOX[0] + 1):
            if shot.crop((dx, dy, dx + BOX[0], dy + BOX[1])).tobytes() == reference.tobytes():
                found = (dx, dy)
                break
        if found:
            break
    d.keys("Escape")
    assert d.finish() == (0, b"", b"")
    assert reference.size == BOX
    assert found, "the Windows program's message box differs from the Linux program's"
    return found[0], found[1], ww - BOX[0], wh - BOX[1]


class Dialog:
    def __init__(self, desk, args):
        self.desk = desk
        self.proc = desk.start(PROGRAM, args)
        self.window = None
        self.client = (0, 0)

    def find(self, title, size=None, frame=None):
        found = self.desk.findwindow(title)
        assert found, "no window %r; %s" % (title, self.finish(5))
        self.window = found[1:]
        if frame:
            self.client = (frame[0], frame[1])
        return self.window

    def point(self, px, py):
        # No --sync: it waits for a motion, and none comes when the pointer is
        # there already (the last dialog's window stood at the same place).
        x, y, _, _ = self.window
        self.desk.tool("xdotool", "mousemove", str(x + self.client[0] + px), str(y + self.client[1] + py))
        time.sleep(0.05)

    def keys(self, *keys):
        self.point(5, 5)
        for k in keys:
            self.desk.tool("xdotool", "key", k)

    def click(self, px, py, count=1):
        self.point(px, py)
        self.desk.tool("xdotool", "click", "--repeat", str(count), "--delay", "80", "1")

    def finish(self, seconds=20):
        try:
            out, err = self.proc.communicate(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
            return "timeout", out, err
        return self.proc.returncode, out, err


def run(desk, frame, args, title, keys=(), clicks=()):
    d = Dialog(desk, args)
    d.find(title, frame=frame)
    time.sleep(0.3)                 # the first frame is drawn
    if keys:
        d.keys(*keys)
    for where, count in clicks:
        d.click(*where, count=count)
    return d.finish()


def line(path):
    return (0, (windowspath(path) + "\n").encode(), b"")


def test_windows_and_their_client_areas(desk, frame, tree):
    for args, title, size in ((["file", "-folder=%s" % windowspath(tree)], "choose file", CHOOSER),
                              (["dir", "-folder=%s" % windowspath(tree)], "choose file", CHOOSER),
                              (["yesno"], "question", BOX), (["info", "-text=x"], "info", BOX)):
        d = Dialog(desk, args)
        x, y, w, h = d.find(title)
        assert (w - frame[2], h - frame[3]) == size, (args, (w, h), frame)
        d.keys("Escape")
        code, out, err = d.finish()
        assert code == 0 and err == b"", (args, code, err)


def test_question_keys_and_clicks(desk, frame):
    for keys, clicks, answer in ((("Return",), (), b"yes\n"), (("Escape",), (), b"no\n"),
                                 ((), ((YES, 1),), b"yes\n"), ((), ((NO, 1),), b"no\n")):
        got = run(desk, frame, ["yesno", "-text=Go on?"], "question", keys, clicks)
        assert got == (0, answer, b""), (keys, clicks)


def test_message_box(desk, frame):
    for keys, clicks in ((("Return",), ()), ((), ((OK, 1),))):
        assert run(desk, frame, ["info", "-text=Copied 3 files"], "info", keys, clicks) == (0, b"", b"")


def test_file_chooser(desk, frame, tree):
    folder = ["file", "-folder=%s" % windowspath(tree)]
    cases = [
        (("Return",), (), line(tree / "a.txt")),
        (("Down", "Down", "Return"), (), line(tree / "c.png")),
        ((), ((filerow(1), 2),), line(tree / "b.md")),
        ((), ((filerow(2), 1), (CHOOSEROK, 1)), line(tree / "c.png")),
        ((), ((CHOOSERCANCEL, 1),), (0, b"", b"")),
        (("Escape",), (), (0, b"", b"")),
        (("Left", "Down", "Return", "Right", "Return"), (), line(tree / "beta" / "inside.txt")),
    ]
    for keys, clicks, expected in cases:
        assert run(desk, frame, folder, "choose file", keys, clicks) == expected, (keys, clicks)


def test_folder_chooser(desk, frame, tree):
    folder = ["dir", "-folder=%s" % windowspath(tree)]
    for keys, clicks, expected in ((("Return",), (), line(tree)), ((), ((CHOOSEROK, 1),), line(tree)),
                                   (("Escape",), (), (0, b"", b""))):
        assert run(desk, frame, folder, "choose file", keys, clicks) == expected, (keys, clicks)


def test_non_ascii_and_emoji_paths(desk, frame, tree):
    odd = tree / ("my dir caf\u00e9 " + SMILE)
    inside = odd / ("\u00e9t\u00e9 " + SMILE + ".txt")
    assert run(desk, frame, ["file", "-folder=%s" % windowspath(odd)], "choose file", ("Return",)) == line(inside)
    assert run(desk, frame, ["dir", "-folder=%s" % windowspath(odd)], "choose file", ("Return",)) == line(odd)


def argvlines(text):
    """The runs of the output: each a list of words, ended by "--"."""
    runs, words = [], []
    for row in text.splitlines():
        if row == "--":
            runs.append(words)
            words = []
        else:
            words.append(row)
    return runs


def test_raw_command_lines_split_as_the_system_splits_them(desk, tmp_path):
    """Each raw line goes whole to the test application through CreateProcessW; its
    argument record must hold what wine's CommandLineToArgvW makes of the line."""
    app = "kzvtestapp"
    lines = [
        '"C:\\Program Files\\kzvtestapp" args file',
        'kzvtestapp.exe args',
        'kzvtestapp args "-folder=/z/tmp/my dir" -dirmode',
        'kzvtestapp args -folder="C:/my dir" x',
        'kzvtestapp args "a\\"b" c\\\\"d e" f',
        'kzvtestapp args "back\\\\\\\\" \\\\\\"q',
        'kzvtestapp args "a""b" """c""" d"""e',
        'kzvtestapp args \t tab\tsep  ',
        'kzvtestapp args "caf\u00e9 \u20ac" ' + SMILE + ' "' + SMILE + ' x"',
        'kzvtestapp args "" end',
    ]
    commands = tmp_path / "lines.txt"
    commands.write_text("\n".join(lines) + "\n", encoding="utf-8")
    code, out, err = desk.run(WINPEER, ["split", windowspath(commands)])
    assert code == 0, err
    expected = argvlines(out.decode("utf-8"))
    code, out, err = desk.run(WINPEER, ["run", app + ".exe", windowspath(commands)],
                              cwd=os.path.dirname(TESTAPP))
    assert code == 0, err
    got = []
    for run_ in argvlines(out.decode("utf-8")):
        got.append(["[%s]" % w[len("argv="):] for w in run_ if w.startswith("argv=")])
    assert len(expected) == len(lines) and len(got) == len(lines), (expected, got)
    for raw, want, have in zip(lines, expected, got):
        assert have == want, raw
    assert expected[2] == ["[args]", "[-folder=/z/tmp/my dir]", "[-dirmode]"]
    assert expected[0] == ["[args]", "[file]"]


def test_clipboard_text_from_an_x_owner(desk):
    text = "clip caf\u00e9 " + SMILE
    owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-loops", "10"], env=desk.env,
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        owner.stdin.write(text.encode("utf-8"))
        owner.stdin.close()
        time.sleep(0.3)
        got = wait_for(lambda: (lambda r: r if r[1].strip() == text.encode("utf-8") else None)(
            desk.run(WINPEER, ["clipboard"])), 10, 0.2)
        assert got and got[0] == 0, got
    finally:
        owner.kill()
        owner.wait()


def test_a_fault_prints_the_exception_line(desk):
    env = dict(desk.env, WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d")
    code, out, err = desk.run(WINPEER, ["fault"], env=env)
    assert code != 0
    lines = err.decode("utf-8", "replace").splitlines()
    assert any(l.startswith("c0000005@") and len(l) == 17 for l in lines), lines[:5]


def test_gdi_back_end_unit_tests_on_the_x_server(desk):
    """The GDI back-end's own unit tests need real windows, so they run here."""
    code, out, err = desk.run(os.path.join(os.path.dirname(PROGRAM), "test_windows_gdi.exe"), [])
    text = err.decode("utf-8", "replace")
    assert code == 0 and " passed, 0 failed" in text, text[-3000:]


@pytest.mark.parametrize("args,refusal", [
    (["file", "-filter=" + "*" * 512], b"-filter is longer than 511 bytes"),
    (["yesno", "-textfile=" + "t" * 768], b"-textfile is longer than 767 bytes"),
    (["dir", "-folder=" + "/" * 600], b"-folder is longer than 511 bytes"),
])
def test_refused_options_end_with_status_2(desk, args, refusal):
    """A refused option ends before any window with one line and status 2, as on Linux."""
    code, out, err = desk.run(PROGRAM, args)
    lines = err.splitlines()
    assert code == 2 and out == b"" and len(lines) == 1, (code, out, err)
    assert lines[0].endswith(b": " + refusal), lines
