"""The terminal after the terminal display ends, in a real terminal (tmux): after
a normal end, Ctrl-C, SIGTERM and SIGHUP the terminal settings are those from
before (stty -g), the cursor is shown, auto-wrap is on and mouse reporting off,
while during the run the terminal was raw with the cursor hidden, no auto-wrap
and every pointer motion reported."""
import os
import signal
import subprocess

import pytest

from termpane import SLOW, demo_command, needsraw, readyline, shellquote, tmuxserver, waitfor

# qemu-user passes the old termio requests on half-translated, both into raw mode
# and back, so the settings are only checked on the native builds.
pytestmark = needsraw

ENDINGS = ["q", "ctrl-c", "SIGTERM", "SIGHUP"]
REASONS = {"q": None, "ctrl-c": "exit: child ctrl-c", "SIGTERM": "exit: terminated",
           "SIGHUP": "exit: hangup"}


def settings(tty):
    return subprocess.run(["stty", "-g", "-F", tty], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=True, timeout=10).stdout


@pytest.mark.parametrize("ending", ENDINGS)
def test_terminal_is_as_before(tmp_path, ending):
    server = tmuxserver(tmp_path, 80, 24)
    try:
        tty = server.tmux("display-message", "-p", "-t", "t", "#{pane_tty}").strip()
        before = settings(tty)
        assert server.paneflags() == {"cursor": True, "wrap": True, "mouse": False}
        log = str(tmp_path / "log.txt")
        status = tmp_path / "status.txt"
        server.run("KZVTERM_CXS=8 KZVTERM_CYS=16 %s; echo $? > %s" % (
            shellquote(demo_command(log, 200, 100)), shellquote([str(status)])))
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
        else:
            assert "termdemo done" in text
    finally:
        server.close()
