"""The stdio stream on a real pseudo-terminal: its size, keys typed into it
arriving through 'F', Ctrl-C ending the run, the terminal used for the UI when
standard output is captured, and escape output that the terminal stalls going
out whole once it drains."""
import fcntl
import os
import pty
import select
import struct
import subprocess
import termios
import time

import pytest

from streamtool import EMULATOR, SLOW, command, pattern

COLUMNS, ROWS = 100, 30


def readall(master, proc, timeout, delay=0.0, typed=b""):
    """Everything the terminal shows until the program ends; `typed` goes in after `delay`."""
    out = b""
    start = time.monotonic()
    sent = False
    while time.monotonic() - start < timeout:
        if not sent and time.monotonic() - start >= delay:
            if typed:
                os.write(master, typed)
            sent = True
        if sent and proc.poll() is not None:
            ready = select.select([master], [], [], 0.05)[0]
            if not ready:
                break
        ready = select.select([master], [], [], 0.05)[0]
        if not ready:
            continue
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    return out


def lines(output):
    return [line for line in output.replace(b"\r", b"").split(b"\n") if line]


# Raw mode is set with the old termio requests, which qemu-user passes on
# half-translated (the local flags keep ICANON and ISIG), so typed keys wait for
# a line end there: these run on the native builds only.
needsraw = pytest.mark.skipif(bool(EMULATOR), reason="qemu-user mistranslates TCSETA")


class session:
    """The program on a new pseudo-terminal that is its controlling terminal;
    standard output is the terminal too unless `captured`."""

    def __init__(self, *args, captured=False, delay=0.7 * SLOW, typed=b"", wait=0.0):
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))

        def attach():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        self.start = time.monotonic()
        proc = subprocess.Popen(command(*args), stdin=slave,
                                stdout=subprocess.PIPE if captured else slave,
                                stderr=subprocess.PIPE, preexec_fn=attach)
        os.close(slave)
        time.sleep(wait)
        self.screen = readall(master, proc, 60 * SLOW, delay=delay, typed=typed)
        proc.wait(timeout=60 * SLOW)
        self.elapsed = time.monotonic() - self.start
        os.close(master)
        self.returncode = proc.returncode
        self.stdout = proc.stdout.read() if captured else b""
        self.stderr = proc.stderr.read()
        for f in (proc.stdout, proc.stderr):
            if f:
                f.close()


@needsraw
def test_size_and_keys_on_the_terminal():
    s = session("keys", 2000 * SLOW, typed=b"ab\x1b[A")
    assert s.returncode == 0
    assert lines(s.screen)[-2:] == [b"size 1 %d %d" % (COLUMNS, ROWS), b"keys 61 62 1b 5b 41"]
    assert s.stderr == b""


@needsraw
def test_captured_output_takes_the_terminal_for_keys_and_size():
    s = session("keys", 2000 * SLOW, captured=True, typed=b"q")
    assert s.returncode == 0
    assert lines(s.stdout) == [b"size 1 %d %d" % (COLUMNS, ROWS), b"keys 71"]


@needsraw
def test_ctrl_c_typed_ends_the_run():
    s = session("keys", 20000 * SLOW, typed=b"\x03")
    assert s.elapsed < 10 * SLOW                      # well before its own limit
    assert b"keys" not in s.screen
    assert b"child ctrl-c" in s.stderr


def test_no_terminal_gives_80_by_24():
    r = subprocess.run(command("keys", 300), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, start_new_session=True, timeout=30 * SLOW)
    assert r.returncode == 0
    assert lines(r.stdout) == [b"size 0 80 24", b"keys"]


def test_stalled_terminal_gets_every_byte():
    """200000 bytes of escape output into a terminal nobody reads for a while."""
    count = 200000
    s = session("ttywrite", count, 30000 * SLOW, delay=0, wait=1.5)
    assert s.returncode == 0
    assert s.stderr == b"drained\n"
    assert s.screen == pattern(count)
