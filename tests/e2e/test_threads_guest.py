"""The system threads on a real kernel. qemu-user refuses the clone that starts a
thread (memory shared, no thread group), so under it the threads unit tests
check only the failure path, and this machine's kernel may refuse 32-bit
programs altogether: the i386 thread entry would never run. Here Debian's kernel
boots in qemu-system-x86_64 (TCG, no virtual GPU) and runs the threads unit test
program of the x86-64 and of the i386 build, one after the other in one guest.
Each must end with status 0 and pass every case of the source, with no failed
check and none of the notes a test prints where it took the emulator's way
instead of really starting a thread."""
import os
import re

import pytest

import drmguest

BUILD = os.environ.get("KZV_BUILD", "")
ARCH = os.environ.get("KZV_ARCH", "")
TARGET = os.environ.get("KZV_TARGET", "")
SOURCE = os.path.join(os.path.dirname(__file__), "..", "unit", "test_os_threads.cpp")

pytestmark = pytest.mark.skipif(TARGET != "linux" or ARCH != "x86_64",
                                reason="the guest test runs in the linux-x86_64 build, with the i386 build beside it")

PROGRAMS = [
    ("test_os_threads-x86_64", os.path.join(BUILD, "test_os_threads")),
    ("test_os_threads-i386", os.path.join(BUILD, "..", "linux-i386", "test_os_threads")),
]
SUMMARY = re.compile(r"^(\d+) passed, (\d+) failed$")
# Every note of a test that could not do the real thing names the emulator.
EMULATOR_NOTE = re.compile(r"qemu-user")


def cases():
    with open(SOURCE) as f:
        return re.findall(r"^TEST\((\w+)\)", f.read(), re.M)


def check_run(name, lines, status, expected):
    """The problems of one program's console lines and exit status, if any."""
    problems = []
    summaries = [m for m in map(SUMMARY.match, lines) if m]
    if len(summaries) != 1:
        problems.append(f"{len(summaries)} summary lines")
    elif (int(summaries[0].group(1)), int(summaries[0].group(2))) != (expected, 0):
        problems.append(f"'{summaries[0].group(0)}' where {expected} cases of the source should all pass")
    problems += [f"failed check: {line}" for line in lines if line.startswith("FAIL ")]
    problems += [f"not really run: {line}" for line in lines if EMULATOR_NOTE.search(line)]
    if status != "0":
        problems.append(f"exit status {status}")
    if not problems:
        return None
    return f"{name}: " + "; ".join(problems) + "\nits output:\n" + "\n".join(lines)


def test_threads_run_on_a_real_kernel(tmp_path):
    for _, path in PROGRAMS:
        assert os.path.exists(path), f"{path} is missing: build the linux-x86_64 and linux-i386 presets"
    expected = len(cases())
    assert expected > 0, f"no cases found in {SOURCE}"
    vmlinuz, _, _ = drmguest.fetch_kernel(os.path.join(BUILD, "guest"))
    initrd = drmguest.build_initramfs(str(tmp_path), [], [(name, path, "") for name, path in PROGRAMS])
    guest = drmguest.Guest(str(tmp_path), vmlinuz, initrd)
    failures = []
    try:
        guest.expect(r"^guest console")
        guest.send("go\n")
        for name, _ in PROGRAMS:
            lines = []
            done = guest.expect(r"^guest program-done (\d+)", passed=lines)
            failures.append(check_run(name, [line for line in lines if line != "go"], done.group(1), expected))
            guest.send("go\n")
        guest.expect(r"^guest done")
        guest.wait_end(30)
    finally:
        guest.stop()
    failures = [f for f in failures if f]
    assert not failures, "\n".join(failures)
