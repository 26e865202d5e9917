// libFuzzer target for the deflate decoder and the decompressor module around it
// (built with clang++ -fsanitize=fuzzer,address by tools/fuzz.sh). The first input
// byte picks the piece sizes, the rest is a raw deflate stream. It is decoded
// twice by the inflater: whole with all the room at once, and fed in heap blocks
// of exactly the piece size with little room at a time, so that a read past a
// piece or a write past the room is an ASan report. Both runs must end the same
// way with the same bytes. Then the decompressor module pulls the same stream, raw
// or behind a zlib or gzip header, from a source that lends it heap blocks, and
// must hand out the same bytes and end as the inflater did: the end flag after a
// complete stream, the error flag after bad or cut-short data. Last, the module
// guesses the framing of the bytes (zlib, gzip or refused) as they are pushed in:
// it may refuse them, but once its input is closed it must stop with one of its
// two flags. A difference or a stall aborts.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzzprocess.h"
#include "../../codecs/decompressor.h"
#include "../../codecs/inflate.h"

using namespace kzv;

namespace {

const u32 OUTCAPACITY = 1 << 20;
alignas(4) u8 work[INFLATE_WORKBYTES];

struct outcome {
    int result;
    char const* message;
    u32 length;
};

outcome decode(u8 const* in, u32 n, u8* out, u32 piece, u32 room)
{
    inflater z;
    z.init(work);
    z.window = z.out = out;
    u32 taken = 0;
    int r = inflate_needinput;
    for (;;) {
        u32 size = piece && n - taken > piece ? piece : n - taken;
        u8* copy = (u8*)malloc(size ? size : 1);
        memcpy(copy, in + taken, size);
        z.next = copy;
        z.end = copy + size;
        do {
            u32 left = OUTCAPACITY - (u32)(z.out - out);
            z.outend = z.out + (room && room < left ? room : left);
            r = z.run();
        } while (r == inflate_needoutput && z.out < out + OUTCAPACITY);
        taken += (u32)(z.next - copy);
        free(copy);
        if (r != inflate_needinput || taken == n)
            break;
    }
    return {r, z.message, (u32)(z.out - out)};
}

// Reads the module until it answers 0, in reads of at most `max` bytes, comparing
// with `expect` (when given) as far as its `expectlength` bytes and OUTCAPACITY go.
// Aborts on a difference, and when the module has answered 0 with neither its end
// nor its error flag from a source that never waits.
void drainmodule(decompressor* d, u32 max, u8 const* expect, u32 expectlength)
{
    u32 at = 0;
    u8* p = nullptr;
    sptr n;
    while (at < OUTCAPACITY && (n = d->read(&p, max)) > 0) {
        if (expect && ((u32)n > expectlength - at || memcmp(p, expect + at, (u32)n) != 0))
            abort();
        at += (u32)n;
    }
    if (at >= OUTCAPACITY)
        return;
    if (expect && at != expectlength)
        abort();
    if (!d->hasflag(decompressor_end) && !d->hasflag(decompressor_error))
        abort();
}

// The module pulling the stream from a source of `piece`-byte blocks, raw or behind
// a zlib header or a gzip header with a file name (the trailers are not checked);
// ends as the inflater did.
void pulled(u8 const* in, u32 n, u32 framing, u32 piece, u32 max, outcome const& expect, u8 const* expectbytes)
{
    static u8 const zlibheader[] = {0x78, 0x9c};
    static u8 const gzipheader[] = {0x1f, 0x8b, 8, 8, 0, 0, 0, 0, 0, 3, 'n', 'a', 'm', 'e', 0};
    u8 const* header = framing == 1 ? zlibheader : gzipheader;
    u32 headerlength = framing == 0 ? 0 : framing == 1 ? sizeof zlibheader : sizeof gzipheader;
    u8* framed = (u8*)malloc(headerlength + n + 1);
    memcpy(framed, header, headerlength);
    memcpy(framed + headerlength, in, n);
    fuzzsource source;
    source.setup(framed, headerlength + n, piece);
    decompressor* d = (decompressor*)process->pool.getmem(sizeof(decompressor));
    d->init(&process->pool);
    d->restart(framing == 0 ? decompressor_raw : decompressor_detect);
    connect(source.out, d->in);
    drainmodule(d, max, expectbytes, expect.length);
    bool ended = d->hasflag(decompressor_end) && !d->hasflag(decompressor_error);
    if (ended != (expect.result == inflate_end))
        abort();
    connect(source.out, nullptr);
    d->exit(true);
    process->pool.freemem(d);
    free(framed);
}

// The module guessing the framing, the bytes pushed in pieces and then closed.
void pushed(u8 const* in, u32 n, u32 piece, u32 max)
{
    decompressor* d = (decompressor*)process->pool.getmem(sizeof(decompressor));
    d->init(&process->pool);
    d->restart(decompressor_detect);
    u8* p = nullptr;
    for (u32 at = 0; at < n; at += piece) {
        d->write(in + at, n - at < piece ? n - at : piece);
        for (u32 k = 0; k < 4 && d->read(&p, max) > 0; k++) {
        }
    }
    d->close();
    drainmodule(d, max, nullptr, 0);
    d->exit(true);
    process->pool.freemem(d);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    static u8* whole = (u8*)malloc(OUTCAPACITY);
    static u8* pieces = (u8*)malloc(OUTCAPACITY);
    u32 piece = 1 + (data[0] & 15);
    u32 room = 1 + (data[0] >> 4) * 37;
    outcome a = decode(data + 1, (u32)size - 1, whole, 0, 0);
    outcome b = decode(data + 1, (u32)size - 1, pieces, piece, room);
    // A run that filled the whole output stopped for room, not for the data.
    if (a.length == OUTCAPACITY || b.length == OUTCAPACITY)
        return 0;
    if (a.result != b.result || a.length != b.length || memcmp(whole, pieces, a.length) != 0)
        abort();
    if (a.result == inflate_error && strcmp(a.message, b.message) != 0)
        abort();
    fuzzprocess_start();
    // Large pieces too, so that one piece can give more than a decoding run's room
    // and the module hands the rest back to the source.
    u32 pullpiece = (data[0] & 16) ? piece : 1 + (data[0] & 15) * (data[0] & 15) * 300;
    pulled(data + 1, (u32)size - 1, (u32)size % 3, pullpiece, room, a, whole);
    pushed(data + 1, (u32)size - 1, piece, room);
    return 0;
}
