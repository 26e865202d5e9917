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
    bmpreader b;
    b.init(&process->pool);
    fuzzdigest digest;
    u32 at = 0;
    for (;;) {
        u32 piece = bytewise ? (size - at > 0 ? 1 : 0) : size - at;
        u8* copy = (u8*)malloc(piece ? piece : 1);
        for (u32 i = 0; i < piece; i++)
            copy[i] = data[at + i];
        b.next = copy;
        b.end = copy + piece;
        int r = b.run();
        at += (u32)(b.next - copy);
        free(copy);
        if (r == bmp_needinput && at == size)
            r = b.finish();
        if (r == bmp_header) {
            digest.add(b.width), digest.add(b.height), digest.add(b.bottomup);
        } else if (r == bmp_row) {
            digest.add((u64)b.line);
            for (u32 x = 0; x < b.width; x++)
                digest.add(b.row[x]);
        } else if (r != bmp_needinput) {
            digest.add((u64)r);
            break;
        }
    }
    b.exit();
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
