"""A bounded libFuzzer campaign run through one of the fuzz scripts, which take
the seconds per target and a work folder first. What a campaign finds is left in
the work folder as crash-, leak-, timeout- or oom- files. Campaigns run in the
hosted configuration only."""
import os
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FINDINGS = ("crash-", "leak-", "timeout-", "oom-")

hostedonly = pytest.mark.skipif(os.environ.get("KZV_TARGET", "hosted") != "hosted",
                                reason="the fuzz campaign runs in the hosted configuration")


def run(script, seconds, workdir, *args, timeout):
    """Runs the script (a path from the repository's root); answers its exit status,
    its output (standard error, then standard output) and the names of its findings."""
    r = subprocess.run(["bash", os.path.join(ROOT, script), str(seconds), str(workdir)] + list(args),
                       capture_output=True, timeout=timeout)
    log = r.stderr.decode(errors="replace") + r.stdout.decode(errors="replace")
    found = [f for _, _, files in os.walk(workdir) for f in files if f.startswith(FINDINGS)]
    return r.returncode, log, found
