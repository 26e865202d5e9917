"""A bounded libFuzzer campaign (ASan and UBSan) on the terminal key decoder and
the ANSI emulator: arbitrary terminal bytes must never crash, overrun, hang, or
leave the cursor or scroll region off the screen. Runs in the hosted
configuration only; tests/fuzz/run_fuzz_terminal.sh runs a longer one by hand
(run_fuzz_terminal.sh 600)."""
import os
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tests", "fuzz", "run_fuzz_terminal.sh")
SECONDS = 15


@pytest.mark.skipif(os.environ.get("KZV_TARGET", "hosted") != "hosted",
                    reason="the fuzz campaign runs in the hosted configuration")
@pytest.mark.parametrize("target", ["terminalinput", "ansiemulator"])
def test_fuzz_campaign_finds_nothing(tmp_path, target):
    r = subprocess.run(["bash", SCRIPT, str(SECONDS), str(tmp_path), target], capture_output=True,
                       timeout=SECONDS + 600)
    log = r.stderr.decode(errors="replace")
    folder = tmp_path / target
    findings = [f for f in os.listdir(folder) if f.startswith(("crash-", "leak-", "timeout-", "oom-"))]
    reports = "".join(open(folder / f, errors="replace").read() for f in os.listdir(folder)
                      if f.startswith(("asan", "ubsan")))
    assert r.returncode == 0 and not findings, (log[-3000:], reports[-3000:])
    assert "Done" in log and "stat::number_of_executed_units" in log
