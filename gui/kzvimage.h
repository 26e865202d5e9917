// The kzv codec module: decodes a kzv byte stream into scanline records (type 13)
// or encodes scanline records into one; the first record it pulls decides. It
// refuses (error flag, dump on standard error) foreign or short headers, unknown
// encodings, sides above KZV_MAXSIDE, formats without an encoding (555), rows that
// do not match the first and streams that end before the last row. Its row buffer
// and palette block come from its pool and go with its reset.
#pragma once
#include "../framework/transform.h"
#include "kzvcodec.h"

namespace kzv {

// Codec states: 0 start, 1-5 encoding (by source), 6-9 decoding (by encoding).
enum : u32 {
    kzvstate_start = 0,
    kzvstate_encode888 = 1, kzvstate_encode1 = 2, kzvstate_encode8 = 3,
    kzvstate_encode8888 = 4, kzvstate_encode565 = 5,
    kzvstate_decode54 = 6, kzvstate_decode55 = 7, kzvstate_decode57 = 8, kzvstate_decode58 = 9,
};

class kzvimage : public transform {
public:
    u32 codecstate;
    u8* rowbuf;                 // one decoded row (decoding only)
    u32* paletteblock;          // 2 words for decoded 1-bit rows, 256 for an 8-bit source without one
    kzvdecoder decoder;
    kzvheader header;           // of the stream being written or read
    u32 sourceformat;           // encoding: the first record's pixel format
    u32 rowsdone;               // encoding: rows written so far

    kzvimage() { init(nullptr); }
    explicit kzvimage(mem* p) { init(p); }
    ~kzvimage() { exit(true); }
    kzvimage(kzvimage const&) = delete;
    kzvimage& operator=(kzvimage const&) = delete;

    void init(mem* p);
    void exit(bool keep);
    void mexit();               // frees the row buffer and palette block, state 0
    bool proc();                // one step; true when it moved

private:
    bool start();
    bool startdecode(data* record);
    bool startencode(data* record);
    bool decoderow();
    bool encoderow(data* record);
    bool refuse(char const* why, data const* record);
};

sptr kzvimage_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
