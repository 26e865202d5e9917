"""The command line of velkra without a terminal: the help text byte for byte, the
dialog word taken from the first argument or from the program's own name (links
named choosedir, pickfile.sh, other), over-long path and pattern options refused
with one line and status 2, folders that are none, and no display at all (one line
on standard error and status 2 within a second or two, never a hang). These runs
need no raw terminal, so they also run under qemu for ARM."""
import os
import subprocess
import time

import pytest

from dialogrun import NODISPLAY, SLOW, command, plainrun, prefix, program

HELP = (b"velkra - toolbox for script GUI \n"
        b"\n"
        b"V 1.01    built Aug  3 2025 12:55:25\n"
        b"\n"
        b"More details are in the file readme.md.\n"
        b"\n"
        b"Examples:\n"
        b"\n"
        b"velkra file -folder=\"/home\" -filter=\"*.txt\"\n"
        b"velkra info -textfile=results.txt\n"
        b"velkra yesno -text=\"Are you sure?\"\n"
        b"\n"
        b"Free to use at your own risk, without any warranty.\n"
        b"\n")


def oneline(err):
    return err.count(b"\n") == 1 and err.endswith(b"\n")


@pytest.mark.parametrize("args", [
    [], ["-help"], ["--help"], ["file", "-help"], ["yes"], ["frobnicate"], ["FILE"], ["filex"],
    ["info", "-help", "-text=x"],
], ids=lambda a: " ".join(a) or "no word")
def test_help_text(args):
    out, err, rc = plainrun(args)
    assert (out, err, rc) == (HELP, b"", 0)


def link(tmp_path, name):
    path = tmp_path / name
    path.symlink_to(os.path.abspath(program()))
    return str(path)


@pytest.mark.parametrize("name,dialog", [
    ("choosedir", True), ("pickfile.sh", True), ("yes_no", True), ("askyesno", True),
    ("showinfo", True), ("dirfile", True), ("notadialog", False), ("yes", False),
])
def test_word_from_the_program_name(tmp_path, name, dialog):
    """A link named after a dialog opens it; with no display that ends with the
    display's one line and status 2, while any other name prints the help text."""
    out, err, rc = plainrun(["file"], name=link(tmp_path, name))
    if dialog:
        assert out == b"" and rc == 2 and oneline(err), (out, err, rc)
    else:
        assert (out, err, rc) == (HELP, b"", 0)


@pytest.mark.parametrize("word", ["file", "dir", "info", "yesno", "yes_no"])
def test_no_display_ends_at_once(word):
    start = time.time()
    out, err, rc = plainrun([word])
    assert time.time() - start < 3 * SLOW
    assert out == b"" and rc == 2 and oneline(err), (out, err, rc)
    assert err.startswith(prefix())


@pytest.mark.parametrize("env", [{"KZVTERM_CXS": "8"}, {"KZVTERM_CXS": "0", "KZVTERM_CYS": "8"},
                                 {"KZVTERM_CXS": "x", "KZVTERM_CYS": "8"}],
                         ids=["no controlling terminal", "cell width 0", "cell width x"])
def test_terminal_that_cannot_be_used(env):
    out, err, rc = plainrun(["yesno"], env=env)
    assert out == b"" and rc == 2 and oneline(err), (out, err, rc)


def deepfolder(root, length):
    """A folder whose path is exactly `length` bytes long."""
    path = str(root)
    while len(path) < length:
        left = length - len(path) - 1
        n = min(left, 200)
        if left - n == 1:
            n -= 1
        path = os.path.join(path, "d" * n)
        os.mkdir(path)
    assert len(path) == length
    return path


def test_path_options_at_their_limits(tmp_path):
    """511 bytes of -folder and -filter and 767 of -textfile are taken whole (the run
    goes on to the display); one byte more is refused before anything opens."""
    folder = deepfolder(tmp_path, 511)
    cases = [
        (["file", "-folder=" + folder], None),
        (["file", "-folder=" + folder + "/"], "-folder is longer than 511 bytes"),
        (["file", "-filter=" + "*" * 511], None),
        (["file", "-filter=" + "*" * 512], "-filter is longer than 511 bytes"),
        (["info", "-textfile=" + "t" * 767], None),
        (["yesno", "-textfile=" + "t" * 768], "-textfile is longer than 767 bytes"),
        (["dir", "-folder=" + "/" * 100000], "-folder is longer than 511 bytes"),
    ]
    for args, refusal in cases:
        out, err, rc = plainrun(args)
        if args[1] == "-textfile=" + "t" * 767:
            note, err = err.split(b"\n", 1)      # the missing file is named first
            assert note == prefix() + b"-textfile " + b"t" * 767 + b": no such file"
        assert out == b"" and rc == 2 and oneline(err), (args[:1], out, err, rc)
        if refusal:
            assert err == prefix() + refusal.encode() + b"\n"
        else:
            assert b"longer than" not in err


@pytest.mark.parametrize("folder", ["/nonexistent-velkra", "/etc/hostname", "/dev/null", ""],
                         ids=["missing", "file", "device", "empty means ."])
def test_folder_that_is_no_folder(folder):
    out, err, rc = plainrun(["dir", "-folder=" + folder])
    assert out == b"" and rc == 2 and oneline(err)
    if folder:
        assert err == prefix() + b"not a folder: " + folder.encode() + b"\n"
    else:
        assert b"not a folder" not in err       # "." is the working directory


def test_working_directory_too_long(tmp_path):
    folder = deepfolder(tmp_path, 600)
    p = subprocess.run(command(["file"]), cwd=folder, capture_output=True, timeout=30 * SLOW,
                       env={"PATH": "/usr/bin:/bin", "DISPLAY": NODISPLAY}, stdin=subprocess.DEVNULL,
                       start_new_session=True)
    assert p.stdout == b"" and p.returncode == 2
    assert p.stderr == prefix() + b"the working directory cannot be read or is longer than 511 bytes\n"


@pytest.mark.parametrize("args,note", [
    (["file", "-height=10", "-width=100000"], None), (["info", "-width=-5", "-height=99999999999"], None),
    (["yesno", "-title=" + "\udcff\udcfe" * 300], None), (["info", "-text=" + "x\n" * 8000], None),
    (["info", "-textfile=/"], b"-textfile /: a folder, not a file"), (["info", "-textfile=/bin/sh"], None),
    (["info", "-textfile=/dev/zero"], b"-textfile /dev/zero: not a regular file"),
], ids=["tiny and huge", "negative and overflow", "invalid UTF-8 title", "16000-byte text",
        "textfile is a folder", "textfile is binary", "textfile is a device"])
def test_odd_values_reach_the_display(args, note):
    """Values that are no paths are kept or cut, never refused: each run reaches
    the display step, which finds none here. A text file that is not read is
    named on a line of its own first."""
    args = [a.encode("utf-8", "surrogateescape") for a in args]
    out, err, rc = plainrun(args)
    if note:
        first, err = err.split(b"\n", 1)
        assert first == prefix() + note
    assert out == b"" and rc == 2 and oneline(err), (out, err, rc)
    assert b"longer than" not in err
