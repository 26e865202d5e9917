// The C-linkage memory functions that the compiler emits calls to (structure
// copies, large initialisers), for the freestanding builds only: a hosted build
// takes the C library's. They forward to the framework's primitives in pieces,
// since those count in 32 bits. The ARM EABI names are the ones the ARM compiler
// may call instead; elsewhere nothing calls them and the linker drops them.
#include "memprim.h"

namespace {
using kzv::u32;
using kzv::u8;
using kzv::usize;

const usize PIECE = 0x40000000u;   // the largest piece handed to a 32-bit primitive

inline u32 piece(usize n) { return (u32)(n < PIECE ? n : PIECE); }
}

extern "C" {

void* memcpy(void* dst, void const* src, usize n)
{
    u8* d = (u8*)dst;
    u8 const* s = (u8 const*)src;
    while (n) {
        u32 k = piece(n);
        kzv::memcpy(d, s, k);
        d += k, s += k, n -= k;
    }
    return dst;
}

void* memmove(void* dst, void const* src, usize n)
{
    u8* d = (u8*)dst;
    u8 const* s = (u8 const*)src;
    if ((kzv::uptr)d <= (kzv::uptr)s) {
        while (n) {
            u32 k = piece(n);
            kzv::memmove(d, s, k);
            d += k, s += k, n -= k;
        }
        return dst;
    }
    while (n) {                     // from the end, so that no piece overwrites unread source
        u32 k = piece(n);
        n -= k;
        kzv::memmove(d + n, s + n, k);
    }
    return dst;
}

void* memset(void* p, int value, usize n)
{
    u8* d = (u8*)p;
    while (n) {
        u32 k = piece(n);
        kzv::memset(d, value, k);
        d += k, n -= k;
    }
    return p;
}

int memcmp(void const* a, void const* b, usize n)
{
    u8 const* x = (u8 const*)a;
    u8 const* y = (u8 const*)b;
    while (n) {
        u32 k = piece(n);
        int r = kzv::memcmp(x, y, k);
        if (r)
            return r;
        x += k, y += k, n -= k;
    }
    return 0;
}

void __aeabi_memcpy(void* dst, void const* src, usize n) { memcpy(dst, src, n); }
void __aeabi_memcpy4(void* dst, void const* src, usize n) { memcpy(dst, src, n); }
void __aeabi_memcpy8(void* dst, void const* src, usize n) { memcpy(dst, src, n); }
void __aeabi_memmove(void* dst, void const* src, usize n) { memmove(dst, src, n); }
void __aeabi_memmove4(void* dst, void const* src, usize n) { memmove(dst, src, n); }
void __aeabi_memmove8(void* dst, void const* src, usize n) { memmove(dst, src, n); }
void __aeabi_memset(void* p, usize n, int value) { memset(p, value, n); }      // EABI order: count first
void __aeabi_memset4(void* p, usize n, int value) { memset(p, value, n); }
void __aeabi_memset8(void* p, usize n, int value) { memset(p, value, n); }
void __aeabi_memclr(void* p, usize n) { memset(p, 0, n); }
void __aeabi_memclr4(void* p, usize n) { memset(p, 0, n); }
void __aeabi_memclr8(void* p, usize n) { memset(p, 0, n); }

}
