#!/usr/bin/env bash
# Builds the deflate decoder's fuzz target with clang++ (libFuzzer + ASan + UBSan)
# and runs a campaign bounded in time. Usage: fuzz.sh [seconds] [work dir]
# (defaults: 300 s, /tmp/kzvfuzz-inflate). Seeds: raw deflate streams that zlib makes
# of a few system files at several levels and strategies, and the hand-made streams
# of the unit tests. A finding leaves a crash-* file in the work dir and exit 1.
set -euo pipefail
seconds=${1:-300}
work=${2:-/tmp/kzvfuzz-inflate}
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$work/corpus"
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$root" "$root/tests/fuzz/fuzz_inflate.cpp" "$root/codecs/inflate.cpp" "$root/framework/memprim.cpp" \
  -o "$work/fuzz_inflate"
/usr/bin/python3 - "$work/corpus" "$root/tests/unit/test_inflate_cases.h" <<'PY'
import os, re, sys, zlib
out, cases = sys.argv[1], open(sys.argv[2]).read()
files = [p for p in ("/etc/services", "/usr/share/common-licenses/GPL-3", "/usr/bin/ls") if os.path.exists(p)]
n = 0
for path in files:
    data = open(path, "rb").read()[:20000]
    for level in (0, 1, 6, 9):
        for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FIXED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE):
            c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
            open(os.path.join(out, "seed%03d" % n), "wb").write(bytes([n & 255]) + c.compress(data) + c.flush())
            n += 1
for name, hexbytes in re.findall(r'\{"([^"]*)", "([0-9a-f ]*)"', cases):
    open(os.path.join(out, "case%03d" % n), "wb").write(bytes([n & 255]) + bytes.fromhex(hexbytes))
    n += 1
PY
cd "$work"
"$work/fuzz_inflate" -max_total_time="$seconds" -max_len=70000 -timeout=10 -print_final_stats=1 corpus
