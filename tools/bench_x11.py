#!/usr/bin/python3
"""Benchmark of the X11 dialogs: for `velkra yesno` and `velkra file` (and the
message box), the time from exec to the window mapped and to its first painted
frame, the peak memory and the binary size; beside xmessage, yad and zenity with
comparable dialogs, measured in the same run on the same X server. Prints
figures; it is not a test and asserts nothing.

One Xvfb (depth 24, 1280 x 1024, no window manager) is started on a free display
number with an authority cookie of its own. A small X client of this script
selects SubstructureNotify on the root window, so the server tells it when each
program creates and maps its top-level window, and puts a DAMAGE object on every
top-level window as soon as it is created, so the server reports each drawing
that reaches that window's pixels (whether a PutImage, a CopyArea from a pixmap
or a toolkit's own rendering). Times are taken on this client's clock when the
events arrive, from just before the program is spawned:
  mapped   the MapNotify of the program's first mapped top-level window;
  frame    the last drawing into that window before it stays untouched for
           QUIET seconds while showing more than one colour (read back with
           GetImage, so the server's own background fill alone is no frame).
Peak memory is the kernel's high-water mark of resident memory (VmHWM), read
from /proc once the frame is complete; the rusage of a child is not used, since
it also counts the memory of the Python process it was forked from. Each
program gets one unmeasured warm-up run (so that every binary and library is in
the page cache), then --runs measured runs; the median and the range are shown.
Every program runs with the same small environment: a fresh HOME and no
session bus (none runs here).

The baseline is a minimal Xlib client that this script builds from a few lines
of C with Debian's libx11-dev: it opens a window, maps it and waits for its
MapNotify, then waits for ever. It is linked once dynamically, as Debian links
its programs, and once statically (the floor: no dynamic loader, no library
relocations). It draws nothing, so it has a time to map and no first frame.
Every dialog's first frame and peak memory are then printed as ratios: to the
baseline's time to map, and to xmessage's, yad's and zenity's figures of the
same dialog in the same run. A peer that is missing is left out.

usage: tools/bench_x11.py [build-dir] [--runs N]
"""
import os
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

from bench_dialogs import binarysize, commandline, librariesize, peakkib  # noqa: E402
from x11peer import XClient, XServer  # noqa: E402

QUIET = 0.4             # seconds without drawing that end the first frame
LIMIT = 30.0            # the longest wait for a window and its frame
SCREEN = (1280, 1024)

# Debian packages that bring what this script runs.
PACKAGES = {"Xvfb": "xvfb", "xauth": "xauth", "xwininfo": "x11-utils", "xmessage": "x11-apps",
            "yad": "yad", "zenity": "zenity", "cc": "gcc"}
XLIBHEADER = "/usr/include/X11/Xlib.h"
PEERS = ("xmessage", "yad", "zenity")

# The baseline: a window mapped, its MapNotify awaited, then nothing more.
MINIMALCLIENT = r"""
#include <X11/Xlib.h>
int main(void)
{
    Display *d = XOpenDisplay(0);
    if (!d)
        return 2;
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 300, 120, 0, 0, WhitePixel(d, 0));
    XSelectInput(d, w, StructureNotifyMask);
    XMapWindow(d, w);
    for (XEvent e;;) {
        XNextEvent(d, &e);
        if (e.type == MapNotify)
            break;
    }
    for (XEvent e;;)
        XNextEvent(d, &e);
}
"""
# What a static libX11 needs below it on Debian.
STATICLIBS = ["-lX11", "-lxcb", "-lXau", "-lXdmcp"]


def ensuretools():
    """The X server, its tools, the peers and Xlib's headers, as tools/install-deps.sh
    installs them; what is missing is named and its rows are left out."""
    for tool, pkg in sorted(PACKAGES.items()):
        if not shutil.which(tool):
            print("(%s from Debian's %s is not installed; its rows are left out)" % (tool, pkg))
    if not os.path.exists(XLIBHEADER):
        print("(libx11-dev is not installed: no minimal Xlib client to compare with)")
    return {tool: shutil.which(tool) for tool in PACKAGES}


def buildminimal(folder, cc):
    """The minimal Xlib client, dynamic and static: [(name, path)] of those that
    could be built."""
    if not cc or not os.path.exists(XLIBHEADER):
        print("(no C compiler or no libx11-dev: the minimal Xlib client is left out)")
        return []
    source = os.path.join(folder, "minimalx.c")
    with open(source, "w") as f:
        f.write(MINIMALCLIENT)
    built = []
    for name, flags in (("xlib dyn", ["-lX11"]), ("xlib static", ["-static"] + STATICLIBS)):
        target = os.path.join(folder, name.replace(" ", "-"))
        run = subprocess.run([cc, "-O2", "-o", target, source] + flags, capture_output=True, text=True)
        if run.returncode == 0:
            built.append((name, target))
        else:
            print("(the %s client could not be linked: %s)" % (name, run.stderr.strip().splitlines()[-1:]))
    return built


class Watcher(XClient):
    """Watches the root window's children: their creation, mapping and drawing."""

    CREATE, CONFIGURE, MAP = 16, 22, 19

    def __init__(self, server):
        super().__init__(server)
        setup = self.setup
        self.idbase, self.idmask = struct.unpack("<II", setup[4:12])
        vendor, formats = struct.unpack("<H", setup[16:18])[0], setup[21]
        screen = 32 + vendor + (4 - vendor % 4) % 4 + 8 * formats
        self.root = struct.unpack("<I", setup[screen:screen + 4])[0]
        self.nextid = 1
        # The DAMAGE extension: its opcode, its first event, and its version
        # agreed before any of its requests.
        name = b"DAMAGE"
        reply = self.call(struct.pack("<BxHHxx", 98, 2 + (len(name) + 3) // 4, len(name))
                          + name + b"\0" * ((4 - len(name) % 4) % 4))
        if not reply[8]:
            raise RuntimeError("the X server has no DAMAGE extension")
        self.damage, self.damageevent = reply[9], reply[10]
        self.call(struct.pack("<BBHII", self.damage, 0, 3, 1, 1))
        # SubstructureNotify on the root: CreateNotify, ConfigureNotify, MapNotify.
        self.sock.sendall(struct.pack("<BxHIII", 2, 4, self.root, 1 << 11, 1 << 19))
        self.sock.setblocking(False)
        self.buffer = b""
        self.pending = []

    def call(self, request):
        """A request and its reply, while no event is selected yet."""
        self.sock.sendall(request)
        return self._reply()

    def newid(self):
        rid = self.idbase | (self.nextid & self.idmask)
        self.nextid += 1
        return rid

    def packets(self, timeout):
        """The packets that arrive within timeout seconds, each with its arrival time."""
        ready, _, _ = select.select([self.sock], [], [], max(0.0, timeout))
        if not ready:
            return []
        now = time.perf_counter()
        while True:
            try:
                chunk = self.sock.recv(1 << 20)
            except BlockingIOError:
                break
            if not chunk:
                raise RuntimeError("the X server closed the connection")
            self.buffer += chunk
        out = []
        while len(self.buffer) >= 32:
            code = self.buffer[0] & 0x7F
            size = 32
            if code == 1 or code == 35:
                size += 4 * struct.unpack("<I", self.buffer[4:8])[0]
            if len(self.buffer) < size:
                break
            out.append((now, self.buffer[:size]))
            self.buffer = self.buffer[size:]
        return out

    def watch(self, window):
        """Reports every drawing that reaches window (or its inferiors)."""
        self.sock.sendall(struct.pack("<BBHIIB3x", self.damage, 1, 4, self.newid(), window, 0))

    def colours(self, x, y, w, h):
        """Whether the rectangle of the root window shows more than one colour."""
        x0, y0 = max(0, x), max(0, y)
        x1, y1 = min(SCREEN[0], x + w), min(SCREEN[1], y + h)
        if x1 <= x0 or y1 <= y0:
            return False
        self.sock.sendall(struct.pack("<BBHIhhHHI", 73, 2, 5, self.root, x0, y0, x1 - x0, y1 - y0,
                                      0xFFFFFFFF))
        end = time.perf_counter() + 5
        while time.perf_counter() < end:
            for _, packet in self.packets(0.5):
                if packet[0] == 1:
                    data = packet[32:]
                    return data != data[:4] * (len(data) // 4)
                self.pending.append(packet)
        return False


def onerun(watcher, argv, env, mapping=False):
    """(seconds to mapped, seconds to the first frame, peak KiB) of one run; with
    mapping, the run ends at the window's MapNotify (a client that never draws)."""
    watcher.pending = []
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    geometry = {}
    mapped = window = lastdraw = None
    frame = None
    end = start + LIMIT
    while (frame is None and not (mapping and mapped) and time.perf_counter() < end
           and proc.poll() is None):
        timeout = 0.1 if lastdraw is None else max(0.0, lastdraw + QUIET - time.perf_counter())
        got = watcher.pending + watcher.packets(timeout)
        watcher.pending = []
        for now, packet in got:
            code = packet[0] & 0x7F
            if code == Watcher.CREATE:
                parent, wid = struct.unpack("<II", packet[4:12])
                if parent == watcher.root:
                    geometry[wid] = struct.unpack("<hhHH", packet[12:20])
                    watcher.watch(wid)
            elif code == Watcher.CONFIGURE:
                wid = struct.unpack("<I", packet[8:12])[0]
                if wid in geometry:
                    geometry[wid] = struct.unpack("<hhHH", packet[16:24])
            elif code == Watcher.MAP:
                wid, override = struct.unpack("<I", packet[8:12])[0], packet[12]
                if window is None and not override and wid in geometry:
                    window, mapped = wid, now
            elif code == watcher.damageevent and window is not None:
                if struct.unpack("<I", packet[4:8])[0] == window:
                    lastdraw = now
        if (lastdraw is not None and time.perf_counter() >= lastdraw + QUIET
                and not [p for p in watcher.pending if p[1][0] & 0x7F == watcher.damageevent]):
            if watcher.colours(*geometry[window]):
                frame = lastdraw
            else:
                lastdraw = None
    peak = peakkib(proc.pid)
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(3)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    # Whatever the ended program's windows still report is no part of the next run.
    while watcher.packets(0.05):
        pass
    nan = float("nan")
    return ((mapped - start) if mapped else nan, (frame - start) if frame else nan, peak)


def measure(watcher, argv, env, runs, mapping=False):
    onerun(watcher, argv, env, mapping)
    results = [onerun(watcher, argv, env, mapping) for _ in range(runs)]
    return [[r[i] for r in results] for i in range(3)]


def spread(values):
    good = [v for v in values if v == v]
    if not good:
        return "%22s" % "no window"
    missed = len(values) - len(good)
    text = "%7.1f (%5.1f-%5.1f)" % (statistics.median(good) * 1000, min(good) * 1000, max(good) * 1000)
    return text + (" %d missed" % missed if missed else "")


def median(values):
    good = [v for v in values if v == v]
    return statistics.median(good) if good else float("nan")


def ratio(a, b):
    return "%8.2fx" % (a / b) if a == a and b == b and b > 0 else "%9s" % "-"


def printratios(cases, results, baselines):
    """Every dialog's first frame over the baselines' times to map and over each
    peer's first frame of the same dialog; its peak memory over the peers'."""
    others = [p for p in PEERS if any((name, p) in results for name, _ in cases)]
    print("\nratios of the medians (below 1.00x: the dialog is ahead)")
    print("  %-13s %-9s" % ("dialog", "program")
          + "".join(" %9s" % ("/" + b.replace("xlib ", "") + " map") for b in baselines)
          + "".join(" %9s" % ("/" + p[:8]) for p in others)
          + "  peak" + "".join(" %9s" % ("/" + p[:8]) for p in others))
    for name, programs in cases:
        if name == "baseline":
            continue
        for program, _ in programs:
            if (name, program) not in results:
                continue
            _, frame, peak = results[(name, program)]
            line = "  %-13s %-9s" % (name, program)
            line += "".join(" " + ratio(frame, results[("baseline", b)][0]) for b in baselines)
            line += "".join(" " + ratio(frame, results.get((name, p), (0, float("nan"), 0))[1]) for p in others)
            line += "      " + "".join(" " + ratio(peak, results.get((name, p), (0, 0, 0))[2] or float("nan"))
                                       for p in others)
            print(line)


def main():
    args, velkra = commandline()
    tools = ensuretools()
    if not all(tools.get(t) for t in ("Xvfb", "xauth", "xwininfo")):
        sys.exit("needs Xvfb, xauth and xwininfo (Debian's xvfb, xauth, x11-utils)")
    velkra = os.path.abspath(velkra)

    print("binary size")
    print("  %-20s %10d bytes (static, no libraries)" % ("velkra", binarysize(velkra)))
    for peer in PEERS:
        if tools.get(peer):
            print("  %-20s %10d bytes + %d bytes of shared libraries"
                  % (peer, binarysize(tools[peer]), librariesize(tools[peer])))

    server = XServer(depth=24, width=SCREEN[0], height=SCREEN[1])
    home = tempfile.mkdtemp(prefix="kzvbench-")
    try:
        folder = os.path.join(home, "folder")
        os.mkdir(folder)
        for n in ("a.txt", "b.md", "c.txt", "d.png", "e.pdf"):
            open(os.path.join(folder, n), "w").close()
        os.mkdir(os.path.join(folder, "sub"))
        env = {"PATH": "/usr/bin:/bin", "HOME": home, "LANG": "C.UTF-8",
               "DISPLAY": ":%d" % server.number, "XAUTHORITY": server.authfile}
        minimal = buildminimal(home, tools.get("cc"))
        for name, path in minimal:
            print("  %-20s %10d bytes%s" % (name, binarysize(path),
                                          "" if "static" in name else " + %d bytes of shared libraries"
                                          % librariesize(path)))
        text = "Are you sure?"
        cases = [("baseline", [(name, [path]) for name, path in minimal]),
            ("question", [
                ("velkra", [velkra, "yesno", "-text=" + text]),
                ("xmessage", ["xmessage", "-center", "-buttons", "Yes:0,No:1", text]),
                ("yad", ["yad", "--title=Question", "--image=dialog-question", "--text=" + text,
                         "--button=Yes:0", "--button=No:1"]),
                ("zenity", ["zenity", "--question", "--text=" + text])]),
            ("message box", [
                ("velkra", [velkra, "info", "-text=Hello"]),
                ("xmessage", ["xmessage", "-center", "Hello"]),
                ("yad", ["yad", "--title=Information", "--image=dialog-information", "--text=Hello",
                         "--button=OK:0"]),
                ("zenity", ["zenity", "--info", "--text=Hello"])]),
            ("file chooser", [
                ("velkra", [velkra, "file", "-folder=" + folder]),
                ("yad", ["yad", "--file", "--filename=" + folder + "/"]),
                ("zenity", ["zenity", "--file-selection", "--filename=" + folder + "/"])]),
        ]
        watcher = Watcher(server)
        print("\nXvfb %dx%dx24 on :%d; %d runs each after one warm-up; milliseconds as median (min-max)"
              % (SCREEN[0], SCREEN[1], server.number, args.runs))
        print("  %-13s %-12s %-28s %-28s %s" % ("dialog", "program", "exec to mapped", "exec to first frame",
                                               "peak memory"))
        results = {}
        for name, programs in cases:
            for program, argv in programs:
                if argv[0] in PEERS and not tools.get(argv[0]):
                    continue
                mapped, frame, peak = measure(watcher, argv, env, args.runs, name == "baseline")
                results[(name, program)] = (median(mapped), median(frame), max(peak))
                print("  %-13s %-12s %-28s %-28s %6d KiB" % (name, program, spread(mapped), spread(frame),
                                                             max(peak)), flush=True)
        watcher.close()
        printratios(cases, results, [name for name, _ in minimal])
    finally:
        server.close()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
