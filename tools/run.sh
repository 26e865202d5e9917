#!/usr/bin/env bash
# Builds the x86-64 program and runs one dialog. With no arguments it asks a
# question. Without an X display the dialog is drawn inside this terminal as
# half-block cells, one pixel a column and two a row, so a large terminal window
# (about 320 x 150 cells, i.e. a small font) shows it whole. The answer is printed
# on standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v cmake >/dev/null && command -v ninja >/dev/null && command -v g++ >/dev/null || tools/install-deps.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset linux-x86_64 && cmake --build --preset linux-x86_64 -j "$(nproc)"; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
program=build/linux-x86_64/velkra-linux-x86_64
if [ -z "${DISPLAY:-}" ] && [ -z "${KZVTERM_CXS:-}" ]; then
  export KZVTERM_CXS=1 KZVTERM_CYS=2
fi
if [ $# -eq 0 ]; then
  set -- yesno "-text=velkra works. Quit?"
fi
"$program" "$@"
