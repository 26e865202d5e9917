"""Keys typed into a real terminal (tmux send-keys) arrive at the window as key
down and key up events with the window key codes, in order; xterm mouse reports
written into the terminal become button events at the cell's centre."""
import pytest

from termpane import SLOW, demo_command, events, needsraw, readyline, shellquote, tmuxserver, waitfor

pytestmark = needsraw

KEYS = [
    ("Right", 0x10001), ("Left", 0x10000), ("Up", 0x10002), ("Down", 0x10003),
    ("Tab", 9), ("Enter", 10), ("Escape", 27), ("a", 97), ("Z", 90), ("BSpace", 0x10007),
    ("DC", 0x10006), ("Space", 32),
]


@pytest.fixture
def demo(tmp_path):
    server = tmuxserver(tmp_path, 80, 24)
    log = str(tmp_path / "log.txt")
    server.run("KZVTERM_CXS=8 KZVTERM_CYS=16 " + shellquote(demo_command(log, 200, 100)))
    ready = readyline(log)
    yield server, log, ready
    server.close()


def keypairs(log):
    return [(e[0], e[1]) for e in events(log) if e[0] in (174, 175)]


def test_keys_arrive_as_window_events(demo):
    server, log, ready = demo
    for name, _ in KEYS:
        server.type(name)
        # An Esc is told from the start of a sequence by the 100 ms that follow it.
        waitfor(lambda: len(keypairs(log)) >= 2 * (KEYS.index((name, _)) + 1), 5 * SLOW, name)
    expected = []
    for _, code in KEYS:
        expected += [(174, code), (175, code)]
    assert keypairs(log) == expected
    assert all(e[2] == 0 for e in events(log))
    server.type("q")
    waitfor(lambda: "termdemo done" in server.text(), 5 * SLOW, "the end of the run")


# Reports in the xterm byte form: ESC [ M, the button byte + 32, column and row + 33.
def report(button, column, row):
    return ["1b", "5b", "4d", "%02x" % (32 + button), "%02x" % (33 + column), "%02x" % (33 + row)]


def test_mouse_reports_become_button_events(demo):
    server, log, ready = demo
    wx, wy = ready["x"], ready["y"]          # a 200 x 100 window on 640 x 384 pixels
    assert (wx, wy) == (220, 142)
    cases = [
        (report(0, 30, 10), (165, 30 * 8 + 4 - wx, 10 * 16 + 8 - wy)),
        (report(3, 31, 11), (166, 31 * 8 + 4 - wx, 11 * 16 + 8 - wy)),
        (report(2, 40, 12), (169, 40 * 8 + 4 - wx, 12 * 16 + 8 - wy)),
        (report(3, 40, 12), (170, 40 * 8 + 4 - wx, 12 * 16 + 8 - wy)),
        (report(64, 35, 12), (177, 35 * 8 + 4 - wx, 12 * 16 + 8 - wy)),
        (report(35, 36, 12), None),                      # motion: not a window event
        (report(0 + 16, 32, 13), (165, 32 * 8 + 4 - wx, 13 * 16 + 8 - wy)),   # with Ctrl
    ]
    expected = []
    for keys, event in cases:
        server.type("-H", *keys)
        if event:
            expected.append(event)
        waitfor(lambda: len([e for e in events(log) if e[0] != 175]) >= len(expected), 5 * SLOW,
                "a mouse event")
    server.type("x")
    waitfor(lambda: (174, 120, 0) in events(log), 5 * SLOW, "the key after the reports")
    got = [e for e in events(log) if e[0] not in (174, 175)]
    assert got == expected
    # A press in the close box (the rightmost 27 pixels of the title bar) closes.
    server.type("-H", *report(0, 49, 8))
    waitfor(lambda: (163, 0, 0) in events(log), 5 * SLOW, "the close event")
    waitfor(lambda: "termdemo closed" in server.text(), 5 * SLOW, "the end of the run")
