"""The terminal display with a graphic terminal's directory (KZVTERM_TMP): the
screen goes out as a kzv image file there, read back here by an independent
reader and compared with the screen the program drew, and every covered row of
the pane carries the private-use marks that tell the terminal where to show it."""
import glob
import os
import signal

import pytest

import kzvreader
from termpane import SLOW, demo_command, readdump, readyline, shellquote, tmuxserver, waitfor

COLUMNS, ROWS = 80, 24
CELLX, CELLY = 8, 16


@pytest.fixture
def graphic(tmp_path):
    server = tmuxserver(tmp_path, COLUMNS, ROWS)
    shared = tmp_path / "shared"
    shared.mkdir()
    log = str(tmp_path / "log.txt")
    dump = str(tmp_path / "screen.raw")
    run = "KZVTERM_CXS=%d KZVTERM_CYS=%d KZVTERM_TMP=%s %s" % (
        CELLX, CELLY, shellquote([str(shared)]), shellquote(demo_command(log, 200, 100, "--dump", dump)))
    server.run(run)
    ready = readyline(log)
    yield server, shared, dump, ready
    os.kill(ready["pid"], signal.SIGTERM)
    server.close()


def test_screen_goes_out_as_a_kzv_file(graphic):
    server, shared, dump, ready = graphic
    pid = ready["pid"]
    files = waitfor(lambda: glob.glob(str(shared / ("tuiimg_%04x_*_1" % (pid & 0xFFFF)))), 10 * SLOW,
                    "the image file")
    assert len(files) == 1
    waitfor(lambda: os.path.getsize(dump) >= 8 + 640 * 384 * 4, 10 * SLOW, "the dump")
    image = kzvreader.readfile(files[0])
    width, height, rows = readdump(dump)
    assert (image.width, image.height) == (width, height) == (640, 384)
    if image.encoding == 57:
        pixels = [[r << 16 | g << 8 | b for (r, g, b, a) in row] for row in image.rows]
    else:
        assert image.encoding == 54
        pixels = [[v & 0xFFFFFF for v in row] for row in image.rows]
    assert pixels == [list(row) for row in rows]
    # The window drew into the screen at its place: its red bar is there.
    assert rows[ready["y"] + 1][ready["x"] + 100] == 0xFF0000


def test_rows_carry_the_marks(graphic):
    server, shared, dump, ready = graphic
    pid = ready["pid"]
    files = waitfor(lambda: glob.glob(str(shared / ("tuiimg_%04x_*_1" % (pid & 0xFFFF)))), 10 * SLOW,
                    "the image file")
    serial = int(os.path.basename(files[0]).split("_")[2], 16)

    def marked():
        lines = server.tmux("capture-pane", "-t", "t", "-p", "-N").split("\n")[:ROWS]
        return lines if all(len(l) >= COLUMNS and l[0] == "\ue001" for l in lines) else None

    lines = waitfor(marked, 10 * SLOW, "the marks")
    for i, line in enumerate(lines, start=1):
        cells = [ord(c) for c in line[:COLUMNS]]
        assert cells[:6] == [0xE001, 0xE000 | i, 0xE000 | (pid & 0xFF), 0xE000 | (pid >> 8 & 0xFF),
                             0xE000 + (serial & 0xFF), 0xE000 + (serial >> 8 & 0xFF)]
        assert cells[6:] == [0xE000] * (COLUMNS - 6)
