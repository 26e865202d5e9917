// A long random run of one pool against a shadow model: every block the pool hands
// out is recorded with its size and a fill byte. Checked throughout: 16-byte
// alignment, no overlap with any live block (registered or static) or scratch
// buffer, contents kept across resize and across other blocks' frees, zeroed
// blocks zero, the scratch stack in order, and the pool's own invariants. The
// sequence is fixed (seeded), so a failure repeats.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"
#include "poolcheck.h"

using namespace kzv;
using namespace kzvtest;

namespace {

const u32 OPERATIONS = 800000;
const u32 FULLCHECK_EVERY = 20000;
const u32 MAXLIVE = 256;
const u32 MAXSTATIC = 96;
const u32 MAXSCRATCH = 12;

struct shadowblock {
    u8* address;
    u32 size;               // the size asked for: the bytes the model owns
    u8 fill;
};

struct shadowmodel {
    mem* pool;
    u32 random;
    shadowblock live[MAXLIVE];
    u32 livecount;
    shadowblock statics[MAXSTATIC];
    u32 staticcount;
    shadowblock scratch[MAXSCRATCH];
    u32 scratchdepth;
    u32 failures;
};

shadowmodel model;          // zero-initialised: no constructor runs

u32 nextrandom()
{
    u32 x = model.random;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return model.random = x;
}

u32 randomsize()
{
    u32 kind = nextrandom() % 100;
    if (kind < 60)
        return nextrandom() % 257;               // 0 included
    if (kind < 90)
        return 257 + nextrandom() % 3840;
    if (kind < 99)
        return 4097 + nextrandom() % 61440;
    return 65537 + nextrandom() % 240000;
}

bool fail(char const* what)
{
    if (model.failures++ < 5)
        kzvtest::check(false, what, __FILE__, __LINE__);
    return false;
}

bool clashes(u8* p, u32 size, shadowblock const* blocks, u32 count, u32 skip)
{
    u32 span = size ? size : 1;
    for (u32 i = 0; i < count; i++) {
        if (i == skip)
            continue;
        u32 other = blocks[i].size ? blocks[i].size : 1;
        if (overlaps((uptr)p, span, (uptr)blocks[i].address, other))
            return true;
    }
    return false;
}

// A new or moved block: aligned, and clear of everything else the model owns.
bool placed(u8* p, u32 size, u32 skiplive)
{
    if ((uptr)p & 15)
        return fail("block not 16-aligned");
    if (clashes(p, size, model.live, model.livecount, skiplive) ||
        clashes(p, size, model.statics, model.staticcount, ~0u) ||
        clashes(p, size, model.scratch, model.scratchdepth, ~0u))
        return fail("block overlaps a live block");
    return true;
}

bool intact(shadowblock const& b, bool every)
{
    u32 stride = every ? 1 : 61;
    for (u32 i = 0; i < b.size; i += stride) {
        if (b.address[i] != b.fill)
            return fail("block contents changed");
    }
    if (b.size && b.address[b.size - 1] != b.fill)
        return fail("block's last byte changed");
    return true;
}

void newblock(bool zeroed)
{
    if (model.livecount == MAXLIVE)
        return;
    u32 size = randomsize();
    u8* p = (u8*)(zeroed ? model.pool->getmem0(size) : model.pool->getmem(size));
    if (!p) {
        fail("getmem refused a small request");
        return;
    }
    if (!placed(p, size, ~0u))
        return;
    if (zeroed) {
        for (u32 i = 0; i < size; i++) {
            if (p[i])
                fail("getmem0 block not zero");
        }
    }
    if (model.pool->blocksize(p) < size)
        fail("recorded size below the request");
    shadowblock& b = model.live[model.livecount++];
    b = {p, size, (u8)nextrandom()};
    memset(p, b.fill, size);
}

void freeblock()
{
    if (!model.livecount)
        return;
    u32 i = nextrandom() % model.livecount;
    intact(model.live[i], false);
    model.pool->freemem(model.live[i].address);
    model.live[i] = model.live[--model.livecount];
}

void resizeblock(bool zeroing)
{
    if (!model.livecount)
        return;
    u32 i = nextrandom() % model.livecount;
    shadowblock& b = model.live[i];
    u32 size = nextrandom() % 4 ? randomsize() : b.size + nextrandom() % 64;
    u8* p = (u8*)(zeroing ? model.pool->resize0(b.address, b.size, size) : model.pool->resize(b.address, size));
    if (!p) {
        fail("resize refused a small request");
        return;
    }
    if (!placed(p, size, i))
        return;
    if (size <= b.size && p != b.address)
        fail("resize to a smaller size moved the block");
    b.address = p;
    u32 kept = kzv_min(size, b.size);
    shadowblock old = {p, kept, b.fill};
    intact(old, false);
    if (zeroing) {
        for (u32 k = b.size; k < size; k++) {
            if (p[k])
                fail("resize0 left the new part unzeroed");
        }
    }
    b.size = size;
    b.fill = (u8)nextrandom();
    memset(p, b.fill, size);
}

void growinplace()
{
    if (!model.livecount)
        return;
    shadowblock& b = model.live[nextrandom() % model.livecount];
    u32 size = b.size + nextrandom() % 200;
    // A lying old size must not matter: the pool uses its own record.
    if (!model.pool->increasemem(b.address, b.size + 100000, size))
        return;
    if (model.pool->blocksize(b.address) < size)
        fail("increasemem succeeded without room");
    b.size = size;
    memset(b.address, b.fill, size);
}

void newstatic()
{
    if (model.staticcount == MAXSTATIC)
        return;
    u32 size = nextrandom() % 2000;
    u8* p = (u8*)model.pool->sgetmem(size);
    if (!p || !placed(p, size, ~0u))
        return;
    shadowblock& b = model.statics[model.staticcount++];
    b = {p, size, (u8)nextrandom()};
    memset(p, b.fill, size);
    model.pool->freemem(p);                    // ignored: static blocks stay
}

void scratchstep(bool maypush)
{
    bool push = maypush && (model.scratchdepth == 0 || (model.scratchdepth < MAXSCRATCH && nextrandom() % 2));
    if (!push) {
        intact(model.scratch[--model.scratchdepth], true);
        model.pool->freetmp1k();
        return;
    }
    u8* p = model.pool->gettmp1k();
    if (!p) {
        fail("gettmp1k refused");
        return;
    }
    if (!placed(p, 1024, ~0u))
        return;
    shadowblock& b = model.scratch[model.scratchdepth++];
    b = {p, 1024, (u8)nextrandom()};
    memset(p, b.fill, 1024);
    if (model.pool->scratchindex != model.scratchdepth)
        fail("scratch depth differs from the model");
}

void fullcheck()
{
    for (u32 i = 0; i < model.livecount; i++) {
        intact(model.live[i], true);
        if (model.pool->blocksize(model.live[i].address) < model.live[i].size)
            fail("a live block lost its registration");
        placed(model.live[i].address, model.live[i].size, i);
    }
    for (u32 i = 0; i < model.staticcount; i++)
        intact(model.statics[i], true);
    for (u32 i = 0; i < model.scratchdepth; i++)
        intact(model.scratch[i], true);
    if (!checkpool(*model.pool))
        model.failures++;
}

} // namespace

TEST(random_run_against_shadow_model)
{
    model.pool = mem::getnewroot(0x10000, 0x10000);
    if (!CHECK(model.pool != nullptr))
        return;
    model.random = 0x9E3779B9u;
    for (u32 n = 0; n < OPERATIONS && model.failures < 5; n++) {
        u32 op = nextrandom() % 100;
        if (op < 30)
            newblock(false);
        else if (op < 35)
            newblock(true);
        else if (op < 55)
            freeblock();
        else if (op < 68)
            resizeblock(false);
        else if (op < 73)
            resizeblock(true);
        else if (op < 78)
            growinplace();
        else if (op < 80)
            newstatic();
        else if (op < 92)
            scratchstep(true);
        else if (model.livecount)
            intact(model.live[nextrandom() % model.livecount], false);
        if (n % FULLCHECK_EVERY == 0)
            fullcheck();
    }
    fullcheck();
    while (model.livecount)
        freeblock();
    while (model.scratchdepth)
        scratchstep(false);
    fullcheck();
    CHECK_EQ(model.failures, 0);
}
