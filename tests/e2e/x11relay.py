# A fault-injecting relay between an X client and an Xvfb: it listens on a TCP
# port the kernel picks (the client reaches it as DISPLAY=127.0.0.1:<port - 6000>),
# passes the client's bytes to the server's socket as they are, and takes the
# server's stream apart (the setup reply, then 32-byte errors, events and reply
# heads, each reply with its body) so that a fault can replace the packet that
# answers one request or put an error in front of it.
#
# The server's units: the setup reply is an 8-byte head whose u16 at offset 6 is
# the length of the rest in 4-byte words; then every unit is 32 bytes, and a reply
# (byte 0 = 1) carries u32 at offset 4 more words behind them; bytes 2-3 of each
# unit are the sequence number of the last request the server has taken.
import socket
import struct
import threading

BADVALUE = 2
BADALLOC = 11


def error(code, sequence, major, value=0, minor=0):
    """An X error packet: code 0, the error code, the sequence, the bad value, the
    minor and major opcodes."""
    return struct.pack("<BBHIHB", 0, code, sequence & 0xFFFF, value, minor, major) + b"\0" * 21


class Relay:
    """faults: {sequence: (kind, error code)}. A "replace" fault sends an error in
    place of the server's answer to that request; "before" and "after" send an
    error for it ahead of the server's answer or behind it; "drop" sends nothing
    in its place (the code is not used). The major
    opcode of each request is taken from the client's stream, so the errors name
    the request they answer. Threads end when either side closes."""

    def __init__(self, server, faults):
        self.server, self.faults = server, dict(faults)
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        assert 6000 < self.port <= 65535, self.port
        self.listener.listen(4)
        self.majors = {}                 # sequence -> major opcode, as the client sent them
        self.socks = [self.listener]
        self.injected = []               # the sequences a fault was applied to
        self.problem = None              # what went wrong in the relay itself
        self.threads = []
        self._start(self._accept)

    def _start(self, work, *args):
        t = threading.Thread(target=work, args=args, daemon=True)
        self.threads.append(t)
        t.start()

    @property
    def display(self):
        return "127.0.0.1:%d" % (self.port - 6000)

    def _accept(self):
        try:
            client, _ = self.listener.accept()
        except OSError:
            return
        upstream = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socks += [client, upstream]
        try:
            upstream.connect("/tmp/.X11-unix/X%d" % self.server.number)
        except OSError as e:
            self.problem = "the relay could not reach the server: %s" % e
            self._close(client)
            return
        self._start(self._requests, client, upstream)
        self._start(self._answers, upstream, client)

    @staticmethod
    def _read(sock, buffer, n):
        while len(buffer) < n:
            chunk = sock.recv(65536)
            if not chunk:
                raise EOFError
            buffer += chunk
        unit = bytes(buffer[:n])
        del buffer[:n]
        return unit

    def _requests(self, client, upstream):
        """The client's bytes go on unchanged; each request's opcode is noted by its
        sequence number (the setup request first: 12 bytes and the padded cookie;
        then requests of u16 length words at offset 2, 0 meaning the BIG-REQUESTS
        form with a u32 length at offset 4)."""
        buffer = bytearray()
        try:
            head = self._read(client, buffer, 12)
            names, data = struct.unpack("<HH", head[6:10])
            rest = self._read(client, buffer, (names + 3) // 4 * 4 + (data + 3) // 4 * 4)
            upstream.sendall(head + rest)
            sequence = 0
            while True:
                head = self._read(client, buffer, 4)
                words = struct.unpack("<H", head[2:4])[0]
                if words == 0:
                    head += self._read(client, buffer, 4)
                    words = struct.unpack("<I", head[4:8])[0]
                body = self._read(client, buffer, max(words * 4 - len(head), 0))
                sequence += 1
                self.majors[sequence & 0xFFFF] = head[0]
                upstream.sendall(head + body)
        except (EOFError, OSError):
            self._close(client, upstream)

    def _answers(self, upstream, client):
        buffer = bytearray()
        try:
            head = self._read(upstream, buffer, 8)
            client.sendall(head + self._read(upstream, buffer, struct.unpack("<H", head[6:8])[0] * 4))
            while True:
                unit = self._read(upstream, buffer, 32)
                if unit[0] == 1:
                    unit += self._read(upstream, buffer, struct.unpack("<I", unit[4:8])[0] * 4)
                client.sendall(self._apply(unit))
        except (EOFError, OSError):
            self._close(client, upstream)

    def _apply(self, unit):
        sequence = struct.unpack("<H", unit[2:4])[0]
        fault = self.faults.get(sequence) if unit[0] in (0, 1) else None
        if not fault:
            return unit
        del self.faults[sequence]
        self.injected.append(sequence)
        kind, code = fault
        bad = error(code, sequence, self.majors.get(sequence, 0))
        return {"replace": bad, "before": bad + unit, "after": unit + bad, "drop": b""}[kind]

    def _close(self, *socks):
        for s in socks:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def close(self):
        """Shuts the sockets down, which wakes the threads, and closes them only once
        the threads have ended: a socket closed under a thread that is about to read
        it again frees its descriptor number, and the next relay's socket taking that
        number would have its bytes read by the old thread."""
        for s in self.socks:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for t in list(self.threads):
            t.join(10)
        for s in self.socks:
            s.close()
