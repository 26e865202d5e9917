// Adler-32 as zlib framing uses it: two sums modulo 65521, the first starting at 1.
// A running check starts at 1 and is fed piece by piece; nothing is allocated.
#pragma once
#include "../framework/types.h"

namespace kzv {

const u32 ADLER32_START = 1;

u32 adler32_update(u32 adler, void const* bytes, u64 count);

} // namespace kzv
