// CRC-32 and Adler-32 against values zlib gives for the same bytes, whole and fed
// in two pieces at every split point, from an odd address, and over a long run of
// 0xff bytes that takes the Adler sums to their largest before each reduction.
#include "../harness/harness.h"
#include "../../framework/sysprocess.h"
#include "../../framework/str.h"
#include "../../codecs/crc32.h"
#include "../../codecs/adler32.h"

using namespace kzv;

static const struct {
    char const* text;
    u32 crc;
    u32 adler;
} knownsums[] = {
    {"", 0x00000000, 0x00000001},
    {"a", 0xe8b7be43, 0x00620062},
    {"abc", 0x352441c2, 0x024d0127},
    {"123456789", 0xcbf43926, 0x091e01de},
    {"The quick brown fox jumps over the lazy dog", 0x414fa339, 0x5bdc0fda},
};

TEST(knownvalues)
{
    u8 shifted[64];
    for (auto const& k : knownsums) {
        kzvtest::setrow(k.text);
        u32 n = strlen(k.text);
        CHECK_EQ(crc32_update(0, k.text, n), k.crc);
        CHECK_EQ(adler32_update(ADLER32_START, k.text, n), k.adler);
        memcpy(shifted + 1, k.text, n);
        CHECK_EQ(crc32_update(0, shifted + 1, n), k.crc);
        for (u32 split = 0; split <= n; split++) {
            CHECK_EQ(crc32_update(crc32_update(0, k.text, split), k.text + split, n - split), k.crc);
            CHECK_EQ(adler32_update(adler32_update(ADLER32_START, k.text, split), k.text + split, n - split),
                     k.adler);
        }
    }
    kzvtest::setrow(nullptr);
}

TEST(longrunofones)
{
    u32 n = 100000;
    u8* p = (u8*)process->pool.getmem(n);
    memset(p, 0xff, n);
    CHECK_EQ(crc32_update(0, p, n), 0x68c6cec4u);
    CHECK_EQ(adler32_update(ADLER32_START, p, n), 0x149a302cu);
    u32 a = ADLER32_START, c = 0;
    for (u32 at = 0; at < n; at += 777) {
        u32 piece = n - at < 777 ? n - at : 777;
        a = adler32_update(a, p + at, piece);
        c = crc32_update(c, p + at, piece);
    }
    CHECK_EQ(a, 0x149a302cu);
    CHECK_EQ(c, 0x68c6cec4u);
    process->pool.freemem(p);
}
