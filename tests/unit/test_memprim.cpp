// The memory primitives against a byte-by-byte reference, over every combination of
// source and destination alignment within 16 bytes and lengths on both sides of each
// internal step (16-byte vectors, 128-byte blocks), with guard bytes around the
// destination. memmove is checked with overlaps in both directions.
#include "../harness/harness.h"
#include "../../framework/memprim.h"

using namespace kzv;

namespace {

const u32 AREA = 8192;
const u32 GUARD = 32;
alignas(16) u8 source[AREA];
alignas(16) u8 target[AREA];
alignas(16) u8 expected[AREA];

const u32 lengths[] = {0, 1, 2, 7, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 255, 256, 257, 1000, 4099};

void pattern(u8* p, u32 n, u32 seed)
{
    for (u32 i = 0; i < n; i++)
        p[i] = (u8)(seed + i * 13 + (i >> 8));
}

bool same(u8 const* a, u8 const* b, u32 n)
{
    for (u32 i = 0; i < n; i++) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

} // namespace

TEST(memcpy_every_alignment_and_length)
{
    u32 bad = 0;
    for (u32 length : lengths) {
        for (u32 so = 0; so < 16; so++) {
            for (u32 d = 0; d < 16 && bad < 3; d++) {
                pattern(source, AREA, length + so);
                pattern(target, AREA, 7);
                for (u32 i = 0; i < AREA; i++)
                    expected[i] = target[i];
                for (u32 i = 0; i < length; i++)
                    expected[GUARD + d + i] = source[so + i];
                void* r = memcpy(target + GUARD + d, source + so, length);
                if (!CHECK(r == target + GUARD + d) || !CHECK(same(target, expected, AREA)))
                    bad++;
            }
        }
    }
    CHECK_EQ(bad, 0);
}

TEST(memmove_overlapping_both_ways)
{
    static const s32 shifts[] = {-129, -64, -17, -16, -5, -1, 1, 3, 16, 17, 100, 128, 333};
    u32 bad = 0;
    for (u32 length : lengths) {
        for (s32 shift : shifts) {
            for (u32 so = 0; so < 16 && bad < 3; so += 3) {
                u32 from = 512 + so;
                u32 to = (u32)((s32)from + shift);
                pattern(target, AREA, length);
                for (u32 i = 0; i < AREA; i++)
                    expected[i] = target[i];
                for (u32 i = 0; i < length; i++)
                    expected[to + i] = target[from + i];   // target is still untouched
                memmove(target + to, target + from, length);
                if (!CHECK(same(target, expected, AREA)))
                    bad++;
            }
        }
    }
    CHECK_EQ(bad, 0);
}

TEST(memset_and_memset0)
{
    u32 bad = 0;
    for (u32 length : lengths) {
        for (u32 d = 0; d < 16 && bad < 3; d++) {
            pattern(target, AREA, d);
            for (u32 i = 0; i < AREA; i++)
                expected[i] = target[i];
            for (u32 i = 0; i < length; i++)
                expected[GUARD + d + i] = 0xA5;
            memset(target + GUARD + d, 0x1A5, length);     // the value is taken as a byte
            bool ok = same(target, expected, AREA);
            for (u32 i = 0; i < length; i++)
                expected[GUARD + d + i] = 0;
            CHECK_EQ(memset0(target + GUARD + d, length), 0);
            if (!CHECK(ok && same(target, expected, AREA)))
                bad++;
        }
    }
    CHECK_EQ(bad, 0);
}

TEST(memcmp_sign_and_extent)
{
    u8 a[40], b[40];
    pattern(a, 40, 1);
    pattern(b, 40, 1);
    CHECK_EQ(memcmp(a, b, 40), 0);
    CHECK_EQ(memcmp(a, b, 0), 0);
    b[39] = (u8)(a[39] + 1);
    CHECK(memcmp(a, b, 40) < 0);
    CHECK(memcmp(b, a, 40) > 0);
    CHECK_EQ(memcmp(a, b, 39), 0);
    a[0] = 0x80;                      // bytes compare unsigned
    b[0] = 0x7F;
    CHECK(memcmp(a, b, 40) > 0);
}
