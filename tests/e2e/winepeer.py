"""The Windows program under wine, on an X server of its own, for the end-to-end
tests: an Xvfb that picks its own display number (-displayfd), a wine prefix
under the build tree made once (wineboot), the X11 driver told to leave windows
unmanaged (Managed=N: without a window manager each DestroyWindow would wait
seconds), and one wine server kept alive and warmed up, so that a run takes a
fraction of a second. Everything wine starts in the background reads and writes
/dev/null (its helpers inherit descriptors, and a reader waiting for the end of a
pipe would wait for them). Every wine call runs under a timeout; the end stops
the server of the prefix and the Xvfb by its pid."""
import os
import shutil
import struct
import subprocess

import pytest

from x11peer import start_xvfb, wait_for

BUILD = os.environ.get("KZV_BUILD", "")
SUFFIX = os.environ.get("KZV_SUFFIX", "windows-x64")
PROGRAM = os.path.join(BUILD, "velkra-%s.exe" % SUFFIX)
WINPEER = os.path.join(BUILD, "winpeer.exe")
TESTAPP = os.path.join(BUILD, "kzvtestapp.exe")
DEVNULL = subprocess.DEVNULL


def have_tools():
    return all(shutil.which(t) for t in ("wine", "wineserver", "wineboot", "Xvfb", "xdotool", "xwininfo", "xwd"))


@pytest.fixture(scope="module")
def desk():
    """One wine desktop of 1280 x 1024 for the tests of a module."""
    d = WineDesktop()
    yield d
    d.close()


def maketree(root, names=("a.txt", "b.md", "c.png")):
    """Files named as given, each holding its own name, in the folder root."""
    for name in names:
        (root / name).write_text(name)
    return root


def windowspath(path):
    """A Linux path in the Windows program's own form: wine's drive Z: is /."""
    return "/z" + str(path)


class WineDesktop:
    def __init__(self, width=1280, height=1024):
        self.width, self.height = width, height
        self.prefix = os.path.join(BUILD, "wine-e2e")
        self.xvfb = None
        self._startx()
        self.env = dict(os.environ)
        for name in ("KZVTERM_CXS", "KZVTERM_CYS", "XAUTHORITY"):
            self.env.pop(name, None)
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        DISPLAY=":%d" % self.number)
        self._startwine()

    def _startx(self):
        self.xvfb, self.number = start_xvfb(["-nolisten", "tcp", "-noreset", "-screen", "0",
                                             "%dx%dx24" % (self.width, self.height)], seconds=15)
        if not self.xvfb:
            self.close()
            raise RuntimeError("Xvfb did not report a display number")

    def quiet(self, args, seconds):
        return subprocess.run(["timeout", "-k", "5", str(seconds)] + args, env=self.env, stdin=DEVNULL,
                              stdout=DEVNULL, stderr=DEVNULL).returncode

    def _startwine(self):
        os.makedirs(self.prefix, exist_ok=True)
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            self.quiet(["wineboot", "-i"], 240)
        self.quiet(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/t", "REG_SZ",
                    "/d", "N", "/f"], 60)
        # The server restarts with the setting and with this DISPLAY before any window.
        self.quiet(["wineserver", "-k"], 30)
        self.quiet(["wineserver", "-w"], 30)
        self.quiet(["wineserver", "-p"], 30)
        self.quiet(["wine", "cmd", "/c", "exit"], 120)

    def close(self):
        if getattr(self, "env", None):
            self.quiet(["wineserver", "-k"], 30)
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()
            self.xvfb = None

    def start(self, program, args, **kw):
        """A Windows program with its output on pipes; stdin is /dev/null unless given."""
        kw.setdefault("stdin", DEVNULL)
        return subprocess.Popen(["timeout", "-k", "5", "60", "wine", program] + list(args), env=kw.pop("env", self.env),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)

    def run(self, program, args, seconds=60, **kw):
        return self.wait(self.start(program, args, **kw), seconds)

    def wait(self, p, seconds=60, keys=None):
        """(status, out, err) of a started program, with `keys` on its input; status
        "timeout" when it had to be stopped. The stop is a SIGTERM to `timeout`,
        which passes it on to wine: killing `timeout` would leave wine running and
        holding the pipes."""
        try:
            out, err = p.communicate(keys, timeout=seconds)
        except subprocess.TimeoutExpired:
            p.terminate()
            try:
                out, err = p.communicate(timeout=15)
            except subprocess.TimeoutExpired:
                p.kill()
                out, err = b"", b""
            return "timeout", out, err
        return p.returncode, out, err

    def tool(self, *args):
        return subprocess.run(list(args), env=self.env, capture_output=True, text=True, timeout=30)

    def findwindow(self, title, seconds=20):
        """(id, x, y, width, height) of the mapped window with exactly that name, or None."""
        def look():
            out = self.tool("xdotool", "search", "--onlyvisible", "--name", "^%s$" % title).stdout.split()
            for wid in out:
                g = self.geometry(int(wid))
                if g:
                    return (int(wid),) + g
            return None
        return wait_for(look, seconds, 0.05)

    def geometry(self, wid):
        info = self.tool("xwininfo", "-id", str(wid)).stdout
        if "IsViewable" not in info:
            return None
        field = lambda name: int(info.split(name)[1].split()[0])
        return (field("Absolute upper-left X:"), field("Absolute upper-left Y:"), field("Width:"), field("Height:"))

    def screenshot(self):
        """The root window as an RGB image (xwd's 24- and 32-bit pixel layouts)."""
        from PIL import Image
        raw = subprocess.run(["xwd", "-root", "-silent"], env=self.env, capture_output=True, timeout=30).stdout
        h = struct.unpack(">25I", raw[:100])
        headersize, width, height, bpp, bytesperline, ncolors = h[0], h[4], h[5], h[11], h[12], h[19]
        pixels = raw[headersize + 12 * ncolors:]
        layout = {32: "BGRX", 24: "BGR"}[bpp]
        return Image.frombytes("RGB", (width, height), pixels, "raw", layout, bytesperline)
