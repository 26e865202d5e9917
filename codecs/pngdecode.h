// PNG decoding into rows of 32-bit pixels, from bytes that arrive in pieces of any
// size. It takes bit depth 1 of any colour type (drawn through the palette, black
// and white without one) and bit depth 8 of colour types 2 (RGB, rows 0x00RRGGBB),
// 3 (palette) and 6 (RGBA, rows 0xAARRGGBB), not interlaced. Everything else,
// sides of 0 or above 32768, chunks over 2^31 - 1 bytes, chunks out of order and
// bad or cut-short data are refused with a short message. CRCs and the zlib check
// value are not verified. The row buffers and the inflater come from the pool.
#pragma once
#include "decompressor.h"

namespace kzv {

enum pngevent : int {
    png_needinput,          // every input byte is taken; give more, or finish
    png_header,             // width, height and format are known
    png_row,                // `row` holds row `line`
    png_chunknote,          // a chunk that is neither used nor known was skipped: `notedchunk`
    png_end,                // IEND after the last row
    png_error,              // `message` says what; every later call repeats it
};

const u32 PNG_MAXSIDE = 32768;
const u32 PNG_MAXCHUNK = 0x7fffffff;

class pngdecoder {
public:
    u8 const* next;         // the caller's input, read and moved by run
    u8 const* end;
    char const* message;
    u32 width, height;
    u32 format;             // 888 or 8888
    s32 line;               // of the row in `row`; -1 before the first
    u32* row;               // width pixels
    u32 notedchunk;         // type of the chunk reported by png_chunknote, big-endian letters
    u8 rowfilter;           // filter type of the row in `row`; above 4 it was not decoded
    u32 palette[256];       // 0x00RRGGBB

    bool init(mem* pool);   // false when the pool has no room for the inflater record
    void exit();
    int run();
    int finish();           // the source has ended: png_end after IEND, else an error
    bool hassignature() const;  // the signature was found: the bytes are a PNG file

private:
    mem* pool;
    decompressor* inflate;
    u8* rawprev;            // unfiltered bytes of the previous and the current row
    u8* rawcur;
    u32 rowbytes;           // filtered row with its filter byte
    u32 pixelbytes;         // bytes a pixel for the filters (1 for depths below 8)
    u8 state;
    u8 mode;
    u8 depth, colortype;
    bool haveheader, havepalette, datastarted, sawend, failed;
    u8 signaturematched;
    u8 zlibskip;            // zlib header bytes still to skip at the start of the image data
    u32 chunklength;        // bytes of the current chunk's data not yet taken
    u32 chunktype;
    u32 gathered;
    u8 head[16];
    u8 plte[768];
    u32 rowsdone;

    int fail(char const* why);
    bool gather(u32 n);
    int signature();
    int chunkhead();
    int chunkbody();
    int skipbytes();
    int imagedata();
    int ihdr();
    int startdata();
    int deliverrow();
    void unfilterrow(u8 const* filtered);
    void expand();
};

} // namespace kzv
