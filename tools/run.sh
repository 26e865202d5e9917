#!/usr/bin/env bash
# Builds the x86-64 program and runs it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v cmake >/dev/null && command -v ninja >/dev/null || tools/install-deps.sh
cmake --preset linux-x86_64 >/dev/null
cmake --build --preset linux-x86_64 -j "$(nproc)" >/dev/null
program=build/linux-x86_64/velkra-linux-x86_64
[ -x "$program" ] || program=build/linux-x86_64/kzvtestapp
exec "$program" "$@"
