#!/usr/bin/env bash
# Proves how the macOS program is linked, since nothing here can run it: a Mach-O
# x86-64 executable entered through LC_MAIN, loading exactly one library,
# /usr/lib/libSystem.B.dylib, built for macOS 10.13 with SDK version 10.13 (AppKit
# makes the windows of programs built against a 10.14 or later SDK layer-backed,
# and drawing into a window's graphics port then shows nothing), and every
# undefined symbol one that our libSystem stub lists.
set -euo pipefail
program=$1 stub=$2
tool() { command -v "$1" || command -v "$1-14" || { echo "missing $1 (llvm)"; exit 1; }; }
objdump=$(tool llvm-objdump) otool=$(tool llvm-otool) nm=$(tool llvm-nm)
fail() { echo "$program: $*"; exit 1; }

description=$(file -b "$program")
case $description in "Mach-O 64-bit x86_64 executable"*) ;; *) fail "file says: $description" ;; esac

# Each listing is read whole before it is searched, so that an early match cannot
# end the reader and make the pipeline fail unseen.
headers=$("$objdump" --macho --private-headers "$program")
commands=$(awk '$1 == "cmd" { print $2 }' <<<"$headers")
[ "$(grep -c '^LC_MAIN$' <<<"$commands")" = 1 ] || fail "no LC_MAIN entry"
grep -q -E '^LC_(LOAD_WEAK_DYLIB|REEXPORT_DYLIB|LAZY_LOAD_DYLIB|LOAD_UPWARD_DYLIB|BUILD_VERSION)$' <<<"$commands" &&
  fail "unexpected load commands: $(tr '\n' ' ' <<<"$commands")"
[ "$(grep -c '^LC_LOAD_DYLIB$' <<<"$commands")" = 1 ] || fail "wants exactly one LC_LOAD_DYLIB"
dylib=$(awk '$1 == "cmd" { c = $2 } c == "LC_LOAD_DYLIB" && $1 == "name" { print $2 }' <<<"$headers")
[ "$dylib" = /usr/lib/libSystem.B.dylib ] || fail "loads $dylib"
libraries=$("$otool" -L "$program" | tail -n +2 | awk '{ print $1 }')
[ "$libraries" = /usr/lib/libSystem.B.dylib ] || fail "otool lists: $libraries"
version=$(awk '$1 == "cmd" { c = $2 } c == "LC_VERSION_MIN_MACOSX" && ($1 == "version" || $1 == "sdk") { print $1, $2 }' <<<"$headers")
[ "$version" = $'version 10.13\nsdk 10.13' ] || fail "LC_VERSION_MIN_MACOSX says: $version"

# The stub's symbols, one a line, against the program's undefined ones.
exported=$(sed -n '/symbols:/,/\]/p' "$stub" | tr -d '[],' | tr ' ' '\n' | grep -v -E '^(symbols:)?$' | sort -u)
symbols=$("$nm" -m "$program")
undefined=$(awk '/\(undefined\)/ { print $3 }' <<<"$symbols" | sort -u)
missing=$(comm -23 <(echo "$undefined") <(echo "$exported"))
[ -z "$missing" ] || fail "undefined symbols not in the stub: $(tr '\n' ' ' <<<"$missing")"
[ -n "$undefined" ] || fail "no undefined symbols at all: the listing was not read"
# The stub may list more: what the dialogs never reach (TCP, say) is stripped.
echo "ok: $description; $(wc -l <<<"$undefined") of the stub's $(wc -l <<<"$exported") symbols used"
