// The one memory function clang emits calls to on this target beyond those of
// framework/compilerruntime.cpp: libSystem's __bzero, which zeroes large locals.
// The program links no C library, so it is ours.
#include "../../framework/memprim.h"

extern "C" void __bzero(void* p, kzv::usize n)
{
    kzv::u8* d = (kzv::u8*)p;
    while (n) {
        kzv::u32 k = n < 0x40000000u ? (kzv::u32)n : 0x40000000u;   // the primitives count in 32 bits
        kzv::memset(d, 0, k);
        d += k, n -= k;
    }
}
