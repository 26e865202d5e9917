"""A bounded libFuzzer campaign (ASan and UBSan) on the kzv decoder, over buffers
and through the codec module with its rows drawn into an image: truncated streams,
runs past the row end, rows split across reads and huge sides must never write
past a row, read past a piece or hang. Runs in the hosted configuration only, for
a few seconds; tests/fuzz/run_fuzz_kzv.sh runs a longer one by hand
(run_fuzz_kzv.sh 1800)."""
import os
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tests", "fuzz", "run_fuzz_kzv.sh")
SECONDS = 15


@pytest.mark.skipif(os.environ.get("KZV_TARGET", "hosted") != "hosted",
                    reason="the fuzz campaign runs in the hosted configuration")
def test_decoder_fuzz_campaign_finds_nothing(tmp_path):
    r = subprocess.run(["bash", SCRIPT, str(SECONDS), str(tmp_path)], capture_output=True,
                       timeout=SECONDS + 240)
    log = r.stderr.decode(errors="replace")
    crashes = [f for f in os.listdir(tmp_path) if f.startswith(("crash-", "leak-", "timeout-", "oom-"))]
    assert r.returncode == 0 and not crashes, log[-4000:]
    assert "Done" in log and "stat::number_of_executed_units" in log
