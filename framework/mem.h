// Memory pools. A `mem` manages root areas taken from the platform (or from a
// parent pool) and hands out 16-byte aligned blocks: registered ones (freeable one
// by one, entered in the block table) and static ones (living as long as the pool).
// Its bookkeeping tables live in its own areas. A request the system cannot serve,
// or one above MEM_MAXREQUEST, returns null and leaves the pool unchanged; callers
// handle null. `smem` carves small blocks from pool chunks and frees all at once.
// Pools take no lock: one thread per pool.
#pragma once
#include "types.h"

namespace kzv {

const u64 MEM_MAXREQUEST = 0x80000000u - 0x10000u;  // keeps every size a positive int for os_getmem

struct memrange {           // a free range or a table entry
    u32 size;
    u8* address;
};

class mem {
public:
    u32 freecapacity;       // slots in the free-range pointer list
    u32 freecount;          // live free ranges, the first entries of the list
    u32 rootcapacity;
    u32 rootcount;
    u32 blockcapacity;
    u32 scratchcount;       // 1 KiB scratch buffers that exist
    u32 scratchindex;       // scratch buffers in use (stack depth)
    u32 firstsize;
    u32 step;
    memrange** freelist;
    memrange* roottable;
    memrange* blocktable;
    u8** scratchtable;
    mem* parent;

    void created(void* block, unsigned size, unsigned reserved, unsigned step);
    static mem* getnewroot(unsigned size, unsigned step);
    void* getsysmem(u32 n);

    void* getmem(u64 n);
    void* getmem0(u64 n);
    void* sgetmem(u64 n);
    void* sgetmem0(u64 n);
    void freemem(void* p) { free_int(p); }
    void free_int(void* p);
    void* resize(void* p, u64 n);
    void* resize0(void* p, u64 oldsize, u64 n);
    bool increasemem(void* p, u64 oldsize, u64 newsize);
    char* sgetstring(char const* s);
    char* getstring(char const* s);
    u8* gettmp1k();
    void freetmp1k();

    void sortemptylist();
    u32 blocksize(void const* p) const;   // recorded size of a registered block, 0 if none
};

class smem {
public:
    mem* pool;
    u32 total;              // bytes handed out, chunk headers included
    u32 firstchunksize;
    u32 chunksize;
    u32 maxchunksize;
    u8* current;

    smem() { init(nullptr); }
    explicit smem(mem* p) { init(p); }
    ~smem() { freemem(); }
    void init(mem* p);
    void exit(bool keep);
    void* getmem(u32 n);
    void* getmem0(u32 n);
    char* setstr(char const* s);
    void freemem();
};

// Primitives every module uses. memcpy copies strictly ascending and does not
// support overlap; memmove does.
int memset0(void* p, u64 n);
void* memcpy(void* dst, void const* src, u32 n);
void* memmove(void* dst, void const* src, u32 n);
int memcmp(void const* a, void const* b, u32 n);
void memset(void* p, int value, u32 n);

} // namespace kzv
