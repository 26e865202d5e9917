// libFuzzer target for the PNG decoder (built with clang++ -fsanitize=fuzzer,address
// by tools/fuzz.sh). The input is a PNG file. It is decoded three times: whole, fed
// one byte at a time from heap blocks of exactly one byte, so that a read past the
// input is an ASan report, and through the png module from a source that lends it
// pieces; all must give the same header, rows and ending.
#include <stdint.h>
#include <stdlib.h>

#include "fuzzprocess.h"
#include "../../codecs/pngdecode.h"
#include "../../codecs/pngmodule.h"

using namespace kzv;

namespace {

u64 decode(u8 const* data, u32 size, bool bytewise)
{
    pngdecoder d;
    d.init(&process->pool);
    fuzzdigest digest;
    fuzzfeed(d, data, size, bytewise, [&](int r) {
        if (r == png_header) {
            digest.add(d.width), digest.add(d.height), digest.add(d.format);
        } else if (r == png_row) {
            digest.add((u64)d.line);
            for (u32 x = 0; x < d.width; x++)
                digest.add(d.row[x]);
        } else if (r != png_chunknote) {
            digest.add((u64)r);
            return false;
        }
        return true;
    });
    d.exit();
    return digest.value;
}

// The same through the png module, its source lending pieces of `piece` bytes.
u64 decodemodule(u8 const* bytes, u32 size, u32 piece)
{
    fuzzsource source;
    source.setup(bytes, size, piece);
    png codec(&process->pool);
    auto format = [](data const& r) { return (u64)r.kind.scanline.pixelformat; };
    return fuzzmoduledigest(codec, source, format, png_error, png_end);
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
    if (whole != decodemodule(data, (u32)size, size ? 1 + data[size - 1] % 97 : 1))
        abort();
    return 0;
}
