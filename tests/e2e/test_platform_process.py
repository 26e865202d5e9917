"""The process from outside: the argument record as the program sees it (started
through relative paths, links with other names and dotted directories, under
env -i, with very long arguments), descriptors 0-2 closed at start, and the
system calls the freestanding programs make (strace, or qemu's own trace)."""
import os
import re
import shutil
import subprocess

import pytest

from testapp import APP, EMULATOR, SLOW, TARGET, command, run


def record(result):
    assert result.returncode == 0, result.stderr
    fields, argv = {}, []
    for line in result.stdout.decode().splitlines():
        name, _, value = line.partition("=")
        if name == "argv":
            argv.append(value)
        else:
            fields[name] = value
    fields["argv"] = argv
    return fields


def test_record_of_a_plain_start(tmp_path):
    env = {"PWD": str(tmp_path), "USER": "ann", "HOME": "/home/ann"}
    link = tmp_path / "kzvtestapp"
    link.symlink_to(APP)
    got = record(run("args", "file", "-folder=/tmp", program="./kzvtestapp", cwd=tmp_path, env=env))
    assert got["argc"] == "3"
    assert got["argv"] == ["args", "file", "-folder=/tmp"]
    assert got["argline"] == "args file -folder=/tmp"
    assert got["programname"] == "kzvtestapp"
    assert got["invokedname"] == "kzvtestapp"
    assert got["programdir"] == str(tmp_path)
    assert got["user"] == "ann"
    assert got["home"] == "/home/ann"
    assert got["workingdir"] == str(tmp_path)
    assert got["envcount"] == "3"


@pytest.mark.parametrize("linkpath, programname", [
    ("velkra.bin", "velkra"),
    (".local/bin/velkra", "velkra"),            # a dotted directory keeps the name
    ("john.doe/bin/choosedir", "choosedir"),
    ("file", "file"),
])
def test_program_name_from_links(tmp_path, linkpath, programname):
    link = tmp_path / linkpath
    link.parent.mkdir(parents=True, exist_ok=True)
    link.symlink_to(APP)
    got = record(run("args", program=str(link), env={}))
    assert got["programname"] == programname
    assert got["programdir"] == str(link.parent)
    assert got["invokedname"] == str(link)[1:]


def test_record_under_env_i(tmp_path):
    result = subprocess.run(["env", "-i"] + command("args", "x"), capture_output=True,
                            cwd=tmp_path, timeout=60 * SLOW)
    got = record(result)
    assert got["envcount"] == "0"
    assert got["user"] == "root"
    assert got["home"] == "???"
    assert got["workingdir"] == os.path.realpath(tmp_path)
    assert got["argv"] == ["args", "x"]


def test_home_of_slash_is_the_program_directory(tmp_path):
    link = tmp_path / "opt" / "kzvtestapp"
    link.parent.mkdir()
    link.symlink_to(APP)
    got = record(run("args", program=str(link), env={"HOME": "/"}))
    assert got["home"] == str(link.parent)


def test_long_arguments_are_cut_in_the_line_only():
    long = "a" * 5000
    got = record(run("args", long, long, env={}))
    assert got["argv"] == ["args", long, long]
    assert len(got["argline"]) == 999
    assert got["argline"] == ("args " + long)[:999]


def test_environment_lookup():
    assert run("env", "Some_Var", env={"SOME_VAR": "value one"}).stdout == b"value one\n"
    long = "v" * 3000
    assert run("env", "LONG", env={"LONG": long}).stdout == b"v" * 999 + b"\n"
    assert run("env", "MISSING", env={}).returncode == 1


# A closed descriptor 0-2 would be handed out by the next open, and the answer
# written after it would land in the file.
@pytest.mark.parametrize("closed", ["0", "1", "2", "0,1,2"])
def test_closed_standard_descriptors(tmp_path, closed):
    target = tmp_path / "written"
    closes = " ".join("%s>&-" % fd if fd != "0" else "<&-" for fd in closed.split(","))
    script = "exec %s %s" % (" ".join(command("fileanswer", target)), closes)
    result = subprocess.run(["sh", "-c", script], capture_output=True, timeout=60 * SLOW)
    assert result.returncode == 0, result.stderr
    assert target.read_text() == "file text\n"
    if "1" not in closed:
        assert result.stdout == b"answer\n"


ALLOWED = {
    "x86_64": {"read", "write", "open", "close", "stat", "lstat", "lseek", "mmap", "munmap",
               "rt_sigaction", "rt_sigreturn", "ioctl", "nanosleep", "getpid", "socket",
               "connect", "accept", "bind", "listen", "setsockopt", "clone", "exit",
               "exit_group", "fcntl", "flock", "getcwd", "unlink", "readlink", "gettimeofday",
               "getdents64"},
    "i386": {"read", "write", "open", "close", "stat64", "lstat64", "_llseek", "mmap2", "munmap",
             "rt_sigaction", "rt_sigreturn", "ioctl", "nanosleep", "getpid", "socketcall",
             "clone", "exit", "exit_group", "fcntl", "flock", "getcwd", "unlink", "readlink",
             "gettimeofday", "getdents64"},
    "arm": {"read", "write", "open", "close", "stat64", "lstat64", "_llseek", "mmap2", "munmap",
            "sigaction", "sigreturn", "rt_sigreturn", "ioctl", "nanosleep", "getpid", "socket",
            "connect", "accept", "bind", "listen", "setsockopt", "clone", "exit", "exit_group",
            "fcntl", "flock", "getcwd", "unlink", "readlink", "gettimeofday", "getdents64"},
}

RUNS = [["args", "a"], ["wait", "150"], ["raw", "150"], ["fileanswer", "written"], ["env", "HOME"]]


def tracedcalls(args, cwd):
    """The names of the system calls one run makes, after the exec."""
    if EMULATOR:
        result = subprocess.run([EMULATOR[0], "-strace"] + EMULATOR[1:] + [APP] + args,
                                capture_output=True, text=True, cwd=cwd, timeout=120)
        lines = result.stderr.splitlines()
        pattern = re.compile(r"^\d+ (\w+)\(")
    else:
        if not shutil.which("strace"):
            pytest.skip("strace is not installed")
        log = os.path.join(cwd, "trace")
        subprocess.run(["strace", "-f", "-qq", "-o", log, APP] + args, capture_output=True,
                       cwd=cwd, timeout=120, stdin=subprocess.DEVNULL)
        lines = open(log).read().splitlines()
        pattern = re.compile(r"^(?:\d+ +)?(\w+)\(")
    names = {m.group(1) for m in map(pattern.match, lines) if m}
    names.discard("execve")
    return names


@pytest.mark.skipif(TARGET != "linux", reason="a hosted build starts through the C library")
@pytest.mark.parametrize("args", RUNS, ids=[r[0] for r in RUNS])
def test_only_the_listed_system_calls(tmp_path, args):
    if not os.path.exists(APP):
        pytest.skip("kzvtestapp is not built")
    arch = os.environ.get("KZV_ARCH", "x86_64")
    names = tracedcalls(args, tmp_path)
    assert names, "no system calls seen"
    assert names <= ALLOWED[arch], sorted(names - ALLOWED[arch])
