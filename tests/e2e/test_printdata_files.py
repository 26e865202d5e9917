"""File packets against os.lstat, and the two console channels: kzvprintdata fills
a packet with os_fileinfo for a real directory, file, symbolic links, a pipe and
/dev/null and dumps it with printdata; each line is rebuilt here from os.lstat,
os.stat and os.readlink. Dumps and diagnostics go to standard error, the answer
alone to standard output."""
import datetime
import os
import shutil
import stat
import subprocess

import pytest

from streamtool import BUILD, EMULATOR, SLOW

TOOL = os.path.join(BUILD, "kzvprintdata")
TIMEOUT = 30 * SLOW


def run(*args, cwd=None, stdout=subprocess.PIPE):
    if not os.path.exists(TOOL):
        pytest.skip("kzvprintdata is not built in " + (BUILD or "(KZV_BUILD unset)"))
    if EMULATOR and not shutil.which(EMULATOR[0]):
        pytest.skip(EMULATOR[0] + " is not installed")
    return subprocess.run(EMULATOR + [TOOL] + [str(a) for a in args], cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=stdout, stderr=subprocess.PIPE, timeout=TIMEOUT)


KINDWORDS = [(stat.S_ISDIR, "7", "dir   "), (stat.S_ISREG, "8", "file  "), (stat.S_ISBLK, "9", "bldev "),
             (stat.S_ISCHR, ":", "chdev "), (stat.S_ISFIFO, ";", "pipe  "), (stat.S_ISSOCK, "<", "sock  ")]


def kindof(mode):
    for test, kind, word in KINDWORDS:
        if test(mode):
            return kind, word
    return "=", "?     "


def expected_line(path, offset, cwd):
    """The dump of `path` as the tool (running in cwd) names it."""
    full = os.path.join(cwd, path)
    own = os.lstat(full)
    link = stat.S_ISLNK(own.st_mode)
    st, target = own, None
    if link:
        target = os.readlink(full)
        try:
            st = os.stat(full)
            kind, word = kindof(st.st_mode)
        except FileNotFoundError:
            kind, word = "=", "?     "
    else:
        kind, word = kindof(st.st_mode)
    size = st.st_size if kind == "8" else 0
    if size == 0 and kind in "9:":
        sizecolumn = " " * 10 + "%3u,%3u " % (os.major(st.st_rdev) & 255, os.minor(st.st_rdev) & 255)
    elif size == 0 and kind != "8":
        sizecolumn = " " * 18
    else:
        sizecolumn = "size %12u " % size
    mode = st.st_mode
    perm = "perm %d%d%d " % ((mode >> 6) & 7, (mode >> 3) & 7, mode & 7)
    seconds = (int(st.st_mtime) + offset) & 0xFFFFFFFF
    when = datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%d.%m.%Y %H:%M:%S")
    name = path[:64].ljust(64)
    line = "file " + name + " " + ("link to " if link else " " * 8) + word + sizecolumn + perm + when
    if link:
        line += " " + target
    return line + "\n"


def test_file_records_match_lstat(tmp_path):
    (tmp_path / "dir").mkdir()
    (tmp_path / "plain.txt").write_bytes(b"x" * 12345)
    os.chmod(tmp_path / "plain.txt", 0o640)
    (tmp_path / "empty").write_bytes(b"")
    os.chmod(tmp_path / "empty", 0o751)
    os.symlink("plain.txt", tmp_path / "link")
    os.symlink("dir", tmp_path / "dirlink")
    os.symlink("nowhere", tmp_path / "dangling")
    os.mkfifo(tmp_path / "fifo")
    deep = tmp_path / ("n" * 40) / ("m" * 40)
    deep.mkdir(parents=True)
    paths = ["dir", "plain.txt", "empty", "link", "dirlink", "dangling", "fifo", "/dev/null", str(deep)]
    r = run("file", *paths, cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    head, rest = r.stdout.decode().split("\n", 1)
    assert head.startswith("offset ") and rest == ""
    offset = int(head.split()[1])
    lines = r.stderr.decode().splitlines(keepends=True)
    assert lines == [expected_line(p, offset, tmp_path) for p in paths]


def test_missing_path_is_reported_on_stderr(tmp_path):
    r = run("file", "missing", cwd=tmp_path)
    assert r.returncode == 0
    assert r.stdout.decode().startswith("offset ")
    err = r.stderr.decode().splitlines()
    assert err[0] == "no such path: missing"
    assert err[1].startswith("file " + "missing".ljust(64) + " " + " " * 8 + "?     ")


def test_answer_and_diagnostic_use_their_own_channels():
    r = run("channels")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"answer yes\n", b"diagnostic -1 of 2\n")


def test_full_standard_output_does_not_hang():
    with open("/dev/full", "wb") as full:
        r = run("channels", stdout=full)
    assert r.returncode == 0
    assert r.stderr == b"diagnostic -1 of 2\n"


def test_printf_cuts_a_long_text_at_500_characters():
    r = run("long")
    alphabet = b"abcdefghijklmnopqrstuvwxyz"
    assert r.stdout == (alphabet * 24)[:500]
