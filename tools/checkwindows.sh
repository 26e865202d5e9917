#!/usr/bin/env bash
# Checks the Windows program as built: it imports from KERNEL32, USER32 and GDI32
# only, names the libraries it loads at run time as strings ("Winmm.dll",
# "ws2_32.dll", "Shell32.dll"), and carries the codecs that no dialog reaches.
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
[ $status -eq 0 ] && echo "imports: $imports; run-time libraries and carried codecs, text buffer and arithmetic present"
exit $status
