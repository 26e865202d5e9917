"""The terminal renderer, key decoder and emulator against a real terminal, tmux:
the picture the renderer draws is read back with capture-pane -e (characters and
256-colour indices cell by cell), keys typed with send-keys arrive as the right
key codes, the terminal modes are restored afterwards, the UI goes to the terminal
when standard output is captured, and the emulator shows the same screen as a tmux
pane that is sent the same bytes."""
import os
import shutil
import subprocess
import time

import pytest

from termpane import SGR, needsraw, parsepane, readlog, tmuxserver, waitfor

BUILD = os.environ.get("KZV_BUILD", "")
TOOL = os.path.join(BUILD, "ansitool")
EMULATOR = [a for a in os.environ.get("KZV_EMULATOR", "").split(";") if a]

pytestmark = [
    pytest.mark.skipif(not shutil.which("tmux"), reason="tmux is not installed"),
    pytest.mark.skipif(not os.path.exists(TOOL), reason="ansitool is not built"),
]

COLUMNS, ROWS = 40, 12
UI_MODES = {"cursor": False, "wrap": False, "mouse": True}       # while the UI runs
RESTORED = {"cursor": True, "wrap": True, "mouse": False}


@pytest.fixture
def panes(tmp_path):
    """Makes a pane running one shell command; every pane made is closed afterwards."""
    made = []

    def make(command, columns=COLUMNS, rows=ROWS):
        folder = tmp_path / ("pane%d" % len(made))
        folder.mkdir()
        made.append(tmuxserver(folder, columns, rows, command))
        return made[-1]
    yield make
    for p in made:
        p.close()


ACS = dict(zip("jklmnqtuvwx", "\u2518\u2510\u250c\u2514\u253c\u2500\u251c\u2524\u2534\u252c\u2502"))


def plaintext(text):
    """capture-pane -e output without colours, with the line-drawing characters
    (which tmux writes between SO and SI) as the box characters they show."""
    out, shifted = [], False
    for ch in SGR.sub("", text):
        if ch == "\x0e":
            shifted = True
        elif ch == "\x0f":
            shifted = False
        else:
            out.append(ACS.get(ch, ch) if shifted else ch)
    return "".join(out)


@needsraw
def test_the_picture_in_the_pane(tmp_path, panes):
    log = tmp_path / "log"
    p = panes("%s render %s; echo finished; sleep 30" % (TOOL, log))
    waitfor(lambda: "velkra" in p.capture(colours=False), what="the picture")
    time.sleep(0.2)
    text = p.capture(colours=False).split("\n")
    assert text[0].rstrip() == "X"
    assert text[1].rstrip() == "  \u250c" + "\u2500" * 18 + "\u2510"
    assert text[2].rstrip() == "  \u2502 velkra" + " " * 11 + "\u2502"
    assert text[3].rstrip() == "  \u2502 \u00e9\u20ac" + " " * 15 + "\u2502"
    assert text[5].rstrip() == "  \u2514" + "\u2500" * 18 + "\u2518"
    assert text[6].rstrip() == "     \u2502"
    assert text[7].rstrip() == "\u2500" * 5 + "\u253c" + "\u2500" * 5
    grid = parsepane(p.capture(), COLUMNS, ROWS)
    assert grid[0][0] == ("X", 196, 0)
    assert grid[1][2] == ("\u250c", 255, 21)
    assert grid[4][3][0::2] == (" ", 21)                 # the blue fill (a blank's foreground is not sent)
    for i, ch in enumerate("velkra"):
        assert grid[2][4 + i] == (ch, 226, 21)
    assert grid[3][4] == ("\u00e9", 255, 21)
    assert grid[7][5][:2] == ("\u253c", 46)
    # While the UI runs: cursor hidden, no auto-wrap, all mouse motion reported.
    assert p.paneflags() == UI_MODES
    p.type("q")
    waitfor(lambda: "finished" in p.capture(colours=False), what="the end of the run")
    assert "done" in readlog(log)
    assert p.paneflags() == RESTORED


# tmux key names and the key codes they must give. tmux sends what an xterm sends:
# BSpace is DEL, F1 and F4 are ESC O P and ESC O S (one key each, no Esc).
KEYS = [
    (["Up"], ["10002"]), (["Down"], ["10003"]), (["Right"], ["10001"]), (["Left"], ["10000"]),
    (["Enter"], ["a"]), (["BSpace"], ["10007"]), (["C-h"], ["10007"]),
    (["DC"], ["10006"]), (["S-Up"], ["10008"]), (["S-Down"], ["10009"]), (["Tab"], ["9"]),
    (["a", "Z", "/"], ["61", "5a", "2f"]), (["F1"], ["1000a"]), (["F4"], ["1000d"]), (["M-x"], ["1b", "78"]),
    # LF: not after Enter (CR), since CR LF is one Enter.
    (["C-j"], ["a"]), (["Escape"], ["1b"]),
]


@needsraw
def test_keys_from_tmux(tmp_path, panes):
    log = tmp_path / "log"
    p = panes("%s render %s" % (TOOL, log))
    waitfor(lambda: "velkra" in p.capture(colours=False), what="the picture")
    for names, codes in KEYS:
        before = len([l for l in readlog(log) if l.startswith("key")])
        p.type(*names)
        waitfor(lambda: len([l for l in readlog(log) if l.startswith("key")]) >= before + len(codes),
                what=" ".join(names))
        time.sleep(0.15)        # a lone Esc becomes a key 100 ms later
        got = [l.split()[1] for l in readlog(log) if l.startswith("key")][before:]
        assert got == codes, (names, got)
    # The last key shows on the screen's last row.
    waitfor(lambda: "last 1b n " in p.capture(colours=False).split("\n")[ROWS - 1], what="the last row")
    p.type("q")
    waitfor(p.dead, what="the end of the run")


@needsraw
def test_terminal_restored_after_exit_and_ctrl_c(tmp_path, panes):
    for ending in ("q", "C-c"):
        log = tmp_path / ("log" + ending)
        result = tmp_path / ("stty" + ending)
        script = ("a=$(stty -g); %s render %s; b=$(stty -g); [ \"$a\" = \"$b\" ] && echo same > %s"
                  " || echo differ > %s; echo finished; sleep 30") % (TOOL, log, result, result)
        p = panes(script)
        waitfor(lambda: "velkra" in p.capture(colours=False), what="the picture")
        p.type(ending)
        waitfor(lambda: "finished" in p.capture(colours=False), what="the end of the run")
        assert open(result).read().strip() == "same", ending
        assert p.paneflags() == RESTORED, ending


@needsraw
def test_captured_answer_keeps_the_ui_on_the_terminal(tmp_path, panes):
    log = tmp_path / "log"
    result = tmp_path / "result"
    errors = tmp_path / "errors"
    p = panes("x=$(%s render %s 2> %s); echo \"[$x]\" > %s" % (TOOL, log, errors, result))
    waitfor(lambda: "velkra" in p.capture(colours=False), what="the picture")
    # A broken Delete sequence (ESC [ 3 x) makes the decoder's debug line, which
    # belongs on standard error, never in the captured answer.
    p.type("Up")
    p.type("-H", "1b", "5b", "33", "78")
    p.type("q")
    waitfor(p.dead, what="the end of the run")
    assert open(result).read() == "[]\n"
    assert "key 10002" in readlog(log)
    assert "getkey s3 78" in open(errors).read()


# Streams that a terminal and our emulator must show alike. They keep to what both
# do the same way (the emulator's own rules for erasing, deleting and inserting
# are left out), and every stream ends with the cursor inside the screen.
E = "\x1b"
STREAMS = [
    ("text and wrap", "0123456789abcdefghij" * 3 + "\n" + "tail"),
    ("exact width then more", "x" * 20 + "y"),
    ("cursor moves", E + "[3;4HA" + E + "[2BB" + E + "[5GC" + E + "[1AD" + E + "[3CE" + E + "[4dF"),
    ("home and clears", "junk" + E + "[2J" + E + "[HX" + E + "[3;1Hline to cut" + E + "[3;5H" + E + "[K"),
    ("erase whole line", "keep\r\n" + "gone" + E + "[2K\r\nstay"),
    ("scrolling", "".join("row%d\n" % i for i in range(14)) + "last"),
    ("scroll region", E + "[8;1Hfixed" + E + "[2;5r" + E + "[5;1H" + "a\nb\nc\nd\ne"),
    ("line drawing", E + "(0lqqk\r\nx  x\r\nmqqj" + E + "(B normal"),
    ("utf-8", "caf\u00e9 \u20ac \u2500\u2502 \u00fc"),
    ("title ended by BEL and ST", E + "]0;one\x07A" + E + "]2;two" + E + "\\B"),
    ("save and restore", "ab" + E + "7" + E + "[5;5Hfar" + E + "8cd"),
    ("no auto-wrap", E + "[?7l" + "z" * 25 + E + "[?7h"),
    ("repeat", "q" + E + "[5b!"),
    ("repeat stops at the row's end", "ab" + E + "[99b!\r\n" + E + "[4;18Hq" + E + "[999999999b\r"),
    ("repeat without auto-wrap", E + "[?7lab" + E + "[99bc" + E + "[?7h"),
    ("colours do not move text", E + "[31mred" + E + "[44m blue" + E + "[0m plain" + E + "[7m rev" + E + "[27m"),
    ("backspace and CR", "abcdef\x08\x08XY\rZ"),
]


@pytest.mark.parametrize("name,stream", STREAMS, ids=[s[0] for s in STREAMS])
def test_emulator_matches_tmux(tmp_path, panes, name, stream):
    columns, rows = 20, 10
    data = tmp_path / "stream"
    data.write_bytes(stream.encode("utf-8"))
    # The pane's terminal turns LF into CR LF; our emulator's new line also goes to
    # column 0, so both show the same.
    p = panes("cat %s; sleep 30" % data, columns, rows)
    time.sleep(0.4)
    shown = [line.rstrip() for line in plaintext(p.capture()).split("\n")[:rows]]
    cursor = p.flags(["cursor_x", "cursor_y"])
    cmd = EMULATOR + [TOOL, "emulate", str(columns), str(rows), str(data)]
    out = subprocess.run(cmd, capture_output=True, timeout=30).stdout.decode("utf-8").split("\n")
    ours = out[:rows]
    assert ours == shown, "\n".join(["ours:"] + ours + ["tmux:"] + shown)
    x, y = [int(v) for v in out[rows].split()[1:3]]
    # A cursor left past the last column waits to wrap; a terminal shows it on the last one.
    assert [str(min(x, columns - 1)), str(y)] == cursor


# Sequences the emulator does not know only print a line about themselves, and
# that line goes to standard error: standard output holds the screen alone.
def test_emulator_diagnostics_go_to_standard_error(tmp_path):
    data = tmp_path / "stream"
    data.write_bytes(("ab" + E + "Z" + E + "[5z" + E + "[?9999h" + E + "[1J" + E + "[9K" + E + "[5n"
                      + E + "[38;2;1;2;3m" + E + "[?5q" + E + "[?1016l" + E + "[?1007h" + "cd").encode())
    r = subprocess.run(EMULATOR + [TOOL, "emulate", "6", "2", str(data)], capture_output=True, timeout=30)
    assert r.returncode == 0
    assert r.stdout == b"abcd\n\ncursor 4 0\n"
    errors = r.stderr.decode(errors="replace")
    for line in ("ansi: ESC Z (5a)", "ansi: ESC [ z (7a) par: 5 0 0", "ansi: ESC [ ? 9999 0 0 h",
                 "ansi: ESC [ 1 J", "ansi: ESC [ 9 0 0 K", "ansi: ESC [ 5 n", "ansi: ESC [ 38 2 1 m",
                 "ansi: ESC [ ? q (71) par: 5 0 0", "ansi: ESC [ ? 1016 0 0 l", "ansi: ESC [ ? 1007 0 0 h"):
        assert line in errors, (line, errors)
