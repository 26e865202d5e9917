"""The real dialog program on the terminal display without a graphic viewer, in a
real terminal (tmux): its pixel screen goes out as half-block cells of 3-bit
colours, and the dark anti-aliased text on the light grey face must come out
black on white, readable, with the buttons' outlines: a channel counts from half
intensity up. When every nonzero channel counted, the grey edges of the glyphs
turned white and the text fell apart into a few black specks."""
import os
import time

import pytest

from termpane import EMULATOR, SLOW, parsepane, shellquote, tmuxserver, waitfor

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
