// Sizes and palettes of the pixel formats.
#include "pixelformat.h"

namespace kzv {

u32 pixel_bytes(u32 format)
{
    switch (format) {
    case pixfmt_8:
    case pixfmt_332:  return 1;
    case pixfmt_555:
    case pixfmt_565:  return 2;
    case pixfmt_888:
    case pixfmt_8888: return 4;
    default:          return 0;     // format 1 packs eight pixels a byte
    }
}

void pixel_fillpalette1(u32* palette2)
{
    palette2[0] = 0x000000;
    palette2[1] = 0xFFFFFF;
}

void pixel_fillgreyramp(u32* palette256)
{
    for (u32 i = 0; i < 256; i++)
        palette256[i] = i * 0x010101;
}

void pixel_fillpalette332(u32* palette256)
{
    for (u32 i = 0; i < 256; i++)
        palette256[i] = pixel_palette332entry(i);
}

} // namespace kzv
