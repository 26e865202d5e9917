"""A bounded libFuzzer campaign (ASan and UBSan) on the X11 client's reading of the
server (setup, replies, errors, events in arbitrary pieces) and on the authority
file reader: malformed, short and oversized input must never crash, overrun or
hang them. Runs in the hosted configuration only, for a few seconds a target;
tests/fuzz/run_fuzz_x11.sh runs a longer one by hand (run_fuzz_x11.sh 1800)."""
import fuzzcampaign

SECONDS = 10


@fuzzcampaign.hostedonly
def test_x11_fuzz_campaigns_find_nothing(tmp_path):
    status, log, found = fuzzcampaign.run("tests/fuzz/run_fuzz_x11.sh", SECONDS, tmp_path,
                                          timeout=2 * SECONDS + 300)
    assert status == 0 and not found, log[-4000:]
    assert log.count("stat::number_of_executed_units") >= 2, log[-4000:]
