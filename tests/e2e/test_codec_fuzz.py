"""A bounded libFuzzer campaign (ASan and UBSan) on the deflate decoder, the PNG
decoder and the BMP reader: every input, fed whole and in the smallest pieces, must
end the same way without a read past a piece or a write past the room. Runs in the
hosted configuration only; tools/fuzz.sh runs a longer one by hand (fuzz.sh 600)."""
import os
import shutil
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tools", "fuzz.sh")
SECONDS = 10
TARGETS = ["inflate", "png", "bmp"]


@pytest.mark.skipif(os.environ.get("KZV_TARGET", "hosted") != "hosted",
                    reason="the fuzz campaign runs in the hosted configuration")
@pytest.mark.skipif(not shutil.which("clang++"), reason="clang++ is not installed")
def test_codec_fuzz_campaigns_find_nothing(tmp_path):
    r = subprocess.run(["bash", SCRIPT, str(SECONDS), str(tmp_path)] + TARGETS, capture_output=True,
                       timeout=3 * SECONDS + 300)
    log = r.stderr.decode(errors="replace")
    crashes = [f for d in TARGETS if (tmp_path / d).is_dir() for f in os.listdir(tmp_path / d)
               if f.startswith(("crash-", "leak-", "timeout-", "oom-"))]
    assert r.returncode == 0 and not crashes, log[-4000:]
    assert log.count("stat::number_of_executed_units") == len(TARGETS)
