// libFuzzer target for the BMP reader (built with clang++ -fsanitize=fuzzer,address
// by tools/fuzz.sh). The input is a BMP file. It is read three times: whole, fed
// one byte at a time from heap blocks of exactly one byte, so that a read past the
// input is an ASan report, and through the bmp module from a source that lends it
// pieces; all must give the same header, rows and ending.
#include <stdint.h>

#include "fuzzprocess.h"
#include "../../codecs/bmp.h"
#include "../../codecs/bmpmodule.h"

using namespace kzv;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size)
{
    // The header's third word is the row order.
    static const fuzzevents events = {bmp_header, bmp_row, -1, bmp_error, bmp_end};
    return fuzzimagedecoder<bmpreader, bmp>(
        bytes, size, events, [](bmpreader const& d) { return (u64)d.bottomup; },
        [](data const& r) { return (u64)((r.kind.scanline.flags & 1) != 0); });
}
