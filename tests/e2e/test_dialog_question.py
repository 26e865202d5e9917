"""The yes/no question in a real terminal (tmux), driven as a user would: Enter,
Esc, clicks on Yes and No, both words (yesno, yes_no) and a link named after the
dialog; Esc and Enter in one burst give one answer only; keys that a terminal in
application mode sends as ESC O sequences are no Esc. Each run checks exactly
what x=$(...) captured, the exit status, that nothing went to standard error and
that the terminal is as it was. An answer that standard output does not take
(full, closed, its reader gone) ends with one line and status 2, never as a
success."""
import os

import pytest

from dialogrun import dialogpane, prefix, program

WINDOW = (300, 100)             # "Are you sure?" is measured below 300 x 100
YES = (80, 79)                  # points in the buttons: Yes (30, 65), No (170, 65), 100 x 28
NO = (200, 79)


@pytest.fixture
def pane(tmp_path):
    p = dialogpane(tmp_path)
    yield p
    p.close()


def answer(pane, args, *keys, click=None, name=None, redirect=False):
    pane.start(args, name=name, redirect=redirect)
    assert pane.framed(), "no frame on the screen"
    if click:
        pane.click(WINDOW, *click)
    for k in keys:
        pane.send(k)
    return pane.result()


@pytest.mark.parametrize("word", ["yesno", "yes_no"])
def test_enter_and_esc(pane, word):
    assert answer(pane, [word], "Enter") == (b"yes", b"", 0, True)
    assert answer(pane, [word], "Escape") == (b"no", b"", 0, True)


def test_clicks(pane):
    assert answer(pane, ["yesno", "-text=Continue?"], click=YES) == (b"yes", b"", 0, True)
    assert answer(pane, ["yesno", "-text=Continue?"], click=NO) == (b"no", b"", 0, True)


def test_one_answer_when_esc_and_enter_arrive_together(pane):
    pane.start(["yesno"])
    assert pane.framed()
    pane.sendbytes("\x1b")
    pane.send("Enter")
    assert pane.result() == (b"no", b"", 0, True)


def test_application_mode_keys_are_not_esc(pane):
    # With both modes on, tmux sends Up as ESC O A, Left as ESC O D and keypad 5 as
    # ESC O u; F1 and F4 are ESC O P and ESC O S in any mode. Each key, then Enter,
    # must answer as Enter alone does.
    for key in ["Up", "Left", "F1", "F4", "KP5"]:
        pane.termwrite(b"\x1b[?1h\x1b=")
        pane.start(["yesno"])
        assert pane.framed(), "no frame on the screen"
        assert pane.keymodes() == {"cursor": True, "keypad": True}, key
        pane.send(key)
        pane.send("Enter")
        assert pane.result() == (b"yes", b"", 0, True), key


def test_answer_line_written_whole_to_a_file(pane):
    out, err, rc, restored = answer(pane, ["yesno"], "Enter", redirect=True)
    assert (out, err, rc, restored) == (b"yes\n", b"", 0, True)


def test_link_named_yes_no(pane, tmp_path):
    link = tmp_path / "yes_no"
    link.symlink_to(os.path.abspath(program()))
    assert answer(pane, [], "Escape", name=str(link)) == (b"no", b"", 0, True)


def test_long_question_and_odd_sizes(pane):
    text = "\n".join("line %d of a question that is long" % i for i in range(60))
    assert answer(pane, ["yesno", "-text=" + text], "Enter") == (b"yes", b"", 0, True)
    assert answer(pane, ["yes_no", "-width=100000", "-height=10"], "Escape") == (b"no", b"", 0, True)


@pytest.mark.parametrize("stdout", [">/dev/full", ">&-", "|"], ids=["full", "closed", "reader gone"])
def test_answer_that_cannot_be_written(pane, stdout):
    pane.start(["yesno"], stdout=stdout)
    assert pane.framed(), "no frame on the screen"
    pane.send("Enter")
    out, err, rc, restored = pane.result()
    assert (rc, restored) == (2, True)
    assert err == prefix() + b"the answer could not be written to standard output\n"
