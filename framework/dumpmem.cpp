// Line layout: "%8x: " with the offset (10 characters), "%02x " per byte, a blank
// and the character column. A last short line is padded to the width of a full
// one, so that its character column lines up.
#include "dumpmem.h"

namespace kzv {

static char printable(u8 b) { return (b >= 0x20 && b <= 0x7E) ? (char)b : '.'; }

// Appends the padding, a blank, the character column and the line end, and
// writes the line.
static void endline(printsink& out, char* line, u32 length, u32 width, char const* column, u32 count)
{
    while (length < width)
        line[length++] = ' ';
    line[length++] = ' ';
    for (u32 i = 0; i < count; i++)
        line[length++] = column[i];
    line[length++] = '\n';
    printsink_write(out, line, length);
}

void dumpmem(printsink& out, void const* p, u32 n, u32 perline)
{
    perline = kzv_min(kzv_max(perline, 1u), DUMPMEM_MAXPERLINE);
    printto(out, "dumpmem %d bytes at %x:\n", (u64)n, (u64)(uptr)p);
    if (!p)
        return;
    u8 const* bytes = (u8 const*)p;
    u32 const width = 10 + 3 * perline;
    char line[DUMPMEM_LINESIZE];
    char column[DUMPMEM_MAXPERLINE];
    u32 length = 0, count = 0;
    for (u32 k = 0; k < n; k++) {
        if (length == 0)
            length = vprinter_format(line, sizeof line, sizeof line, "%8x: ", k);
        length += vprinter_format(line + length, sizeof line - length, sizeof line - length, "%02x ", bytes[k]);
        column[count++] = printable(bytes[k]);
        if (count == perline) {
            endline(out, line, length, width, column, count);
            length = count = 0;
        }
    }
    if (count)
        endline(out, line, length, width, column, count);
}

void dumpmem(void const* p, u32 n, u32 perline)
{
    printsink out = printsink_console(channel_stderr);
    dumpmem(out, p, n, perline);
}

} // namespace kzv
