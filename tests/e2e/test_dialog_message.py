"""The message box in a real terminal (tmux): -text, -textfile, a text file that is
missing, a folder or binary (the default text is shown), a long multi-line text with
lines longer than any scratch buffer, and odd sizes. The box prints nothing: each
run checks that x=$(...) captured nothing, the status is 0, standard error stayed
empty and the terminal is as it was; Enter, Esc and the OK button each close it."""
import pytest

from dialogrun import dialogpane

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
    for name in [str(text), str(tmp_path / "missing.txt"), str(tmp_path), str(binary), "/dev/null"]:
        assert close(pane, ["info", "-textfile=" + name, "-text=replaced"]) == (b"", b"", 0, True), name


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
