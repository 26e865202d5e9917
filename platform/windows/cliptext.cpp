#include "cliptext.h"

namespace kzv {

u32 cliptext_copy(u16* out, int max, u16 const* block, u64 blockbytes)
{
    if (!out || max < 1)
        return 0;
    u64 available = block ? blockbytes / 2 : 0;
    u32 n = 0;
    while (n + 1 < (u32)max && n < available && block[n]) {
        out[n] = block[n];
        n++;
    }
    out[n] = 0;
    return n;
}

} // namespace kzv
