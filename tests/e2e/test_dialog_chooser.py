"""The file and folder choosers in a real terminal (tmux), driven as a user would:
the start folder (given, ".", with a trailing slash, "/"), the filter list
"*.txt,*.md", -showhidden, entering folders and going up with the keyboard,
scrolling a long folder with keys and the wheel, Enter, a double click, OK,
Cancel and Esc, pointer moves from a graphic terminal's viewer (a folder entered
by a click, the file list's thumb dragged), accepting with nothing selected, and
a link named choosedir, and a start folder that cannot be listed (the chooser
opens empty and one line on standard error names it). Each run checks exactly
what x=$(...) captured, the status, standard error (empty unless said) and the
terminal as it was."""
import glob
import os
import struct
import time

import pytest

from dialogrun import dialogpane, mousereport, prefix, program, sharedfolder, unprivileged, waitfor  # noqa: F401

# The chooser's 750 x 550 is cut to the 320 x 300 screen. Its widget then lies at
# (10, 10), 300 x 220: the folder list is 100 wide, the lists start 45 below the
# widget's top and hold 9 rows 19 pixels apart. OK (60, 265) and Cancel (10, 265),
# 250 x 28 each, overlap; OK, added first, takes clicks where both lie.
WINDOW = (750, 550)
OKBUTTON = (150, 279)
CANCELBUTTON = (30, 279)


def filerow(i):
    """A point in visible file row i."""
    return (200, 10 + 45 + 2 + 19 * i + 9)


def folderrow(i):
    """A point in visible folder row i."""
    return (50, 10 + 45 + 2 + 19 * i + 9)


@pytest.fixture
def pane(tmp_path):
    p = dialogpane(tmp_path)
    yield p
    p.close()


@pytest.fixture
def tree(tmp_path):
    root = tmp_path / "tree"
    root.mkdir()
    for name in ("alpha", "beta"):
        (root / name).mkdir()
    (root / "beta" / "inside.txt").write_text("in beta")
    for name in ("a.txt", "b.md", "c.png", "D.TXT", ".hidden.txt"):
        (root / name).write_text(name)
    (tmp_path / "empty").mkdir()
    return root


def choose(pane, args, *keys, clicks=(), cwd=None, name=None, waitafter=None):
    pane.start(args, cwd=cwd, name=name)
    assert pane.framed(), "no frame on the screen"
    for k in keys:
        pane.send(k)
    for where, count in clicks:
        pane.click(WINDOW, *where, count=count)
    return pane.result()


def ok(path):
    return (str(path).encode(), b"", 0, True)


NOTHING = (b"", b"", 0, True)


def test_start_folder_and_enter(pane, tree):
    assert choose(pane, ["file", "-folder=" + str(tree)], "Enter") == ok(tree / "a.txt")
    assert choose(pane, ["file"], "Enter", cwd=tree) == ok(tree / "a.txt")
    assert choose(pane, ["file", "-folder=" + str(tree) + "/"], "Enter") == ok(str(tree) + "//a.txt")


def test_filter_list_and_hidden(pane, tree):
    assert choose(pane, ["file", "-folder=" + str(tree), "-filter=*.txt,*.md"],
                  "Down", "Down", "Enter") == ok(tree / "D.TXT")
    assert choose(pane, ["file", "-folder=" + str(tree), "-filter=*.png"], "Enter") == ok(tree / "c.png")
    assert choose(pane, ["file", "-folder=" + str(tree), "-showhidden"], "Enter") == ok(tree / ".hidden.txt")
    assert choose(pane, ["file", "-folder=" + str(tree), "-filter=*.TXT"], "Down", "Enter") == ok(tree / "D.TXT")


def test_enter_folders_and_go_up(pane, tree):
    # Left puts the keyboard in the folder list at its first row; Enter enters.
    assert choose(pane, ["file", "-folder=" + str(tree)],
                  "Left", "Down", "Enter", "Right", "Enter") == ok(tree / "beta" / "inside.txt")
    assert choose(pane, ["file", "-folder=" + str(tree / "beta")], "BSpace", "Enter") == ok(tree / "a.txt")
    assert choose(pane, ["file", "-folder=" + str(tree / "alpha")],
                  "BSpace", "Left", "Down", "Enter", "Right", "Enter") == ok(tree / "beta" / "inside.txt")


def test_dir_up_icon(pane, tree):
    """A click on the "dir up" icon at the widget's top left goes to the parent."""
    pane.start(["file", "-folder=" + str(tree / "beta")])
    assert pane.framed()
    pane.click(WINDOW, 25, 20)
    pane.send("Down")
    pane.send("Enter")
    assert pane.result() == ok(tree / "b.md")


def test_mouse_double_click_ok_and_cancel(pane, tree):
    folder = ["file", "-folder=" + str(tree)]
    assert choose(pane, folder, clicks=[(filerow(1), 2)]) == ok(tree / "b.md")
    assert choose(pane, folder, "Down", "Down", clicks=[(OKBUTTON, 1)]) == ok(tree / "c.png")
    assert choose(pane, folder, clicks=[(filerow(3), 1), (OKBUTTON, 1)]) == ok(tree / "D.TXT")
    assert choose(pane, folder, clicks=[(CANCELBUTTON, 1)]) == NOTHING
    assert choose(pane, folder, "Escape") == NOTHING


# The back-end reads the pointer file before the keys in each step, so a move and
# a button report that arrived in one step would be taken out of order: each is
# given time to be taken on its own.
SETTLE = 0.5


def graphicchooser(workdir, args):
    """The chooser on a graphic terminal: KZVTERM_TMP names a folder where the
    screen goes out as image files and where the viewer appends the pointer's
    moves to "tuimouse" as little-endian u16 pairs in screen pixels. Cells of
    2 x 2 pixels make the 160 x 150 pane a 320 x 300 screen, as elsewhere, and a
    click on cell (c, r) lands on pixel (2c + 1, 2r + 1)."""
    workdir.mkdir()
    shared = workdir / "shared"
    shared.mkdir()
    (shared / "tuimouse").write_bytes(b"")
    pane = dialogpane(workdir, columns=160, rows=150)
    pane.start(args, env={"KZVTERM_CXS": "2", "KZVTERM_CYS": "2", "KZVTERM_TMP": str(shared)})
    assert waitfor(lambda: glob.glob(str(shared / "tuiimg_*")), 10), "no frame went out"
    time.sleep(0.3)
    return pane, shared


def pointer(shared, x, y):
    with open(shared / "tuimouse", "ab") as f:
        f.write(struct.pack("<HH", x, y))
    time.sleep(SETTLE)


def button(pane, report, x, y):
    pane.sendraw(mousereport(report, x // 2, y // 2))
    time.sleep(SETTLE)


def test_pointer_moves_enter_a_folder_and_drag_the_thumb(tmp_path, tree):
    """Pointer moves from a graphic terminal's viewer: over a folder row they put
    the cursor there and a click enters that folder; with the button held on the
    file list's thumb they drag it, which pulls the highlight into the rows shown,
    and Enter answers the highlighted file, not the one selected before the drag.
    The track is 171 pixels for 100 files: the press lands 4 pixels into the thumb
    (widget y 51), and 86 pixels down the first row shown is 86 * 100 / 171 = 50."""
    pane, shared = graphicchooser(tmp_path / "first", ["file", "-folder=" + str(tree)])
    try:
        x, y = folderrow(1)
        pointer(shared, x + 1, y + 1)
        button(pane, 0, x, y)
        button(pane, 3, x, y)
        pane.send("Enter")
        assert pane.result() == ok(tree / "beta" / "inside.txt")
    finally:
        pane.close()
    many = tmp_path / "many"
    many.mkdir()
    for i in range(100):
        (many / ("f%03d" % i)).write_text("")
    pane, shared = graphicchooser(tmp_path / "second", ["file", "-folder=" + str(many)])
    try:
        track = 10 + 290
        button(pane, 0, track, 10 + 51)
        pointer(shared, track + 1, 10 + 51 + 86)
        button(pane, 3, track, 10 + 51 + 86)
        pane.send("Enter")
        assert pane.result() == ok(many / "f050")
    finally:
        pane.close()


def test_long_folder_scrolls(pane, tmp_path):
    many = tmp_path / "many"
    many.mkdir()
    for i in range(100):
        (many / ("f%03d" % i)).write_text("")
    keys = ["Down"] * 60 + ["Enter"]
    assert choose(pane, ["file", "-folder=" + str(many)], *keys) == ok(many / "f060")
    pane.start(["file", "-folder=" + str(many)])
    assert pane.framed()
    pane.wheel(WINDOW, 200, 150, down=True, count=30)
    pane.wheel(WINDOW, 200, 150, down=False, count=3)
    pane.send("Enter")
    assert pane.result() == ok(many / "f027")


def test_accept_with_nothing_selected(pane, tree, tmp_path):
    """An empty file list ignores the accept and stays open; the folder chooser
    answers the folder it shows."""
    pane.start(["file", "-folder=" + str(tmp_path / "empty")])
    assert pane.framed()
    pane.send("Enter")
    pane.click(WINDOW, *OKBUTTON)
    assert not waitfor(pane.finished, 1), "the chooser ended on an empty accept"
    pane.send("Escape")
    assert pane.result() == NOTHING
    assert choose(pane, ["dir", "-folder=" + str(tmp_path / "empty")], "Enter") == ok(tmp_path / "empty")
    assert choose(pane, ["file", "-folder=" + str(tree), "-filter=*.none"], "Enter", "Escape") == NOTHING


def test_folder_chooser(pane, tree, tmp_path):
    assert choose(pane, ["dir", "-folder=" + str(tree)], "Enter") == ok(tree)
    assert choose(pane, ["file", "-dirmode", "-folder=" + str(tree)], "Down", "Enter") == ok(tree)
    assert choose(pane, ["dir", "-folder=" + str(tree)],
                  "Left", "Down", "Enter", "Right", "Enter") == ok(tree / "beta")
    assert choose(pane, ["dir", "-folder=" + str(tree)], clicks=[(OKBUTTON, 1)]) == ok(tree)
    assert choose(pane, ["dir", "-folder=/"], "Enter") == ok("/")
    assert choose(pane, ["dir", "-folder=" + str(tree)], "Escape") == NOTHING
    link = tmp_path / "choosedir"
    link.symlink_to(os.path.abspath(program()))
    assert choose(pane, ["-folder=" + str(tree / "alpha")], "Enter", name=str(link)) == ok(tree / "alpha")


@pytest.mark.parametrize("sizes", [["-height=10"], ["-height=140"], ["-width=100000", "-height=100000"],
                                   ["-width=300", "-height=200"], ["-width=1", "-height=1"]],
                         ids=lambda s: " ".join(s))
def test_odd_sizes(pane, tree, sizes):
    """Sizes below 300 x 200 are raised to it (the lists keep a row); larger ones are
    cut to the screen."""
    assert choose(pane, ["file", "-folder=" + str(tree)] + sizes, "Down", "Enter") == ok(tree / "b.md")


def test_folder_that_cannot_be_listed(pane, sharedfolder):
    closed = sharedfolder / "closed"
    closed.mkdir()
    (closed / "a.txt").write_text("a")
    closed.chmod(0o311)                 # entered, but not listed
    note = prefix() + b"-folder " + bytes(closed) + b": the folder cannot be listed\n"
    for args, key, answer in [(["file"], "Escape", b""), (["dir"], "Enter", bytes(closed))]:
        pane.start(args + ["-folder=" + str(closed)], wrapper=unprivileged())
        assert pane.framed(), "no frame on the screen"
        pane.send(key)
        assert pane.result() == (answer, note, 0, True), args
