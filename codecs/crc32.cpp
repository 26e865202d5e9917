// Table-driven CRC-32, eight bytes per turn. Table k holds the CRC of a byte
// followed by k zero bytes, so eight table lookups advance the register by eight
// bytes at once. Input is read byte by byte, so no alignment is needed.
#include "crc32.h"

namespace kzv {

namespace {

const u32 CRC32_POLYNOMIAL = 0xEDB88320u;

struct crc32tables {
    u32 t[8][256];
};

constexpr crc32tables makecrc32tables()
{
    crc32tables r{};
    for (u32 n = 0; n < 256; n++) {
        u32 c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ CRC32_POLYNOMIAL : c >> 1;
        r.t[0][n] = c;
    }
    for (u32 n = 0; n < 256; n++)
        for (int k = 1; k < 8; k++)
            r.t[k][n] = (r.t[k - 1][n] >> 8) ^ r.t[0][r.t[k - 1][n] & 0xff];
    return r;
}

constexpr crc32tables crc32table = makecrc32tables();
static_assert(crc32table.t[0][1] == 0x77073096u, "crc32 table");

inline u32 load32le(u8 const* p)
{
    return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
}

} // namespace

u32 crc32_update(u32 crc, void const* bytes, u64 count)
{
    u8 const* p = (u8 const*)bytes;
    u32 c = ~crc;
    auto const& t = crc32table.t;
    for (; count >= 8; count -= 8, p += 8) {
        u32 a = c ^ load32le(p);
        u32 b = load32le(p + 4);
        c = t[7][a & 0xff] ^ t[6][(a >> 8) & 0xff] ^ t[5][(a >> 16) & 0xff] ^ t[4][a >> 24]
          ^ t[3][b & 0xff] ^ t[2][(b >> 8) & 0xff] ^ t[1][(b >> 16) & 0xff] ^ t[0][b >> 24];
    }
    for (; count; count--)
        c = (c >> 8) ^ t[0][(c ^ *p++) & 0xff];
    return ~c;
}

} // namespace kzv
