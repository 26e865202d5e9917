// One row of a scanline record as the codec modules' writers read it: its bytes
// and the alignment of its pixel words in the image pixel formats (1 bits, 8 and
// 332 indexes, 555 and 565 16-bit words, 888 and 8888 32-bit words), and the test
// that a record's row can be read that way and matches the rows before it.
#pragma once
#include "../framework/data.h"

namespace kzv {

inline u32 rowformat_bytes(u32 format, u32 width)
{
    switch (format) {
    case 1: return (width + 7) / 8;
    case 8:
    case 332: return width;
    case 555:
    case 565: return width * 2;
    default: return width * 4;
    }
}

inline u32 rowformat_alignment(u32 format)
{
    return format == 555 || format == 565 ? 2 : format == 888 || format == 8888 ? 4 : 1;
}

// Null when the record's row is one of `width` pixels of `format`, all there and
// aligned; else what is wrong with it.
inline char const* rowformat_problem(data const& record, u32 format, u32 width)
{
    kindscanline const& k = record.kind.scanline;
    if (k.pixelformat != format || k.width != width)
        return "a row that does not match the first";
    if (!record.payload || record.size < rowformat_bytes(format, width))
        return "a row shorter than its width";
    if ((uptr)record.payload & (rowformat_alignment(format) - 1))
        return "a row whose pixels are not aligned";
    return nullptr;
}

} // namespace kzv
