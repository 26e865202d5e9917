// libFuzzer target for the PNG decoder (built with clang++ -fsanitize=fuzzer,address
// by tools/fuzz.sh). The input is a PNG file. It is decoded twice, whole and fed one
// byte at a time from heap blocks of exactly one byte, so that a read past the
// input is an ASan report; both runs must give the same header, rows and ending.
#include <stdint.h>
#include <stdlib.h>

#include "fuzzprocess.h"
#include "../../codecs/pngdecode.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size > 200000)
        return 0;
    fuzzprocess_start();
    if (decode(data, (u32)size, false) != decode(data, (u32)size, true))
        abort();
    return 0;
}
