// PNG encoding of rows in the image pixel formats: 1 (bits, bit 7 leftmost) and 8
// or 332 (indexes) as palette images with their 2 or 256 palette words, 555 and 565
// (16-bit words) and 888 (0x00RRGGBB) as RGB, 8888 (0xAARRGGBB) as RGBA; bit depth
// 1 or 8, never interlaced. Palette rows go out unfiltered, colour rows with the up
// filter. The image data are one zlib stream cut into IDAT chunks of 16372 bytes
// (the last one shorter). The file is appended to a caller-owned deflatesink; an
// unsupported format or a missing palette is refused before any byte is written.
#pragma once
#include "compressor.h"

namespace kzv {

const u32 PNG_IDATCAPACITY = 16384;     // one IDAT chunk with its length, type and CRC

class pngencoder {
public:
    char const* message;

    // Signature, IHDR and PLTE; false (nothing written) for a format, side or
    // palette it cannot write, or when memory runs out.
    bool start(mem* pool, u32 width, u32 height, u32 format, u32 const* palette, deflatesink& out);
    bool writerow(void const* pixels, deflatesink& out);   // the next row, top first
    bool finish(deflatesink& out);      // after the last row: the rest of the data and IEND
    void exit();
    u32 rowswritten() const { return rows; }
    static bool takes(u32 format);      // a pixel format it can write

private:
    mem* pool;
    compressor* z;
    u8* prevrow;            // unfiltered bytes of the previous row (colour formats)
    u8* filtrow;            // the filtered row with its filter byte
    u8* chunk;              // the IDAT chunk being filled
    u32 chunkfill;          // bytes in it, length and type included
    u32 crc;
    u32 width, height, format;
    u32 rowbytes;           // filtered row with its filter byte
    u32 rows;

    bool fail(char const* why);
    bool chunkout(u32 type, u8 const* data, u32 length, deflatesink& out);
    bool movecompressed(deflatesink& out, bool last);
    bool finishchunk(deflatesink& out);
    void filter(void const* pixels);
};

} // namespace kzv
