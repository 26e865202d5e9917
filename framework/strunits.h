// The unit loops shared by the 8-bit and the 16-bit string routines, written once
// for both unit types. Internal to the string modules: callers use str.h.
#pragma once
#include "types.h"

namespace kzv {

template <class T> inline u32 strunits_length(T const* s)
{
    if (!s)
        return 0;
    u32 n = 0;
    while (s[n])
        n++;
    return n;
}

// At most len units and a terminator; nothing for a null dst or src.
template <class T> inline u32 strunits_copy(T* dst, T const* src, u32 len)
{
    if (!dst || !src)
        return 0;
    u32 n = 0;
    while (n < len && src[n]) {
        dst[n] = src[n];
        n++;
    }
    dst[n] = 0;
    return n;
}

// The first unit equal to c, or null; the terminator is never found.
template <class T> inline T const* strunits_find(T const* s, T c)
{
    if (!s || !c)
        return nullptr;
    for (; *s; s++)
        if (*s == c)
            return s;
    return nullptr;
}

} // namespace kzv
