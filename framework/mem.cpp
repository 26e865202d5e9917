// The pool allocator. Invariants: live free ranges are the first `freecount`
// pointers of the free list and never overlap a block; every size is a multiple of
// 16 and every range starts 16-aligned, because root areas do; a block's footprint
// (its rounded size plus the red zone) is what the block table records and what the
// free ranges give and take. Every failure path returns before the pool's tables
// change, except for table growth already done, which loses nothing.
#include "mem.h"
#include "mempoison.h"
#include "os.h"
#include "str.h"
#include "sysprocess.h"


namespace kzv {

memsystemsource mem_systemsource = os_getmem;

namespace {

// Table capacities at creation and per growth, counted in entries so that 32-bit
// builds keep them while their tables take fewer bytes.
const u32 FREE_INITIAL = 32, FREE_GROWTH = 16;
const u32 ROOT_INITIAL = 16, ROOT_GROWTH = 16;
const u32 BLOCK_INITIAL = 32, BLOCK_GROWTH = 32;
const u32 STEP_DOUBLELIMIT = 0x3FFFFF;   // the step doubles per new root area up to 8 MiB
const u32 UNUSED = 0xFFFFFFFF;
const u32 ROOT_MINSIZE = 4096;           // holds a pool record and its first tables
const u32 SCRATCH_SIZE = 1024;

inline u64 round16(u64 n) { return (n + 15) & ~(u64)15; }

// What a request of n bytes occupies: 0 (as 16) rounded up to 16, plus the red
// zone; 0 when the request is above the cap.
u32 footprint(u64 n)
{
    if (n > MEM_MAXREQUEST)
        return 0;
    if (n == 0)
        n = 16;
    return (u32)(round16(n) + MEM_REDZONE);
}

inline u32 usable(u32 footprintsize) { return footprintsize - MEM_REDZONE; }

void markunused(memrange* e)
{
    e->size = UNUSED;
    e->address = (u8*)~(uptr)0;
}

// Merged free ranges stay describable by a u32 size, even where root areas lie
// next to each other in the address space.
inline bool canmerge(u32 a, u32 b) { return (u64)a + b <= 0xFFFFFFF0u; }

// A fresh area from the platform, counted on the process.
void* systemblock(u32 n)
{
    void* p = mem_systemsource((int)n);
    if (!p)
        return nullptr;
    if (process) {
        process->systemmemory += n;
        if (process->systemmemory > process->systemmemorypeak)
            process->systemmemorypeak = process->systemmemory;
    }
    return p;
}

} // namespace

void mem::created(void* block, unsigned size, unsigned reserved, unsigned stepsize)
{
    u8* base = (u8*)block;
    size &= ~15u;
    u32 offset = (u32)round16(reserved);
    u32 rootbytes = footprint(ROOT_INITIAL * sizeof(memrange));
    u32 blockbytes = footprint(BLOCK_INITIAL * sizeof(memrange));
    u32 listbytes = footprint(FREE_INITIAL * sizeof(memrange*));
    u32 firstbytes = footprint(sizeof(memrange));

    roottable = (memrange*)(base + offset);
    blocktable = (memrange*)(base + offset + rootbytes);
    freelist = (memrange**)(base + offset + rootbytes + blockbytes);
    memrange* firstentry = (memrange*)(base + offset + rootbytes + blockbytes + listbytes);
    u32 tablesend = offset + rootbytes + blockbytes + listbytes + firstbytes;

    freecapacity = FREE_INITIAL;
    freecount = 0;
    rootcapacity = ROOT_INITIAL;
    rootcount = 1;
    blockcapacity = BLOCK_INITIAL;
    scratchcount = scratchindex = 0;
    scratchtable = nullptr;
    parent = nullptr;
    firstsize = size;
    step = stepsize ? (u32)kzv_min<u64>(round16(stepsize), MEM_MAXREQUEST) : size;
    if (!step)
        step = ROOT_MINSIZE;

    memset0(roottable, rootbytes);
    memset0(blocktable, blockbytes);
    roottable[0].size = size;
    roottable[0].address = base;
    blocktable[0] = {rootbytes, (u8*)roottable};
    blocktable[1] = {blockbytes, (u8*)blocktable};
    blocktable[2] = {listbytes, (u8*)freelist};
    mem_poison(base + offset + rootbytes - MEM_REDZONE, MEM_REDZONE);
    mem_poison(base + offset + rootbytes + blockbytes - MEM_REDZONE, MEM_REDZONE);
    mem_poison(base + offset + rootbytes + blockbytes + listbytes - MEM_REDZONE, MEM_REDZONE);
    mem_poison(base + tablesend - MEM_REDZONE, MEM_REDZONE);

    firstentry->size = size > tablesend ? size - tablesend : 0;
    firstentry->address = base + tablesend;
    mem_poison(firstentry->address, firstentry->size);
    freelist[0] = firstentry;
    freecount = firstentry->size ? 1 : 0;

    // The other 31 entries: a static block, so the list is whole from the start.
    u32 spares = FREE_INITIAL - 1;
    memrange* entries = (memrange*)carvefirst(footprint(spares * sizeof(memrange)));
    if (!entries) {                      // a block too small for its tables: no free range
        freecapacity = freecount = 0;
        return;
    }
    mem_unpoison(entries, spares * sizeof(memrange));
    for (u32 i = 0; i < spares; i++) {
        markunused(&entries[i]);
        freelist[1 + i] = &entries[i];
    }
}

mem* mem::getnewroot(unsigned size, unsigned stepsize)
{
    if (size == 0)
        size = ROOT_MINSIZE;
    size = (unsigned)kzv_max<u64>(round16(size), ROOT_MINSIZE);
    if (size > MEM_MAXREQUEST)
        return nullptr;
    void* block = systemblock(size);
    if (!block)
        return nullptr;
    mem* pool = (mem*)block;
    pool->created(block, size, sizeof(mem), stepsize ? stepsize : size);
    return pool;
}

void* mem::getsysmem(u32 n)
{
    if (n == 0 || n > MEM_MAXREQUEST)
        return nullptr;
    if (parent)
        return parent->getmem(n);
    return systemblock(n);
}

void* mem::getmem(u64 n) { return alloc(n, true); }
void* mem::sgetmem(u64 n) { return alloc(n, false); }

void* mem::getmem0(u64 n)
{
    void* p = getmem(n);
    if (p)
        memset0(p, n);
    return p;
}

void* mem::sgetmem0(u64 n)
{
    void* p = sgetmem(n);
    if (p)
        memset0(p, n);
    return p;
}

// The allocation core. A registered block needs a table slot; it is secured first,
// so that nothing has to be undone after the block is carved.
void* mem::alloc(u64 n, bool registered)
{
    u32 f = footprint(n);
    if (!f || !freelist)
        return nullptr;
    int slot = registered ? reserveblockslot() : -1;
    if (registered && slot < 0)
        return nullptr;
    int i = findfree(f, registered);
    if (i < 0) {
        sortemptylist();
        i = findfree(f, registered);
    }
    u8* p = i >= 0 ? carve((u32)i, f) : newroot(f);
    if (!p)
        return nullptr;
    mem_unpoison(p, usable(f));
    if (registered)
        blocktable[slot] = {f, p};    // making a root area registers nothing
    return p;
}

// Registered requests take from the latest range in list order, static ones from
// the earliest, which keeps long-lived static data apart from churn.
int mem::findfree(u32 f, bool fromlast) const
{
    if (fromlast) {
        for (u32 i = freecount; i-- > 0;) {
            if (freelist[i]->size >= f)
                return (int)i;
        }
        return -1;
    }
    for (u32 i = 0; i < freecount; i++) {
        if (freelist[i]->size >= f)
            return (int)i;
    }
    return -1;
}

u8* mem::carve(u32 index, u32 f)
{
    memrange* r = freelist[index];
    u8* p = r->address;
    r->address += f;
    r->size -= f;
    if (r->size == 0)
        removefree(index);
    return p;
}

u8* mem::carvefirst(u32 f)
{
    int i = findfree(f, false);
    return i >= 0 ? carve((u32)i, f) : nullptr;
}

// A table that will replace the registered table `old`: n bytes from the first
// free range that holds them, else from the spare area about to become free.
static u8* takenewtable(mem& m, void const* old, u32 n, u8*& spare, u32& sparesize)
{
    if (m.findblock(old) < 0)
        return nullptr;
    u8* p = m.carvefirst(n);
    if (!p) {
        if (sparesize < n)
            return nullptr;
        p = spare;
        spare += n;
        sparesize -= n;
    }
    mem_unpoison(p, usable(n));
    return p;
}

// The new table takes the old one's block-table entry; the old one becomes free.
static void swaptable(mem& m, void const* old, u8* table, u32 n)
{
    memrange& entry = m.blocktable[m.findblock(old)];
    memrange given = entry;
    entry = {n, table};
    m.insertfree(given.address, given.size);
}

// The free list grows by 16 slots: a new pointer list (registered in place of the
// old one) and 16 static entries behind it; the old list becomes a free range.
bool mem::growfreelist(u8*& spare, u32& sparesize)
{
    u32 capacity = freecapacity + FREE_GROWTH;
    u32 listbytes = footprint((u64)capacity * sizeof(memrange*));
    u32 entrybytes = footprint(FREE_GROWTH * sizeof(memrange));
    u8* p = takenewtable(*this, freelist, listbytes + entrybytes, spare, sparesize);
    if (!p)
        return false;
    mem_poison(p + usable(listbytes), MEM_REDZONE);
    memrange** list = (memrange**)p;
    memrange* entries = (memrange*)(p + listbytes);
    for (u32 i = 0; i < freecapacity; i++)
        list[i] = freelist[i];
    for (u32 i = 0; i < FREE_GROWTH; i++) {
        markunused(&entries[i]);
        list[freecapacity + i] = &entries[i];
    }
    memrange** old = freelist;
    freelist = list;
    freecapacity = capacity;
    swaptable(*this, old, p, listbytes);
    return true;
}

bool mem::growroottable(u8*& spare, u32& sparesize)
{
    u32 capacity = rootcapacity + ROOT_GROWTH;
    u32 bytes = footprint((u64)capacity * sizeof(memrange));
    u8* p = takenewtable(*this, roottable, bytes, spare, sparesize);
    if (!p)
        return false;
    memrange* table = (memrange*)p;
    memset0(table, usable(bytes));
    for (u32 i = 0; i < rootcount; i++)
        table[i] = roottable[i];
    memrange* old = roottable;
    roottable = table;
    rootcapacity = capacity;
    swaptable(*this, old, p, bytes);
    return true;
}

// A new root area holding a block of footprint f at its start, with room for the
// table growth it may cause. The process pool's first new area brings the
// process total up to exactly one step.
u8* mem::newroot(u32 f)
{
    bool listfull = freecount >= freecapacity;
    bool rootfull = rootcount >= rootcapacity;
    u64 minimum = f;
    if (listfull)
        minimum += footprint((u64)(freecapacity + FREE_GROWTH) * sizeof(memrange*)) +
                   footprint(FREE_GROWTH * sizeof(memrange)) + 16;
    if (rootfull)
        minimum += footprint((u64)(rootcapacity + ROOT_GROWTH) * sizeof(memrange)) + 16;
    u64 size = step;
    if (process && this == &process->pool && process->systemmemory < step)
        size = step - process->systemmemory;
    if (size < minimum)
        size += (minimum - size + step - 1) / step * step;
    size = round16(size);
    if (size > MEM_MAXREQUEST)
        size = round16(minimum);          // a large step must not refuse a request that fits
    if (size > MEM_MAXREQUEST)
        return nullptr;
    u8* area = (u8*)getsysmem((u32)size);
    if (!area)
        return nullptr;
    mem_poison(area, (u32)size);
    u8* spare = area + f;
    u32 sparesize = (u32)size - f;
    if (listfull)
        growfreelist(spare, sparesize);
    if (rootcount >= rootcapacity)
        growroottable(spare, sparesize);
    if (rootcount < rootcapacity)
        roottable[rootcount++] = {(u32)size, area};
    insertfree(spare, sparesize);
    if (step <= STEP_DOUBLELIMIT)
        step *= 2;
    return area;
}

// The first empty slot of the block table, growing the table by 32 when it is
// full: a new static table entered in itself, the old one freed. -1 without memory.
static int firstemptyslot(mem const& m)
{
    for (u32 i = 0; i < m.blockcapacity; i++) {
        if (!m.blocktable[i].address)
            return (int)i;
    }
    return -1;
}

int mem::reserveblockslot()
{
    int empty = firstemptyslot(*this);
    if (empty >= 0)
        return empty;
    u32 capacity = blockcapacity + BLOCK_GROWTH;
    u32 bytes = footprint((u64)capacity * sizeof(memrange));
    memrange* table = (memrange*)alloc(usable(bytes), false);
    if (!table)
        return -1;
    memset0(table, usable(bytes));
    for (u32 i = 0; i < blockcapacity; i++)
        table[i] = blocktable[i];
    table[blockcapacity] = {bytes, (u8*)table};
    memrange* old = blocktable;
    blocktable = table;
    blockcapacity = capacity;
    free_int(old);                        // its entry, copied above, becomes empty
    return firstemptyslot(*this);
}

int mem::findblock(void const* p) const
{
    if (!p)
        return -1;
    for (u32 i = 0; i < blockcapacity; i++) {
        if (blocktable[i].address == p)
            return (int)i;
    }
    return -1;
}

// Marks a live entry unused and moves it behind the live part.
void mem::removefree(u32 index)
{
    memrange* e = freelist[index];
    markunused(e);
    for (u32 i = index + 1; i < freecount; i++)
        freelist[i - 1] = freelist[i];
    freecount--;
    freelist[freecount] = e;
}

// A range absorbs its list successor while the two touch.
void mem::absorbnext(u32 index)
{
    memrange* r = freelist[index];
    while (index + 1 < freecount) {
        memrange* next = freelist[index + 1];
        if (next->address != r->address + r->size || !canmerge(r->size, next->size))
            return;
        r->size += next->size;
        removefree(index + 1);
    }
}

// Gives a region back: merged into a range it touches, else appended.
void mem::insertfree(u8* p, u32 size)
{
    if (!size)
        return;
    mem_poison(p, size);
    for (u32 i = 0; i < freecount; i++) {
        memrange* r = freelist[i];
        if (!canmerge(r->size, size))
            continue;
        if (r->address == p + size) {
            r->address = p;
            r->size += size;
            absorbnext(i);
            return;
        }
        if (r->address + r->size == p) {
            r->size += size;
            absorbnext(i);
            return;
        }
    }
    appendfree(p, size);
}

// With a full list, the list grows first, taking its tables from a free range or
// from the region itself; a region too small for that is not kept.
bool mem::appendfree(u8* p, u32 size)
{
    bool grew = false;
    if (freecount >= freecapacity) {
        if (!growfreelist(p, size) || !size)
            return false;
        grew = true;
    }
    memrange* e = freelist[freecount];
    e->size = size;
    e->address = p;
    freecount++;
    if (grew)
        sortemptylist();
    return true;
}

void mem::free_int(void* p)
{
    if (!p) {
        os_stderr("free 0!!\n");
        return;
    }
    int i = findblock(p);
    if (i < 0)
        return;                           // static blocks and foreign pointers
    u32 size = blocktable[i].size;
    blocktable[i] = {0, nullptr};
    insertfree((u8*)p, size);
}

// Grows block `index` to footprint f when a free range starts at its end.
static bool growinplace(mem& m, u32 index, u32 f)
{
    memrange& b = m.blocktable[index];
    u32 more = f - b.size;
    for (u32 i = 0; i < m.freecount; i++) {
        memrange* r = m.freelist[i];
        if (r->address != b.address + b.size || r->size < more)
            continue;
        r->address += more;
        r->size -= more;
        if (r->size == 0)
            m.removefree(i);
        b.size = f;
        mem_unpoison(b.address, usable(f));
        return true;
    }
    return false;
}

void* mem::resize(void* p, u64 n)
{
    if (!p)
        return getmem(n);
    u32 f = footprint(n);
    int i = findblock(p);
    if (!f || i < 0)
        return nullptr;
    if (blocktable[i].size >= f)
        return p;
    if (growinplace(*this, (u32)i, f))
        return p;
    u32 oldsize = usable(blocktable[i].size);
    void* q = getmem(n);
    if (!q)
        return nullptr;
    memcpy(q, p, oldsize);
    free_int(p);
    return q;
}

bool mem::increasemem(void* p, u64, u64 newsize)
{
    u32 f = footprint(newsize);
    int i = findblock(p);
    if (!f || i < 0)
        return false;
    if (blocktable[i].size >= f)
        return true;
    return growinplace(*this, (u32)i, f);
}

void* mem::resize0(void* p, u64 oldsize, u64 n)
{
    if (!p)
        return getmem0(n);
    u8* r = (u8*)resize(p, n);
    if (r && oldsize < n)
        memset0(r + oldsize, n - oldsize);
    return r;
}

static char* copystring(char* to, char const* s, u32 length)
{
    if (to)
        memcpy(to, s, length + 1);
    return to;
}

char* mem::sgetstring(char const* s)
{
    if (!s)
        return nullptr;
    u32 length = strlen(s);
    return copystring((char*)sgetmem((u64)length + 1), s, length);
}

char* mem::getstring(char const* s)
{
    if (!s)
        return nullptr;
    u32 length = strlen(s);
    return copystring((char*)getmem((u64)length + 1), s, length);
}

// Scratch buffers: a stack that grows two buffers at a time. Buffers not in use
// are poisoned in the sanitizer build, so a use after `freetmp1k` is reported.
u8* mem::gettmp1k()
{
    if (scratchindex >= scratchcount) {
        u8** table = (u8**)getmem((u64)(scratchcount + 2) * sizeof(u8*));
        if (!table)
            return nullptr;
        u8* pair = (u8*)sgetmem(2 * SCRATCH_SIZE);
        if (!pair) {
            free_int(table);
            return nullptr;
        }
        mem_poison(pair, 2 * SCRATCH_SIZE);
        for (u32 i = 0; i < scratchcount; i++)
            table[i] = scratchtable[i];
        table[scratchcount] = pair;
        table[scratchcount + 1] = pair + SCRATCH_SIZE;
        if (scratchtable)
            free_int(scratchtable);
        scratchtable = table;
        scratchcount += 2;
    }
    u8* buffer = scratchtable[scratchindex++];
    mem_unpoison(buffer, SCRATCH_SIZE);
    return buffer;
}

void mem::freetmp1k()
{
    if (scratchindex == 0)
        return;                           // unbalanced: the stack stays at depth 0
    scratchindex--;
    mem_poison(scratchtable[scratchindex], SCRATCH_SIZE);
}

// Bubble sort by address, each pass ending at the last exchange of the one before,
// then one merging pass over touching neighbours.
void mem::sortemptylist()
{
    u32 end = freecount;
    while (end > 1) {
        u32 last = 0;
        for (u32 i = 1; i < end; i++) {
            if ((uptr)freelist[i - 1]->address > (uptr)freelist[i]->address) {
                memrange* t = freelist[i - 1];
                freelist[i - 1] = freelist[i];
                freelist[i] = t;
                last = i;
            }
        }
        end = last;
    }
    for (u32 i = 0; i < freecount; i++)
        absorbnext(i);
}

u32 mem::blocksize(void const* p) const
{
    int i = findblock(p);
    return i < 0 ? 0 : usable(blocktable[i].size);
}

} // namespace kzv
