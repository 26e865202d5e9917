// The sums are reduced after at most 5552 bytes: that is the longest run for which
// the second sum cannot pass 2^32 even when every byte is 255 and both sums start
// just below the modulus.
#include "adler32.h"

namespace kzv {

namespace {
const u32 ADLER32_MODULUS = 65521;
const u32 ADLER32_RUN = 5552;
} // namespace

u32 adler32_update(u32 adler, void const* bytes, u64 count)
{
    u8 const* p = (u8 const*)bytes;
    u32 a = adler & 0xffff;
    u32 b = adler >> 16;
    while (count) {
        u32 run = count < ADLER32_RUN ? (u32)count : ADLER32_RUN;
        count -= run;
        for (; run >= 4; run -= 4, p += 4) {
            a += p[0]; b += a;
            a += p[1]; b += a;
            a += p[2]; b += a;
            a += p[3]; b += a;
        }
        for (; run; run--) {
            a += *p++;
            b += a;
        }
        a %= ADLER32_MODULUS;
        b %= ADLER32_MODULUS;
    }
    return b << 16 | a;
}

} // namespace kzv
