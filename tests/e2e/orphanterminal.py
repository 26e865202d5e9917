"""Runs a command on a terminal that refuses every change of its settings: the
command's process group is in the background of the terminal's session and
orphaned (no member has a parent inside the session), so the kernel answers EIO
to a settings request instead of stopping the group with SIGTTOU, while reading
the settings still works.

    python3 orphanterminal.py SLAVE STATUSFILE ERRFILE COMMAND...

This process becomes the session leader with the pty slave SLAVE as its
controlling terminal, and stays until its standard input ends, so the session
lives while the command runs. A child starts a process group of its own and
ends; the group's remaining process runs COMMAND on the terminal (standard
input and output), its standard error into ERRFILE, writes the command's
process id into STATUSFILE.pid at its start and its exit status (or minus the
signal) into STATUSFILE at its end."""
import fcntl
import os
import signal
import sys
import termios
import time


def rungroup(terminal, first, statusfile, errfile, command):
    """In the orphaned group: once `first` has ended, run the command and report."""
    deadline = time.monotonic() + 10
    while os.getppid() == first and time.monotonic() < deadline:
        time.sleep(0.01)
    child = os.fork()
    if child == 0:
        signal.signal(signal.SIGTTOU, signal.SIG_DFL)
        err = os.open(errfile, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        os.dup2(terminal, 0)
        os.dup2(terminal, 1)
        os.dup2(err, 2)
        os.execvp(command[0], command)
    with open(statusfile + ".pid", "w") as f:
        f.write(str(child))
    _, status = os.waitpid(child, 0)
    with open(statusfile + ".part", "w") as f:
        f.write(str(os.waitstatus_to_exitcode(status)))
    os.rename(statusfile + ".part", statusfile)


def main():
    slave, statusfile, errfile = sys.argv[1:4]
    command = sys.argv[4:]
    os.setsid()
    terminal = os.open(slave, os.O_RDWR)
    fcntl.ioctl(terminal, termios.TIOCSCTTY, 0)
    first = os.fork()
    if first == 0:
        os.setpgid(0, 0)
        me = os.getpid()
        if os.fork() == 0:
            try:
                rungroup(terminal, me, statusfile, errfile, command)
            finally:
                os._exit(0)
        os._exit(0)
    os.waitpid(first, 0)
    sys.stdin.read()


if __name__ == "__main__":
    main()
