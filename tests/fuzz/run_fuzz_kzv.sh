#!/usr/bin/env bash
# Builds the kzv decoder fuzz target with clang++ (libFuzzer + ASan + UBSan) and runs
# a campaign bounded in time. Usage: run_fuzz_kzv.sh [seconds] [work dir]
# (defaults: 60 s, /tmp/kzvfuzz); CI runs it for a few seconds, a longer campaign is
# e.g. run_fuzz_kzv.sh 1800. The target decodes each input over buffers and through
# the codec module with its rows drawn into an image, so it links the framework and
# the Linux platform layer. The seed corpus is the icons in resources/img and a few
# small files of every encoding; a finding leaves a crash-* file and exit 1.
set -euo pipefail
seconds=${1:-60}
work=${2:-/tmp/kzvfuzz}
root="$(cd "$(dirname "$0")/../.." && pwd)"
mkdir -p "$work/corpus"
# The framework without the C-linkage memory functions (the host C library has
# them) and without the program entry; of the platform layer what files, time and
# the console need (no display back-end).
sources=()
for f in "$root"/framework/*.cpp; do
  case "$(basename "$f")" in compilerruntime.cpp|kzvmain.cpp) ;; *) sources+=("$f") ;; esac
done
for f in kzvcodec kzvimage image imageio pixelformat; do sources+=("$root/gui/$f.cpp"); done
for f in os_time os_vdso os_process os_console os_terminal os_threads os_files os_fileinfo os_directory \
         os_signals os_sockets os_arguments syscalls; do
  sources+=("$root/platform/linux/$f.cpp")
done
sources+=("$root/resources/resourcearchive.cpp")
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -fno-exceptions -fno-rtti -I"$root" "$root/tests/fuzz/fuzz_kzv.cpp" "${sources[@]}" -o "$work/fuzz_kzv"
cp "$root"/resources/img/*.kzv "$work/corpus/" 2>/dev/null || true
# Seeds: a 3 x 2 image of each encoding, written byte by byte from the format.
/usr/bin/python3 - "$work/corpus" <<'PY'
import struct, sys, os
def header(enc, w, h, c0=0, c1=0):
    return b"kzv " + struct.pack("<HBBHHII", 0xEFCD, enc, 0, w, h, c0, c1) + bytes(12)
seeds = {
    "seed54": header(54, 3, 2) + struct.pack("<II", 0x01112233, 0x00445566) * 2,
    "seed55": header(55, 10, 2, 0, 0xFFFFFF) + bytes([0xA5, 0xC0, 0x5A, 0x40]),
    "seed57": header(57, 3, 2) + bytes(range(24)),
    "seed58": header(58, 3, 2) + bytes([2, 0x34, 0x12, 1, 0xFF, 0xFF]) * 2,
}
for name, b in seeds.items():
    open(os.path.join(sys.argv[1], name), "wb").write(b)
PY
cd "$work"
# The codec's refusals and the unsupported-pair dumps go to standard error: closed
# for the target (libFuzzer keeps its own reports and the sanitizers' on a copy).
"$work/fuzz_kzv" -max_total_time="$seconds" -max_len=70000 -timeout=10 -rss_limit_mb=4096 \
  -close_fd_mask=2 -print_final_stats=1 corpus
