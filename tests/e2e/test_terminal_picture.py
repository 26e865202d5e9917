"""The terminal display in a real terminal (tmux): the pane shows exactly the
screen the program drew, as half-block cells (one pixel a column, two a row; a
blank on the erased terminal looks as a half block of its colour),
both for a window that fills the screen and for a framed one; and with the answer
captured by x=$(...) the UI still shows in the pane while x gets only the answer."""
import os
import signal

import pytest

from termpane import (SLOW, demo_command, halfblocklook, halfblocks, needsraw, parsepane, readdump,
                      readlog, readyline, shellquote, tmuxserver, waitfor)

COLUMNS, ROWS = 80, 24


@pytest.fixture
def pane(tmp_path):
    server = tmuxserver(tmp_path, COLUMNS, ROWS)
    yield server
    server.close()


def startdemo(pane, tmp_path, *args, capture=False):
    log = str(tmp_path / "log.txt")
    dump = str(tmp_path / "screen.raw")
    words = demo_command(log, *args, "--dump", dump)
    run = "KZVTERM_CXS=1 KZVTERM_CYS=2 " + shellquote(words)
    if capture:
        run = "x=$(%s); printf '[%%s]\\n' \"$x\" > %s" % (run, shellquote([str(tmp_path / "out.txt")]))
    pane.run("clear; " + run)
    ready = readyline(log)
    waitfor(lambda: os.path.exists(dump) and os.path.getsize(dump) >= 8, 10 * SLOW, "the dump")
    return log, dump, ready


def shownpane(pane, expected):
    """The pane once it shows the expected cells (the terminal draws a little later
    than the dump is written)."""
    def matches():
        grid = halfblocklook(parsepane(pane.capture(), COLUMNS, ROWS))
        return grid if all(e is None or grid[r][c] == e for r, line in enumerate(expected)
                           for c, e in enumerate(line)) else None
    try:
        return waitfor(matches, 10 * SLOW, "the picture")
    except AssertionError:
        return halfblocklook(parsepane(pane.capture(), COLUMNS, ROWS))


def stop(ready):
    os.kill(ready["pid"], signal.SIGTERM)


def test_full_screen_window_is_the_picture(pane, tmp_path):
    log, dump, ready = startdemo(pane, tmp_path)
    assert (ready["screenwidth"], ready["screenheight"]) == (COLUMNS, 2 * ROWS)
    assert (ready["x"], ready["y"], ready["width"], ready["height"]) == (0, 0, COLUMNS, 2 * ROWS)
    width, height, rows = readdump(dump)
    expected = halfblocks(width, height, rows, COLUMNS, ROWS)
    grid = shownpane(pane, expected)
    stop(ready)
    mismatches = [(r, c, grid[r][c], expected[r][c]) for r in range(ROWS) for c in range(COLUMNS)
                  if grid[r][c] != expected[r][c]]
    assert mismatches == []
    # What the demo draws, independently of the dump: black border, red bar along
    # the top, a green and a blue box, white ground (0 black, 1 red, 2 green, 4 blue,
    # 7 white; the lower pixel is the foreground).
    block = "\u2584"
    assert grid[0][40] == (block, 1, 0)           # border row above the red bar
    assert grid[1][40] == (block, 1, 1)
    assert grid[4][5] == (block, 2, 2)
    assert grid[4][18] == (block, 4, 4)
    assert grid[12][40] == (block, 7, 7)
    assert grid[23][40] == (block, 0, 7)          # white above the bottom border
    assert grid[12][0] == (block, 0, 0)           # left border
    # "Hi" in black on white, and nowhere else inside the border.
    ink = {(r, c) for r in range(1, 23) for c in range(1, 79)
           if grid[r][c][1] == 0 or grid[r][c][2] == 0}
    assert ink and all(3 <= r <= 10 and 28 <= c < 44 for r, c in ink)


def test_framed_window_is_the_picture(pane, tmp_path):
    log, dump, ready = startdemo(pane, tmp_path, 40, 12)
    assert (ready["x"], ready["y"], ready["width"], ready["height"]) == (20, 18, 40, 12)
    width, height, rows = readdump(dump)
    expected = halfblocks(width, height, rows, COLUMNS, ROWS)
    grid = shownpane(pane, expected)
    stop(ready)
    assert [(r, c) for r in range(ROWS) for c in range(COLUMNS) if grid[r][c] != expected[r][c]] == []
    # The frame around the 40 x 12 window at (20, 18), independently of the dump: the
    # screen's ground (a blue too dark to count: 0), the blue title bar (4), the light
    # border (7) two pixels out, the close box's white outlines; inside, the demo's
    # own black border and red bar.
    block = "\u2584"
    assert grid[2][5] == (block, 0, 0)
    assert grid[6][30] == (block, 4, 4)           # title bar, pixel rows 12 and 13
    assert grid[15][18] == (block, 7, 7)          # left border, pixel rows 30 and 31
    assert grid[15][40] == (block, 7, 0)          # bottom border below a ground row
    assert grid[10][61] == (block, 7, 7)          # right border
    assert grid[7][45] == (block, 7, 7)           # close box outlines, rows 14 and 15
    assert grid[9][40] == (block, 1, 0)           # window border above the red bar
    assert grid[10][20] == (block, 0, 0)          # window's left border
    assert grid[12][25] == (block, 2, 2)          # green box


@needsraw
def test_captured_answer_keeps_the_ui_in_the_pane(pane, tmp_path):
    log, dump, ready = startdemo(pane, tmp_path, capture=True)
    width, height, rows = readdump(dump)
    expected = halfblocks(width, height, rows, COLUMNS, ROWS)
    grid = shownpane(pane, expected)
    assert grid == expected
    pane.type("q")
    out = tmp_path / "out.txt"
    waitfor(lambda: out.exists() and out.read_text() != "", 10 * SLOW, "the answer")
    assert out.read_text() == "[termdemo done]\n"
    assert any(l.startswith("event 174 113 0") for l in readlog(log))
