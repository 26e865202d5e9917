#!/usr/bin/env bash
# Builds the codec fuzz targets with clang++ (libFuzzer + ASan + UBSan) and runs a
# campaign of the given length on each. Usage: fuzz.sh [seconds] [work dir] [target...]
# (defaults: 300 s, /tmp/kzvfuzz-codecs, the targets inflate png bmp, and the terminal
# targets terminalinput ansiemulator of tests/fuzz/run_fuzz_terminal.sh). Seeds: raw
# deflate streams of system files at several levels and strategies, the unit tests'
# hand-made streams and a few zlib and gzip streams (inflate), and PNG and BMP
# files that Pillow writes in its modes (png, bmp). A finding leaves a crash-* file in the target's folder and exit 1.
set -euo pipefail
seconds=${1:-300}
work=${2:-/tmp/kzvfuzz-codecs}
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(inflate png bmp terminalinput ansiemulator)
root="$(cd "$(dirname "$0")/.." && pwd)"
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root")
# What the codec targets need of the framework: pools, modules, the transform
# skeleton of the codec modules, printf and the platform calls behind them.
framework=(framework/mem.cpp framework/smem.cpp framework/memprim.cpp framework/module.cpp
  framework/transform.cpp framework/data.cpp framework/stream.cpp
  framework/printf.cpp framework/vprinter.cpp framework/vprinterfloat.cpp framework/sysprocess.cpp
  framework/str.cpp framework/strwide.cpp framework/timeconv.cpp platform/linux/os_time.cpp platform/linux/os_vdso.cpp
  platform/linux/os_process.cpp platform/linux/os_console.cpp platform/linux/syscalls.cpp
  platform/linux/os_terminal.cpp platform/linux/os_threads.cpp)
status=0
for target in "${targets[@]}"; do
  # The terminal targets (key decoder, ANSI emulator) build and seed in their own script.
  case "$target" in terminalinput|ansiemulator)
    bash "$root/tests/fuzz/run_fuzz_terminal.sh" "$seconds" "$work" "$target" || status=1
    continue ;;
  esac
  dir="$work/$target"
  mkdir -p "$dir/corpus"
  sources=("$root"/codecs/*.cpp "${framework[@]/#/$root/}")
  clang++ "${flags[@]}" "$root/tests/fuzz/fuzz_$target.cpp" "${sources[@]}" -o "$dir/fuzz_$target"
  /usr/bin/python3 - "$target" "$dir/corpus" "$root/tests/unit/test_inflate_cases.h" <<'PY'
import io, os, re, sys, zlib
target, out, cases = sys.argv[1], sys.argv[2], open(sys.argv[3]).read()
seeds = []
if target == "inflate":
    files = [p for p in ("/etc/services", "/usr/share/common-licenses/GPL-3", "/usr/bin/ls") if os.path.exists(p)]
    for path in files:
        data = open(path, "rb").read()[:20000]
        for level in (0, 1, 6, 9):
            for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FIXED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE):
                c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
                seeds.append(bytes([len(seeds) & 255]) + c.compress(data) + c.flush())
    for name, hexbytes in re.findall(r'\{"([^"]*)", "([0-9a-f ]*)"', cases):
        seeds.append(bytes([len(seeds) & 255]) + bytes.fromhex(hexbytes))
    # Framed streams, for the run that guesses the framing.
    data = open(files[0], "rb").read()[:5000] if files else b"framed " * 500
    for wbits in (9, 15):
        seeds.append(bytes([len(seeds) & 255]) + zlib.compress(data, 6, wbits))
    gzipheader = bytes.fromhex("1f 8b 08 08 00 00 00 00 00 03") + b"name.txt\0"
    seeds.append(bytes([len(seeds) & 255]) + gzipheader + zlib.compress(data, 6, -15) + bytes(8))
else:
    from PIL import Image
    base = Image.linear_gradient("L").resize((19, 7)).convert("RGB")
    for mode in ("RGB", "RGBA", "P", "1", "L"):
        for kind in (("PNG",) if target == "png" else ("BMP",)):
            if kind == "BMP" and mode == "RGBA":
                continue
            buf = io.BytesIO()
            (base.convert(mode) if mode != "RGBA" else base.convert("RGBA")).save(buf, kind)
            seeds.append(buf.getvalue())
for i, blob in enumerate(seeds):
    open(os.path.join(out, "seed%03d" % i), "wb").write(blob)
PY
  (cd "$dir" && "./fuzz_$target" -max_total_time="$seconds" -max_len=70000 -timeout=10 -rss_limit_mb=4096 \
      -print_final_stats=1 corpus) || status=1
done
exit $status
