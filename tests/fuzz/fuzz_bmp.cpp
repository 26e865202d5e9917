// libFuzzer target for the BMP reader (built with clang++ -fsanitize=fuzzer,address
// by tools/fuzz.sh). The input is a BMP file. It is read three times: whole, fed
// one byte at a time from heap blocks of exactly one byte, so that a read past the
// input is an ASan report, and through the bmp module from a source that lends it
// pieces; all must give the same header, rows and ending.
#include <stdint.h>
#include <stdlib.h>

#include "fuzzprocess.h"
#include "../../codecs/bmp.h"
#include "../../codecs/bmpmodule.h"

using namespace kzv;

namespace {

u64 decode(u8 const* data, u32 size, bool bytewise)
{
    bmpreader d;
    d.init(&process->pool);
    fuzzdigest digest;
    fuzzfeed(d, data, size, bytewise, [&](int r) {
        if (r == bmp_header) {
            digest.add(d.width), digest.add(d.height), digest.add(d.bottomup);
        } else if (r == bmp_row) {
            digest.add((u64)d.line);
            for (u32 x = 0; x < d.width; x++)
                digest.add(d.row[x]);
        } else {
            digest.add((u64)r);
            return false;
        }
        return true;
    });
    d.exit();
    return digest.value;
}

// The same through the bmp module, its source lending pieces of `piece` bytes.
u64 readmodule(u8 const* bytes, u32 size, u32 piece)
{
    fuzzsource source;
    source.setup(bytes, size, piece);
    bmp codec(&process->pool);
    auto bottomup = [](data const& r) { return (u64)((r.kind.scanline.flags & 1) != 0); };
    return fuzzmoduledigest(codec, source, bottomup, bmp_error, bmp_end);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size > 200000)
        return 0;
    fuzzprocess_start();
    u64 whole = decode(data, (u32)size, false);
    if (whole != decode(data, (u32)size, true))
        abort();
    if (whole != readmodule(data, (u32)size, size ? 1 + data[size - 1] % 97 : 1))
        abort();
    return 0;
}
