// Byte-block primitives of the framework: zero, fill, copy, move, compare. They
// are plain C over any alignment: word accesses happen only after the destination
// has been aligned with byte steps, and a source that is not aligned with it is
// read through unaligned-access types that the compiler lowers correctly for each
// CPU (ARMv5 has no unaligned loads). `memcpy` copies strictly ascending, each
// chunk loaded before it is stored, and does not support overlap; `memmove` does.
#pragma once
#include "types.h"

namespace kzv {

int memset0(void* p, u64 n);                         // returns 0
void memset(void* p, int value, u32 n);
void* memcpy(void* dst, void const* src, u32 n);     // returns dst
void* memmove(void* dst, void const* src, u32 n);    // returns dst
int memcmp(void const* a, void const* b, u32 n);     // <0, 0, >0 by the first differing byte

} // namespace kzv
