// CRC-32 as gzip, zip and PNG use it: reflected polynomial 0xEDB88320, register
// preset to all ones and inverted at the end. The value passed in and returned is
// the finished CRC, so a running check starts at 0 and is fed piece by piece.
// The tables are constant data made at compile time; nothing is allocated.
#pragma once
#include "../framework/types.h"

namespace kzv {

u32 crc32_update(u32 crc, void const* bytes, u64 count);

} // namespace kzv
