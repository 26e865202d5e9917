# Helpers for the X11 end-to-end tests: an Xvfb of our own on a free display
# number with an authority cookie (optionally listening on TCP), screenshots
# through xwd, the tools' output parsed, and a minimal X client of our own that
# sends what no installed tool sends (a window manager's WM_DELETE_WINDOW).
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

from PIL import Image

BUILD = os.environ.get("KZV_BUILD", "")
EMULATOR = [a for a in os.environ.get("KZV_EMULATOR", "").split(";") if a]


def program(name):
    return EMULATOR + [os.path.join(BUILD, name)]


def have_x_tools():
    return all(shutil.which(t) for t in ("Xvfb", "xauth", "xwininfo", "xprop", "xwd", "xdotool"))


def wait_for(predicate, seconds=10.0, step=0.02):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def start_xvfb(args, log=subprocess.DEVNULL, seconds=20):
    """Starts Xvfb with the given arguments on a display number it picks itself
    (-displayfd), so servers that other users or tests run are never in the way.
    Answers (process, number), or (None, None) when no server came up in time."""
    rd, wr = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(wr)] + list(args), pass_fds=(wr,),
                            stdout=log, stderr=subprocess.STDOUT if log is not subprocess.DEVNULL else log)
    os.close(wr)
    text = b""
    end = time.monotonic() + seconds
    try:
        while not text.endswith(b"\n") and time.monotonic() < end:
            ready, _, _ = select.select([rd], [], [], max(0.0, end - time.monotonic()))
            if not ready:
                break
            part = os.read(rd, 32)
            if not part:
                break
            text += part
    finally:
        os.close(rd)
    if not text.strip().isdigit():
        proc.kill()
        proc.wait()
        return None, None
    return proc, int(text)


class XServer:
    """An Xvfb on a display number nobody uses, with a cookie in its own file."""

    def __init__(self, depth=24, width=800, height=600, tcp=False, extra=(), numbers=None):
        """numbers: display numbers to try in turn, for a test that needs a kind
        of number (two digits, say); by default the server picks a free one."""
        self.dir = tempfile.mkdtemp(prefix="kzvx11-")
        self.cookie = os.urandom(16).hex()
        self.authfile = os.path.join(self.dir, "Xauthority")
        self.depth, self.width, self.height, self.tcp = depth, width, height, tcp
        self.proc = None
        for n in (numbers if numbers is not None else [None] * 3):
            if n is not None and (os.path.exists("/tmp/.X%d-lock" % n) or
                                  os.path.exists("/tmp/.X11-unix/X%d" % n)):
                continue
            if self._start(extra, n):
                return
        raise RuntimeError("no Xvfb could be started")

    def _start(self, extra, number):
        # The server takes every cookie of its -auth file, whatever display the
        # entry names; the number is known only once it has started, so the
        # clients' entry for ":n" is added to the same file afterwards.
        open(self.authfile, "wb").close()
        subprocess.run(["xauth", "-q", "-f", self.authfile, "add", "kzvx11/unix:0",
                        "MIT-MAGIC-COOKIE-1", self.cookie], check=True, timeout=20)
        # -noreset: without it the server resets whenever its last client leaves (each
        # xwininfo the tests run), dropping a client that connects at that moment.
        args = ["-auth", self.authfile, "-noreset", "-screen", "0",
                "%dx%dx%d" % (self.width, self.height, self.depth)]
        args += ["-listen", "tcp"] if self.tcp else ["-nolisten", "tcp"]
        args += list(extra)
        self.log = open(os.path.join(self.dir, "xvfb.log"), "wb")
        if number is None:
            self.proc, self.number = start_xvfb(args, self.log)
            if self.proc is None:
                return False
        else:
            self.proc = subprocess.Popen(["Xvfb", ":%d" % number] + args, stdout=self.log,
                                         stderr=subprocess.STDOUT)
            self.number = number
        subprocess.run(["xauth", "-q", "-f", self.authfile, "add", ":%d" % self.number,
                        "MIT-MAGIC-COOKIE-1", self.cookie], check=True, timeout=20)
        if wait_for(lambda: self.proc.poll() is not None or self.answers(), 10) and \
                self.proc.poll() is None:
            return True
        self.stop()
        return False

    def env(self, **more):
        e = dict(os.environ)
        e["DISPLAY"] = ":%d" % self.number
        e["XAUTHORITY"] = self.authfile
        e.pop("KZVTERM_CXS", None)
        e.update(more)
        return {k: v for k, v in e.items() if v is not None}

    def answers(self):
        r = subprocess.run(["xwininfo", "-root"], env=self.env(), capture_output=True)
        return r.returncode == 0

    def tool(self, *args):
        # A window name that is not UTF-8 must not stop a listing of the windows.
        return subprocess.run(list(args), env=self.env(), capture_output=True, text=True, errors="replace",
                              timeout=20)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def kill(self):
        """Kills the server outright: it leaves its socket and lock file behind, which go."""
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for path in ("/tmp/.X11-unix/X%d" % self.number, "/tmp/.X%d-lock" % self.number):
            try:
                os.unlink(path)
            except OSError:
                pass

    def close(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def screenshot(self):
        """The root window as an RGB image, read from xwd's output."""
        raw = subprocess.run(["xwd", "-root", "-silent"], env=self.env(), capture_output=True,
                             check=True).stdout
        return decode_xwd(raw)


def decode_xwd(raw):
    h = struct.unpack(">25I", raw[:100])
    headersize, depth, width, height = h[0], h[3], h[4], h[5]
    bpp, bytesperline, ncolors = h[11], h[12], h[19]
    masks = h[14:17]
    pixels = raw[headersize + 12 * ncolors:]
    if bpp == 32:
        return Image.frombytes("RGB", (width, height), pixels, "raw", "BGRX", bytesperline)
    assert bpp == 16 and masks == (0xF800, 0x7E0, 0x1F), (bpp, masks)
    return Image.frombytes("RGB", (width, height), pixels, "raw", "BGR;16", bytesperline)


def windows(server):
    """The root's children as (id, name, width, height, x, y)."""
    out = server.tool("xwininfo", "-root", "-children").stdout
    found = []
    for line in out.splitlines():
        parts = line.split()
        if not parts or not parts[0].startswith("0x"):
            continue
        name = line.split('"')[1] if '"' in line else ""
        geometry = [p for p in parts if "x" in p and "+" in p and not p.startswith("0x")]
        if not geometry:
            continue
        size, x, y = geometry[0].split("+")[0], geometry[0].split("+")[1], geometry[0].split("+")[2]
        w, hgt = size.split("x")
        found.append((int(parts[0], 16), name, int(w), int(hgt), int(x), int(y)))
    return found


# ---- a minimal X client ----

def _pad(n):
    return (4 - n % 4) % 4


class XClient:
    """Speaks just enough of the protocol to intern atoms, read properties, send
    events, change the server's mappings and press keys through XTEST."""

    def __init__(self, server):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect("/tmp/.X11-unix/X%d" % server.number)
        name = b"MIT-MAGIC-COOKIE-1"
        data = bytes.fromhex(server.cookie)
        self.sock.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, len(name), len(data))
                          + name + b"\0" * _pad(len(name)) + data + b"\0" * _pad(len(data)))
        head = self._read(8)
        assert head[0] == 1, "setup refused"
        self.setup = self._read(struct.unpack("<H", head[6:8])[0] * 4)
        self.sequence = 0

    def _read(self, n):
        out = b""
        while len(out) < n:
            chunk = self.sock.recv(n - len(out))
            assert chunk, "connection closed"
            out += chunk
        return out

    def _reply(self):
        while True:
            head = self._read(32)
            if head[0] == 1:
                return head + self._read(struct.unpack("<I", head[4:8])[0] * 4)
            assert head[0] != 0, "X error %d" % head[1]

    def atom(self, name):
        n = name.encode()
        self.sock.sendall(struct.pack("<BBHHxx", 16, 0, 2 + (len(n) + _pad(len(n))) // 4, len(n))
                          + n + b"\0" * _pad(len(n)))
        return struct.unpack("<I", self._reply()[8:12])[0]

    def property(self, window, name):
        """The bytes of a window's property, whatever its type (b"" when it has none)."""
        atom = self.atom(name)
        self.sock.sendall(struct.pack("<BBHIIIII", 20, 0, 6, window, atom, 0, 0, 0x10000))
        reply = self._reply()
        fmt, count = reply[1], struct.unpack("<I", reply[16:20])[0]
        return reply[32:32 + count * max(1, fmt // 8)]

    def _request(self, opcode, data=0, body=b""):
        """One request with a reply, which it answers."""
        self.sock.sendall(struct.pack("<BBH", opcode, data, 1 + len(body) // 4) + body)
        return self._reply()

    def keycode(self, keysym):
        """The first key code whose unshifted keysym this is."""
        first, last = self.setup[26], self.setup[27]
        reply = self._request(101, 0, struct.pack("<BBxx", first, last - first + 1))
        perkey = reply[1]
        for i in range(last - first + 1):
            if struct.unpack_from("<I", reply, 32 + 4 * perkey * i)[0] == keysym:
                return first + i
        raise AssertionError("no key code for keysym %#x" % keysym)

    def remap(self, keycode, keysym):
        """ChangeKeyboardMapping: the key code gives this keysym alone."""
        self.sock.sendall(struct.pack("<BBHBBxxI", 100, 1, 3, keycode, 1, keysym))

    def modifiers_set_again(self):
        """SetModifierMapping with the map the server has: a modifier change."""
        reply = self._request(119)
        per = reply[1]
        assert self._request(118, per, reply[32:32 + 8 * per])[1] == 0, "modifiers not set"

    def pointer_set_again(self):
        """SetPointerMapping with the map the server has: a pointer change."""
        reply = self._request(117)
        n = reply[1]
        body = reply[32:32 + n]
        assert self._request(116, n, body + b"\0" * _pad(n))[1] == 0, "pointer map not set"

    def press(self, keycode):
        """A press and a release of the key code through XTEST."""
        name = b"XTEST"
        reply = self._request(98, 0, struct.pack("<Hxx", len(name)) + name + b"\0" * _pad(len(name)))
        assert reply[8], "no XTEST"
        for kind in (2, 3):                     # KeyPress, KeyRelease
            self.sock.sendall(struct.pack("<BBHBBxxII8xhh7xB", reply[9], 2, 9, kind, keycode, 0, 0, 0, 0, 0))

    def round_trip(self):
        """Waits until the server has taken every request sent before."""
        self.atom("WM_NAME")

    def send_delete_window(self, window):
        """A window manager's close request: a ClientMessage sent with SendEvent."""
        protocols, delete = self.atom("WM_PROTOCOLS"), self.atom("WM_DELETE_WINDOW")
        event = struct.pack("<BBHII", 33, 32, 0, window, protocols) + struct.pack("<5I", delete, 0, 0, 0, 0)
        self.sock.sendall(struct.pack("<BBHII", 25, 0, 11, window, 0) + event)
        self.atom("WM_NAME")             # a round trip: the event has gone out

    def close(self):
        self.sock.close()
