// The clipboard's text into a caller's buffer. Another program's block need not
// hold a terminator, so the copy stops at the first 0 unit, at the block's end
// and one unit short of the buffer, and always terminates. Pure code.
#pragma once
#include "../../framework/types.h"

namespace kzv {

// Copies from `block` (blockbytes bytes of UTF-16) into out, which holds `max`
// units with the terminator. Returns the units copied; 0 when max < 1.
u32 cliptext_copy(u16* out, int max, u16 const* block, u64 blockbytes);

} // namespace kzv
