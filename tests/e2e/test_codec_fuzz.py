"""A bounded libFuzzer campaign (ASan and UBSan) on the deflate decoder, the PNG
decoder and the BMP reader: every input, fed whole and in the smallest pieces, must
end the same way without a read past a piece or a write past the room. Runs in the
hosted configuration only; tools/fuzz.sh runs a longer one by hand (fuzz.sh 600)."""
import shutil

import pytest

import fuzzcampaign

SECONDS = 10
TARGETS = ["inflate", "png", "bmp"]


@fuzzcampaign.hostedonly
@pytest.mark.skipif(not shutil.which("clang++"), reason="clang++ is not installed")
def test_codec_fuzz_campaigns_find_nothing(tmp_path):
    # The bound is for a hang: each target is first built with clang++ under
    # sanitizers, which on a machine busy with the other tests takes minutes.
    status, log, found = fuzzcampaign.run("tools/fuzz.sh", SECONDS, tmp_path, *TARGETS,
                                          timeout=len(TARGETS) * (SECONDS + 300))
    assert status == 0 and not found, log[-4000:]
    assert log.count("stat::number_of_executed_units") == len(TARGETS)
