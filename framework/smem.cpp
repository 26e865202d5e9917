// The small-object store. Chunks come from the pool as registered blocks, each
// beginning with a 32-byte header; the chain is walked from the first chunk when the
// current one is too full. Requests are rounded up to 8 bytes, not 4, so every block
// is 8-aligned and may hold pointers and 64-bit values (an array of name pointers
// behind an odd-length string would otherwise be misaligned on 64-bit targets). In
// the sanitizer build the unused tail of a chunk is poisoned, so an overrun of the
// last block handed out is reported.
#include "mem.h"
#include "mempoison.h"
#include "str.h"
#include "sysprocess.h"


namespace kzv {

namespace {

const u32 SMEM_HEADER = 32;
const u32 SMEM_FIRSTCHUNK = 256;
const u32 SMEM_MAXCHUNK = 8192;
const u32 SMEM_GRANULE = 128;           // chunk sizes are multiples of this
const u32 SMEM_ALIGN = 8;               // pointers and 64-bit values on every target

struct chunkheader {
    u32 used;                           // bytes used, the header included
    u32 left;                           // bytes still free
    u8* base;                           // the chunk itself
    chunkheader* first;                 // the first chunk of the chain
    chunkheader* next;                  // null at the end
};
static_assert(sizeof(chunkheader) <= SMEM_HEADER, "chunk header fits its 32 bytes");

chunkheader* findchunk(chunkheader* current, u32 n)
{
    for (chunkheader* c = current->first; c; c = c->next) {
        if (c->left >= n)
            return c;
    }
    return nullptr;
}

} // namespace

void smem::init(mem* p)
{
    pool = p ? p : (process ? &process->pool : nullptr);
    total = 0;
    firstchunksize = 0;
    chunksize = SMEM_FIRSTCHUNK;
    maxchunksize = SMEM_MAXCHUNK;
    current = nullptr;
}

// A new chunk for at least n bytes, linked behind the last one. The chunk size is
// the first one again after the store was emptied, else it doubles up to the max.
static chunkheader* newchunk(smem& s, u32 n)
{
    chunkheader* cur = (chunkheader*)s.current;
    u32 size = s.chunksize;
    if (!cur) {
        if (!s.firstchunksize)
            s.firstchunksize = s.chunksize;
        size = s.firstchunksize;
    } else if (size < s.maxchunksize) {
        size *= 2;
    }
    u64 granules = kzv_max<u64>(((u64)n + SMEM_HEADER + SMEM_GRANULE - 1) / SMEM_GRANULE, size / SMEM_GRANULE);
    u64 bytes = granules * SMEM_GRANULE;
    if (!s.pool || bytes > MEM_MAXREQUEST)
        return nullptr;
    u8* b = (u8*)s.pool->getmem(bytes);
    if (!b)
        return nullptr;
    s.chunksize = size;
    chunkheader* c = (chunkheader*)b;
    c->used = SMEM_HEADER;
    c->left = (u32)bytes - SMEM_HEADER;
    c->base = b;
    c->next = nullptr;
    c->first = cur ? cur->first : c;
    if (cur) {
        chunkheader* last = cur->first;
        while (last->next)
            last = last->next;
        last->next = c;
    }
    s.total += SMEM_HEADER;
    mem_poison(b + SMEM_HEADER, c->left);
    return c;
}

void* smem::getmem(u32 n)
{
    u64 rounded = ((u64)n + SMEM_ALIGN - 1) & ~(u64)(SMEM_ALIGN - 1);
    if (rounded > MEM_MAXREQUEST)
        return nullptr;
    u32 need = (u32)rounded;
    chunkheader* c = (chunkheader*)current;
    if (c && c->left < need)
        c = findchunk(c, need);
    if (!c)
        c = newchunk(*this, need);
    if (!c)
        return nullptr;
    u8* p = c->base + c->used;
    c->used += need;
    c->left -= need;
    total += need;
    current = (u8*)c;
    mem_unpoison(p, need);
    return p;
}

void* smem::getmem0(u32 n)
{
    void* p = getmem(n);
    if (p)
        memset0(p, n);
    return p;
}

char* smem::setstr(char const* s)
{
    if (!s)
        return nullptr;
    u32 length = strlen(s);
    char* p = (char*)getmem(length + 1);
    if (p)
        memcpy(p, s, length + 1);
    return p;
}

void smem::freemem()
{
    chunkheader* c = current ? ((chunkheader*)current)->first : nullptr;
    while (c) {
        chunkheader* next = c->next;
        pool->freemem(c->base);
        c = next;
    }
    current = nullptr;
    total = 0;
}

void smem::exit(bool keep)
{
    freemem();
    if (!keep)
        init(pool);
}

} // namespace kzv
