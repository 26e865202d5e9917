#!/usr/bin/env python3
"""Prints inflate and deflate throughput (MB/s of plain bytes) and compression
ratio of our codecs beside zlib at the same level, on the same corpus in the same
run, and the time to decode a large PNG file beside Pillow. Ours run in codectool's in-memory bench mode (the freestanding release build:
tools/bench_codecs.py [BUILD_DIR], default build/linux-x86_64); zlib runs through
Python's zlib module. Each figure is the best of three timed rounds."""
import glob
import os
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "linux-x86_64")
TOOL = os.path.join(BUILD, "codectool")
ROUNDS = 3


def corpus():
    paths = ["/etc/services", "/usr/share/common-licenses/GPL-3", "/usr/bin/bash",
             "/usr/share/pixmaps/debian-logo.png"]
    paths += sorted(glob.glob("/usr/lib/*-linux-gnu*/libc.so.6"))[:1]
    paths += sorted(glob.glob("/usr/share/doc/*/changelog.Debian.gz"))[:20]
    paths += sorted(glob.glob("/usr/share/common-licenses/*"))
    data = b"".join(open(p, "rb").read() for p in paths if os.path.isfile(p))
    return data, len([p for p in paths if os.path.isfile(p)])


def ours(args, reps):
    best = None
    for _ in range(ROUNDS):
        out = subprocess.run([TOOL, "bench"] + [str(a) for a in args] + [str(reps)], capture_output=True, check=True)
        nbytes, micros = (int(x) for x in out.stdout.split())
        seconds = micros / 1e6 / reps
        best = seconds if best is None else min(best, seconds)
    return nbytes, best


def timed(fn, reps):
    best = None
    for _ in range(ROUNDS):
        t = time.perf_counter()
        for _ in range(reps):
            result = fn()
        seconds = (time.perf_counter() - t) / reps
        best = seconds if best is None else min(best, seconds)
    return result, best


def main():
    if not os.path.exists(TOOL):
        sys.exit("no codectool in " + BUILD + " (build the linux-x86_64 preset first)")
    data, count = corpus()
    mb = len(data) / 1e6
    print("corpus: %d files, %.2f MB" % (count, mb))
    with tempfile.TemporaryDirectory() as tmp:
        plain = os.path.join(tmp, "plain")
        open(plain, "wb").write(data)
        print("\ninflate (raw deflate from zlib level 6)")
        stream = zlib.compressobj(6, zlib.DEFLATED, -15)
        stream = stream.compress(data) + stream.flush()
        packed = os.path.join(tmp, "packed")
        open(packed, "wb").write(stream)
        nbytes, ourtime = ours(["inflate", packed], 10)
        assert nbytes == len(data)
        _, zlibtime = timed(lambda: zlib.decompress(stream, -15), 10)
        print("  ours %7.1f MB/s   zlib %7.1f MB/s   (ours / zlib = %.2f)"
              % (mb / ourtime, mb / zlibtime, zlibtime / ourtime))
        print("\ndeflate (raw; size as a share of the input; MB/s of input)")
        print("  %-28s %10s %8s %9s" % ("", "bytes", "ratio", "MB/s"))
        rows = []
        for level in (0, 1, 6, 9):
            nbytes, t = ours(["deflate", level, plain], 1 if level >= 6 else 3)
            rows.append(("ours level %d (%s)" % (level, {0: "stored", 1: "quick"}.get(level, "best")), nbytes, t))
            compressobj = lambda: zlib.compressobj(level, zlib.DEFLATED, -15)
            z, t = timed(lambda: (lambda c: c.compress(data) + c.flush())(compressobj()), 1 if level >= 6 else 3)
            rows.append(("zlib level %d" % level, len(z), t))
        for name, nbytes, t in rows:
            print("  %-28s %10d %7.2f%% %9.1f" % (name, nbytes, 100.0 * nbytes / len(data), mb / t))
        z6 = [r for r in rows if r[0] == "zlib level 6"][0]
        for name in ("ours level 1 (quick)", "ours level 6 (best)"):
            r = [x for x in rows if x[0] == name][0]
            print("  %s beside zlib level 6: size %+.2f%%, speed x%.2f"
                  % (name, 100.0 * (r[1] - z6[1]) / z6[1], z6[2] / r[2]))
        png(tmp)


def png(tmp):
    import io
    from PIL import Image
    gradient = Image.linear_gradient("L").resize((1600, 1200)).convert("RGB")
    noise = Image.effect_noise((1600, 1200), 40).convert("RGB")
    buf = io.BytesIO()
    Image.blend(gradient, noise, 0.3).save(buf, "PNG")
    blob = buf.getvalue()
    path = os.path.join(tmp, "bench.png")
    open(path, "wb").write(blob)
    _, ourtime = ours(["png", path], 5)
    _, piltime = timed(lambda: Image.open(io.BytesIO(blob)).load(), 5)
    print("\npng decode (1600 x 1200 RGB, %d bytes)" % len(blob))
    print("  ours %7.1f ms   Pillow %7.1f ms" % (ourtime * 1e3, piltime * 1e3))


main()
