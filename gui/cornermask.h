// Coverage masks for the corners of rounded rectangles, radii 1 to 31: r x r
// bytes each (0 none, 255 full), row 0 column 0 the outermost pixel of the corner
// square. The tables are generated data, read-only, in one 16-byte aligned block.
#pragma once
#include "../framework/types.h"

namespace kzv {

const u32 CORNERMASK_MAXRADIUS = 31;

extern const u8 cornermask_data[];
extern const u16 cornermask_offset[CORNERMASK_MAXRADIUS + 1];   // entry r: start of radius r

// The table of radius r, or null outside 1..31.
inline u8 const* cornermask(u32 r)
{
    return (r >= 1 && r <= CORNERMASK_MAXRADIUS) ? cornermask_data + cornermask_offset[r] : nullptr;
}

} // namespace kzv
