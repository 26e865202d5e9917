#!/usr/bin/python3
"""Benchmark of the terminal dialogs: time from exec to the first complete frame,
peak memory (the kernel's high-water mark of resident memory), binary size, and
the file chooser on folders of 10,000 and 100,000 files; beside `dialog` and
`whiptail` measured in the same run wherever they have the same dialog (dialog's
--fselect for the chooser; both for the message box and the question). Prints
figures; it is not a test and asserts nothing.

Each program runs on a pseudo-terminal of its own of 320 x 150 cells; velkra
draws there with cells of 1 x 2 pixels (its half-block picture, one pixel a
column), so its screen is 320 x 300 pixels. A frame is complete when the program
has written at least MINFRAME bytes and then stays quiet for QUIET seconds; the
time reported is that of the last byte before the silence. The program is then
sent Esc, its pty is drained until it has ended, and it is reaped.

usage: tools/bench_dialogs.py [build-dir] [--runs N]
"""
import argparse
import fcntl
import os
import pty
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time

COLUMNS, ROWS, CELLX, CELLY = 320, 150, 1, 2
QUIET = 0.15            # seconds of silence that end the first frame
MINFRAME = 1000         # bytes a frame has at least: mode and size sequences alone are no frame
LIMIT = 30.0            # the longest wait for a frame


def installpackages(packages):
    """Installs Debian packages (through sudo when not root); when that fails the
    package lists are fetched first, since they may be empty on a fresh machine."""
    if not packages or not shutil.which("apt-get"):
        return
    sudo = [] if os.geteuid() == 0 else ["sudo", "-n"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "env": env}
    install = sudo + ["apt-get", "install", "-y", "-q", "--no-install-recommends"] + list(packages)
    if subprocess.run(install, **quiet).returncode != 0:
        subprocess.run(sudo + ["apt-get", "update", "-q"], **quiet)
        subprocess.run(install, **quiet)


def ensurepeers():
    """dialog and whiptail from the distribution, installed when missing. A peer
    that cannot be installed is left out."""
    names = ("dialog", "whiptail")
    installpackages([p for p in names if not shutil.which(p)])
    for p in names:
        if not shutil.which(p):
            print("(%s is not installed and could not be; its rows are left out)" % p)
    return {p: shutil.which(p) for p in names}


def peakkib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def drain(fd, pid):
    """Reads the pty until the program has ended, so that its last writes (the
    terminal's restore) never block on a full pty; ends it after a few seconds."""
    end = time.time() + 5
    while time.time() < end:
        done, _ = os.waitpid(pid, os.WNOHANG)
        if done:
            return
        r, _, _ = select.select([fd], [], [], 0.05)
        if r:
            try:
                os.read(fd, 65536)
            except OSError:
                pass
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)


def firstframe(argv, env):
    """(seconds to the end of the first frame, peak KiB) of one run on a pty."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            # The size is set before the program starts, so it never reads 0 x 0.
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
            os.execve(argv[0], argv, env)
        finally:
            os._exit(127)
    start = time.perf_counter()
    last = None
    total = 0
    while True:
        wait = QUIET if total >= MINFRAME else LIMIT
        r, _, _ = select.select([fd], [], [], wait)
        if not r:
            break
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        last = time.perf_counter()
        total += len(chunk)
        # A terminal that asks for its cursor position gets an answer.
        if b"\x1b[6n" in chunk:
            os.write(fd, b"\x1b[1;1R")
    peak = peakkib(pid)
    try:
        os.write(fd, b"\x1b")
    except OSError:
        pass
    drain(fd, pid)
    os.close(fd)
    return (last - start if last is not None else float("nan")), peak


def measure(argv, env, runs):
    times, peaks = [], []
    for _ in range(runs):
        t, p = firstframe(argv, env)
        times.append(t)
        peaks.append(p)
    return statistics.median(times), max(peaks)


def makefolder(root, count):
    path = os.path.join(root, "files%d" % count)
    os.mkdir(path)
    for i in range(count):
        open(os.path.join(path, "file%06d.txt" % i), "w").close()
    return path


def binarysize(path):
    return os.path.getsize(path) if path and os.path.exists(path) else 0


def librariesize(path):
    """The shared libraries a dynamic program loads, from ldd."""
    try:
        out = subprocess.run(["ldd", path], capture_output=True, text=True).stdout
    except OSError:
        return 0
    total = 0
    for line in out.splitlines():
        parts = line.split("=>")
        lib = parts[1].split("(")[0].strip() if len(parts) == 2 else ""
        if lib and os.path.exists(lib):
            total += os.path.getsize(os.path.realpath(lib))
    return total


def row(name, program, seconds, peak):
    print("  %-34s %-9s %9.1f ms %8d KiB" % (name, program, seconds * 1000, peak), flush=True)


def commandline():
    """The arguments [build-dir] [--runs N] and the velkra program of that build."""
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/linux-x86_64")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    velkra = os.path.join(args.build, "velkra-linux-x86_64")
    if not os.path.exists(velkra):
        candidates = [f for f in os.listdir(args.build) if f.startswith("velkra-")] if os.path.isdir(args.build) else []
        velkra = os.path.join(args.build, candidates[0]) if candidates else velkra
    if not os.path.exists(velkra):
        sys.exit("no velkra program in %s (build it first)" % args.build)
    return args, velkra


def main():
    args, velkra = commandline()
    peers = ensurepeers()
    base = {"PATH": "/usr/bin:/bin", "HOME": os.environ.get("HOME", "/"), "TERM": "xterm-256color",
            "LANG": "C.UTF-8"}
    venv = dict(base, KZVTERM_CXS=str(CELLX), KZVTERM_CYS=str(CELLY))

    print("binary size")
    print("  %-34s %10d bytes (static, no libraries)" % (os.path.basename(velkra), binarysize(velkra)))
    # The other Linux programs of the same build family: build/linux-i386 beside
    # build/linux-x86_64, build/NAME-linux-i386 beside build/NAME-linux-x86_64.
    builddir = os.path.abspath(args.build)
    for arch in ("i386", "arm"):
        sibling = os.path.basename(builddir).replace("x86_64", arch)
        if sibling == os.path.basename(builddir):
            continue
        other = os.path.join(os.path.dirname(builddir), sibling, "velkra-linux-" + arch)
        if os.path.exists(other):
            print("  %-34s %10d bytes" % (os.path.basename(other), binarysize(other)))
    for name, path in peers.items():
        if path:
            print("  %-34s %10d bytes + %d bytes of shared libraries" % (name, binarysize(path), librariesize(path)))

    with tempfile.TemporaryDirectory() as root:
        small = os.path.join(root, "small")
        os.mkdir(small)
        for n in ("a.txt", "b.md", "c.txt"):
            open(os.path.join(small, n), "w").close()
        cases = [
            ("message box", [velkra, "info", "-text=Hello"],
             {"dialog": ["--msgbox", "Hello", "6", "30"], "whiptail": ["--msgbox", "Hello", "6", "30"]}),
            ("question", [velkra, "yesno", "-text=Are you sure?"],
             {"dialog": ["--yesno", "Are you sure?", "6", "30"], "whiptail": ["--yesno", "Are you sure?", "6", "30"]}),
            ("file chooser, 3 files", [velkra, "file", "-folder=" + small],
             {"dialog": ["--fselect", small + "/", "20", "70"]}),
        ]
        print("\nfirst complete frame (median of %d runs) and peak memory" % args.runs)
        for name, vargv, peerargs in cases:
            t, p = measure(vargv, venv, args.runs)
            row(name, "velkra", t, p)
            for peer, pargs in peerargs.items():
                if peers.get(peer):
                    t, p = measure([peers[peer]] + pargs, base, args.runs)
                    row(name, peer, t, p)

        print("\nfolder listing: the chooser's first frame on a folder of n files")
        for count in (10000, 100000):
            made = time.perf_counter()
            folder = makefolder(root, count)
            made = time.perf_counter() - made
            runs = max(1, args.runs // (2 if count > 10000 else 1))
            t, p = measure([velkra, "file", "-folder=" + folder], venv, runs)
            row("%d files" % count, "velkra", t, p)
            if peers.get("dialog"):
                t, p = measure([peers["dialog"], "--fselect", folder + "/", "20", "70"], base, runs)
                row("%d files" % count, "dialog", t, p)
            print("  (made the folder in %.1f s)" % made, flush=True)


if __name__ == "__main__":
    main()
