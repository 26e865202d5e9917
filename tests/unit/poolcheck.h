// Pool inspection for the pool tests: the free bytes, the live ranges, and a check
// of the pool's invariants (ranges inside root areas, 16-aligned, not overlapping
// each other or any registered block; unused list entries behind the live ones).
#pragma once
#include "../harness/harness.h"
#include "../../framework/mem.h"

namespace kzvtest {

inline u64 freebytes(mem const& pool)
{
    u64 total = 0;
    for (u32 i = 0; i < pool.freecount; i++)
        total += pool.freelist[i]->size;
    return total;
}

// [begin, end) lies in the root areas; a merged range may cross from one area
// into another that the system placed right behind it.
inline bool inroot(mem const& pool, uptr begin, uptr end)
{
    uptr at = begin;
    while (at < end) {
        bool found = false;
        for (u32 r = 0; r < pool.rootcount && !found; r++) {
            uptr base = (uptr)pool.roottable[r].address;
            if (at >= base && at < base + pool.roottable[r].size) {
                at = base + pool.roottable[r].size;
                found = true;
            }
        }
        if (!found)
            return false;
    }
    return true;
}

inline bool overlaps(uptr a, u32 asize, uptr b, u32 bsize) { return a < b + bsize && b < a + asize; }

// The state of a pool that a refused request must not change: its counts and its
// live ranges in address order.
struct poolsnapshot {
    static const u32 MAXRANGES = 64;
    u32 freecount, rootcount, blockcapacity, freecapacity, rootcapacity;
    memrange ranges[MAXRANGES];
};

inline void takesnapshot(mem& pool, poolsnapshot& s)
{
    pool.sortemptylist();
    s.freecount = pool.freecount;
    s.rootcount = pool.rootcount;
    s.blockcapacity = pool.blockcapacity;
    s.freecapacity = pool.freecapacity;
    s.rootcapacity = pool.rootcapacity;
    for (u32 i = 0; i < pool.freecount && i < poolsnapshot::MAXRANGES; i++)
        s.ranges[i] = *pool.freelist[i];
}

inline bool samesnapshot(mem& pool, poolsnapshot const& s)
{
    poolsnapshot now;
    takesnapshot(pool, now);
    if (now.freecount != s.freecount || now.rootcount != s.rootcount || now.blockcapacity != s.blockcapacity ||
        now.freecapacity != s.freecapacity || now.rootcapacity != s.rootcapacity)
        return false;
    for (u32 i = 0; i < s.freecount && i < poolsnapshot::MAXRANGES; i++) {
        if (now.ranges[i].size != s.ranges[i].size || now.ranges[i].address != s.ranges[i].address)
            return false;
    }
    return true;
}

// Checks every invariant; reports the first broken one.
inline bool checkpool(mem const& pool)
{
    if (!CHECK(pool.freecount <= pool.freecapacity))
        return false;
    for (u32 i = pool.freecount; i < pool.freecapacity; i++) {
        if (!CHECK_EQ(pool.freelist[i]->size, 0xFFFFFFFFu))
            return false;
    }
    for (u32 i = 0; i < pool.freecount; i++) {
        memrange const* r = pool.freelist[i];
        uptr a = (uptr)r->address;
        if (!CHECK(r->size > 0) || !CHECK_EQ(a & 15, 0) || !CHECK(inroot(pool, a, a + r->size)))
            return false;
        for (u32 j = i + 1; j < pool.freecount; j++) {
            memrange const* q = pool.freelist[j];
            if (!CHECK(!overlaps(a, r->size, (uptr)q->address, q->size)))
                return false;
        }
        for (u32 b = 0; b < pool.blockcapacity; b++) {
            memrange const& e = pool.blocktable[b];
            if (e.address && !CHECK(!overlaps(a, r->size, (uptr)e.address, e.size)))
                return false;
        }
    }
    for (u32 b = 0; b < pool.blockcapacity; b++) {
        memrange const& e = pool.blocktable[b];
        if (!e.address)
            continue;
        if (!CHECK_EQ((uptr)e.address & 15, 0) || !CHECK_EQ(e.size & 15, 0))
            return false;
    }
    return true;
}

} // namespace kzvtest
