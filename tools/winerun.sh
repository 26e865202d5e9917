#!/usr/bin/env bash
# Runs a Windows program of the build under wine, in the build's own prefix:
#   tools/winerun.sh PREFIX PROGRAM.exe [ARGS...]
# Scratch files of the unit tests go to /tmp in the program's form (wine maps
# drive Z: to /). Standard input, output and error stay the caller's pipes (wine's own console
# would add escapes and CR CR LF). No program runs longer than KZV_WINE_TIMEOUT
# seconds (default 120).
set -u
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" KZV_TESTTMP=${KZV_TESTTMP:-/z/tmp}
exec timeout -k 5 "${KZV_WINE_TIMEOUT:-120}" wine "$@"
