#!/usr/bin/env bash
# Proves a Linux program links against nothing: ELF of the right machine, static,
# no interpreter, no dynamic section, and no C library linked in statically either
# (no C library start-up or its ABI note). The compiler's own support library may
# be there. A stripped program names its unstripped copy as the third argument,
# whose symbols are searched instead.
set -euo pipefail
program=$1 arch=$2 symbolfile=${3:-$1}
case $arch in
  x86_64) want="ELF 64-bit LSB executable, x86-64" ;;
  i386)   want="ELF 32-bit LSB executable, Intel 80386" ;;
  arm)    want="ELF 32-bit LSB executable, ARM, EABI5" ;;
  *) echo "unknown architecture $arch"; exit 1 ;;
esac
description=$(file -b "$program")
case $description in
  "$want"*) ;;
  *) echo "file says: $description (wanted $want)"; exit 1 ;;
esac
case $description in *"statically linked"*) ;; *) echo "not static: $description"; exit 1 ;; esac
# Each listing is read whole before it is searched, so that an early match cannot
# end the reader and make the pipeline fail unseen.
headers=$(readelf -lW "$program")
sections=$(readelf -SW "$program")
dynamic=$(readelf -dW "$program" 2>/dev/null || true)
symbols=$(readelf -sW "$symbolfile")
if grep -q INTERP <<<"$headers"; then echo "has an interpreter"; exit 1; fi
if grep -q -E '\.dynamic|\.interp|\.dynsym' <<<"$sections"; then echo "has a dynamic section"; exit 1; fi
if grep -q NEEDED <<<"$dynamic"; then echo "needs a shared library"; exit 1; fi
if grep -q -E '\.note\.ABI-tag' <<<"$sections"; then echo "carries a C library's ABI note"; exit 1; fi
if grep -q -E ' (__libc_start_main|__libc_start_call_main|_IO_stdin_used|__libc_csu_init)$' <<<"$symbols"; then
  echo "contains a C library"; exit 1
fi
echo "ok: $description"
