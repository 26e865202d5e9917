"""A bounded libFuzzer campaign (ASan and UBSan) on the kzv decoder, over buffers
and through the codec module with its rows drawn into an image: truncated streams,
runs past the row end, rows split across reads and huge sides must never write
past a row, read past a piece or hang. Runs in the hosted configuration only, for
a few seconds; tests/fuzz/run_fuzz_kzv.sh runs a longer one by hand
(run_fuzz_kzv.sh 1800)."""
import fuzzcampaign

SECONDS = 15


@fuzzcampaign.hostedonly
def test_decoder_fuzz_campaign_finds_nothing(tmp_path):
    status, log, found = fuzzcampaign.run("tests/fuzz/run_fuzz_kzv.sh", SECONDS, tmp_path,
                                          timeout=SECONDS + 240)
    assert status == 0 and not found, log[-4000:]
    assert "Done" in log and "stat::number_of_executed_units" in log
