#!/usr/bin/env bash
# Checks the Windows program as built: it imports from KERNEL32, USER32 and GDI32
# only, names the libraries it loads at run time as strings ("Winmm.dll",
# "ws2_32.dll", "Shell32.dll"), holds its icon in the resource section, and
# carries the codecs that no dialog reaches.
#   tools/checkwindows.sh velkra-windows-x64.exe
set -euo pipefail
exe=$1
status=0
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
if [ "$imports" != "GDI32.DLL KERNEL32.DLL USER32.DLL " ]; then
  echo "imports: $imports(expected GDI32.DLL KERNEL32.DLL USER32.DLL)"
  status=1
fi
for name in Winmm.dll ws2_32.dll Shell32.dll; do
  if ! grep -qaF "$name" "$exe"; then
    echo "the library name \"$name\" is not in the program"
    status=1
  fi
done
# The window class loads icon 2 of the program: a group icon (type 14) of that
# id, and the images it names (type 3), in the resource section. objdump lists
# the tree by depth: a type's entries, then each type's names under it.
resources=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '
  /^[0-9a-f]+   Entry: ID:/ { type = $4 }
  /^[0-9a-f]+     Entry: ID:/ { print type "/" $4 }')
if ! grep -qx '0x00000e,/0x000002,' <<<"$resources" || ! grep -q '^0x000003,/' <<<"$resources"; then
  echo "no group icon 2 with its images in the resource section: ${resources:-none}"
  status=1
fi
symbols=$(x86_64-w64-mingw32-nm -C "$exe")
# What the program carries beyond its dialogs, by one symbol each.
for symbol in 'kzv::png_concb(' 'kzv::bmp_concb(' 'kzv::decompressor_concb(' 'kzv::compressor_concb(' \
              'kzv::image::loadpng(' 'kzv::image::savepng(' 'kzv::image::loadbmp(' 'kzv::image::savebmp(' \
              'kzv::inflate' 'kzv::deflate' 'kzv::textbuffer_concb(' 'kzv::textbuffer::loadfile(' \
              'kzv::float16::operator+=(' 'kzv::float16::operator/=(' 'kzv::float16_sin(' \
              'kzv::fixed_sincos(' 'kzv::fixed_exp(' 'kzv::fixed_atanh(' 'kzv::fixed_floatto824('; do
  if ! grep -qF -- "$symbol" <<<"$symbols"; then
    echo "the symbol $symbol is not in the program"
    status=1
  fi
done
[ $status -eq 0 ] && echo "imports: $imports; icon 2, run-time libraries and carried codecs, text buffer and arithmetic present"
exit $status
