// A hexadecimal and character dump of a memory range, a trace for the network and
// X11 code. It goes to standard error (never into the answer), or into any
// printsink. Lines are built in a fixed buffer, so at most DUMPMEM_MAXPERLINE
// bytes go on one line; other counts are clamped to 1..DUMPMEM_MAXPERLINE.
#pragma once
#include "printf.h"

namespace kzv {

const u32 DUMPMEM_LINESIZE = 208;
const u32 DUMPMEM_MAXPERLINE = 49;     // 10 + 3 x 49 + 1 + 49 characters and the line end

// Prints the heading "dumpmem <n> bytes at <address>:", then one line per
// `perline` bytes: the offset, the bytes in hexadecimal, and the bytes as text
// (0x20-0x7E as they are, others as '.'). A null p prints the heading alone.
void dumpmem(void const* p, u32 n, u32 perline);
void dumpmem(printsink& out, void const* p, u32 n, u32 perline);

} // namespace kzv
