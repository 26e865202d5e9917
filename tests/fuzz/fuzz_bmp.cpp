// libFuzzer target for the BMP reader (built with clang++ -fsanitize=fuzzer,address
// by tools/fuzz.sh). The input is a BMP file. It is read twice, whole and fed one
// byte at a time from heap blocks of exactly one byte, so that a read past the
// input is an ASan report; both runs must give the same header, rows and ending.
#include <stdint.h>
#include <stdlib.h>

#include "fuzzprocess.h"
#include "../../codecs/bmp.h"

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
