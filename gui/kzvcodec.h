// The kzv image format over plain buffers: the 32-byte header, an incremental row
// decoder that takes the encoded bytes in pieces of any size, and the row encoders.
// Nothing here allocates or talks to a module: the caller owns every buffer and
// passes its capacity. Headers with another magic, an unknown encoding or a side
// above KZV_MAXSIDE are refused; runs that pass the end of a row are cut there.
#pragma once
#include "../framework/byteorder.h"

namespace kzv {

// Format facts. All numbers are little-endian. The header is "kzv " (the decoder
// checks only the first three bytes), the word 0xEFCD, the encoding byte, a zero
// byte, width and height as u16, two colour words (1-bit images only) and twelve
// zero bytes. Rows follow top to bottom with nothing between or after them.
enum : u32 {
    KZV_HEADERSIZE = 32,
    // The largest image side (IMAGE_MAXSIDE). The header could hold 65535; both
    // directions refuse more than this, so every file we write is one we can read,
    // and one decoded row stays at 128 KiB or less.
    KZV_MAXSIDE = 32768,
};

enum kzvencoding : u8 {
    kzv_font = 45,          // bitmap font (its own layout after the header)
    kzv_rle888 = 54,        // u32 words: colour in bits 0-23, run length - 1 in 24-31
    kzv_bits = 55,          // (width + 7) / 8 bytes a row, bit 7 leftmost
    kzv_archive = 56,       // the resource archive
    kzv_rgba = 57,          // 4 bytes a pixel: R, G, B, A
    kzv_rle565 = 58,        // triplets: u8 run length (0 adds nothing), u16 565 pixel
};

enum kzvresult : u8 {
    kzv_ok,
    kzv_shortheader,        // fewer than 32 bytes
    kzv_badmagic,           // does not start with "kzv"
    kzv_badencoding,        // not one of the four image encodings
    kzv_toolarge,           // a side above KZV_MAXSIDE
};

struct kzvheader {
    u8 encoding;
    u32 width;
    u32 height;
    u32 color0;             // encoding 55: the colour of 0 bits
    u32 color1;             // encoding 55: the colour of 1 bits
};

// Reads an image header from at least 32 bytes.
kzvresult kzv_readheader(u8 const* bytes, u32 length, kzvheader& h);
// Writes the 32 header bytes. The caller has checked the sides (kzv_checksides).
void kzv_writeheader(u8* out32, kzvheader const& h);
bool kzv_checksides(u64 width, u64 height);

// Pixel format code of the decoded rows (888, 1, 8888, 565), 0 for no image encoding.
u32 kzv_pixelformat(u8 encoding);
// Bytes of one decoded row: width x 4 (54, 57), (width + 7) / 8 (55), width x 2 (58).
u32 kzv_rowlength(u8 encoding, u32 width);
// The most bytes one encoded row can take (a run a pixel for 54 and 58).
u32 kzv_maxencodedrow(u8 encoding, u32 width);

// Decodes rows from bytes that arrive in pieces. A word or triplet cut by the end
// of a piece is kept here and completed by the next piece, so the caller never
// hands bytes back except those after a finished row.
struct kzvdecoder {
    kzvheader header;
    u32 line;               // rows finished
    u32 done;               // pixels of the current row written (bytes for 55)
    u32 partialcount;       // bytes of an incomplete unit held in partial
    u8 partial[4];

    void start(kzvheader const& h);
    // Decodes into `row` (kzv_rowlength bytes, 4-byte aligned) until the row is
    // complete or the bytes run out; returns how many bytes it consumed.
    u32 decode(u8 const* in, u32 length, void* row);
    bool rowcomplete() const;
    bool finished() const { return line >= header.height; }
    bool midunit() const { return partialcount != 0; }
    void nextrow();

private:
    u32 rowend() const;
    u32 unitsize() const;
    void unit(u8 const* p, void* row);
};

// Row encoders. Each returns false, writing nothing, when capacity is below
// kzv_maxencodedrow for its encoding; else it sets length to the bytes written.
bool kzv_encode54(u32 const* pixels, u32 width, u8* out, u32 capacity, u32& length);
bool kzv_encode54_8(u8 const* indexes, u32 const* palette, u32 width, u8* out, u32 capacity, u32& length);
bool kzv_encode55(u8 const* bits, u32 width, u8* out, u32 capacity, u32& length);
bool kzv_encode57(u32 const* pixels, u32 width, u8* out, u32 capacity, u32& length);
bool kzv_encode58(u16 const* pixels, u32 width, u8* out, u32 capacity, u32& length);

} // namespace kzv
