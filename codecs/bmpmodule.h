// The `bmp` codec module: a transform module that reads a BMP byte stream into
// scanline records of format 888 (type 13) or writes scanline records as a BMP
// file; the first record it pulls decides. Reading hands out a header record
// (line -1, no payload, bit 0 of the scanline flags set when the rows run
// bottom-up), then one record per row in the file's order, each with its line.
// It refuses what the reader and writer refuse, sources that end inside the file,
// a writer's source that ends with rows missing, and rows that do not match the
// first; with the trace flag (0x1000) it says why on standard error ("bmp: TEXT").
// A stream without a "BM" header ends with no records. Its buffers come from its
// pool and go with its reset.
#pragma once
#include "../framework/transform.h"
#include "bmp.h"

namespace kzv {

// Codec states.
enum : u32 { bmpstate_start = 0, bmpstate_read = 1, bmpstate_write = 2, bmpstate_done = 3 };

const u32 BMPMODULE_PULL = 65536;       // most bytes pulled from the source at a time

class bmp : public transform {
public:
    u32 codecstate;
    bmpreader reader;
    bmpwriter writer;
    deflatesink written;        // writing: file bytes not yet moved to the output buffer
    u32 sourceformat;           // writing: the first row's pixel format and width
    u32 sourcewidth;

    bmp() { init(nullptr); }
    explicit bmp(mem* p) { init(p); }
    ~bmp() { exit(true); }
    bmp(bmp const&) = delete;
    bmp& operator=(bmp const&) = delete;

    void init(mem* p);
    void exit(bool keep);
    void mexit();               // frees the reader's blocks and the byte sink, state 0
    bool proc();                // one step; true when it moved
    bool error(char const* text);   // "bmp: TEXT" with the trace flag; sets the error flag; false

private:
    bool start();
    bool readstep();
    bool feed(data* record);
    bool readevent(int event);
    bool sourceended();
    bool startwrite(data* record);
    bool writestep();
    bool writerow(data* record);
    bool movewritten();
    bool refuse(char const* why, data const* record);
};

sptr bmp_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
