#!/usr/bin/env bash
# Builds the X11 fuzz targets with clang++ (libFuzzer + ASan + UBSan) and runs a
# campaign bounded in time for each: the client's reading of the server
# (fuzz_x11reply, over the framework's own sources) and the authority-file reader
# (fuzz_xauth). Usage: run_fuzz_x11.sh [seconds per target] [work dir] [x11demo]
# (defaults: 60 s, /tmp/kzvfuzz-x11). Seeds are made here: a server's answers to
# the client's setup, replies, errors and events laid out by the protocol, and,
# when Xvfb and a built x11demo are at hand, the bytes a real server sent to the
# demo through a recording relay. A finding leaves a crash-* file and exit 1.
set -euo pipefail
seconds=${1:-60}
work=${2:-/tmp/kzvfuzz-x11}
demo=${3:-}
root="$(cd "$(dirname "$0")/../.." && pwd)"
mkdir -p "$work/replies" "$work/xauth"
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-exceptions
       -fno-rtti -I"$root")
framework=(drivers/x11.cpp drivers/x11events.cpp drivers/x11window.cpp drivers/x11proto.cpp
           drivers/x11auth.cpp framework/stream.cpp framework/mem.cpp framework/smem.cpp
           framework/memprim.cpp framework/module.cpp framework/sysprocess.cpp framework/sysargs.cpp
           framework/printf.cpp framework/vprinter.cpp framework/vprinterfloat.cpp framework/str.cpp
           framework/strwide.cpp framework/stdio.cpp framework/fileload.cpp framework/filestream.cpp
           framework/resources.cpp framework/timeconv.cpp framework/dumpmem.cpp framework/data.cpp
           framework/dirnamelist.cpp
           gui/image.cpp gui/imagedraw.cpp gui/cornermask.cpp gui/pixelformat.cpp gui/blit.cpp
           gui/windowtable.cpp
           resources/resourcearchive.cpp platform/linux/syscalls.cpp)
sources=()
for f in "${framework[@]}"; do sources+=("$root/$f"); done
for f in "$root"/platform/linux/os_*.cpp; do sources+=("$f"); done
clang++ "${flags[@]}" "$root/tests/fuzz/fuzz_x11reply.cpp" "${sources[@]}" -o "$work/fuzz_x11reply"
clang++ "${flags[@]}" "$root/tests/fuzz/fuzz_xauth.cpp" "$root/drivers/x11auth.cpp" \
  "$root/framework/memprim.cpp" -o "$work/fuzz_xauth"

/usr/bin/python3 - "$work" "$demo" <<'PY'
import os, socket, struct, subprocess, sys, threading, time
work, demo = sys.argv[1], sys.argv[2]

def pad(b):
    return b + b"\0" * (-len(b) % 4)

def setup(depth=24, bpp=32, base=0x400000, width=640, height=480, vendor=b"Seed"):
    data = struct.pack("<IIIIHHBBBBBBBBI", 1, base, 0x1FFFFF, 256, len(vendor), 65535, 1, 2, 0, 0, 32, 32,
                       8, 255, 0) + pad(vendor)
    data += struct.pack("<BBBxxxxx", 1, 1, 32) + struct.pack("<BBBxxxxx", depth, bpp, 32)
    data += struct.pack("<IIIIIHHHHHHIBBBB", 0x2A, 0x20, 0xFFFFFF, 0, 0, width, height, 300, 200, 1, 1,
                        0x21, 0, 0, depth, 0)
    return struct.pack("<BxHHH", 1, 11, 0, len(data) // 4) + data

def reply(seq, body=b"", data1=0):
    body = pad(body)
    head = struct.pack("<BBHI", 1, data1, seq, max(0, len(body) - 24) // 4)
    return (head + body + b"\0" * 24)[:32 + max(0, len(body) - 24)]

def answers():
    out = b"".join(reply(i + 1, struct.pack("<I", 100 + i)) for i in range(17))
    keys = 248
    syms = b"".join(struct.pack("<II", 0x61 + k % 26, 0x41 + k % 26) for k in range(keys))
    out += struct.pack("<BBHI", 1, 2, 18, keys * 2) + b"\0" * 24 + syms
    for i in range(5):
        out += reply(19 + i, struct.pack("<BBBB", 1, 140 + i, 0, 0))
    modes = struct.pack("<IHHIHHHHHHHHI", 0x50, 640, 480, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)
    rr = struct.pack("<IIHHHHxxxxxxxx", 1, 2, 1, 1, 1, 0) + struct.pack("<II", 0x40, 0x41) + modes
    out += struct.pack("<BBHI", 1, 0, 24, (len(rr) - 24) // 4) + rr
    out += reply(25, struct.pack("<I", 4194303))
    return out

def event(code, *fields):
    return (struct.pack("<BB", code, fields[0] if fields else 0) + b"".join(fields[1:]) + b"\0" * 32)[:32]

w = struct.pack("<I", 0x400000)
events = [
    event(19, 0, b"\0\0", w, w),                                   # MapNotify
    event(12, 0, b"\0\0", w, struct.pack("<HHHHH", 0, 0, 40, 30, 0)),
    event(22, 0, b"\0\0", w, w, b"\0" * 4, struct.pack("<hhHH", 5, 6, 400, 300)),
    event(2, 38, b"\0\0", b"\0" * 8, w, b"\0" * 4, struct.pack("<hhhhH", 0, 0, 3, 4, 4)),
    event(4, 1, b"\0\0", b"\0" * 8, w, b"\0" * 4, struct.pack("<hhhhH", 0, 0, 3, 4, 0)),
    event(0xA1, 32, b"\0\0", w, struct.pack("<II", 108, 106)),     # a sent WM_DELETE_WINDOW
    event(0, 2, struct.pack("<H", 18), b"\0" * 4, struct.pack("<HB", 0, 101)),   # BadValue
]
seeds = {
    "setup-only": setup(),
    "setup-depth16": setup(16, 16),
    "ready": setup() + answers(),
    "ready-events": setup() + answers() + b"".join(events),
    "refused": struct.pack("<BBHHH", 0, 22, 11, 0, 6) + pad(b"No protocol specified\n"),
    "long-reply": setup() + answers()[:32 * 17] + struct.pack("<BBHI", 1, 0, 18, 0x20000) + b"\0" * 64,
}
for i, (name, body) in enumerate(seeds.items()):
    for chunk in (0, 31, 96):
        open(os.path.join(work, "replies", "%s-%d" % (name, chunk)), "wb").write(bytes([chunk, 40 + i]) + body)

# A real server's bytes, recorded between the demo and Xvfb.
if demo and os.path.exists(demo) and subprocess.run(["which", "Xvfb"], capture_output=True).returncode == 0:
    n = next(i for i in range(650, 900) if not os.path.exists("/tmp/.X11-unix/X%d" % i)
             and not os.path.exists("/tmp/.X11-unix/X%d" % (i + 1)))
    xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-ac", "-screen", "0", "320x240x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(200):
            if os.path.exists("/tmp/.X11-unix/X%d" % n):
                break
            time.sleep(0.05)
        relay = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        relaypath = "/tmp/.X11-unix/X%d" % (n + 1)
        relay.bind(relaypath)
        relay.listen(1)
        recorded = bytearray()
        def pump(a, b, keep):
            while True:
                try:
                    chunk = a.recv(65536)
                except OSError:
                    break
                if not chunk:
                    break
                if keep:
                    recorded.extend(chunk)
                try:
                    b.sendall(chunk)
                except OSError:
                    break
        env = dict(os.environ, DISPLAY=":%d" % (n + 1), XAUTHORITY="/nonexistent")
        env.pop("KZVTERM_CXS", None)
        proc = subprocess.Popen([demo, os.path.join(work, "demo.log"), "64", "40", "seed"], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        client, _ = relay.accept()
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.connect("/tmp/.X11-unix/X%d" % n)
        threading.Thread(target=pump, args=(client, server, False), daemon=True).start()
        threading.Thread(target=pump, args=(server, client, True), daemon=True).start()
        time.sleep(1.0)
        xenv = dict(os.environ, DISPLAY=":%d" % n)
        for args in (["mousemove", "140", "110"], ["click", "1"], ["key", "a"], ["key", "q"]):
            subprocess.run(["xdotool"] + args, env=xenv, capture_output=True)
            time.sleep(0.1)
        proc.wait(5)
        open(os.path.join(work, "replies", "recorded"), "wb").write(bytes([0, 50]) + bytes(recorded))
        os.unlink(relaypath)
    finally:
        xvfb.terminate()
        xvfb.wait()

def entry(family, address, number, name, data):
    field = lambda b: struct.pack(">H", len(b)) + b
    return struct.pack(">H", family) + field(address) + field(number) + field(name) + field(data)
cookie = b"MIT-MAGIC-COOKIE-1"
files = {
    "two": entry(256, b"host", b"1", cookie, os.urandom(16)) + entry(256, b"host", b"0", cookie, os.urandom(16)),
    "families": entry(0, bytes([10, 0, 0, 5]), b"3", cookie, b"x" * 16) + entry(65535, b"", b"3", cookie, b"y" * 16),
    "other-name": entry(256, b"h", b"12", b"XDM-AUTHORIZATION-1", b"z" * 8) + entry(256, b"h", b"12", cookie, b"k" * 16),
    "long-data": entry(256, b"h", b"7", cookie, b"d" * 3000),
}
for i, (name, body) in enumerate(files.items()):
    for display in (0, 3, 7, 12):
        open(os.path.join(work, "xauth", "%s-%d" % (name, display)), "wb").write(
            bytes([display, i, 200, 0]) + body)
PY

cd "$work"
status=0
"$work/fuzz_x11reply" -max_total_time="$seconds" -max_len=70000 -timeout=10 -print_final_stats=1 replies \
  || status=1
"$work/fuzz_xauth" -max_total_time="$seconds" -max_len=20000 -timeout=10 -print_final_stats=1 xauth || status=1
exit $status
