// UTF-8 and UTF-16 for the Windows layer, where every text crosses the wide system
// calls. Unlike the framework's one-unit-a-character conversion, a four-byte UTF-8
// sequence becomes a surrogate pair and a pair becomes one four-byte sequence, so
// emoji names survive; an unpaired surrogate keeps its three-byte form both ways,
// so such a name still round-trips. Bytes that form no sequence become one unit
// of their own value. Every conversion is bounded by the destination's capacity
// (terminator included) and refuses a text that does not fit whole: a cut file
// name could name another file. Pure code, no system calls.
#pragma once
#include "../../framework/types.h"

namespace kzv {

// UTF-8 into `out` (capacity units with the terminator). False, with out = "",
// when the text does not fit whole. `units` is the length written.
bool wintext_toutf16(char const* text, u16* out, u32 capacity, u32& units);

// UTF-16 (at most `count` units, ending early at a 0 unit; WINTEXT_TOEND for a
// terminated text) into `out` (capacity bytes with the terminator). False, with out = "", when it
// does not fit whole. `bytes` is the length written.
const u32 WINTEXT_TOEND = 0xffffffffu;
bool wintext_toutf8(u16 const* text, u32 count, char* out, u32 capacity, u32& bytes);

// The UTF-8 form of one code point (up to 0x10FFFF) into out (4 bytes); the byte count.
u32 wintext_encode(u32 code, char* out);

} // namespace kzv
