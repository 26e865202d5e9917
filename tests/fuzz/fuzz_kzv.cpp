// libFuzzer target for the kzv decoder (built with clang++ -fsanitize=fuzzer,address
// by tests/fuzz/run_fuzz_kzv.sh). The input is a kzv file, taken two ways:
// 1. By the row decoder over buffers, in pieces whose sizes come from a generator
//    seeded by the input, so rows split at every position are tried. Each row
//    buffer is a heap block of exactly the decoded row length, so any write past
//    it is an ASan report. A decoded row is encoded and decoded again; a mismatch
//    aborts.
// 2. By the codec module on the stream protocol, as a file would feed it: a source
//    module hands out pieces of varying size (now and then nothing for the moment)
//    and takes bytes back, and every row record is drawn into an image of the
//    picture's width, as drawing a kzv file does. The module must end in its end
//    flag after exactly `height` rows, or in its error flag, within a bounded
//    number of reads.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzzprocess.h"
#include "../../gui/image.h"
#include "../../gui/kzvcodec.h"
#include "../../gui/kzvimage.h"

using namespace kzv;

namespace {

struct pieces {
    u32 state;
    u32 next(u32 limit)         // 1..limit
    {
        state = state * 1103515245u + 12345u;
        return 1 + (state >> 8) % limit;
    }
};

u32 encoderow(kzvheader const& h, void const* row, u8* out, u32 capacity)
{
    u32 length = 0;
    bool ok = false;
    switch (h.encoding) {
    case kzv_rle888: ok = kzv_encode54((u32 const*)row, h.width, out, capacity, length); break;
    case kzv_bits: ok = kzv_encode55((u8 const*)row, h.width, out, capacity, length); break;
    case kzv_rgba: ok = kzv_encode57((u32 const*)row, h.width, out, capacity, length); break;
    case kzv_rle565: ok = kzv_encode58((u16 const*)row, h.width, out, capacity, length); break;
    }
    if (!ok)
        abort();
    return length;
}

// Encoding a decoded row and decoding that again must give the same row.
void checkroundtrip(kzvheader const& h, void const* row, u32 rowlength)
{
    u32 capacity = kzv_maxencodedrow(h.encoding, h.width);
    u8* encoded = (u8*)malloc(capacity + 1);
    u8* again = (u8*)malloc(rowlength + 4);
    u32 length = encoderow(h, row, encoded, capacity);
    kzvdecoder d;
    d.start(h);
    u32 used = d.decode(encoded, length, again);
    if (used != length || !d.rowcomplete() || memcmp(row, again, rowlength) != 0)
        abort();
    free(encoded);
    free(again);
}

void decodebuffers(u8 const* data, u32 size)
{
    kzvheader h;
    if (kzv_readheader(data, size, h) != kzv_ok)
        return;
    u32 rowlength = kzv_rowlength(h.encoding, h.width);
    // Exactly the row length: ASan reports a write one byte past it.
    void* row = malloc(rowlength ? rowlength : 1);
    kzvdecoder d;
    d.start(h);
    pieces split = {size * 2654435761u ^ data[size - 1]};
    u32 at = KZV_HEADERSIZE, rows = 0;
    while (!d.finished() && rows < 100000) {
        u32 before = at;
        while (!d.rowcomplete() && at < size) {
            u32 piece = kzv_min<u32>(split.next(64), size - at);
            u32 used = d.decode(data + at, piece, row);
            if (used > piece)
                abort();
            at += used;
            if (used < piece && !d.rowcomplete())
                abort();        // bytes are left only once the row is complete
        }
        if (!d.rowcomplete())
            break;              // truncated: the module reports this as an error
        checkroundtrip(h, row, rowlength);
        d.nextrow();
        rows++;
        if (at == before && h.width > 0)
            abort();            // a finished non-empty row consumed something
    }
    free(row);
}

// The input in pieces of 1 to 300 bytes, each a heap copy of exactly its size (a
// read past a piece is an ASan report); one answer in eight is "nothing now".
// 'G' moves the position back by what the reader returns.
class piecesource : public module {
public:
    u8 const* bytes;
    u32 length;
    u32 position;
    u8* copy;
    pieces split;

    void setup(u8 const* b, u32 n, u32 seed)
    {
        memset0(this, sizeof *this);
        initheader(nullptr, "piecesource", concb, type_bytestream);
        bytes = b;
        length = n;
        split.state = seed;
    }
    void release()
    {
        free(copy);
        copy = nullptr;
    }
    sptr readrecord(data** out, u32 max)
    {
        *out = this;
        size = 0;
        payload = nullptr;
        release();
        if (position >= length) {
            flags |= tstate_end;
            return 0;
        }
        if (split.next(8) == 1)
            return 0;
        u32 n = kzv_min(kzv_min(split.next(300), max ? max : 300), length - position);
        copy = (u8*)malloc(n);
        memcpy(copy, bytes + position, n);
        payload = copy;
        size = n;
        position += n;
        return n;
    }
    static sptr concb(void* self, unsigned cmd, int a, int b, void const* p)
    {
        piecesource* s = (piecesource*)self;
        if (cmd == 'D')
            return s->readrecord((data**)const_cast<void*>(p), (u32)a);
        if (cmd == 'G') {
            u32 n = kzv_min((u32)a, s->position);
            s->position -= n;
            return n;
        }
        return 0;
    }
};

const u32 READLIMIT = 400000;           // reads of one input; far above rows + waits
const u32 IMAGEROWS = 4;                // rows of the image the records are drawn into

void decodemodule(u8 const* input, u32 size)
{
    piecesource source;
    source.setup(input, size, size * 40503u ^ input[0]);
    kzvimage codec(&process->pool);
    connect(source.out, codec.in);
    image picture(&process->pool);
    static const u32 formats[4] = {888, 565, 555, 888};     // the formats of windows
    u32 format = formats[input[size - 1] & 3];
    bool header = false;
    u32 rows = 0, height = 0, reads = 0;
    for (; reads < READLIMIT; reads++) {
        kzv::data* rec = nullptr;
        sptr n = codec.call('D', 128, 0, &rec);
        if (rec != &codec)
            abort();            // the codec stores its record also when it answers 0
        if (n <= 0) {
            if (codec.hasflag(tstate_error | tstate_end))
                break;
            continue;
        }
        if (rec->type != type_scanline)
            abort();
        s32 line = rec->kind.scanline.line;
        if (!header) {
            if (line != -1)
                abort();        // the header record comes first, without a row
            header = true;
            height = rec->kind.scanline.height;
            if (!picture.open(rec->kind.scanline.width, IMAGEROWS, format))
                abort();        // a side the codec took is one an image takes
            continue;
        }
        if (line != (s32)rows || rec->size != kzv_rowlength(codec.header.encoding, codec.header.width))
            abort();
        picture.drawscanline(rec, 0, line % (s32)IMAGEROWS);
        rows++;
    }
    if (reads == READLIMIT)
        abort();                // neither the end nor an error: the codec hangs
    if (codec.hasflag(tstate_end) && !codec.hasflag(tstate_error) && (!header || rows != height))
        abort();                // an end before the last row would go unnoticed
    connect(source.out, nullptr);
    connect(codec.in, nullptr);
    source.release();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size == 0 || size > 1 << 20)
        return 0;
    fuzzprocess_start();
    decodebuffers(data, (u32)size);
    decodemodule(data, (u32)size);
    return 0;
}
