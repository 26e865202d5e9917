"""The dialogs on a real X server (Xvfb with a cookie in $XAUTHORITY, no
KZVTERM_CXS): the yes/no question, the message box and the file and folder
choosers open a mapped, centred window with their title, are answered with keys
and clicks made through XTEST (xdotool), and print exactly their answer. A
screenshot shows each dialog drawn (its face colour over the window, the icon's
colours and dark text where they belong). Also over TCP, at depth 16 on a screen
of odd width (the picture must match the depth-24 one, quantized), with a wrong
cookie, closed by a window manager's WM_DELETE_WINDOW, with the window destroyed
by another client, and with the X server killed mid-dialog. The servers are
fresh: the first XTEST key of a run makes Xvfb report a keyboard map change,
which must pass unremarked. A long -title keeps whole characters, and a keyboard
map changed while the question shows is obeyed at once."""
import os
import subprocess
import time

import pytest

from dialogrun import EMULATOR, PROGRAM, SLOW
from x11peer import XClient, XServer, have_x_tools, wait_for, windows

pytestmark = pytest.mark.skipif(not have_x_tools() or not os.path.exists(PROGRAM),
                                reason="needs Xvfb, xauth, xwininfo, xprop, xwd, xdotool and velkra built")

FACE = (224, 224, 224)
BOX = (300, 100)                      # the question and the message box
CHOOSER = (750, 550)
# Points in the windows, from their top left corner.
YES, NO, OK = (80, 79), (220, 79), (150, 79)
CHOOSEROK, CHOOSERCANCEL = (615, 528), (135, 528)


def filerow(i):
    """The middle of visible row i of the chooser's file list (rows of 18 pixels from 57)."""
    return (400, 66 + 18 * i)


@pytest.fixture(scope="module")
def server():
    s = XServer(depth=24, width=800, height=600)
    yield s
    s.close()


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    root = tmp_path_factory.mktemp("x11tree")
    for name in ("alpha", "beta"):
        (root / name).mkdir()
    (root / "beta" / "inside.txt").write_text("in beta")
    for name in ("a.txt", "b.md", "c.png"):
        (root / name).write_text(name)
    return root


class Dialog:
    """One velkra run on a server: its window found, input sent, its end collected."""

    def __init__(self, server, args, env=None):
        self.server = server
        self.proc = subprocess.Popen(EMULATOR + [PROGRAM] + list(args), env=env or server.env(),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.window = None

    def find(self, seconds=10):
        found = wait_for(lambda: self.proc.poll() is not None or [w for w in windows(self.server) if w[1]],
                         seconds * SLOW)
        assert found is not True and found, "no window; %s" % (self.finish(5),)
        self.window = found[0]
        return self.window

    def geometry(self):
        wid, name, w, h, x, y = self.window
        return x, y, w, h

    def drawn(self, seconds=10):
        """Waits until the window shows its face colour in most of it (the first frame is painted)."""
        x, y, w, h = self.geometry()

        def painted():
            shot = self.server.screenshot().crop((x, y, x + w, y + h))
            return shot if face_share(shot, self.server.depth) > 0.5 else None
        shot = wait_for(painted, seconds * SLOW, 0.05)
        assert shot, "the window was never painted"
        return shot

    def xdo(self, *args):
        return self.server.tool("xdotool", *args)

    def point(self, px, py):
        x, y, _, _ = self.geometry()
        target = (x + px, y + py)
        # A synced move to where the pointer already rests waits for a motion
        # that never comes (xdotool gives up after seconds), so it is skipped.
        if self.pointer() == target:
            return
        self.xdo("mousemove", "--sync", str(target[0]), str(target[1]))

    def pointer(self):
        fields = dict(line.split("=", 1) for line in
                      self.xdo("getmouselocation", "--shell").stdout.split() if "=" in line)
        try:
            return int(fields["X"]), int(fields["Y"])
        except (KeyError, ValueError):
            return None

    def keys(self, *keys):
        # The pointer rests in the window: without a window manager the focus
        # follows it (PointerRoot).
        self.point(5, 5)
        for k in keys:
            self.xdo("key", k)

    def click(self, px, py, count=1):
        self.point(px, py)
        self.xdo("click", "--repeat", str(count), "--delay", "60", "1")

    def finish(self, seconds=10):
        try:
            out, err = self.proc.communicate(timeout=seconds * SLOW)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
            return "timeout", out, err
        return self.proc.returncode, out, err


def face_share(image, depth=24):
    """The share of the image in the face colour; at depth 16 the server holds it
    as 5-6-5 bits, which the screenshot stretches back, so compare those bits."""
    pixels = list(image.getdata())
    if depth == 16:
        face = quantized([FACE])[0]
        return sum(1 for p in quantized(pixels) if p == face) / max(1, len(pixels))
    return sum(1 for p in pixels if p == FACE) / max(1, len(pixels))


def dark(image, box):
    """Pixels in box of the image much darker than the face: drawn text."""
    region = image.crop(box)
    return sum(1 for r, g, b in region.getdata() if r + g + b < 300)


def coloured(image, box):
    """Pixels in box that are not grey: an icon's colours."""
    region = image.crop(box)
    return sum(1 for r, g, b in region.getdata() if max(r, g, b) - min(r, g, b) > 40)


def check_window(server, dialog, title, size):
    wid, name, w, h, x, y = dialog.find()
    assert name == title
    assert (w, h) == size
    assert (x, y) == ((server.width - w) // 2, (server.height - h) // 2)       # centred
    info = server.tool("xwininfo", "-id", str(wid)).stdout
    assert "Map State: IsViewable" in info
    props = server.tool("xprop", "-id", str(wid), "WM_NAME").stdout
    assert props.strip() == 'WM_NAME(STRING) = "%s"' % title


def run(server, args, *keys, clicks=(), title=None, size=None, env=None):
    d = Dialog(server, args, env=env)
    if title:
        check_window(server, d, title, size)
    else:
        d.find()
    d.drawn()
    if keys:
        d.keys(*keys)
    for where, count in clicks:
        d.click(*where, count=count)
    return d.finish()


# ---- answers through XTEST ----

@pytest.mark.parametrize("word", ["yesno", "yes_no"])
def test_question_keys_and_clicks(server, word):
    cases = [(("Return",), (), b"yes\n"), (("Escape",), (), b"no\n"),
             ((), ((YES, 1),), b"yes\n"), ((), ((NO, 1),), b"no\n")]
    for keys, clicks, answer in cases:
        got = run(server, [word, "-text=Go on?"], *keys, clicks=clicks, title="question", size=BOX)
        assert got == (0, answer, b""), (keys, clicks)


def test_message_box_closes_with_nothing_printed(server):
    for keys, clicks in ((("Return",), ()), (("Escape",), ()), ((), ((OK, 1),))):
        got = run(server, ["info", "-text=Copied 3 files"], *keys, clicks=clicks, title="info", size=BOX)
        assert got == (0, b"", b""), (keys, clicks)


def test_window_sizes(server, tree):
    """Sizes asked for with -width/-height on the 800 x 600 screen: the message
    dialogs are never below 300 x 100 nor the choosers below 300 x 200, widths are
    made even, and a size beyond the screen is cut to it."""
    folder = "-folder=%s" % tree
    cases = [
        (["info", "-text=Hi", "-width=200", "-height=20"], "info", (300, 100), b""),
        (["yesno", "-width=751"], "question", (752, 100), b"no\n"),
        (["file", folder, "-width=751", "-height=401"], "choose file", (752, 401), b""),
        (["dir", folder, "-width=120", "-height=90"], "choose file", (300, 200), b""),
        (["file", folder, "-width=5000", "-height=5000"], "choose file", (800, 600), b""),
    ]
    for args, title, size, answer in cases:
        d = Dialog(server, args)
        check_window(server, d, title, size)
        d.drawn()
        d.keys("Escape")
        assert d.finish() == (0, answer, b""), args


def test_title_option(server):
    assert run(server, ["yesno", "-title=Delete the backup"], "Return", title="Delete the backup",
               size=BOX) == (0, b"yes\n", b"")


def test_long_title_keeps_whole_characters(server):
    # -title keeps its first 120 characters, and the window's names are exactly
    # those: valid UTF-8 however many bytes the characters take.
    for title in ("a" * 119 + "\u00e9", "a" * 120 + "\u00e9", "a" * 118 + "\U0001f600bc", "\u20ac" * 121):
        d = Dialog(server, ["yesno", "-title=" + title])
        wid = d.find()[0]
        client = XClient(server)
        try:
            names = [client.property(wid, name) for name in ("WM_NAME", "WM_ICON_NAME")]
        finally:
            client.close()
        d.drawn()
        d.keys("Escape")
        assert d.finish() == (0, b"no\n", b"")
        for raw in names:
            assert raw.decode("utf-8") == title[:120], (title, raw)


def test_file_chooser(server, tree):
    folder = ["file", "-folder=%s" % tree]
    line = lambda p: (0, (str(p) + "\n").encode(), b"")
    cases = [
        (("Return",), (), line(tree / "a.txt")),
        (("Down", "Down", "Return"), (), line(tree / "c.png")),
        ((), ((filerow(1), 2),), line(tree / "b.md")),                         # double click
        ((), ((filerow(2), 1), (CHOOSEROK, 1)), line(tree / "c.png")),
        ((), ((CHOOSERCANCEL, 1),), (0, b"", b"")),
        (("Escape",), (), (0, b"", b"")),
        # Left takes the keyboard to the folder list; Enter enters "beta".
        (("Left", "Down", "Return", "Right", "Return"), (), line(tree / "beta" / "inside.txt")),
    ]
    for keys, clicks, expected in cases:
        got = run(server, folder, *keys, clicks=clicks, title="choose file", size=CHOOSER)
        assert got == expected, (keys, clicks)


def test_folder_chooser(server, tree):
    folder = ["dir", "-folder=%s" % tree]
    line = lambda p: (0, (str(p) + "\n").encode(), b"")
    cases = [
        (("Return",), (), line(tree)),
        ((), ((CHOOSEROK, 1),), line(tree)),
        (("Left", "Down", "Return", "Right", "Return"), (), line(tree / "beta")),
        (("Escape",), (), (0, b"", b"")),
    ]
    for keys, clicks, expected in cases:
        got = run(server, folder, *keys, clicks=clicks, title="choose file", size=CHOOSER)
        assert got == expected, (keys, clicks)


RETURN, ESCAPE = 0xFF0D, 0xFF1B


def test_mapping_changes_while_a_question_shows():
    """The server's mappings change while the question shows. Return's key code
    made Escape answers "no", also when the key is pressed right behind the
    change, before a new map could have been read; a modifier or pointer change
    leaves Return as it was. No change is reported on standard error."""
    s = XServer(depth=24, width=640, height=480)
    client = XClient(s)
    try:
        key = client.keycode(RETURN)
        cases = [
            ("modifiers set again", client.modifiers_set_again, 0, b"yes\n"),
            ("pointer set again", client.pointer_set_again, 0, b"yes\n"),
            ("Return made Escape, key right behind", lambda: client.remap(key, ESCAPE), 0, b"no\n"),
            ("Return made Escape, key later", lambda: client.remap(key, ESCAPE), 0.5, b"no\n"),
        ]
        for i, (name, change, pause, answer) in enumerate(cases):
            d = Dialog(s, ["yesno"])
            d.find()
            d.drawn()
            d.point(5 + i, 5)           # a move to where the pointer is already would wait for nothing
            change()
            if pause:
                client.round_trip()
                time.sleep(pause)
            client.press(key)
            client.round_trip()
            assert d.finish() == (0, answer, b""), name
            client.remap(key, RETURN)
            client.round_trip()
    finally:
        client.close()
        s.close()


# ---- the picture ----

def test_screenshots_show_the_dialogs_drawn(server, tree):
    # (args, title, size, icon box, text box, more dark boxes) in window pixels.
    cases = [
        (["yesno", "-text=Are you sure?"], "question", BOX, (5, 5, 45, 45), (50, 10, 170, 35),
         [(30, 65, 130, 93), (170, 65, 270, 93)]),                             # the buttons' frames
        (["info", "-text=Hello there"], "info", BOX, (3, 3, 40, 40), (40, 8, 150, 30), [(25, 65, 275, 93)]),
        (["file", "-folder=%s" % tree], "choose file", CHOOSER, (10, 10, 42, 42), (48, 12, 200, 35),
         [(12, 58, 60, 92)]),                                                  # "alpha", "beta"
    ]
    for args, title, size, icon, text, more in cases:
        d = Dialog(server, args)
        check_window(server, d, title, size)
        shot = d.drawn()
        time.sleep(0.2)
        x, y, w, h = d.geometry()
        shot = server.screenshot().crop((x, y, x + w, y + h))
        assert face_share(shot) > 0.6, title
        assert coloured(shot, icon) > 100, (title, "no icon")
        assert dark(shot, text) > 50, (title, "no text")
        for box in more:
            assert dark(shot, box) > 20, (title, box)
        # The screen just outside the window stays black: the picture is where xwininfo says.
        around = server.screenshot()
        assert around.getpixel((x - 1, y - 1)) == (0, 0, 0) == around.getpixel((x + w, y + h))
        d.keys("Escape")
        assert d.finish()[0] == 0


def test_file_chooser_highlights_the_first_file(server, tree):
    d = Dialog(server, ["file", "-folder=%s" % tree])
    d.find()
    shot = d.drawn()
    time.sleep(0.2)
    x, y, w, h = d.geometry()
    shot = server.screenshot().crop((x, y, x + w, y + h))
    assert shot.getpixel((600, 66)) == (0, 0, 136)                            # the selection bar
    d.keys("Down")
    time.sleep(0.3)
    shot = server.screenshot().crop((x, y, x + w, y + h))
    assert shot.getpixel((600, 66)) != (0, 0, 136) and shot.getpixel((600, 84)) == (0, 0, 136)
    d.keys("Escape")
    assert d.finish() == (0, b"", b"")


# ---- connections and depths ----

def test_tcp_display(tree):
    s = XServer(depth=24, width=640, height=480, tcp=True)
    try:
        for display in ("localhost:%d" % s.number, "127.0.0.1:%d.0" % s.number):
            env = s.env(DISPLAY=display)
            assert run(s, ["yesno"], "Return", title="question", size=BOX, env=env) == (0, b"yes\n", b"")
            assert run(s, ["file", "-folder=%s" % tree], "Down", "Return", title="choose file",
                       size=(640, 480), env=env) == (0, ("%s/b.md\n" % tree).encode(), b"")
    finally:
        s.close()


def window_picture(server, args):
    d = Dialog(server, args)
    d.find()
    d.drawn()
    time.sleep(0.2)
    x, y, w, h = d.geometry()
    shot = server.screenshot().crop((x, y, x + w, y + h))
    return d, shot


def quantized(pixels):
    """Pixels reduced to the 5-6-5 bits a depth-16 screen keeps."""
    return [(r >> 3, g >> 2, b >> 3) for r, g, b in pixels]


def test_depth16_odd_width_matches_depth24(tree):
    """A screen 641 wide cuts a window asked 100000 wide to 641 pixels: an odd width,
    whose 16-bit rows need padding. The picture must equal the depth-24 one."""
    pictures = {}
    for depth in (24, 16):
        s = XServer(depth=depth, width=641, height=481)
        try:
            for args in (["yesno", "-width=100000"], ["info", "-text=Odd width", "-width=100000"],
                         ["file", "-folder=%s" % tree]):
                d, shot = window_picture(s, args)
                assert shot.size[0] == 641, shot.size
                pictures[depth, args[0]] = shot
                d.keys("Escape")
                status, out, err = d.finish()
                assert (status, err) == (0, b""), (depth, args)
                assert out == (b"no\n" if args[0] == "yesno" else b"")
        finally:
            s.close()
    for word in ("yesno", "info", "file"):
        # The window draws in its own 5-6-5 format, and its blend truncates each
        # of its two products to the field, so where it blends (icons, smoothed
        # text, rounded corners) a channel may land up to two steps below the
        # quantized depth-24 pixel. A skewed row moves whole edges: text on the
        # face differs by twenty steps and more.
        a, b = quantized(pictures[24, word].getdata()), quantized(pictures[16, word].getdata())
        bad = [i for i in range(len(a)) if max(abs(p - q) for p, q in zip(a[i], b[i])) > 2]
        assert not bad, "%s: %d pixels differ, first at %s" % (word, len(bad), divmod(bad[0], 641)[::-1])


def test_wrong_cookie_is_one_line_and_status_2(server, tmp_path):
    wrong = tmp_path / "wrong"
    wrong.write_bytes(b"")
    subprocess.run(["xauth", "-q", "-f", str(wrong), "add", ":%d" % server.number, "MIT-MAGIC-COOKIE-1",
                    "00" * 16], check=True)
    for word in ("yesno", "file"):
        p = subprocess.run(EMULATOR + [PROGRAM, word], env=server.env(XAUTHORITY=str(wrong)),
                           capture_output=True, timeout=10 * SLOW)
        assert p.returncode == 2 and p.stdout == b""
        assert len(p.stderr.splitlines()) == 1 and p.stderr.endswith(b"\n"), p.stderr


# ---- ends from outside ----

def test_window_manager_close_request(server, tree):
    for args, title in ((["yesno"], "question"), (["info", "-text=Done"], "info"),
                        (["file", "-folder=%s" % tree], "choose file"), (["dir"], "choose file")):
        d = Dialog(server, args)
        wid = d.find()[0]
        assert d.window[1] == title
        d.drawn()
        client = XClient(server)
        client.send_delete_window(wid)
        client.close()
        assert d.finish() == (0, b"", b""), args
        assert not [w for w in windows(server) if w[1] == title]


def test_window_destroyed_by_another_client(server, tree):
    # xdotool windowclose destroys the window outright: the dialog ends as by its
    # close box, and says nothing about the window it no longer has.
    for args, title in ((["yesno"], "question"), (["info", "-text=Done"], "info"),
                        (["file", "-folder=%s" % tree], "choose file")):
        d = Dialog(server, args)
        wid = d.find()[0]
        assert d.window[1] == title
        d.drawn()
        assert d.xdo("windowclose", str(wid)).returncode == 0
        assert d.finish() == (0, b"", b""), args


@pytest.mark.parametrize("transport", ["unix", "tcp"])
@pytest.mark.parametrize("word", ["yesno", "file"])
def test_server_killed_mid_dialog(transport, word):
    s = XServer(depth=24, width=640, height=480, tcp=transport == "tcp")
    display = (":%d" if transport == "unix" else "localhost:%d") % s.number
    try:
        d = Dialog(s, [word], env=s.env(DISPLAY=display))
        d.find()
        d.drawn()
        start = time.monotonic()
        s.kill()
        status, out, err = d.finish(10)
        took = time.monotonic() - start
    finally:
        s.close()
    assert status == 2 and out == b""
    assert took < 2.0 * SLOW, took
    assert len(err.splitlines()) == 1, err
