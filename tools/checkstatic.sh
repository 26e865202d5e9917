#!/usr/bin/env bash
# Proves a Linux program links against nothing: ELF of the right machine, static,
# no interpreter, no dynamic section.
set -euo pipefail
program=$1 arch=$2
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
if readelf -lW "$program" | grep -q INTERP; then echo "has an interpreter"; exit 1; fi
if readelf -SW "$program" | grep -q -E '\.dynamic|\.interp|\.dynsym'; then echo "has a dynamic section"; exit 1; fi
if readelf -dW "$program" 2>/dev/null | grep -q NEEDED; then echo "needs a shared library"; exit 1; fi
echo "ok: $description"
