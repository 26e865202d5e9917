"""The file and folder choosers in a real terminal (tmux), driven as a user would:
the start folder (given, ".", with a trailing slash, "/"), the filter list
"*.txt,*.md", -showhidden, entering folders and going up with the keyboard,
scrolling a long folder with keys and the wheel, Enter, a double click, OK,
Cancel and Esc, accepting with nothing selected, and a link named choosedir.
Each run checks exactly what x=$(...) captured, the status, an empty standard
error and the terminal as it was."""
import os

import pytest

from dialogrun import dialogpane, program, waitfor

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
