#!/usr/bin/env bash
# The wine prefix of a Windows build:
#   tools/wineprefix.sh start PREFIX   make it once (wineboot), start a persistent
#                                      wine server and warm it up
#   tools/wineprefix.sh stop PREFIX    stop that server
# wine's background processes inherit the descriptors of whoever starts them, and
# a reader waiting for the end of a pipe would wait for them: everything started
# here reads and writes /dev/null. DISPLAY is dropped, so that this server never
# tries a display (the end-to-end tests run their own prefix with their own X).
set -euo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
case "$action" in
start)
  command -v wine >/dev/null || { echo "wine is not installed (tools/install-deps.sh)" >&2; exit 1; }
  mkdir -p "$prefix"
  if [ ! -f "$prefix/system.reg" ]; then
    timeout -k 5 240 wineboot -i </dev/null >/dev/null 2>&1
  fi
  timeout -k 5 30 wineserver -p </dev/null >/dev/null 2>&1 || true
  timeout -k 5 120 wine cmd /c exit </dev/null >/dev/null 2>&1
  echo "wine prefix $prefix ready"
  ;;
stop)
  timeout -k 5 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  echo "wine server of $prefix stopped"
  ;;
*)
  echo "usage: $0 start|stop PREFIX" >&2
  exit 2
  ;;
esac
