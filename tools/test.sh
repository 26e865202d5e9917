#!/usr/bin/env bash
# Installs what the tests need, builds every deliverable and runs every test:
# the three Linux programs with their freestanding unit tests, the hosted
# sanitizer build, and the compile-only checks for Windows and macOS.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)
status=0
for preset in hosted linux-x86_64 linux-i386 linux-arm windows-x64-check macos-x86_64-check; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
for preset in hosted linux-x86_64 linux-i386 linux-arm; do
  echo "=== tests: $preset"
  ctest --test-dir "build/$preset" -j "$jobs" --output-on-failure || status=1
done
exit $status
