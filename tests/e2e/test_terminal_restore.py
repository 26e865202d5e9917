"""The terminal after the terminal display ends, in a real terminal (tmux): after
a normal end, Ctrl-C, SIGTERM and SIGHUP the terminal settings are those from
before (stty -g), the cursor is shown, auto-wrap is on and mouse reporting off,
while during the run the terminal was raw with the cursor hidden, no auto-wrap
and every pointer motion reported."""
import fcntl
import os
import pty
import select
import signal
import struct
import subprocess
import termios
import time

import pytest

from termpane import EMULATOR, SLOW, demo_command, needsraw, readyline, shellquote, tmuxserver, waitfor

# qemu-user passes the old termio requests on half-translated, both into raw mode
# and back, so the settings are only checked on the native builds.
pytestmark = needsraw

ENDINGS = ["q", "ctrl-c", "SIGTERM", "SIGHUP"]
REASONS = {"q": None, "ctrl-c": "exit: child ctrl-c", "SIGTERM": "exit: terminated",
           "SIGHUP": "exit: hangup"}
# With the answer captured (x=$(...)) the UI, raw mode and the restore act on the
# controlling terminal instead of standard output.
CASES = [(e, c) for c in (False, True) for e in ENDINGS]


def settings(tty):
    return subprocess.run(["stty", "-g", "-F", tty], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=True, timeout=10).stdout


@pytest.mark.parametrize("ending,captured", CASES,
                         ids=[e + (" captured" if c else "") for e, c in CASES])
def test_terminal_is_as_before(tmp_path, ending, captured):
    server = tmuxserver(tmp_path, 80, 24)
    try:
        tty = server.tmux("display-message", "-p", "-t", "t", "#{pane_tty}").strip()
        before = settings(tty)
        assert server.paneflags() == {"cursor": True, "wrap": True, "mouse": False}
        log = str(tmp_path / "log.txt")
        status = tmp_path / "status.txt"
        run = "KZVTERM_CXS=8 KZVTERM_CYS=16 " + shellquote(demo_command(log, 200, 100))
        answer = tmp_path / "answer.txt"
        if captured:
            run = "x=$(%s); s=$?; printf '[%%s]\\n' \"$x\" > %s; (exit $s)" % (run, shellquote([str(answer)]))
        server.run("%s; echo $? > %s" % (run, shellquote([str(status)])))
        ready = readyline(log)
        waitfor(lambda: server.paneflags() == {"cursor": False, "wrap": False, "mouse": True},
                10 * SLOW, "the UI's terminal modes")
        assert settings(tty) != before              # raw while the UI runs
        if ending == "q":
            server.type("q")
        elif ending == "ctrl-c":
            server.type("C-c")
        else:
            os.kill(ready["pid"], getattr(signal, ending))
        waitfor(lambda: status.exists() and status.read_text().strip() != "", 10 * SLOW,
                "the end of the run")
        assert status.read_text().strip() == "0"
        assert settings(tty) == before
        assert server.paneflags() == {"cursor": True, "wrap": True, "mouse": False}
        text = server.text()
        if REASONS[ending]:
            assert REASONS[ending] in text
        elif not captured:
            assert "termdemo done" in text
        if captured:
            assert answer.read_text() == ("[termdemo done]\n" if ending == "q" else "[]\n")
    finally:
        server.close()


SUFFIX = os.environ.get("KZV_SUFFIX", "linux-" + os.environ.get("KZV_ARCH", "x86_64"))
PROGRAM = os.path.join(os.environ.get("KZV_BUILD", ""), "velkra-" + SUFFIX)
TUI_END = b"\x1b[32m\x1b[999;1f"      # the renderer's last bytes, after the last picture


def readall(fd, seconds):
    """Everything the pty's master side gets until the program closes its side."""
    got = bytearray()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 65536)
        except OSError:         # the last slave descriptor closed
            break
        if not chunk:
            break
        got += chunk
    return bytes(got)


@pytest.mark.skipif(not os.path.exists(PROGRAM), reason="velkra is not built")
def test_answer_follows_the_whole_picture_on_a_slow_terminal():
    # A large terminal whose reader stalls: the first picture (a question of 30
    # long lines fills the screen: about 90 KiB of half blocks and blanks, where
    # only the cells that differ from the erased terminal go out) is still waiting
    # in the program when Enter answers. The display is closed before the answer
    # is printed, and what the terminal had not taken must go out first, so the
    # answer stands after the renderer's last bytes, not inside a cut escape
    # sequence.
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 120, 400, 0, 0))
    env = {k: v for k, v in os.environ.items() if not k.startswith("KZVTERM_")}
    env.update(KZVTERM_CXS="1", KZVTERM_CYS="2", TERM="xterm-256color")
    text = "\n".join(["Delete all files? " * 10] * 30)
    p = subprocess.Popen(EMULATOR + [PROGRAM, "yesno", "-text=" + text], stdin=slave, stdout=slave,
                         stderr=slave, env=env, start_new_session=True)
    os.close(slave)
    try:
        time.sleep(1.0 * SLOW)          # the program fills the pty and waits
        os.write(master, b"\r")
        time.sleep(0.3 * SLOW)
        out = readall(master, 10 * SLOW)
        assert p.wait(timeout=10 * SLOW) == 0
    finally:
        if p.poll() is None:
            p.kill()
        os.close(master)
    assert len(out) > 65536                 # the stall was real: more than a pty holds
    assert TUI_END in out
    assert b"yes\r\n" in out[out.index(TUI_END):]
