// Pool edge cases: what each request consumes, which free range serves it, merges
// of neighbours, in-place and moving resize, the scratch stack, the tables growing,
// the process total after the first new root area, requests above the cap, and a
// system that refuses memory (the pool returns null and stays as it was).
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"
#include "poolcheck.h"
#include "test_os_fixture.h"

using namespace kzv;
using namespace kzvtest;

namespace {

// A pool over a block of the process pool; its new root areas come from the
// process pool too, so the tests do not depend on the platform.
mem* newpool(u32 size, u32 step)
{
    u8* block = (u8*)process->pool.getmem(size);
    mem* pool = (mem*)block;
    pool->created(block, size, sizeof(mem), step);
    pool->parent = &process->pool;
    return pool;
}

void* refuse(int) { return nullptr; }

struct refusingsystem {          // swaps the platform allocation for one that refuses
    memsystemsource saved;
    refusingsystem() : saved(mem_systemsource) { mem_systemsource = refuse; }
    ~refusingsystem() { mem_systemsource = saved; }
};

void fill(void* p, u32 n, u8 seed)
{
    for (u32 i = 0; i < n; i++)
        ((u8*)p)[i] = (u8)(seed + i * 7);
}

bool holds(void const* p, u32 n, u8 seed)
{
    for (u32 i = 0; i < n; i++) {
        if (((u8 const*)p)[i] != (u8)(seed + i * 7))
            return false;
    }
    return true;
}

} // namespace

// Runs first, while the process pool still has its first root area only.
TEST(process_total_is_one_step_after_first_new_root)
{
    mem& pool = process->pool;
    if (!CHECK_EQ(pool.rootcount, 1))
        return;
    CHECK_EQ(pool.firstsize, 0x10000);
    CHECK_EQ(process->systemmemory, 0x10000);
    void* p = pool.getmem(100000);    // does not fit the first block
    CHECK(p != nullptr);
    CHECK_EQ(pool.rootcount, 2);
    CHECK_EQ(pool.roottable[1].size, 0x80000 - 0x10000);
    CHECK_EQ(process->systemmemory, 0x80000);
    CHECK_EQ(process->systemmemorypeak, 0x80000);
    CHECK_EQ(pool.step, 0x100000);    // doubled once
    pool.freemem(p);
}

TEST(request_sizes_round_up_to_16)
{
    static const struct { char const* name; u64 request; u32 consumed; } cases[] = {
        {"0 is taken as 16", 0, 16}, {"1", 1, 16}, {"16", 16, 16}, {"17", 17, 32},
        {"100", 100, 112}, {"4096", 4096, 4096}, {"4097", 4097, 4112},
    };
    mem* pool = newpool(0x10000, 0x10000);
    for (auto const& c : cases) {
        setrow(c.name);
        u64 before = freebytes(*pool);
        u8* p = (u8*)pool->getmem(c.request);
        if (!CHECK(p != nullptr))
            continue;
        CHECK_EQ((uptr)p & 15, 0);
        CHECK_EQ(before - freebytes(*pool), c.consumed + MEM_REDZONE);
        CHECK_EQ(pool->blocksize(p), c.consumed);
        u8* q = (u8*)pool->sgetmem(c.request);
        CHECK(q != nullptr && q != p);
        CHECK_EQ(before - freebytes(*pool), 2 * (c.consumed + MEM_REDZONE));
        CHECK_EQ(pool->blocksize(q), 0);      // static blocks are not registered
    }
    setrow(nullptr);
    CHECK(checkpool(*pool));
}

TEST(zero_byte_blocks_are_distinct)
{
    mem* pool = newpool(0x4000, 0x4000);
    u8* a = (u8*)pool->getmem(0);
    u8* b = (u8*)pool->getmem(0);
    CHECK(a && b && a != b);
    CHECK_EQ(pool->blocksize(a), 16);
    pool->freemem(a);
    CHECK_EQ(pool->blocksize(b), 16);         // freeing a did not hit b's entry
    CHECK(pool->resize(b, 16) == b);
}

// With ranges R (the rest of the block), B and D, a registered request comes
// from the latest range in list order, a static one from the earliest.
TEST(registered_from_latest_range_static_from_earliest)
{
    mem* pool = newpool(0x4000, 0x4000);
    u8* blocks[5];
    for (u8*& p : blocks)
        p = (u8*)pool->getmem(64);
    pool->freemem(blocks[1]);
    pool->freemem(blocks[3]);
    CHECK_EQ(pool->freecount, 3);
    u8* rest = pool->freelist[0]->address;
    CHECK(pool->freelist[2]->address == blocks[3]);
    CHECK(pool->getmem(16) == blocks[3]);
    CHECK(pool->sgetmem(16) == rest);
    CHECK(checkpool(*pool));
}

TEST(freeing_neighbours_merges_ranges)
{
    mem* pool = newpool(0x4000, 0x4000);
    u8* a = (u8*)pool->getmem(32);
    u8* b = (u8*)pool->getmem(32);
    u8* c = (u8*)pool->getmem(32);
    u8* d = (u8*)pool->getmem(32);
    (void)d;
    u32 ranges = pool->freecount;
    pool->freemem(a);
    pool->freemem(b);                          // a and b: one range
    CHECK_EQ(pool->freecount, ranges + 1);
    pool->freemem(c);
    CHECK_EQ(pool->freecount, ranges + 1);
    CHECK(pool->freelist[ranges]->address == a);
    CHECK_EQ(pool->freelist[ranges]->size, 3 * (32 + MEM_REDZONE));
    CHECK(checkpool(*pool));
}

// A block freed between two listed-adjacent free ranges joins both of them.
TEST(freeing_between_two_ranges_merges_all_three)
{
    mem* pool = newpool(0x4000, 0x4000);
    u8* a = (u8*)pool->getmem(48);
    u8* b = (u8*)pool->getmem(48);
    u8* c = (u8*)pool->getmem(48);
    u8* d = (u8*)pool->getmem(48);
    (void)d;
    u32 ranges = pool->freecount;
    pool->freemem(a);
    pool->freemem(c);
    CHECK_EQ(pool->freecount, ranges + 2);
    pool->freemem(b);
    CHECK_EQ(pool->freecount, ranges + 1);
    CHECK(pool->freelist[ranges]->address == a);
    CHECK_EQ(pool->freelist[ranges]->size, 3 * (48 + MEM_REDZONE));
    CHECK(checkpool(*pool));
}

TEST(free_ignores_static_foreign_and_null)
{
    mem* pool = newpool(0x4000, 0x4000);
    u8* s = (u8*)pool->sgetmem(64);
    u8* p = (u8*)pool->getmem(64);
    u64 before = freebytes(*pool);
    pool->freemem(s);
    pool->freemem(p + 16);
    int local;
    pool->freemem(&local);
    CHECK_EQ(freebytes(*pool), before);
    CHECK_EQ(pool->blocksize(p), 64);
    // The report is a diagnostic: standard error, never the answer's descriptor.
    capture out, err;
    CHECK(out.begin(1));
    CHECK(err.begin(2));
    pool->freemem(nullptr);
    char errtext[64], outtext[64];
    err.end(errtext, sizeof errtext);
    out.end(outtext, sizeof outtext);
    CHECK_STR(errtext, "free 0!!\n");
    CHECK_STR(outtext, "");
    CHECK_EQ(freebytes(*pool), before);
}

TEST(resize_same_in_place_and_moving)
{
    mem* pool = newpool(0x4000, 0x4000);
    CHECK(pool->resize(nullptr, 40) != nullptr);      // null gives a new block
    u8* p = (u8*)pool->getmem(100);
    fill(p, 100, 1);
    CHECK(pool->resize(p, 50) == p);                  // smaller: the same block, not shrunk
    CHECK_EQ(pool->blocksize(p), 112);
    CHECK(pool->resize(p, 112) == p);
    int local;
    CHECK(pool->resize(&local, 10) == nullptr);       // not a registered block
    // A fresh pool serves registered blocks from the start of its one range, so
    // the range begins right behind the newest block.
    mem* fresh = newpool(0x4000, 0x4000);
    u8* q = (u8*)fresh->getmem(32);
    fill(q, 32, 2);
    u64 before = freebytes(*fresh);
    CHECK(fresh->resize(q, 200) == q);                // grown in place
    CHECK_EQ(fresh->blocksize(q), 208);
    CHECK_EQ(before - freebytes(*fresh), 208 - 32);
    CHECK(holds(q, 32, 2));
    u8* blocker = (u8*)fresh->getmem(16);
    fill(q, 208, 3);
    u8* moved = (u8*)fresh->resize(q, 1000);          // blocked: copied and moved
    CHECK(moved != nullptr && moved != q);
    CHECK(holds(moved, 208, 3));
    CHECK_EQ(fresh->blocksize(q), 0);
    CHECK_EQ(fresh->blocksize(moved), 1008);
    CHECK_EQ(fresh->blocksize(blocker), 16);
    CHECK(checkpool(*fresh));
}

TEST(resize0_zeroes_the_new_part)
{
    mem* pool = newpool(0x4000, 0x4000);
    u8* z = (u8*)pool->resize0(nullptr, 0, 64);
    u8 zeros[64] = {};
    CHECK_MEM(z, zeros, 64);
    u8* p = (u8*)pool->getmem(32);
    u8* blocker = (u8*)pool->getmem(16);
    (void)blocker;
    fill(p, 32, 9);
    u8* r = (u8*)pool->resize0(p, 32, 96);
    CHECK(holds(r, 32, 9));
    CHECK_MEM(r + 32, zeros, 64);
}

// The caller's old size is not trusted: a block grows in place only from its
// recorded end, so a lie cannot absorb a range that does not touch it.
TEST(increasemem_uses_recorded_size)
{
    mem* pool = newpool(0x4000, 0x4000);
    u8* p = (u8*)pool->getmem(32);
    u8* q = (u8*)pool->getmem(32);
    u8* r = (u8*)pool->getmem(32);
    pool->freemem(r);                          // a free range now begins behind q
    fill(q, 32, 5);
    u32 span = 32 + MEM_REDZONE;
    CHECK(!pool->increasemem(p, 2 * span, 3 * span));
    CHECK_EQ(pool->blocksize(p), 32);
    CHECK(pool->increasemem(q, 0, 64));        // q does touch the range
    CHECK_EQ(pool->blocksize(q), 64);
    CHECK(holds(q, 32, 5));
    CHECK(pool->increasemem(q, 999999, 48));   // already big enough
    CHECK(checkpool(*pool));
}

TEST(strings_copy_and_null)
{
    mem* pool = newpool(0x4000, 0x4000);
    char* s = pool->sgetstring("static text");
    char* g = pool->getstring("registered");
    CHECK_STR(s, "static text");
    CHECK_STR(g, "registered");
    CHECK_EQ(pool->blocksize(g), 16);
    CHECK_EQ(pool->blocksize(s), 0);
    CHECK(pool->getstring(nullptr) == nullptr);
    CHECK(pool->sgetstring(nullptr) == nullptr);
    CHECK_STR(pool->getstring(""), "");
}

TEST(scratch_stack)
{
    mem* pool = newpool(0x8000, 0x8000);
    u8* a = pool->gettmp1k();
    u8* b = pool->gettmp1k();
    CHECK(a && b && a != b);
    fill(a, 1024, 1);
    fill(b, 1024, 2);
    CHECK(holds(a, 1024, 1));
    pool->freetmp1k();
    pool->freetmp1k();
    CHECK_EQ(pool->scratchindex, 0);
    CHECK(pool->gettmp1k() == a);
    pool->freetmp1k();
    pool->freetmp1k();                         // unbalanced: ignored at depth 0
    pool->freetmp1k();
    CHECK_EQ(pool->scratchindex, 0);
    u8* bufs[7];
    for (u8*& t : bufs)
        t = pool->gettmp1k();
    CHECK(bufs[0] == a && bufs[1] == b);
    CHECK_EQ(pool->scratchcount, 8);
    for (u32 i = 0; i < 7; i++) {
        CHECK(bufs[i] != nullptr);
        fill(bufs[i], 1024, (u8)(10 + i));
    }
    for (u32 i = 0; i < 7; i++)
        CHECK(holds(bufs[i], 1024, (u8)(10 + i)));
    for (u32 i = 0; i < 7; i++)
        pool->freetmp1k();
    CHECK_EQ(pool->scratchindex, 0);
    CHECK(checkpool(*pool));
}

TEST(block_table_grows_by_32)
{
    mem* pool = newpool(0x10000, 0x10000);
    CHECK_EQ(pool->blockcapacity, 32);
    u8* blocks[100];
    for (u32 i = 0; i < 100; i++) {
        blocks[i] = (u8*)pool->getmem(16);
        fill(blocks[i], 16, (u8)i);
    }
    CHECK_EQ(pool->blockcapacity, 128);
    bool allkept = true;
    for (u32 i = 0; i < 100; i++)
        allkept = allkept && pool->blocksize(blocks[i]) == 16 && holds(blocks[i], 16, (u8)i);
    CHECK(allkept);
    CHECK(checkpool(*pool));
    for (u8* p : blocks)
        pool->freemem(p);
    CHECK(checkpool(*pool));
}

// Every other block freed: more separate ranges than the list's 32 slots.
TEST(free_list_grows_by_16)
{
    mem* pool = newpool(0x10000, 0x10000);
    u8* blocks[120];
    for (u8*& p : blocks)
        p = (u8*)pool->getmem(32);
    for (u32 i = 0; i < 120; i += 2)
        pool->freemem(blocks[i]);
    CHECK(pool->freecount >= 60);
    CHECK_EQ(pool->freecapacity % 16, 0);
    CHECK(pool->freecapacity >= pool->freecount);
    CHECK(checkpool(*pool));
    for (u32 i = 1; i < 120; i += 2)
        pool->freemem(blocks[i]);
    pool->sortemptylist();
    CHECK(checkpool(*pool));
    // Sorted and merged: ascending, and no range touches the next one (what lies
    // between them are the static tables that growth made).
    for (u32 i = 1; i < pool->freecount; i++)
        CHECK(pool->freelist[i - 1]->address + pool->freelist[i - 1]->size < pool->freelist[i]->address);
    CHECK(pool->freecount <= 4);
}

// A full root table grows by 16 when the next root area comes.
TEST(root_table_grows_by_16)
{
    mem* pool = newpool(0x4000, 0x4000);
    memrange* old = pool->roottable;
    for (u32 i = 1; i < pool->rootcapacity; i++)
        pool->roottable[i] = {0, nullptr};     // stands for areas made earlier
    pool->rootcount = pool->rootcapacity;
    void* p = pool->getmem(0x8000);
    CHECK(p != nullptr);
    CHECK_EQ(pool->rootcapacity, 32);
    CHECK_EQ(pool->rootcount, 17);
    CHECK(pool->roottable != old);
    CHECK_EQ(pool->roottable[16].size >= 0x8000, 1);
    CHECK_EQ(pool->blocksize(old), 0);           // the old table was given back
    CHECK_EQ(pool->blocksize(pool->roottable), 32 * sizeof(memrange));
}

// A new root area made while the free list is full also holds the grown list.
TEST(new_root_with_full_free_list)
{
    mem* pool = newpool(0x4000, 0x1000);
    u8* blocks[62];
    for (u8*& p : blocks)
        p = (u8*)pool->getmem(16);
    for (u32 i = 0; i < 62 && pool->freecount < pool->freecapacity; i += 2)
        pool->freemem(blocks[i]);              // separate ranges until the list is full
    CHECK_EQ(pool->freecount, pool->freecapacity);
    CHECK_EQ(pool->freecapacity, 32);
    u32 largest = 0;
    for (u32 i = 0; i < pool->freecount; i++)
        largest = kzv_max(largest, pool->freelist[i]->size);
    void* big = pool->getmem(largest + 16);
    CHECK(big != nullptr);
    CHECK_EQ(pool->rootcount, 2);
    CHECK_EQ(pool->freecapacity, 48);
    CHECK(checkpool(*pool));
    for (u32 i = 1; i < 62; i += 2)
        CHECK_EQ(pool->blocksize(blocks[i]), 16);
}

TEST(requests_above_cap_are_refused)
{
    mem* pool = newpool(0x4000, 0x4000);
    poolsnapshot before;
    takesnapshot(*pool, before);
    static const u64 sizes[] = {MEM_MAXREQUEST + 1, 0xFFFFFFF1u, 0xFFFFFFFFu, 0x100000010ull, ~0ull};
    for (u64 n : sizes) {
        CHECK(pool->getmem(n) == nullptr);
        CHECK(pool->getmem0(n) == nullptr);
        CHECK(pool->sgetmem(n) == nullptr);
        CHECK(pool->sgetmem0(n) == nullptr);
    }
    u8* p = (u8*)pool->getmem(32);
    fill(p, 32, 4);
    CHECK(pool->resize(p, 0xFFFFFFF8u) == nullptr);
    CHECK(pool->resize0(p, 32, ~0ull) == nullptr);
    CHECK(!pool->increasemem(p, 32, 0x100000000ull));
    CHECK(holds(p, 32, 4));
    pool->freemem(p);
    CHECK(samesnapshot(*pool, before));
    smem store(pool);
    CHECK(store.getmem(0xFFFFFFFEu) == nullptr);
    CHECK_EQ(store.total, 0);
}

// A pool made directly with step 0 grows by its own size: the root-growth loop
// of a new area ends, and the area holds a request larger than the first block.
TEST(step_0_means_the_pool_size)
{
    mem* pool = newpool(0x4000, 0);
    CHECK_EQ(pool->step, 0x4000);
    u8* p = (u8*)pool->getmem(0x9000);
    if (!CHECK(p != nullptr))
        return;
    fill(p, 0x9000, 9);
    CHECK(holds(p, 0x9000, 9));
    CHECK_EQ(pool->rootcount, 2);
    CHECK(checkpool(*pool));
}

// A system that refuses: null from every request that needs a new root area,
// and the pool, the process counter and existing blocks as they were.
TEST(refused_system_memory_returns_null_and_changes_nothing)
{
    mem* pool = mem::getnewroot(0x4000, 0x4000);
    if (!CHECK(pool != nullptr))
        return;
    u8* keep = (u8*)pool->getmem(100);
    fill(keep, 100, 7);
    refusingsystem refusing;
    u64 systemmemory = process->systemmemory;
    poolsnapshot before;
    takesnapshot(*pool, before);
    CHECK(pool->getmem(0x8000) == nullptr);
    CHECK(samesnapshot(*pool, before));
    CHECK(pool->sgetmem(0x8000) == nullptr);
    CHECK(pool->getmem0(0x8000) == nullptr);
    CHECK(samesnapshot(*pool, before));
    CHECK(pool->resize(keep, 0x8000) == nullptr);
    CHECK(pool->resize0(keep, 100, 0x8000) == nullptr);
    CHECK_EQ(pool->blocksize(keep), 112);
    CHECK(holds(keep, 100, 7));
    CHECK(samesnapshot(*pool, before));
    CHECK(pool->getstring("fits") != nullptr);           // what fits is still served

    mem* child = newpool(0x2000, 0x2000);
    child->parent = pool;                                // its parent cannot grow
    CHECK(child->getmem(0x6000) == nullptr);
    CHECK(samesnapshot(*pool, before) || pool->freecount == before.freecount);

    smem store(pool);
    CHECK(store.getmem(0x8000) == nullptr);
    CHECK_EQ(store.total, 0);
    u32 depth = 0;
    while (pool->gettmp1k() && depth < 64)
        depth++;
    CHECK(depth < 64);                                   // the stack ended with null
    for (u32 i = 0; i < depth; i++)
        pool->freetmp1k();
    CHECK_EQ(pool->scratchindex, 0);
    CHECK(mem::getnewroot(0x4000, 0) == nullptr);
    CHECK_EQ(process->systemmemory, systemmemory);
    CHECK(checkpool(*pool));
}

TEST(kzvmain_ends_with_status_2_when_the_block_is_refused)
{
    sysprocess* saved = process;
    int status;
    {
        refusingsystem refusing;
        note("(a line about the refused process memory follows)");
        status = kzvmain(nullptr);
    }
    CHECK_EQ(status, 2);
    CHECK(process == saved);
}
