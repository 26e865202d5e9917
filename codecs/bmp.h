// BMP reading into rows of 0x00RRGGBB pixels from bytes that arrive in pieces, and
// BMP writing from rows in the image pixel formats. The reader takes 1, 4, 8, 24
// and 32 bits per pixel, uncompressed (32 bits also with bit fields), with an
// information header of 40 to 4096 bytes; it refuses OS/2 headers, RLE and
// embedded JPEG/PNG data, sides above 32768 and palettes past the 4096-byte data
// offset bound. The writer writes 1-bit, 8-bit and 24-bit files from formats 1, 8,
// 565, 888 and 8888 and refuses any other format before writing a byte. Buffers
// come from the pool; output is appended to a caller-owned deflatesink.
#pragma once
#include "deflate.h"

namespace kzv {

enum bmpevent : int {
    bmp_needinput,          // every input byte is taken; give more, or finish
    bmp_header,             // width, height and the row order are known
    bmp_row,                // `row` holds row `line`
    bmp_end,                // every row was handed out
    bmp_error,              // `message` says what
};

const u32 BMP_MAXSIDE = 32768;
const u32 BMP_MAXOFFSET = 4096;         // data offsets and information headers are at most this

class bmpreader {
public:
    u8 const* next;         // the caller's input, read and moved by run
    u8 const* end;
    char message[48];
    u32 width, height;
    bool bottomup;          // rows arrive from line height - 1 down to 0
    s32 line;
    u32* row;               // width pixels
    u32 palette[256];

    void init(mem* pool);
    void exit();
    int run();
    int finish();           // the source has ended: bmp_end after the last row, else an error
    bool hasheader() const; // a "BM" header was found: the bytes are a BMP file

private:
    mem* pool;
    u8* stored;             // one stored row with its padding
    u8 state;
    bool failed;
    u32 gathered;
    u8 head[54];
    u32 bpp, colors, storedcolors;
    u64 skip;               // bytes still to skip in the current state
    u32 rowbytes, stride;
    u32 rowsleft;
    u32 position;           // bytes of the file taken so far

    int fail(char const* text, u32 a = 0);
    int header();
    int palettebytes();
    int rows();
    bool skipbytes();
    void decode();
};

class bmpwriter {
public:
    char message[48];

    // Header and palette; false (nothing written) for a format it cannot write.
    bool start(u32 width, u32 height, bool bottomup, u32 format, u32 const* palette, deflatesink& out);
    bool writerow(void const* pixels, deflatesink& out);
    bool finish();          // false when rows are missing

private:
    u32 width, height, format, stride, rows;
};

} // namespace kzv
