"""The files velkra shares with a graphic terminal in KZVTERM_TMP, a folder other
users may write to, under names anyone can guess (tuiimg_<pid>_<serial>_<frame>):
whatever is planted under those names beforehand is never written through. A
symbolic link (to a file of the user's, or dangling) and a folder stay as they
are, their frames are not written and one line on standard error says so; a hard
link of the user's own file is taken for an earlier frame, replaced, and the file
it shared its data with keeps its bytes. A fifo planted as the mouse file does not
block the dialog, and a folder that cannot be written to gets one line. Each run
is the yes/no question answered with Enter in a tmux pane: "yes", status 0, and
the terminal as it was."""
import os
import stat

import pytest

from dialogrun import dialogpane, sharedfolder, unprivileged, waitfor  # noqa: F401

CELLX, CELLY = 4, 8                 # an 80 x 30 pane is a 320 x 240 screen: the box fits
COLUMNS, ROWS = 80, 30
SERIALS = range(0x100)              # the screen image's serial is a small number
VICTIM = b"the user's own precious bytes\n"


def imagename(pid, serial, frame):
    return "tuiimg_%04x_%04x_%x" % (pid & 0xFFFF, serial, frame)


def plant(shared, pid, make):
    for serial in SERIALS:
        for frame in range(8):
            make(shared / imagename(pid, serial, frame))


def gatedrun(pane, shared, workdir, wrapper=()):
    """Starts the question in the pane behind a shell that writes its pid (the
    program's, after exec) and waits, bounded, for a go file: the test plants the
    names that hold that pid first. Answers the pid and the go file."""
    pidfile, go = workdir / "pid", workdir / "go"
    for stale in (pidfile, go):
        if stale.exists():
            stale.unlink()
    gate = ('echo $$ >%s; i=0; while [ ! -e %s ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; '
            'exec "$@"' % (pidfile, go))
    env = {"KZVTERM_CXS": str(CELLX), "KZVTERM_CYS": str(CELLY), "KZVTERM_TMP": str(shared)}
    pane.start(["yesno"], env=env, wrapper=list(wrapper) + ["sh", "-c", gate, "sh"])
    text = waitfor(lambda: pidfile.exists() and pidfile.read_text().strip(), 10)
    assert text, "the gate did not start"
    return int(text), go


def ourframes(shared, pid):
    prefix = "tuiimg_%04x_" % (pid & 0xFFFF)
    return [p for p in shared.iterdir() if p.name.startswith(prefix)]


def answer(pane, ready):
    assert waitfor(ready, 10), "the dialog did not get to its first frame"
    pane.send("Enter")
    return pane.result()


@pytest.fixture
def pane(tmp_path):
    p = dialogpane(tmp_path, COLUMNS, ROWS)
    yield p
    p.close()


def test_planted_links_and_folders_are_left_alone(pane, tmp_path, sharedfolder):
    victim = tmp_path / "victim"
    victim.write_bytes(VICTIM)
    nowhere = tmp_path / "created-through-a-link"
    kinds = {
        "link to a file": lambda p: os.symlink(victim, p),
        "dangling link": lambda p: os.symlink(nowhere, p),
        "folder": lambda p: os.mkdir(p),
    }
    for kind, make in kinds.items():
        shared = sharedfolder / kind.replace(" ", "-")
        shared.mkdir()
        pid, go = gatedrun(pane, shared, tmp_path)
        plant(shared, pid, make)
        go.touch()
        errfile = pane.files["err"]
        out, err, rc, restored = answer(pane, lambda: errfile.exists() and errfile.read_bytes())
        assert (out, rc, restored) == (b"yes", 0, True), kind
        assert err.startswith(b"terminal: " + bytes(shared) + b"/tuiimg_%04x_" % (pid & 0xFFFF)), kind
        assert err.endswith(b" is not a file of ours; frames of that name are not written\n"), kind
        assert err.count(b"\n") == 1, kind
        assert victim.read_bytes() == VICTIM and not os.path.lexists(nowhere), kind
        names = ourframes(shared, pid)
        assert len(names) == len(SERIALS) * 8, kind
        if kind == "folder":
            assert all(p.is_dir() and not p.is_symlink() for p in names)
        else:
            assert all(p.is_symlink() for p in names), kind


def test_hard_link_of_our_own_file_is_replaced(pane, tmp_path, sharedfolder):
    victim = tmp_path / "victim"
    victim.write_bytes(VICTIM)
    pid, go = gatedrun(pane, sharedfolder, tmp_path)
    plant(sharedfolder, pid, lambda p: os.link(victim, p))
    go.touch()

    def replaced():
        return [p for p in ourframes(sharedfolder, pid) if os.stat(p).st_ino != os.stat(victim).st_ino]

    assert answer(pane, replaced) == (b"yes", b"", 0, True)
    assert victim.read_bytes() == VICTIM
    frames = replaced()
    assert frames and all(p.read_bytes()[:4] == b"kzv " for p in frames)
    assert all(stat.S_IMODE(os.stat(p).st_mode) == 0o600 for p in frames)


def test_fifo_as_the_mouse_file_does_not_block(pane, tmp_path, sharedfolder):
    os.mkfifo(sharedfolder / "tuimouse")
    pid, go = gatedrun(pane, sharedfolder, tmp_path)
    go.touch()
    assert answer(pane, lambda: ourframes(sharedfolder, pid)) == (b"yes", b"", 0, True)


def test_folder_that_cannot_be_written(pane, sharedfolder):
    shared, gate = sharedfolder / "shared", sharedfolder / "gate"
    shared.mkdir(mode=0o555)
    gate.mkdir()
    gate.chmod(0o777)               # the gate's files are written by the run's own user
    pid, go = gatedrun(pane, shared, gate, unprivileged())
    go.touch()
    errfile = pane.files["err"]
    out, err, rc, restored = answer(pane, lambda: errfile.exists() and errfile.read_bytes())
    assert (out, rc, restored) == (b"yes", 0, True)
    assert err == b"terminal: cannot write the image file in " + bytes(shared) + b"\n"
    assert ourframes(shared, pid) == []
