"""The answer channel against real pipes and devices: `puts`, `print` and
`eputs` write exactly their bytes on the right descriptor, and a standard output
that is full, closed, gone or stalled never hangs or kills the program; a stalled
one gets the answer whole once it drains, and velkra reports a help text that
standard output did not take."""
import fcntl
import os
import shutil
import subprocess
import time

import pytest

from streamtool import BUILD, EMULATOR, SLOW, command, pattern

TIMEOUT = 30 * SLOW
PROGRAM = os.path.join(BUILD, "velkra-" + os.environ.get("KZV_SUFFIX", ""))


def run(*args, **kw):
    kw.setdefault("stdout", subprocess.PIPE)
    kw.setdefault("stderr", subprocess.PIPE)
    kw.setdefault("stdin", subprocess.DEVNULL)
    return subprocess.run(command(*args), timeout=TIMEOUT, **kw)


@pytest.mark.parametrize("text,expected", [
    ("yes", b"yes\n"),
    ("ends in LF\n", b"ends in LF\n"),
    ("ends in CR\r", b"ends in CR\r"),
    ("", b"\n"),
    ("/home/user/caf\u00e9 dir/a file.txt", "/home/user/caf\u00e9 dir/a file.txt\n".encode()),
])
def test_puts_writes_the_line(text, expected):
    r = run("puts", text)
    assert r.returncode == 0
    assert r.stdout == expected
    assert r.stderr == b""


def test_print_writes_exactly_its_bytes():
    r = run("print", "no line end")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"no line end", b"")


def test_diagnostics_go_to_standard_error():
    r = run("eputs", "diagnostic")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"diagnostic\n")


def test_large_answer_through_a_pipe():
    r = run("bigputs", 300000)
    assert r.returncode == 0
    assert r.stdout == pattern(300000) + b"\n"


def test_full_device_neither_hangs_nor_crashes():
    with open("/dev/full", "wb") as full:
        start = time.monotonic()
        r = run("puts", "yes", stdout=full)
    assert r.returncode == 0
    assert time.monotonic() - start < 10 * SLOW


def test_closed_standard_output():
    # The start-up puts /dev/null on a closed descriptor 1: the answer lands nowhere,
    # never in a file the program opens later.
    r = run("puts", "yes", stdout=None, preexec_fn=lambda: os.close(1))
    assert r.returncode == 0
    assert r.stderr == b""


def test_reader_gone_does_not_kill_the_program():
    rfd, wfd = os.pipe()
    os.close(rfd)
    try:
        r = run("bigputs", 100000, stdout=wfd)
    finally:
        os.close(wfd)
    assert r.returncode == 0                         # not killed by SIGPIPE


def fullpipe():
    """A pipe whose write end is non-blocking (as raw mode leaves a shared terminal)
    and already full: the read end, the write end and the bytes that fill it."""
    rfd, wfd = os.pipe()
    fcntl.fcntl(wfd, fcntl.F_SETFL, fcntl.fcntl(wfd, fcntl.F_GETFL) | os.O_NONBLOCK)
    filler = b""
    try:
        while True:
            filler += b"f" * os.write(wfd, b"f" * 4096)
    except BlockingIOError:
        pass
    return rfd, wfd, filler


def stalledrun(argv):
    """Runs argv into a full pipe that is drained only after 1.5 s; returns the exit
    code, what came through the pipe behind the filler, and standard error."""
    rfd, wfd, filler = fullpipe()
    proc = subprocess.Popen(argv, stdout=wfd, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                            start_new_session=True)
    os.close(wfd)
    time.sleep(1.5)                                   # the program meets a full pipe meanwhile
    received = b""
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        chunk = os.read(rfd, 65536)
        if not chunk:
            break
        received += chunk
    os.close(rfd)
    proc.wait(timeout=TIMEOUT)
    stderr = proc.stderr.read()
    proc.stderr.close()
    assert received.startswith(filler)
    return proc.returncode, received[len(filler):], stderr


def test_stalled_output_gets_the_answer_whole():
    """A non-blocking pipe that is full when the answer comes, and drains later."""
    rc, answer, stderr = stalledrun(command("bigputs", 100000))
    assert rc == 0
    assert answer == pattern(100000) + b"\n"
    assert stderr == b""


# The same cases for the program itself, with the help text as its answer: it
# prints without a display or a terminal and ends with status 0, or, when
# standard output does not take it, with one line and status 2.
def velkra(*args):
    if not os.path.exists(PROGRAM):
        pytest.skip("velkra is not built in " + (BUILD or "(KZV_BUILD unset)"))
    if EMULATOR and not shutil.which(EMULATOR[0]):
        pytest.skip(EMULATOR[0] + " is not installed")
    return EMULATOR + [PROGRAM] + list(args)


def helptext():
    r = subprocess.run(velkra("-help"), capture_output=True, stdin=subprocess.DEVNULL,
                       timeout=TIMEOUT, start_new_session=True)
    assert (r.returncode, r.stderr) == (0, b"")
    assert r.stdout.startswith(b"velkra - ") and r.stdout.endswith(b"warranty.\n\n")
    return r.stdout


LOSTHELP = os.path.basename(PROGRAM).encode() + b": the help text could not be written to standard output\n"


def test_program_answer_into_a_full_device():
    with open("/dev/full", "wb") as full:
        start = time.monotonic()
        r = subprocess.run(velkra("-help"), stdout=full, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, timeout=TIMEOUT, start_new_session=True)
    assert (r.returncode, r.stderr) == (2, LOSTHELP)
    assert time.monotonic() - start < 10 * SLOW


def test_program_with_standard_output_closed(tmp_path):
    r = subprocess.run(velkra("-help"), stdout=None, stderr=subprocess.PIPE, cwd=tmp_path,
                       stdin=subprocess.DEVNULL, preexec_fn=lambda: os.close(1),
                       timeout=TIMEOUT, start_new_session=True)
    assert (r.returncode, r.stderr) == (2, LOSTHELP)
    assert list(tmp_path.iterdir()) == []           # the answer went into no file


def test_program_answer_to_a_reader_that_has_gone():
    rfd, wfd = os.pipe()
    os.close(rfd)
    try:
        r = subprocess.run(velkra("-help"), stdout=wfd, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, timeout=TIMEOUT, start_new_session=True)
    finally:
        os.close(wfd)
    assert (r.returncode, r.stderr) == (2, LOSTHELP)


def test_program_answer_whole_after_a_stall():
    expected = helptext()
    rc, answer, stderr = stalledrun(velkra("-help"))
    assert (rc, stderr) == (0, b"")
    assert answer == expected
