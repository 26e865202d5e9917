// Byte-block primitives. The bulk of every routine moves 16-byte vectors (the
// compiler's generic vector type: SSE registers on x86-64, plain words where the
// CPU has no vector unit). The destination is aligned with byte steps first; the
// source is then read through a type of the alignment it really has, so that the
// compiler emits unaligned or byte loads where the CPU needs them. These loops are
// built without loop-pattern recognition, or the compiler would turn them into
// calls to memcpy and memset, that is, into themselves.
#include "memprim.h"

namespace kzv {

typedef u8 vec16 __attribute__((vector_size(16), may_alias));

// Source views of the alignment a source really has. An attribute on the vector
// typedef cannot lower its alignment, a packed structure around it can; the
// compiler then emits unaligned vector loads, or byte loads on ARMv5.
struct __attribute__((may_alias)) vec16a16 {
    vec16 v;
};
struct __attribute__((packed, aligned(4), may_alias)) vec16a4 {
    vec16 v;
};
struct __attribute__((packed, may_alias)) vec16a1 {
    vec16 v;
};
static_assert(alignof(vec16a4) == 4 && alignof(vec16a1) == 1, "unaligned source views");

const u32 PREFETCH_AHEAD = 256;         // bytes ahead of the source for large copies

static inline bool isaligned(void const* p, uptr alignment) { return ((uptr)p & (alignment - 1)) == 0; }

// 128-byte blocks, all eight loads before the stores, then 16-byte steps.
// d is 16-aligned; V carries the alignment of s.
template <class V>
static void copyvectors(u8*& d, u8 const*& s, u32& n)
{
    while (n >= 128) {
        __builtin_prefetch(s + PREFETCH_AHEAD, 0, 0);
        V const* from = (V const*)s;
        vec16 a0 = from[0].v, a1 = from[1].v, a2 = from[2].v, a3 = from[3].v;
        vec16 a4 = from[4].v, a5 = from[5].v, a6 = from[6].v, a7 = from[7].v;
        vec16* to = (vec16*)d;
        to[0] = a0, to[1] = a1, to[2] = a2, to[3] = a3;
        to[4] = a4, to[5] = a5, to[6] = a6, to[7] = a7;
        d += 128, s += 128, n -= 128;
    }
    while (n >= 16) {
        vec16 a = ((V const*)s)->v;
        *(vec16*)d = a;
        d += 16, s += 16, n -= 16;
    }
}

// Ascending copy; safe also for overlapping ranges with dst below src, since every
// chunk is loaded before any of it is stored.
static void copyforward(u8* d, u8 const* s, u32 n)
{
    if (n > 16) {
        while (!isaligned(d, 16)) {
            *d++ = *s++;
            n--;
        }
        if (isaligned(s, 16))
            copyvectors<vec16a16>(d, s, n);
        else if (isaligned(s, 4))
            copyvectors<vec16a4>(d, s, n);
        else
            copyvectors<vec16a1>(d, s, n);
    }
    while (n) {
        *d++ = *s++;
        n--;
    }
}

template <class V>
static void copyvectorsbackward(u8*& dend, u8 const*& send, u32& n)
{
    while (n >= 16) {
        dend -= 16, send -= 16, n -= 16;
        vec16 a = ((V const*)send)->v;
        *(vec16*)dend = a;
    }
}

// Descending copy for overlapping ranges with dst above src.
static void copybackward(u8* d, u8 const* s, u32 n)
{
    u8* dend = d + n;
    u8 const* send = s + n;
    if (n > 16) {
        while (!isaligned(dend, 16)) {
            *--dend = *--send;
            n--;
        }
        if (isaligned(send, 16))
            copyvectorsbackward<vec16a16>(dend, send, n);
        else if (isaligned(send, 4))
            copyvectorsbackward<vec16a4>(dend, send, n);
        else
            copyvectorsbackward<vec16a1>(dend, send, n);
    }
    while (n) {
        *--dend = *--send;
        n--;
    }
}

static void fill(u8* d, u8 value, u64 n)
{
    if (n > 16) {
        while (!isaligned(d, 16)) {
            *d++ = value;
            n--;
        }
        vec16 v = {};
        v += value;
        while (n >= 64) {
            vec16* to = (vec16*)d;
            to[0] = v, to[1] = v, to[2] = v, to[3] = v;
            d += 64, n -= 64;
        }
        while (n >= 16) {
            *(vec16*)d = v;
            d += 16, n -= 16;
        }
    }
    while (n) {
        *d++ = value;
        n--;
    }
}

int memset0(void* p, u64 n)
{
    fill((u8*)p, 0, n);
    return 0;
}

void memset(void* p, int value, u32 n) { fill((u8*)p, (u8)value, n); }

void* memcpy(void* dst, void const* src, u32 n)
{
    copyforward((u8*)dst, (u8 const*)src, n);
    return dst;
}

void* memmove(void* dst, void const* src, u32 n)
{
    u8* d = (u8*)dst;
    u8 const* s = (u8 const*)src;
    if ((uptr)d <= (uptr)s || (uptr)d - (uptr)s >= n)
        copyforward(d, s, n);
    else
        copybackward(d, s, n);
    return dst;
}

int memcmp(void const* a, void const* b, u32 n)
{
    u8 const* x = (u8 const*)a;
    u8 const* y = (u8 const*)b;
    for (u32 i = 0; i < n; i++) {
        if (x[i] != y[i])
            return (int)x[i] - (int)y[i];
    }
    return 0;
}

} // namespace kzv
