"""A display that cannot be opened ends the run at once with one clear line on
standard error and exit status 2, nothing on standard output and no wait: no
display at all, refused cell sizes, a shared directory too long for its field, and
no terminal to draw on (no controlling terminal, output captured)."""
import os
import subprocess
import time

import pytest

from termpane import SLOW, demo_command


def run(tmp_path, env):
    log = str(tmp_path / "log.txt")
    base = {k: v for k, v in os.environ.items() if not k.startswith("KZVTERM_") and k != "DISPLAY"}
    base.update(env)
    start = time.monotonic()
    r = subprocess.run(demo_command(log, 200, 100), env=base, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
                       timeout=60 * SLOW)
    return r, time.monotonic() - start


# The X11 path is the X11 client's: with no terminal asked for, a display number
# whose socket does not exist must fail as quickly, ending with the program's line.
CASES = [
    ("no display", {"DISPLAY": ":1999"}, b"X server"),
    ("cell height unset", {"KZVTERM_CXS": "8"}, b"KZVTERM_CXS and KZVTERM_CYS must be cell sizes"),
    ("cell height 0", {"KZVTERM_CXS": "8", "KZVTERM_CYS": "0"}, b"cell sizes of 1 to 256"),
    ("cell width 257", {"KZVTERM_CXS": "257", "KZVTERM_CYS": "16"}, b"cell sizes of 1 to 256"),
    ("cell width not a number", {"KZVTERM_CXS": "8px", "KZVTERM_CYS": "16"}, b"cell sizes"),
    ("directory too long", {"KZVTERM_CXS": "8", "KZVTERM_CYS": "16", "KZVTERM_TMP": "/" + "d" * 400},
     b"KZVTERM_TMP is longer than 259 bytes"),
    ("no terminal", {"KZVTERM_CXS": "8", "KZVTERM_CYS": "16"}, b"no terminal to draw on"),
]


@pytest.mark.parametrize("name,env,message", CASES, ids=[c[0] for c in CASES])
def test_failed_display_ends_the_run(tmp_path, name, env, message):
    r, elapsed = run(tmp_path, env)
    assert r.returncode == 2
    assert r.stdout == b""
    lines = r.stderr.splitlines()
    assert lines and message in lines[-1] and lines[-1].startswith(b"termdemo: ")
    if "DISPLAY" not in env:
        assert len(lines) == 1
    assert elapsed < 3 * SLOW
