"""The terminal and signals, seen from outside: SIGINT, SIGTERM and SIGQUIT end the
run with the reason on standard error, nothing on standard output, and the
terminal exactly as before (stty -g of a real tmux pane); a second signal does not
kill; SIGTTIN does not stop; Ctrl-C typed in raw mode; the raw flags and the
restore sequence on a pseudo-terminal; the UI on the controlling terminal when
standard output is captured."""
import os
import signal
import subprocess
import termios
import time

import pytest

from testapp import RAWWORKS, SLOW, nonblockingon, ptyrun, run, tmuxsession, waitfor

REASONS = {signal.SIGINT: "CTRL-C", signal.SIGTERM: "terminated", signal.SIGQUIT: "quit"}
RESTORE = b"\x1b[?25h\x1b[0m\x1b[999;1f\x1b[?1003l\x1b[?7h"


@pytest.fixture
def pane(tmp_path):
    session = tmuxsession(tmp_path)
    yield session
    session.close()


def startraw(pane, redirect):
    """Starts the app raw in the pane and waits for raw mode; returns the pane's
    settings before it and the pid."""
    before = pane.stty()
    pid = pane.start(["raw", 0], redirect)
    waitraw(pane, before, pid)
    return before, pid


def waitraw(pane, before, pid):
    """Until the program has changed the pane's terminal: its settings where raw
    mode works, else the non-blocking input that raw mode sets up as well."""
    if RAWWORKS:
        assert waitfor(lambda: pane.stty() != before, 10), "raw mode never entered"
    else:
        assert waitfor(lambda: nonblockingon(pid, pane.tty), 10), "raw mode never set up"


@pytest.mark.parametrize("sig", list(REASONS), ids=lambda s: s.name)
@pytest.mark.parametrize("redirect", ["> out 2> err", "2> err"], ids=["captured", "onterminal"])
def test_signal_restores_terminal(pane, tmp_path, sig, redirect):
    before, pid = startraw(pane, redirect)
    os.kill(pid, sig)
    assert pane.waitexit() == 0
    assert pane.stty() == before
    assert (tmp_path / "err").read_text() == "exit: %s\n" % REASONS[sig]
    if redirect.startswith(">"):
        assert (tmp_path / "out").read_text() == ""


# The old one-shot `signal` call would leave the second SIGINT to the default
# action, which kills the process with the terminal still raw. The second signal
# is sent while the run is ending (the app lingers there until it comes), so that
# it cannot miss the process or merge with the first.
@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM], ids=lambda s: s.name)
def test_second_signal_does_not_kill(pane, tmp_path, sig):
    before = pane.stty()
    pid = pane.start(["linger", 0], "> out 2> err")
    waitraw(pane, before, pid)
    err = tmp_path / "err"
    os.kill(pid, sig)
    assert waitfor(lambda: err.read_text().startswith("exiting\n"), 10), err.read_text()
    os.kill(pid, sig)
    assert pane.waitexit() == 0
    assert pane.stty() == before
    assert err.read_text() == "exiting\nsecond request\nexit: %s\n" % REASONS[sig]
    assert (tmp_path / "out").read_text() == ""


# SIGCONT is sent only after the look: a SIGCONT sent at once would discard a
# pending stop and hide it.
def test_ttin_does_not_stop(pane, tmp_path):
    _, pid = startraw(pane, "> out 2> err")
    os.kill(pid, signal.SIGTTIN)
    time.sleep(0.3 * SLOW)
    assert not (tmp_path / "rc").exists()
    state = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[0]
    assert state != "T"
    os.kill(pid, signal.SIGCONT)
    os.kill(pid, signal.SIGTERM)
    assert pane.waitexit() == 0
    assert (tmp_path / "err").read_text() == "exit: terminated\n"


def test_ctrl_c_typed_in_raw_mode(pane, tmp_path):
    before = pane.stty()
    pid = pane.start(["keys", 0], "2> err")
    waitraw(pane, before, pid)
    pane.keys("a")
    time.sleep(0.2 * SLOW)
    pane.keys("C-c")
    assert pane.waitexit() == 0
    assert pane.stty() == before
    assert (tmp_path / "err").read_text() == "key 97\nkey 3\nexit: child ctrl-c\n"


def serialline(fd):
    """Seven bits with parity at 9600 baud, as a serial line might be set."""
    attrs = termios.tcgetattr(fd)
    attrs[2] = (attrs[2] & ~termios.CSIZE) | termios.CS7 | termios.PARENB | termios.CREAD
    attrs[4] = attrs[5] = termios.B9600
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


# A run started with hangups ignored (as nohup starts it) goes on through a hangup
# and still ends on SIGTERM; otherwise a hangup ends it like the other signals.
@pytest.mark.parametrize("ignored", [True, False], ids=["nohup", "plain"])
def test_hangup_ignored_by_the_starter_stays_ignored(ignored):
    disposition = signal.SIG_IGN if ignored else signal.SIG_DFL
    run_ = ptyrun("raw", 20000, preexec=lambda: signal.signal(signal.SIGHUP, disposition))
    assert waitfor(lambda: not os.get_blocking(run_.slave), 10), "input never made non-blocking"
    run_.process.send_signal(signal.SIGHUP)
    if ignored:
        time.sleep(0.3 * SLOW)
        assert run_.process.poll() is None, "a hangup ended a run that ignores it"
        run_.process.send_signal(signal.SIGTERM)
    rc, out, err, after = run_.finish()
    assert rc == 0
    assert err == (b"exit: terminated\n" if ignored else b"exit: hangup\n")
    assert after == run_.before


# Raw mode gives eight bits without parity and keeps the receiver and the speed;
# the end puts every setting back and writes the restore sequence.
def test_raw_flags_and_restore_sequence():
    run_ = ptyrun("raw", 500, prepare=serialline)
    before = run_.before
    time.sleep(0.25 * SLOW)
    during = termios.tcgetattr(run_.slave)
    rc, out, err, after = run_.finish()
    assert rc == 0 and err == b""
    assert after == before
    assert out.endswith(RESTORE + b"\r\n")
    if not RAWWORKS:
        return
    iflag, oflag, cflag, lflag = during[:4]
    assert iflag == 0
    assert lflag & (termios.ECHO | termios.ICANON | termios.ISIG) == 0
    assert cflag & termios.CSIZE == termios.CS8
    assert cflag & termios.PARENB == 0
    assert cflag & termios.CLOCAL
    assert cflag & termios.CREAD
    assert during[4] == during[5] == termios.B9600
    assert oflag == before[1]


# Raw mode reads keys without blocking; the end undoes that only where raw mode
# set it, since the terminal's open file is shared with the shell that started us.
@pytest.mark.parametrize("blocking", [True, False], ids=["blocking", "nonblocking"])
def test_blocking_mode_is_given_back_as_found(blocking):
    run_ = ptyrun("raw", 400, prepare=lambda fd: os.set_blocking(fd, blocking))
    assert waitfor(lambda: not os.get_blocking(run_.slave), 10), "input never made non-blocking"
    run_.process.wait(timeout=30 * SLOW)
    after = os.get_blocking(run_.slave)
    rc, out, err, _ = run_.finish()
    assert (rc, err) == (0, b"")
    assert after == blocking


# Without the screen marked changed nothing is written at the end.
def test_plain_wait_writes_nothing():
    run_ = ptyrun("wait", 200)
    rc, out, err, after = run_.finish()
    assert (rc, out, err) == (0, b"", b"")
    assert after == run_.before


def test_ui_on_controlling_terminal_when_stdout_captured(pane, tmp_path):
    pane.start(["ui", 300], "> out 2> err")
    assert pane.waitexit() == 0
    assert (tmp_path / "out").read_text() == "answer\n"
    assert "UI" in pane.screen()
    assert (tmp_path / "err").read_text() == ""


# The size is the UI terminal's: the pane's, also while standard output is captured.
@pytest.mark.parametrize("redirect", ["> out", "> out < /dev/null"], ids=["captured", "nostdin"])
def test_terminal_size(pane, tmp_path, redirect):
    pane.start(["size"], redirect)
    assert pane.waitexit() == 0
    assert (tmp_path / "out").read_text() == "100x30 terminal\n"


def test_no_terminal_size():
    result = run("size", start_new_session=True, stdin=subprocess.DEVNULL)
    assert result.stdout == b"80x24 none\n"


# Without any terminal the UI output goes to standard error, never into the answer.
def test_no_terminal_keeps_answer_clean():
    result = run("ui", 100, start_new_session=True, stdin=subprocess.DEVNULL)
    assert result.returncode == 0
    assert result.stdout == b"answer\n"
    assert b"UI" in result.stderr


def test_write_to_closed_pipe_does_not_kill():
    r, w = os.pipe()
    os.close(r)
    from testapp import command
    # One short answer: each write to the closed pipe fails a hundred times, 1 ms
    # apart, before it is dropped.
    process = subprocess.Popen(command("size"), stdout=w, stderr=subprocess.PIPE,
                               stdin=subprocess.DEVNULL, start_new_session=True)
    os.close(w)
    process.wait(timeout=30 * SLOW)
    assert process.returncode == 0
