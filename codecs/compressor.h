// The compressor module: a byte stream that deflates the bytes written into it
// (or pulled from the module on its IN pin) and hands out the result framed as raw
// deflate, zlib, gzip or a zip archive of one entry. Header, compressed data and
// trailer are appended to one output buffer in that order, so they are handed out
// in order whatever the reads and writes interleave. Bytes handed out stay valid
// until the next command. Zip entry names over 255 bytes are refused. Its buffers
// come from the module's pool and are freed by exit.
#pragma once
#include "codecmodule.h"
#include "deflate.h"

namespace kzv {

// The flag word: the header's flags byte (low) and state byte (high).
enum : u16 {
    compressor_error = 0x0001,
    compressor_noread = 0x0002,         // reading does not step the format machine
    compressor_end = 0x0004,            // the stream is complete and handed out
    compressor_autorestart = 0x0800,    // a read at the end restarts the module
    compressor_reporterrors = 0x1000,
};

// Restart format codes.
enum : int {
    compressor_raw = 201, compressor_rawstored = 202, compressor_zlibnocheck = 203, compressor_gzip = 204,
    compressor_zip = 205, compressor_zlibcrc = 206, compressor_zlib = 207,
};

// Option bits.
enum : u8 { compressor_best = 1, compressor_finished = 2, compressor_storeonly = 4 };

const u32 COMPRESSOR_RESERVATION = 760;
const u32 COMPRESSOR_MAXNAME = 255;
const u32 COMPRESSOR_CHUNK = 65536;     // most bytes pulled from the IN peer at a time

class compressor : public codecmodule {
public:
    u8 options;
    u8 format;              // state of the format machine
    u8 checkkind;           // 0 none, 1 CRC-32, 2 Adler-32
    bool encoderready;      // the encoder's buffers are taken
    char eol[2];
    u32 check;
    u32 insize;             // plain bytes taken
    u32 outsize;            // compressed bytes, with a gzip or zlib header
    u32 dostime, dosdate;
    u32 lastread;           // bytes the last read handed out, which 'G' can give back
    char* filename;         // zip entry name, from the pool
    u32 namelength;
    deflater encoder;
    deflatesink sink;       // header, data and trailer bytes not yet handed out

    void init(mem* p);
    void exit(bool final);
    sptr restart(int formatcode, unsigned optionbits, char const* name);
    sptr read(u8** p, u32 max);
    sptr readdata(data** p, u32 max);
    sptr giveback(u32 n);
    sptr write(void const* p, u32 n);
    sptr writedata(data const* d);
    sptr writeline(char const* s);
    sptr getline(char** p);
    sptr close();


private:
    bool step();
    bool indata() const;
    bool ensurestarted();
    bool compressstep();
    bool take(u8 const* p, u32 n);
    bool finishinput();
    bool put(u8 const* bytes, u32 n, bool counted);
    bool gzipheader();
    bool zipheader();
    bool zipend();
    bool trailer();
    void pushoutput();
    u32 available() const { return sink.length - sink.start; }
};

sptr compressor_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
