// The framebuffer back-end's composition of placed buffers, against framebuffers
// that Pillow drew (test_fbcompose_cases.py): halves, negative positions, cuts at
// the right and bottom, factor 2 and factors that draw as 1, 8888 buffers keyed
// onto 888 ones, and rows padded beyond the width, which must stay untouched.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"
#include "../../platform/linux/framebuffer.h"

using namespace kzv;
using namespace kzvtest;

#include "test_fbcompose_cases.h"

TEST(composedlikepillow)
{
    for (fbcomposecase const& c : fbcomposecases) {
        setrow(c.name);
        u32 words = c.stride * c.height;
        u32* target = (u32*)process->pool.getmem((u64)words * 4);
        CHECK(target != nullptr);
        if (!target)
            return;
        for (u32 i = 0; i < words; i++)
            target[i] = FBCOMPOSE_SENTINEL;
        for (u32 half = 0; half < 2; half++) {
            if (!(c.halves & (1u << half)))
                continue;
            for (u32 k = 0; k < c.count; k++) {
                fbcomposeplaced const& p = c.entries[k];
                fbentry e = {p.x, p.y, {p.width, p.height, p.format, const_cast<u32*>(p.pixels)}};
                fbcompose(target, c.stride, c.width, c.height, c.factor, half, e);
            }
        }
        CHECK_MEM(target, c.expected, words * 4);
        process->pool.freemem(target);
    }
    setrow(nullptr);
}

// Entries that cannot be drawn draw nothing: no pixels, no blitter for the
// format's kind, a half that does not exist.
TEST(nothingtodraw)
{
    u32 target[16];
    for (u32& v : target)
        v = FBCOMPOSE_SENTINEL;
    u32 pixels[4] = {1, 2, 3, 4};
    fbentry none = {0, 0, {2, 2, 888, nullptr}};
    fbentry some = {0, 0, {2, 2, 888, pixels}};
    fbcompose(target, 4, 4, 4, 1, 0, none);
    fbcompose(target, 4, 4, 4, 1, 2, some);
    fbcompose(nullptr, 4, 4, 4, 1, 0, some);
    for (u32 v : target)
        CHECK_EQ(v, FBCOMPOSE_SENTINEL);
}
