"""The terminal renderer, key decoder and emulator against a real terminal, tmux:
the picture the renderer draws is read back with capture-pane -e (characters and
256-colour indices cell by cell), keys typed with send-keys arrive as the right
key codes, the terminal modes are restored afterwards, the UI goes to the terminal
when standard output is captured, and the emulator shows the same screen as a tmux
pane that is sent the same bytes."""
import os
import re
import shutil
import subprocess
import time
import uuid

import pytest

BUILD = os.environ.get("KZV_BUILD", "")
TOOL = os.path.join(BUILD, "ansitool")
EMULATOR = [a for a in os.environ.get("KZV_EMULATOR", "").split(";") if a]

pytestmark = [
    pytest.mark.skipif(not shutil.which("tmux"), reason="tmux is not installed"),
    pytest.mark.skipif(not os.path.exists(TOOL), reason="ansitool is not built"),
]
# Raw mode goes through the old termio requests, which qemu-user passes on
# half-translated, so keys would wait for a line end there.
needsraw = pytest.mark.skipif(bool(EMULATOR), reason="qemu-user mistranslates TCSETA")

COLUMNS, ROWS = 40, 12


class pane:
    """A detached tmux session of its own server, running one shell command."""

    def __init__(self, command, columns=COLUMNS, rows=ROWS):
        self.socket = "kzvansi-" + uuid.uuid4().hex[:8]
        self.tmux(["new-session", "-d", "-x", str(columns), "-y", str(rows), "-s", "t",
                   "/bin/sh", "-c", command])
        self.tmux(["set-option", "-t", "t", "remain-on-exit", "on"])

    def tmux(self, args):
        r = subprocess.run(["tmux", "-L", self.socket, "-f", "/dev/null"] + args,
                           capture_output=True, timeout=20)
        return r.stdout.decode("utf-8", errors="replace")

    def capture(self, colours=False):
        return self.tmux(["capture-pane", "-p", "-N"] + (["-e"] if colours else []) + ["-t", "t"])

    def flags(self, names):
        text = self.tmux(["display-message", "-p", "-t", "t", " ".join("#{%s}" % n for n in names)])
        return text.split()

    def keys(self, *keys):
        self.tmux(["send-keys", "-t", "t"] + list(keys))

    def dead(self):
        return self.flags(["pane_dead"]) == ["1"]

    def close(self):
        self.tmux(["kill-server"])


def waitfor(predicate, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def readlog(path):
    try:
        return open(path).read().split("\n")
    except OSError:
        return []


SGR = re.compile(r"\x1b\[([0-9;]*)m")


def cells(text):
    """capture-pane -e output as rows of (character, fg, bg); None is the default colour."""
    rows = []
    fg = bg = None
    for line in text.split("\n"):
        row = []
        i = 0
        while i < len(line):
            m = SGR.match(line, i)
            if m:
                params = [int(p) if p else 0 for p in m.group(1).split(";")]
                j = 0
                while j < len(params):
                    p = params[j]
                    if p == 0:
                        fg = bg = None
                    elif 30 <= p <= 37:
                        fg = p - 30
                    elif 90 <= p <= 97:
                        fg = p - 82
                    elif 40 <= p <= 47:
                        bg = p - 40
                    elif 100 <= p <= 107:
                        bg = p - 92
                    elif p == 39:
                        fg = None
                    elif p == 49:
                        bg = None
                    elif p in (38, 48) and j + 2 < len(params) and params[j + 1] == 5:
                        if p == 38:
                            fg = params[j + 2]
                        else:
                            bg = params[j + 2]
                        j += 2
                    j += 1
                i = m.end()
                continue
            row.append((line[i], fg, bg))
            i += 1
        rows.append(row)
    return rows


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


def at(grid, x, y):
    row = grid[y]
    return row[x] if x < len(row) else (" ", None, None)


@needsraw
def test_the_picture_in_the_pane(tmp_path):
    log = tmp_path / "log"
    p = pane("%s render %s; echo finished; sleep 30" % (TOOL, log))
    try:
        assert waitfor(lambda: "velkra" in p.capture()), p.capture()
        time.sleep(0.2)
        text = p.capture().split("\n")
        assert text[0].rstrip() == "X"
        assert text[1].rstrip() == "  \u250c" + "\u2500" * 18 + "\u2510"
        assert text[2].rstrip() == "  \u2502 velkra" + " " * 11 + "\u2502"
        assert text[3].rstrip() == "  \u2502 \u00e9\u20ac" + " " * 15 + "\u2502"
        assert text[5].rstrip() == "  \u2514" + "\u2500" * 18 + "\u2518"
        assert text[6].rstrip() == "     \u2502"
        assert text[7].rstrip() == "\u2500" * 5 + "\u253c" + "\u2500" * 5
        grid = cells(p.capture(colours=True))
        assert at(grid, 0, 0) == ("X", 196, 0)
        assert at(grid, 2, 1) == ("\u250c", 255, 21)
        assert at(grid, 3, 4) == (" ", 0, 21)                    # the blue fill
        for i, ch in enumerate("velkra"):
            assert at(grid, 4 + i, 2) == (ch, 226, 21)
        assert at(grid, 4, 3) == ("\u00e9", 255, 21)
        assert at(grid, 5, 7)[:2] == ("\u253c", 46)
        # While the UI runs: cursor hidden, no auto-wrap, all mouse motion reported.
        assert p.flags(["cursor_flag", "wrap_flag", "mouse_any_flag"]) == ["0", "0", "1"]
        p.keys("q")
        assert waitfor(lambda: "finished" in p.capture())
        assert "done" in readlog(log)
        assert p.flags(["cursor_flag", "wrap_flag", "mouse_any_flag"]) == ["1", "1", "0"]
    finally:
        p.close()


# tmux key names and the key codes they must give. tmux sends what an xterm sends:
# BSpace is DEL, F1 is ESC O P (Esc and two letters, as ESC O sequences give).
KEYS = [
    (["Up"], ["10002"]), (["Down"], ["10003"]), (["Right"], ["10001"]), (["Left"], ["10000"]),
    (["Enter"], ["a"]), (["BSpace"], ["10007"]), (["C-h"], ["10007"]),
    (["DC"], ["10006"]), (["S-Up"], ["10008"]), (["S-Down"], ["10009"]), (["Tab"], ["9"]),
    (["a", "Z", "/"], ["61", "5a", "2f"]), (["F1"], ["1b", "4f", "50"]), (["M-x"], ["1b", "78"]),
    # LF: not after Enter (CR), since CR LF is one Enter.
    (["C-j"], ["a"]), (["Escape"], ["1b"]),
]


@needsraw
def test_keys_from_tmux(tmp_path):
    log = tmp_path / "log"
    p = pane("%s render %s" % (TOOL, log))
    try:
        assert waitfor(lambda: "velkra" in p.capture())
        for names, codes in KEYS:
            before = len([l for l in readlog(log) if l.startswith("key")])
            p.keys(*names)
            assert waitfor(lambda: len([l for l in readlog(log) if l.startswith("key")]) >= before + len(codes)), names
            time.sleep(0.15)        # a lone Esc becomes a key 100 ms later
            got = [l.split()[1] for l in readlog(log) if l.startswith("key")][before:]
            assert got == codes, (names, got)
        # The last key shows on the screen's last row.
        assert waitfor(lambda: "last 1b n " in p.capture().split("\n")[ROWS - 1])
        p.keys("q")
        assert waitfor(p.dead)
    finally:
        p.close()


@needsraw
def test_terminal_restored_after_exit_and_ctrl_c(tmp_path):
    for ending in ("q", "C-c"):
        log = tmp_path / ("log" + ending)
        result = tmp_path / ("stty" + ending)
        script = ("a=$(stty -g); %s render %s; b=$(stty -g); [ \"$a\" = \"$b\" ] && echo same > %s"
                  " || echo differ > %s; echo finished; sleep 30") % (TOOL, log, result, result)
        p = pane(script)
        try:
            assert waitfor(lambda: "velkra" in p.capture())
            p.keys(ending)
            assert waitfor(lambda: "finished" in p.capture())
            assert open(result).read().strip() == "same", ending
            assert p.flags(["cursor_flag", "wrap_flag", "mouse_any_flag"]) == ["1", "1", "0"], ending
        finally:
            p.close()


@needsraw
def test_captured_answer_keeps_the_ui_on_the_terminal(tmp_path):
    log = tmp_path / "log"
    result = tmp_path / "result"
    p = pane("x=$(%s render %s); echo \"[$x]\" > %s" % (TOOL, log, result))
    try:
        assert waitfor(lambda: "velkra" in p.capture()), p.capture()
        p.keys("Up", "q")
        assert waitfor(p.dead)
        assert open(result).read() == "[]\n"
        assert "key 10002" in readlog(log)
    finally:
        p.close()


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
    ("colours do not move text", E + "[31mred" + E + "[44m blue" + E + "[0m plain" + E + "[7m rev" + E + "[27m"),
    ("backspace and CR", "abcdef\x08\x08XY\rZ"),
]


@pytest.mark.parametrize("name,stream", STREAMS, ids=[s[0] for s in STREAMS])
def test_emulator_matches_tmux(tmp_path, name, stream):
    columns, rows = 20, 10
    data = tmp_path / "stream"
    data.write_bytes(stream.encode("utf-8"))
    # The pane's terminal turns LF into CR LF; our emulator's new line also goes to
    # column 0, so both show the same.
    p = pane("cat %s; sleep 30" % data, columns, rows)
    try:
        time.sleep(0.4)
        shown = [line.rstrip() for line in plaintext(p.capture(colours=True)).split("\n")[:rows]]
        cursor = p.flags(["cursor_x", "cursor_y"])
    finally:
        p.close()
    cmd = EMULATOR + [TOOL, "emulate", str(columns), str(rows), str(data)]
    out = subprocess.run(cmd, capture_output=True, timeout=30).stdout.decode("utf-8").split("\n")
    ours = out[:rows]
    assert ours == shown, "\n".join(["ours:"] + ours + ["tmux:"] + shown)
    x, y = [int(v) for v in out[rows].split()[1:3]]
    # A cursor left past the last column waits to wrap; a terminal shows it on the last one.
    assert [str(min(x, columns - 1)), str(y)] == cursor
