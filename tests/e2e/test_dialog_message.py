"""The message box in a real terminal (tmux): -text, -textfile, a text file that is
missing, a folder, binary (from its first zero byte on, nothing is shown) or
control bytes and invalid UTF-8, a long multi-line text with lines longer than any
scratch buffer, odd sizes, and a screen narrower than the box. The box prints
nothing: each run checks that x=$(...) captured nothing, the status is 0, standard
error stayed empty (or, for a text file that cannot be read, holds one line naming
it and the reason) and the terminal is as it was; Enter, Esc, the OK button and the
close box of the window's frame each close it (the close box also closes the
question, which then answers nothing)."""
import pytest

from dialogrun import dialogpane, mousereport, prefix, sharedfolder, unprivileged  # noqa: F401

OK = (150, 79)                  # the centre of OK in a 300 x 100 box


@pytest.fixture
def pane(tmp_path):
    p = dialogpane(tmp_path)
    yield p
    p.close()


def close(pane, args, key="Enter", click=None):
    pane.start(args)
    assert pane.framed(), "no frame on the screen"
    if click:
        pane.click((300, 100), *click)
    else:
        pane.send(key)
    return pane.result()


def test_text_closed_by_enter_esc_and_ok(pane):
    assert close(pane, ["info", "-text=Hello"], "Enter") == (b"", b"", 0, True)
    assert close(pane, ["info", "-text=Hello"], "Escape") == (b"", b"", 0, True)
    assert close(pane, ["info", "-text=Hello"], click=OK) == (b"", b"", 0, True)


def test_textfiles(pane, tmp_path):
    text = tmp_path / "results.txt"
    text.write_text("first line\nsecond line\n\u00e4\u00f6\u00fc \u20ac\n")
    binary = tmp_path / "binary"
    binary.write_bytes(bytes(range(256)) * 64)
    nozero = tmp_path / "nozero"                # control bytes, ESC and invalid UTF-8, cut at 16000
    nozero.write_bytes(bytes(range(1, 256)) * 80)
    for name in [str(text), str(binary), str(nozero)]:
        assert close(pane, ["info", "-textfile=" + name, "-text=replaced"]) == (b"", b"", 0, True), name


def test_textfiles_that_cannot_be_read(pane, tmp_path, sharedfolder):
    """The box still opens, with its default text, and one line on standard error
    names the file and why it was not read."""
    secret = sharedfolder / "secret.txt"
    secret.write_text("not for you")
    secret.chmod(0)
    cases = [
        (str(tmp_path / "missing.txt"), b"no such file", []),
        (str(tmp_path), b"a folder, not a file", []),
        ("/dev/null", b"not a regular file", []),
        ("", None, []),
        (str(secret), b"not readable", unprivileged()),
    ]
    for name, why, wrapper in cases:
        pane.start(["info", "-textfile=" + name, "-text=replaced"], wrapper=wrapper)
        assert pane.framed(), "no frame on the screen"
        pane.send("Enter")
        out, err, rc, restored = pane.result()
        line = prefix() + b"-textfile" + (b" " + name.encode() + b": " + why if why else b": no file is named")
        assert (out, err, rc, restored) == (b"", line + b"\n", 0, True), name


def test_long_multiline_text(pane, tmp_path):
    lines = ["%04d " % i + "x" * (i * 37 % 1500) for i in range(400)]
    big = tmp_path / "big.txt"
    big.write_text("\n".join(lines))
    assert close(pane, ["info", "-textfile=" + str(big)]) == (b"", b"", 0, True)
    assert close(pane, ["info", "-text=" + "\n".join(lines[:60])[:16000]]) == (b"", b"", 0, True)
    assert close(pane, ["info", "-text=" + "y" * 20000]) == (b"", b"", 0, True)


def test_odd_sizes(pane):
    for sizes in (["-width=200", "-height=10"], ["-width=100000", "-height=100000"], ["-width=-1"]):
        assert close(pane, ["info"] + sizes) == (b"", b"", 0, True), sizes


@pytest.mark.parametrize("word,key,answer", [("info", "Enter", b""), ("yesno", "Escape", b"no")])
def test_screen_narrower_than_the_box(tmp_path, word, key, answer):
    """A 30 x 40 pixel screen cuts the box below its icon's width: the box still
    answers, and nothing goes to standard error."""
    pane = dialogpane(tmp_path, columns=30, rows=20)
    try:
        pane.start([word])
        assert pane.framed(), "no frame on the screen"
        pane.send(key)
        assert pane.result() == (answer, b"", 0, True)
    finally:
        pane.close()


@pytest.mark.parametrize("word", ["info", "yesno"])
def test_close_box_ends_without_an_answer(tmp_path, word):
    """The close box of the window's frame: with cells of 2 x 2 pixels a 300-column
    pane is a 600 x 300 screen, the 300 x 100 box lies at (150, 100), and its close
    box (the last 27 pixels of the title bar) is in reach of a mouse report."""
    pane = dialogpane(tmp_path, columns=300, rows=150)
    try:
        pane.start([word], env={"KZVTERM_CXS": "2", "KZVTERM_CYS": "2"})
        assert pane.framed(), "no frame on the screen"
        column, row = 212, 45           # window point (212 * 2 + 1 - 150, 45 * 2 + 1 - 100) = (275, -9)
        pane.sendraw(mousereport(0, column, row) + mousereport(3, column, row))
        assert pane.result() == (b"", b"", 0, True)
    finally:
        pane.close()
