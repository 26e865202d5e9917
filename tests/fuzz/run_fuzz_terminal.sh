#!/usr/bin/env bash
# Builds the terminal fuzz targets (the key decoder and the ANSI emulator) with
# clang++ (libFuzzer + ASan + UBSan) and runs a bounded campaign on each.
# Usage: run_fuzz_terminal.sh [seconds per target] [work dir] [target...]
# (defaults: 60 s, /tmp/kzvfuzz-terminal, terminalinput ansiemulator). The portable
# code and the Linux platform layer are compiled once into an archive, so a target
# links only what it reaches. Seeds: key, mouse and emulator streams written below.
# A finding leaves a crash-* file in the target's folder, its report in asan.*, and
# exit status 1.
set -euo pipefail
seconds=${1:-60}
work=${2:-/tmp/kzvfuzz-terminal}
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(terminalinput ansiemulator)
root="$(cd "$(dirname "$0")/../.." && pwd)"
flags=(-std=c++17 -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=all -fno-builtin
  -fno-exceptions -fno-rtti -I"$root")
mkdir -p "$work/objects"
# The library: every portable and platform source but the freestanding entry and
# the C-linkage memory functions (the C library has its own here).
sources=$(ls "$root"/framework/*.cpp "$root"/gui/*.cpp "$root"/drivers/*.cpp "$root"/resources/*.cpp \
  "$root"/platform/linux/*.cpp | grep -v -e '/start\.cpp$' -e '/compilerruntime\.cpp$')
rm -f "$work"/objects/*.o "$work/libkzvfuzz.a"
printf '%s\n' $sources | xargs -P "$(nproc)" -I{} sh -c \
  'clang++ "$@" -fsanitize=fuzzer-no-link -c "{}" -o "'"$work"'/objects/$(echo "{}" | tr / _).o" 2>/dev/null || true' \
  _ "${flags[@]}"
ar rcs "$work/libkzvfuzz.a" "$work"/objects/*.o
status=0
for target in "${targets[@]}"; do
  dir="$work/$target"
  mkdir -p "$dir/corpus"
  clang++ "${flags[@]}" -fsanitize=fuzzer "$root/tests/fuzz/fuzz_$target.cpp" "$work/libkzvfuzz.a" -o "$dir/fuzz_$target"
  /usr/bin/python3 - "$target" "$dir/corpus" <<'PY'
import os, sys
target, out = sys.argv[1], sys.argv[2]
E = b"\x1b"
if target == "terminalinput":
    seeds = [b"\x07ab\r\n\n\r\x08\x7f", b"\x03" + E + b"[A" + E + b"[B" + E + b"[C" + E + b"[D",
             b"\x05" + E + b"[P" + E + b"[3~" + E + b"[1;2A" + E + b"[1;2B" + E + b"x" + E,
             b"\x11" + E + b"[M !!" + E + b"[M#!!" + E + b"[M0\x7f\x7f" + E + b"[MC23" + E + b"[M`!!",
             b"\x21" + E + b"[M  !" + E + b"[Mb!!" + E + b"[M\x01z" + E + b"[5~" + E + b"OP"]
else:
    seeds = [bytes([80, 24, 1]) + b"hello\r\n" + E + b"[31;44mred" + E + b"[0m" + E + b"[2J" + E + b"[5;5H*",
             bytes([10, 5, 7]) + E + b"(0lqk" + E + b"(B" + E + b"[?7l0123456789abc" + E + b"[?25l" + E + b"[6n",
             bytes([20, 8, 3]) + E + b"]0;title\x07" + E + b"]2;t" + E + b"\\\xc3\xa9\xe2\x82\xac\xee\x84\x81",
             bytes([6, 3, 9]) + E + b"[2;3r\n\n\n" + E + b"[L" + E + b"[3P" + E + b"[9X" + E + b"[4b" + E + b"[>c",
             bytes([3, 2, 5]) + E + b"[38;5;200;48;5;17m" + E + b"[<0;1;1M" + E + b"[!p" + E + b"c" + E + b"7" + E + b"8"]
for i, s in enumerate(seeds):
    open(os.path.join(out, "seed%02d" % i), "wb").write(s)
PY
  # Unknown sequences print lines on standard error by design; the run closes it
  # and keeps the sanitizer reports in files.
  (cd "$dir" && ASAN_OPTIONS=log_path="$dir/asan" UBSAN_OPTIONS=log_path="$dir/ubsan" \
     "./fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
     -close_fd_mask=2 -print_final_stats=1 corpus) || status=1
  ls "$dir" | grep -q -e '^crash-' -e '^timeout-' -e '^oom-' -e '^leak-' && status=1
done
exit $status
