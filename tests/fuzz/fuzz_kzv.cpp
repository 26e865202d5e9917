// libFuzzer target for the kzv decoder (built with clang++ -fsanitize=fuzzer,address
// by tests/fuzz/run_fuzz_kzv.sh). The input is a kzv file; it is fed to the decoder
// in pieces whose sizes come from a generator seeded by the input, so rows split at
// every position are tried. Each row buffer is a heap block of exactly the decoded
// row length, so any write past it is an ASan report. A decoded row is encoded
// again and decoded again; a mismatch aborts.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "../../gui/kzvcodec.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    kzvheader h;
    if (kzv_readheader(data, (u32)size, h) != kzv_ok)
        return 0;
    u32 rowlength = kzv_rowlength(h.encoding, h.width);
    // Exactly the row length: ASan reports a write one byte past it.
    void* row = malloc(rowlength ? rowlength : 1);
    kzvdecoder d;
    d.start(h);
    pieces split = {(u32)size * 2654435761u ^ data[size - 1]};
    u32 at = KZV_HEADERSIZE, rows = 0;
    while (!d.finished() && rows < 100000) {
        u32 before = at;
        while (!d.rowcomplete() && at < size) {
            u32 piece = kzv_min<u32>(split.next(64), (u32)size - at);
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
    return 0;
}
