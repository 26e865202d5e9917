"""A bounded libFuzzer campaign (ASan and UBSan) on the X11 client's reading of the
server (setup, replies, errors, events in arbitrary pieces) and on the authority
file reader: malformed, short and oversized input must never crash, overrun or
hang them. Runs in the hosted configuration only, for a few seconds a target;
tests/fuzz/run_fuzz_x11.sh runs a longer one by hand (run_fuzz_x11.sh 1800)."""
import os
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tests", "fuzz", "run_fuzz_x11.sh")
SECONDS = 10


@pytest.mark.skipif(os.environ.get("KZV_TARGET", "hosted") != "hosted",
                    reason="the fuzz campaign runs in the hosted configuration")
def test_x11_fuzz_campaigns_find_nothing(tmp_path):
    r = subprocess.run(["bash", SCRIPT, str(SECONDS), str(tmp_path)], capture_output=True,
                       timeout=2 * SECONDS + 300)
    log = r.stderr.decode(errors="replace") + r.stdout.decode(errors="replace")
    found = []
    for folder, _, files in os.walk(tmp_path):
        found += [f for f in files if f.startswith(("crash-", "leak-", "timeout-", "oom-"))]
    assert r.returncode == 0 and not found, log[-4000:]
    assert log.count("stat::number_of_executed_units") >= 2, log[-4000:]
