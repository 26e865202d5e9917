// The decompressor module: a byte stream that turns raw deflate, zlib or gzip data
// into plain bytes. Compressed bytes are pushed in with the write commands or
// pulled from the module on the IN pin; plain bytes are read out and stay valid
// until the next command. It refuses zlib preset dictionaries, the gzip FEXTRA,
// FCOMMENT and FHCRC fields, and bad or cut-short data; an error stays until
// restart. Trailers are not checked, and bytes after the final block are dropped.
// Its buffers come from the module's pool and are freed by exit.
#pragma once
#include "codecmodule.h"
#include "inflate.h"

namespace kzv {

// The flag word: the header's flags byte (low) and state byte (high).
enum : u16 {
    decompressor_error = 0x0001,
    decompressor_end = 0x0004,          // nothing more will come
    decompressor_inputseen = 0x0040,
    decompressor_reporterrors = 0x1000, // errors are printed on standard error
};

enum : unsigned { decompressor_detect = 0, decompressor_raw = 201 };   // restart modes

// What an embedding module reserves for the record.
const u32 DECOMPRESSOR_RESERVATION = 488;

class decompressor : public codecmodule {
public:
    u8 inputclosed;         // no more input will come
    u8 headerstate;
    u8 gzipflags;
    u8 gathered;            // header bytes collected so far
    u8 header[8];
    u32 totalin;            // compressed bytes taken by the decoder
    inflater z;
    void* workarea;
    u8* output;             // plain bytes; the bytes before outfill are also the window
    u32 outcap, outfill, outread, outavail;
    u32 outmark;            // read offset after the last compaction: give-back stops there
    u8* input;              // bytes pushed in and not yet taken
    u32 incap, inread, inwrite;

    void init(mem* p);
    void exit(bool final);
    sptr restart(unsigned mode);
    sptr read(u8** p, u32 max);
    sptr giveback(u32 n);
    sptr write(void const* p, u32 n);
    sptr writedata(data const* d);
    sptr close();


private:
    struct inputview {
        u8 const* bytes;
        u32 count;
        bool frompeer;
    };
    bool getinput(inputview& v, u32 max);
    void consume(inputview const& v, u32 used);
    bool inputended();
    bool step(u32 want);
    bool gather(u32 n);
    bool detect();
    bool gzipfixed();
    bool gzipname();
    bool nextgzipfield();
    bool inflatestep(u32 want);
    bool reserveoutput(u32 n);
    void compact();
    bool error(char const* message, u32 a = 0, u32 b = 0);
};

sptr decompressor_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
