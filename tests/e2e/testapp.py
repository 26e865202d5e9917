"""Runs kzvtestapp of the build under test (through qemu where the build needs it),
and drives it in a tmux session or on a pseudo-terminal of our own for the
terminal tests."""
import os
import pty
import shlex
import shutil
import subprocess
import termios
import time

import pytest

BUILD = os.environ.get("KZV_BUILD", "")
TARGET = os.environ.get("KZV_TARGET", "linux")
ARCH = os.environ.get("KZV_ARCH", "x86_64")
EMULATOR = [part for part in os.environ.get("KZV_EMULATOR", "").split(";") if part]
APP = os.path.join(BUILD, "kzvtestapp")
SLOW = 8 if EMULATOR else 1
# Raw mode is entered under qemu-user as on a real kernel (TCSETS is translated),
# but an emulated start is slow: the checks that read the settings at a fixed
# moment run on the native builds only.
RAWWORKS = not EMULATOR


def command(*args, program=None):
    if not os.path.exists(APP):
        pytest.skip("kzvtestapp is not built in " + (BUILD or "(KZV_BUILD unset)"))
    if EMULATOR and not shutil.which(EMULATOR[0]):
        pytest.skip(EMULATOR[0] + " is not installed")
    return EMULATOR + [program or APP] + [str(a) for a in args]


def run(*args, program=None, **kwargs):
    kwargs.setdefault("timeout", 60 * SLOW)
    return subprocess.run(command(*args, program=program), capture_output=True, **kwargs)


def waitfor(test, seconds):
    end = time.time() + seconds * SLOW
    while time.time() < end:
        if test():
            return True
        time.sleep(0.02)
    return test()


def nonblockingon(pid, tty):
    """True once one of the process's descriptors open on `tty` (directly, or as
    its controlling terminal /dev/tty) is non-blocking. The app makes its UI input
    non-blocking after its signal handlers are in place, so this tells a test that
    signals may be sent, also under an emulator, where raw mode does not show in
    the terminal's settings."""
    fddir = "/proc/%d/fd" % pid
    try:
        fds = os.listdir(fddir)
    except OSError:
        return False
    for fd in fds:
        try:
            if os.readlink(os.path.join(fddir, fd)) not in (tty, "/dev/tty"):
                continue
            with open("/proc/%d/fdinfo/%s" % (pid, fd)) as info:
                for line in info:
                    if line.startswith("flags:") and int(line.split()[1], 8) & os.O_NONBLOCK:
                        return True
        except (OSError, ValueError, IndexError):
            continue
    return False


class tmuxsession:
    """A shell in a detached tmux session of its own server socket."""

    def __init__(self, workdir):
        if not shutil.which("tmux"):
            pytest.skip("tmux is not installed")
        self.workdir = workdir
        self.socket = "kzvtest-%d-%d" % (os.getpid(), int(time.time() * 1000) % 100000)
        self.tmux("new-session", "-d", "-x", "100", "-y", "30", "-c", str(workdir), "sh")
        self.tty = self.tmux("display-message", "-p", "#{pane_tty}").strip()

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), check=True,
                              capture_output=True, text=True).stdout

    def type(self, line):
        self.tmux("send-keys", "-l", line)
        self.tmux("send-keys", "Enter")

    def keys(self, *keys):
        self.tmux("send-keys", *keys)

    def stty(self):
        return subprocess.run(["stty", "-g", "-F", self.tty], check=True,
                              capture_output=True, text=True).stdout.strip()

    def screen(self):
        return self.tmux("capture-pane", "-p")

    def start(self, args, redirect):
        """Runs the app in the foreground of the pane's shell; returns its pid, read
        from a file the shell writes before it becomes the program."""
        pidfile = self.workdir / "pid"
        rcfile = self.workdir / "rc"
        for f in (pidfile, rcfile):
            if f.exists():
                f.unlink()
        line = "sh -c 'echo $$ > pid; exec %s' %s; echo $? > rc" % (
            " ".join(shlex.quote(a) for a in command(*args)), redirect)
        self.type(line)
        assert waitfor(lambda: pidfile.exists() and pidfile.read_text().strip(), 10)
        return int(pidfile.read_text())

    def waitexit(self):
        rcfile = self.workdir / "rc"
        assert waitfor(lambda: rcfile.exists() and rcfile.read_text().strip(), 20), self.screen()
        return int(rcfile.read_text())

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)


class ptyrun:
    """The app with descriptors 0 and 1 on a pseudo-terminal of ours and
    standard error on a pipe."""

    def __init__(self, *args, prepare=None, preexec=None):
        self.master, self.slave = pty.openpty()
        if prepare:
            prepare(self.slave)
        self.before = termios.tcgetattr(self.slave)
        self.process = subprocess.Popen(command(*args), stdin=self.slave, stdout=self.slave,
                                        stderr=subprocess.PIPE, start_new_session=True,
                                        preexec_fn=preexec)

    def output(self):
        os.set_blocking(self.master, False)
        chunks = []
        while True:
            try:
                chunk = os.read(self.master, 4096)
            except (BlockingIOError, OSError):
                break
            if not chunk:
                break
            chunks.append(chunk)
        return b"".join(chunks)

    def finish(self):
        """Waits for the end; returns the exit code, what reached the terminal, what
        reached standard error, and the terminal's settings afterwards."""
        self.process.wait(timeout=30 * SLOW)
        err = self.process.stderr.read()
        out = self.output()
        after = termios.tcgetattr(self.slave)
        os.close(self.master)
        os.close(self.slave)
        return self.process.returncode, out, err, after
