// Fixed-width integer names and the few language-level helpers every module uses.
// The code includes no system header: the widths come from the compiler's own
// predefined macros, so the same header serves freestanding and hosted builds on
// LP64 (Linux, macOS) and LLP64 (Windows) alike.
#pragma once

namespace kzv {

typedef __UINT8_TYPE__ u8;
typedef __UINT16_TYPE__ u16;
typedef __UINT32_TYPE__ u32;
typedef __UINT64_TYPE__ u64;
typedef __INT8_TYPE__ s8;
typedef __INT16_TYPE__ s16;
typedef __INT32_TYPE__ s32;
typedef __INT64_TYPE__ s64;
typedef __INTPTR_TYPE__ sptr;   // the module callback's reply word
typedef __UINTPTR_TYPE__ uptr;
typedef __SIZE_TYPE__ usize;

static_assert(sizeof(u64) == 8 && sizeof(u32) == 4 && sizeof(u16) == 2, "integer widths");
static_assert(sizeof(sptr) == sizeof(void*), "the reply word holds a pointer");

template <class T> inline T kzv_min(T a, T b) { return a < b ? a : b; }
template <class T> inline T kzv_max(T a, T b) { return a > b ? a : b; }

} // namespace kzv

// Placement new: modules are constructed inside pool blocks. Freestanding builds
// have no <new>, so they get the one-line definition; hosted test builds take the
// library's, which would otherwise clash with ours.
#if __STDC_HOSTED__
#include <new>
#else
inline void* operator new(__SIZE_TYPE__, void* where) noexcept { return where; }
#endif
