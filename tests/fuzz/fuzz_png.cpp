// libFuzzer target for the PNG decoder (built with clang++ -fsanitize=fuzzer,address
// by tools/fuzz.sh). The input is a PNG file. It is decoded three times: whole, fed
// one byte at a time from heap blocks of exactly one byte, so that a read past the
// input is an ASan report, and through the png module from a source that lends it
// pieces; all must give the same header, rows and ending.
#include <stdint.h>

#include "fuzzprocess.h"
#include "../../codecs/pngdecode.h"
#include "../../codecs/pngmodule.h"

using namespace kzv;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size)
{
    // The header's third word is the pixel format; a note on a skipped chunk
    // changes nothing in the image.
    static const fuzzevents events = {png_header, png_row, png_chunknote, png_error, png_end};
    return fuzzimagedecoder<pngdecoder, png>(
        bytes, size, events, [](pngdecoder const& d) { return (u64)d.format; },
        [](data const& r) { return (u64)r.kind.scanline.pixelformat; });
}
