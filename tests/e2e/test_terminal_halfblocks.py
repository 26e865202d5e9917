"""The real dialog program on the terminal display without a graphic viewer, in a
real terminal (tmux): its pixel screen goes out as half-block cells of 3-bit
colours, and the dark anti-aliased text on the light grey face must come out
black on white, readable, with the buttons' outlines: a channel counts from half
intensity up. When every nonzero channel counted, the grey edges of the glyphs
turned white and the text fell apart into a few black specks. A cell of one
colour goes out as a blank on that colour: the pane must still show, cell by
cell, the screen the same dialog writes as an image file for a graphic terminal."""
import os
import signal
import time

import pytest

import kzvreader
from termpane import EMULATOR, SLOW, halfblocklook, halfblocks, parsepane, shellquote, tmuxserver, waitfor

BUILD = os.environ.get("KZV_BUILD", "")
SUFFIX = os.environ.get("KZV_SUFFIX", "linux-" + os.environ.get("KZV_ARCH", "x86_64"))
PROGRAM = os.path.join(BUILD, "velkra-" + SUFFIX)
COLUMNS, ROWS = 320, 150            # cells of 1 x 2 pixels: a 320 x 300 pixel screen
BLACK, BLUE, WHITE = 0, 4, 7


def pixels(captured):
    """The screen the pane shows, one palette index a pixel: the background of a
    half-block cell is its upper pixel, the foreground its lower one."""
    grid = parsepane(captured, COLUMNS, ROWS)
    rows = []
    for line in grid:
        upper, lower = [], []
        for ch, fg, bg in line:
            upper.append(bg)
            lower.append(fg if ch == "\u2584" else bg)
        rows += [upper, lower]
    return rows


def bands(rows):
    """Runs of pixel rows that hold black, as (first, last) pairs."""
    found, start = [], None
    for y, row in enumerate(rows + [[]]):
        if BLACK in row and start is None:
            start = y
        elif BLACK not in row and start is not None:
            found.append((start, y - 1))
            start = None
    return found


@pytest.mark.skipif(not os.path.exists(PROGRAM), reason="velkra is not built")
@pytest.mark.skipif(bool(EMULATOR), reason="qemu-user mistranslates TCSETA")
def test_dialog_text_is_black_on_white(tmp_path):
    run = "KZVTERM_CXS=1 KZVTERM_CYS=2 exec %s yesno -text='Delete all files?'" % shellquote([PROGRAM])
    pane = tmuxserver(tmp_path, COLUMNS, ROWS, run)
    try:
        def settled():
            shot = pane.capture()
            if "\u2584" not in shot or "\x1b[47m" not in shot and "\x1b[37m" not in shot:
                return None
            time.sleep(0.3)
            return shot if pane.capture() == shot else None
        screen = pixels(waitfor(settled, 10 * SLOW, "the dialog"))
    finally:
        pane.close()
    # The face: inside the light border (the outermost white, two pixels out) and
    # below the blue title bar.
    white = [(y, x) for y, row in enumerate(screen) for x, v in enumerate(row) if v == WHITE]
    top, bottom = min(y for y, _ in white), max(y for y, _ in white)
    left, right = min(x for _, x in white), max(x for _, x in white)
    titlebar = max(y for y in range(top, bottom) if BLUE in screen[y][left:right])
    face = [row[left + 2:right - 1] for row in screen[titlebar + 1:bottom - 1]]
    counts = {v: sum(row.count(v) for row in face) for v in (BLACK, WHITE)}
    assert counts[WHITE] > 20000
    # Whole letters and outlines, not specks: several per cent of the face is ink.
    assert counts[BLACK] > counts[WHITE] * 3 // 100, counts
    # The question (with its icon) and the buttons below it are separate bands of
    # ink; the buttons' band runs from outline to outline.
    inkbands = [b for b in bands(face) if b[1] - b[0] >= 8]
    assert len(inkbands) >= 2, bands(face)
    question, buttons = inkbands[0], inkbands[-1]
    assert buttons[0] > question[1]
    assert buttons[1] - buttons[0] >= 16, buttons


def settledframe(shared):
    """The newest image file once the program has stopped writing them, read by the
    independent reader: the screen as the program drew it, one 0xRRGGBB a pixel."""
    def files():
        found = sorted((p.stat().st_mtime_ns, p.name, p.stat().st_size) for p in shared.iterdir()
                       if p.name.startswith("tuiimg_"))
        return found or None

    def stable():
        before = files()
        time.sleep(0.3)
        return before if before and files() == before else None
    newest = waitfor(stable, 10 * SLOW, "the image files")[-1][1]
    image = kzvreader.readfile(str(shared / newest))
    return image.width, image.height, [[rgbword(image.rgba(x, y)) for x in range(image.width)]
                                       for y in range(image.height)]


def stop(pane):
    """Ends the program the pane runs (after exec it is the pane's process) by its
    pid, then the tmux server."""
    if not pane.dead():
        pid = int(pane.flags(["pane_pid"])[0])
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    pane.close()


def rgbword(rgba):
    r, g, b, _ = rgba
    return r << 16 | g << 8 | b


SHOWN_COLUMNS, SHOWN_ROWS = 320, 100    # the question and the message box fit whole
SHOWN = [
    ("question", ["yesno", "-text=Delete all files?"]),
    ("message box", ["info", "-text=Hello"]),
    ("file chooser", ["file", "-folder=FOLDER"]),
]


@pytest.mark.skipif(not os.path.exists(PROGRAM), reason="velkra is not built")
@pytest.mark.skipif(bool(EMULATOR), reason="qemu-user mistranslates TCSETA")
@pytest.mark.parametrize("name,args", SHOWN, ids=[name for name, _ in SHOWN])
def test_pane_shows_the_screen_cell_by_cell(tmp_path, name, args):
    # The same dialog twice at one size: once with a graphic terminal's directory,
    # where its screen goes out whole as an image file, and once as half blocks in
    # the pane. Every cell of the pane, a blank included, must show the colours of
    # its two pixels of that screen: a blank's background stands for both.
    folder = tmp_path / "folder"
    folder.mkdir()
    for n in ("a.txt", "b.md", "c.txt"):
        (folder / n).write_text("")
    words = shellquote([PROGRAM] + [a.replace("FOLDER", str(folder)) for a in args])
    shared, graphicdir, blockdir = tmp_path / "shared", tmp_path / "graphic", tmp_path / "blocks"
    for d in (shared, graphicdir, blockdir):
        d.mkdir()
    graphic = tmuxserver(graphicdir, SHOWN_COLUMNS, SHOWN_ROWS, "KZVTERM_CXS=1 KZVTERM_CYS=2 KZVTERM_TMP=%s exec %s"
                         % (shellquote([str(shared)]), words))
    try:
        width, height, rows = settledframe(shared)
    finally:
        stop(graphic)
    assert (width, height) == (SHOWN_COLUMNS, 2 * SHOWN_ROWS)
    expected = halfblocks(width, height, rows, SHOWN_COLUMNS, SHOWN_ROWS)
    pane = tmuxserver(blockdir, SHOWN_COLUMNS, SHOWN_ROWS, "unset KZVTERM_TMP; KZVTERM_CXS=1 KZVTERM_CYS=2 exec "
                      + words)
    try:
        def shown():
            return halfblocklook(parsepane(pane.capture(), SHOWN_COLUMNS, SHOWN_ROWS))
        try:
            waitfor(lambda: shown() == expected, 10 * SLOW, "the picture")
        except AssertionError:
            pass
        grid = shown()
    finally:
        stop(pane)
    wrong = [(r, c, grid[r][c], expected[r][c]) for r in range(SHOWN_ROWS) for c in range(SHOWN_COLUMNS)
             if grid[r][c] != expected[r][c]]
    assert wrong[:10] == []
    # A dialog in more than one colour, and most of it solid cells.
    colours = {cell[2] for line in expected for cell in line}
    solid = sum(cell[1] == cell[2] for line in expected for cell in line)
    assert len(colours) >= 3 and solid > SHOWN_COLUMNS * SHOWN_ROWS // 2
