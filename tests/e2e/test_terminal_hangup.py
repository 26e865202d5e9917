"""A terminal that goes away while a dialog waits on it, with the hangup signal
ignored (trap '' HUP, as nohup leaves it): the program reads the end of the
terminal or EIO and ends at once with one line on standard error and status 2,
instead of polling a terminal that will never send another key. The hangup
stays ignored: the run ends through the read, not through the signal."""
import os
import signal
import time

import pytest

from dialogrun import dialogpane, waitfor

DIALOGS = [["yesno"], ["info", "-text=Hello"], ["file", "-folder=/"]]


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie has ended; only its parent's wait is missing.
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0] != "Z"


@pytest.mark.parametrize("args", DIALOGS, ids=[a[0] for a in DIALOGS])
def test_terminal_gone_with_hangup_ignored(tmp_path, args):
    pane = dialogpane(tmp_path)
    files = {k: tmp_path / k for k in ("pid", "status", "answer")}
    # The outer shell ignores the hangup and outlives the terminal to note the
    # status; the inner one writes the program's pid and becomes it.
    inner = 'echo $$ >%s; exec "$@" >%s' % (files["pid"], files["answer"])
    outer = "trap '' HUP; sh -c '%s' sh \"$@\"; echo $? >%s" % (inner, files["status"])
    pid = None
    try:
        pane.start(args, wrapper=["sh", "-c", outer, "sh"])
        assert pane.framed(), "no frame on the screen"
        pid = int(files["pid"].read_text())
        pane.close()                    # the terminal goes away under the dialog
        assert waitfor(lambda: files["status"].exists() and files["status"].read_text().strip(), 10), \
            "the program goes on without its terminal"
        assert files["status"].read_text().strip() == "2"
        assert files["answer"].read_bytes() == b""
        assert pane.files["err"].read_bytes() == b"exit: the terminal has gone away\n"
    finally:
        pane.close()
        if pid and alive(pid):
            os.kill(pid, signal.SIGKILL)
            time.sleep(0.1)
