#!/usr/bin/python3
"""Benchmark of the terminal dialogs: time from exec to the first complete frame,
the bytes of that frame, peak memory (the kernel's high-water mark of resident
memory), wake-ups per second while the dialog waits for a key (the kernel's count
of voluntary context switches over 2 s), the time from Enter and from Esc to the
end of the program, binary size, and the file chooser on folders of 1,000,
10,000 and 100,000 files; beside `dialog` and `whiptail` measured in the same run
wherever they have the same dialog (dialog's --fselect for the chooser; both for
the message box and the question). A peer that is not installed is left out.
Prints figures; it is not a test and asserts nothing.

Each program runs on a pseudo-terminal of its own, in the two settings in which
a user sees velkra's dialog, with dialog and whiptail on a pty of the same size:
- half blocks (KZVTERM_CXS=1 KZVTERM_CYS=2, no KZVTERM_TMP): each cell shows two
  pixels, so the pty is as large as the whole dialog needs: 320 x 100 cells for
  the message box and the question, 760 x 300 for the chooser (its 750 x 550
  pixel window and frame);
- image files (KZVTERM_CXS=9 KZVTERM_CYS=15 and KZVTERM_TMP a folder of its own):
  120 x 40 cells, a 1080 x 600 pixel screen that holds every dialog whole; each
  frame is an image file in that folder, which a graphic terminal shows where the
  cells carry its marks. Beside the bytes sent to the terminal the script counts
  the image files written by the end of the first frame and their bytes per file.
A frame is complete when the program has written at least the frame's least
bytes and then stays quiet for QUIET seconds; the time reported is that of the
last byte before the silence. The program is then sent the key, its pty is
drained until it has ended, and it is reaped. The folder listing runs at the
chooser's half-block size.

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

QUIET = 0.15            # seconds of silence that end the first frame
# A chooser on a big folder may set the terminal's modes long before its frame
# follows: there the frame has at least LISTFRAME bytes.
LISTFRAME = 1000
HALFBLOCKS = (1, 2)      # cell width and height in pixels
IMAGEFILES = (9, 15)
SETTINGS = [  # (title, cell size, image files, {dialog: (columns, rows)})
    ("half blocks, cells of 1 x 2 pixels", HALFBLOCKS, False,
     {"message box": (320, 100), "question": (320, 100), "file chooser": (760, 300)}),
    ("image files, cells of 9 x 15 pixels", IMAGEFILES, True,
     {"message box": (120, 40), "question": (120, 40), "file chooser": (120, 40)}),
]
LIMIT = 30.0            # the longest wait for a frame


def ensurepeers():
    """dialog and whiptail from the distribution (tools/install-deps.sh installs
    them); a peer that is missing is left out."""
    names = ("dialog", "whiptail")
    for p in names:
        if not shutil.which(p):
            print("(%s is not installed; its rows are left out)" % p)
    return {p: shutil.which(p) for p in names}


def procstatus(pid, field):
    """One number of /proc/PID/status (0 when the process is gone)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (OSError, ValueError, IndexError):
        pass
    return 0


def peakkib(pid):
    return procstatus(pid, "VmHWM")


def readsome(fd, wait):
    """The bytes the pty has within WAIT seconds: b"" on silence, None at its end.
    A terminal that asks for its cursor position gets an answer."""
    r, _, _ = select.select([fd], [], [], wait)
    if not r:
        return b""
    try:
        chunk = os.read(fd, 65536)
    except OSError:
        return None
    if chunk and b"\x1b[6n" in chunk:
        os.write(fd, b"\x1b[1;1R")
    return chunk or None


def drain(fd, pid, limit=5.0):
    """Reads the pty until the program has ended, so that its last writes (the
    terminal's restore) never block on a full pty; ends it after LIMIT seconds.
    Answers the seconds from the call to the end of the program."""
    start = time.perf_counter()
    pidfd = os.pidfd_open(pid)
    try:
        while time.perf_counter() - start < limit:
            r, _, _ = select.select([fd, pidfd], [], [], 0.05)
            if pidfd in r:
                ended = time.perf_counter() - start
                os.waitpid(pid, 0)
                return ended
            if fd in r:
                try:
                    os.read(fd, 65536)
                except OSError:
                    pass
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        return float("nan")
    finally:
        os.close(pidfd)


def idlewakeups(fd, pid, seconds=2.0):
    """Voluntary context switches per second of a program waiting for a key,
    counted by the kernel over SECONDS; the pty is read meanwhile."""
    before = procstatus(pid, "voluntary_ctxt_switches")
    end = time.perf_counter() + seconds
    start = time.perf_counter()
    while time.perf_counter() < end:
        if readsome(fd, end - time.perf_counter()) is None:
            break
    after = procstatus(pid, "voluntary_ctxt_switches")
    return (after - before) / (time.perf_counter() - start)


def spawn(argv, env, geometry):
    """The program on a pty of GEOMETRY = (columns, rows, cell width, cell height)."""
    columns, rows, cellx, celly = geometry
    pid, fd = pty.fork()
    if pid == 0:
        try:
            # The size is set before the program starts, so it never reads 0 x 0.
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, columns * cellx, rows * celly))
            os.execve(argv[0], argv, env)
        finally:
            os._exit(127)
    return pid, fd


def imagefiles(shared, pid):
    """The image files of process PID in the folder SHARED: their count and bytes."""
    prefix = "tuiimg_%04x_" % (pid & 0xFFFF)
    sizes = []
    for name in os.listdir(shared):
        if name.startswith(prefix):
            try:
                sizes.append(os.path.getsize(os.path.join(shared, name)))
            except OSError:
                pass
    return len(sizes), sum(sizes)


def emptyfolder(path):
    for name in os.listdir(path):
        os.unlink(os.path.join(path, name))


def session(argv, env, geometry, minframe, key=b"\x1b", idle=False, shared=None):
    """One run on a pty: a dict of the seconds to the end of the first frame (of
    at least MINFRAME bytes), its bytes, the image files written into SHARED by
    then (their count and bytes), the peak KiB, the idle wake-ups per second (when
    IDLE) and the seconds from sending KEY to the end of the program."""
    pid, fd = spawn(argv, env, geometry)
    start = time.perf_counter()
    last = None
    total = 0
    while True:
        chunk = readsome(fd, QUIET if total >= minframe else LIMIT)
        if not chunk:
            break
        last = time.perf_counter()
        total += len(chunk)
    files, filebytes = imagefiles(shared, pid) if shared else (0, 0)
    result = {"frame": last - start if last is not None else float("nan"), "bytes": total,
              "files": files, "filebytes": filebytes, "peak": peakkib(pid), "wakeups": float("nan")}
    if idle:
        result["wakeups"] = idlewakeups(fd, pid)
    try:
        os.write(fd, key)
    except OSError:
        pass
    result["exit"] = drain(fd, pid)
    os.close(fd)
    if shared:
        emptyfolder(shared)
    return result


def measure(argv, env, runs, geometry, minframe=1, keys=False, idle=False, shared=None):
    """Medians over RUNS sessions ended by Esc (and, with KEYS, as many ended by
    Enter; with IDLE, one idle count); the peak memory is the largest seen."""
    esc = [session(argv, env, geometry, minframe, b"\x1b", idle=idle and i == 0, shared=shared)
           for i in range(runs)]
    figures = {"frame": statistics.median(r["frame"] for r in esc),
               "bytes": statistics.median(r["bytes"] for r in esc),
               "files": statistics.median(r["files"] for r in esc),
               "perfile": statistics.median(r["filebytes"] / r["files"] if r["files"] else 0 for r in esc),
               "peak": max(r["peak"] for r in esc),
               "wakeups": esc[0]["wakeups"],
               "esc": statistics.median(r["exit"] for r in esc),
               "enter": float("nan")}
    if keys:
        enter = [session(argv, env, geometry, minframe, b"\r", shared=shared) for _ in range(runs)]
        figures["enter"] = statistics.median(r["exit"] for r in enter)
        figures["peak"] = max(figures["peak"], max(r["peak"] for r in enter))
    return figures


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


def row(name, program, size, f, files):
    """One dialog's figures; a dash where a figure was not measured."""
    filefigures = "%6d %9d B" % (f["files"], f["perfile"]) if files else "%6s %11s" % ("-", "-")
    idle = "%7.1f/s" % f["wakeups"] if f["wakeups"] == f["wakeups"] else "%9s" % "-"
    print("  %-13s %-9s %-9s %7.1f ms %7d B %s %6d KiB %s %7.1f ms %7.1f ms" % (
        name, program, "%dx%d" % size, f["frame"] * 1000, f["bytes"], filefigures, f["peak"], idle,
        f["enter"] * 1000, f["esc"] * 1000), flush=True)


def folderrow(name, program, f):
    print("  %-22s %-9s %8.1f ms %7d KiB" % (name, program, f["frame"] * 1000, f["peak"]), flush=True)


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

    print("binary size")
    print("  %-34s %10d bytes (static, no libraries)" % (os.path.basename(velkra), binarysize(velkra)))
    if os.path.exists(velkra + ".debug"):
        print("  %-34s %10d bytes (the unstripped copy beside it)" % (os.path.basename(velkra) + ".debug",
                                                                     binarysize(velkra + ".debug")))
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
            ("file chooser", [velkra, "file", "-folder=" + small],
             {"dialog": ["--fselect", small + "/", "20", "70"]}),
        ]
        shared = os.path.join(root, "shared")
        os.mkdir(shared)
        for title, (cellx, celly), withfiles, sizes in SETTINGS:
            venv = dict(base, KZVTERM_CXS=str(cellx), KZVTERM_CYS=str(celly))
            if withfiles:
                venv["KZVTERM_TMP"] = shared
            first = title == SETTINGS[0][0]
            print("\n%s: first complete frame (median of %d runs), bytes to the terminal,%s peak memory,%s"
                  " Enter to exit, Esc to exit" % (title, args.runs, " image files and bytes a file," if withfiles
                                                     else "", " idle wake-ups," if first else ""))
            print("  %-13s %-9s %-9s %10s %9s %6s %11s %10s %9s %10s %10s" % (
                "dialog", "program", "cells", "frame", "bytes", "files", "a file", "peak", "idle", "Enter", "Esc"))
            for name, vargv, peerargs in cases:
                size = sizes[name]
                geometry = size + (cellx, celly)
                row(name, "velkra", size, measure(vargv, venv, args.runs, geometry, keys=True, idle=first,
                                                  shared=shared if withfiles else None), withfiles)
                for peer, pargs in peerargs.items():
                    if peers.get(peer):
                        row(name, peer, size, measure([peers[peer]] + pargs, base, args.runs, geometry, keys=True,
                                                      idle=first), False)

        cellx, celly = HALFBLOCKS
        geometry = SETTINGS[0][3]["file chooser"] + (cellx, celly)
        venv = dict(base, KZVTERM_CXS=str(cellx), KZVTERM_CYS=str(celly))
        print("\nfolder listing in half blocks at %d x %d cells: the chooser's first frame on a folder of n files,"
              " and peak memory" % geometry[:2])
        for count in (1000, 10000, 100000):
            made = time.perf_counter()
            folder = makefolder(root, count)
            made = time.perf_counter() - made
            runs = max(1, args.runs // (2 if count > 10000 else 1))
            folderrow("%d files" % count, "velkra",
                      measure([velkra, "file", "-folder=" + folder], venv, runs, geometry, LISTFRAME))
            if peers.get("dialog"):
                folderrow("%d files" % count, "dialog",
                          measure([peers["dialog"], "--fselect", folder + "/", "20", "70"], base, runs, geometry,
                                  LISTFRAME))
            print("  (made the folder in %.1f s)" % made, flush=True)


if __name__ == "__main__":
    main()
