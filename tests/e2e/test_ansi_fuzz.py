"""A bounded libFuzzer campaign (ASan and UBSan) on the terminal key decoder and
the ANSI emulator: arbitrary terminal bytes must never crash, overrun, hang, or
leave the cursor or scroll region off the screen. Runs in the hosted
configuration only; tests/fuzz/run_fuzz_terminal.sh runs a longer one by hand
(run_fuzz_terminal.sh 600)."""
import os

import pytest

import fuzzcampaign

SECONDS = 15


@fuzzcampaign.hostedonly
@pytest.mark.parametrize("target", ["terminalinput", "ansiemulator"])
def test_fuzz_campaign_finds_nothing(tmp_path, target):
    status, log, found = fuzzcampaign.run("tests/fuzz/run_fuzz_terminal.sh", SECONDS, tmp_path, target,
                                          timeout=SECONDS + 600)
    folder = tmp_path / target
    reports = "".join(open(folder / f, errors="replace").read() for f in os.listdir(folder)
                      if f.startswith(("asan", "ubsan")))
    assert status == 0 and not found, (log[-3000:], reports[-3000:])
    assert "Done" in log and "stat::number_of_executed_units" in log
