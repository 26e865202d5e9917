// libFuzzer target for the deflate decoder (built with clang++ -fsanitize=fuzzer,address
// by tools/fuzz.sh). The first input byte picks the piece sizes, the rest is a raw
// deflate stream. It is decoded twice: whole with all the room at once, and fed in
// heap blocks of exactly the piece size with little room at a time, so that a read
// past a piece or a write past the room is an ASan report. Both runs must end the
// same way with the same bytes; a difference aborts.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

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
    return 0;
}
