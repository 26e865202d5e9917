// The `png` codec module: a transform module that decodes a PNG byte stream into
// scanline records (type 13) or encodes scanline records into a PNG file; the
// first record it pulls decides. Decoding hands out a header record (line -1,
// format 888 or 8888, no payload), then one record per row, top row first;
// encoding hands out the file's bytes. It refuses what the decoder and encoder
// refuse ("png error TEXT" on standard error, error flag), sources that end
// inside the file or before the last row, and rows that do not match the first.
// A stream without a PNG signature ends with no records. Unknown chunks ("png
// chunk NAME 0xTYPE") and rows of a filter type above 4 ("rs8 TYPE", the row keeps
// what it held) are noted on standard error. Its buffers come from its pool and go
// with its reset.
#pragma once
#include "../framework/transform.h"
#include "pngdecode.h"
#include "pngencode.h"

namespace kzv {

// Codec states.
enum : u32 { pngstate_start = 0, pngstate_decode = 1, pngstate_encode = 2, pngstate_done = 3 };

const u32 PNGMODULE_PULL = 65536;       // most bytes pulled from the source at a time

class png : public transform {
public:
    u32 codecstate;
    pngdecoder decoder;
    pngencoder encoder;
    deflatesink encoded;        // encoding: file bytes not yet moved to the output buffer
    u32 sourceformat;           // encoding: the first row's pixel format, width and height
    u32 sourcewidth;
    u32 sourceheight;

    png() { init(nullptr); }
    explicit png(mem* p) { init(p); }
    ~png() { exit(true); }
    png(png const&) = delete;
    png& operator=(png const&) = delete;

    void init(mem* p);
    void exit(bool keep);
    void mexit();               // frees the decoder's and encoder's blocks, state 0
    bool proc();                // one step; true when it moved
    bool error(char const* text);   // prints "png error TEXT", sets the error flag; false

private:
    bool start();
    bool decodestep();
    bool feed(data* record);
    int decoderun();
    bool decoded(int event);
    bool sourceended();
    bool startencode(data* record);
    bool encodestep();
    bool encoderow(data* record);
    bool moveencoded();
    bool refuse(char const* why, data const* record);
};

sptr png_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
