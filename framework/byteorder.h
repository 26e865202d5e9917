// Multi-byte numbers of the file formats, read and written byte by byte: gzip,
// zip, BMP and kzv data (images, fonts, the archive) are little-endian, zlib and
// PNG big-endian. Such numbers may lie at any address, and byte access needs no
// alignment, which strict-alignment CPUs (ARMv5) require.
#pragma once
#include "types.h"

namespace kzv {

inline u32 get16le(u8 const* p) { return (u32)p[0] | (u32)p[1] << 8; }
inline u32 get32le(u8 const* p) { return get16le(p) | get16le(p + 2) << 16; }
inline u32 get32be(u8 const* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }

inline void put16le(u8* p, u32 v)
{
    p[0] = (u8)v;
    p[1] = (u8)(v >> 8);
}

inline void put32le(u8* p, u32 v)
{
    put16le(p, v);
    put16le(p + 2, v >> 16);
}

inline void put32be(u8* p, u32 v)
{
    p[0] = (u8)(v >> 24);
    p[1] = (u8)(v >> 16);
    p[2] = (u8)(v >> 8);
    p[3] = (u8)v;
}

} // namespace kzv
