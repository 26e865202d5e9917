// Memory pools. A `mem` manages root areas taken from the platform (or from a
// parent pool) and hands out 16-byte aligned blocks: registered ones (freeable one
// by one, entered in the block table) and static ones (living as long as the pool).
// Its bookkeeping tables live in its own areas. Requests are rounded up to 16 (0 is
// served as 16). A request the system cannot serve, or one above MEM_MAXREQUEST,
// returns null and leaves the pool unchanged; callers handle null. `smem` carves
// small blocks from pool chunks and frees them all at once. Pools take no lock: one
// thread per pool. `created` resets `parent`; a caller sets it afterwards.
#pragma once
#include "types.h"
#include "memprim.h"

namespace kzv {

const u64 MEM_MAXREQUEST = 0x80000000u - 0x10000u;  // keeps every size a positive int for os_getmem

// In the sanitizer build every block is followed by a poisoned red zone and free
// memory is poisoned, so an overrun of a pool block is reported. The red zone is
// part of the block's footprint in the free ranges and in its recorded size.
#if defined(__SANITIZE_ADDRESS__)
const u32 MEM_REDZONE = 16;
#else
const u32 MEM_REDZONE = 0;
#endif

// Where parentless pools and the process block take their memory: the platform's
// allocation. A test replaces it to play a system that refuses.
typedef void* (*memsystemsource)(int size);
extern memsystemsource mem_systemsource;

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

    // Makes the pool over `block`; its first `reserved` bytes stay the owner's.
    // Step 0 means `size`.
    void created(void* block, unsigned size, unsigned reserved, unsigned step);
    static mem* getnewroot(unsigned size, unsigned step);   // null when refused
    void* getsysmem(u32 n);

    void* getmem(u64 n);
    void* getmem0(u64 n);
    void* sgetmem(u64 n);
    void* sgetmem0(u64 n);
    void freemem(void* p) { free_int(p); }
    void free_int(void* p);
    void* resize(void* p, u64 n);
    void* resize0(void* p, u64 oldsize, u64 n);
    bool increasemem(void* p, u64 oldsize, u64 newsize);   // oldsize is not trusted
    char* sgetstring(char const* s);
    char* getstring(char const* s);
    u8* gettmp1k();         // null when the pool is exhausted
    void freetmp1k();

    void sortemptylist();
    u32 blocksize(void const* p) const;   // usable size of a registered block, 0 if none

    // Internals shared by the allocation paths.
    void* alloc(u64 n, bool registered);
    int findfree(u32 footprint, bool fromlast) const;
    u8* carve(u32 index, u32 footprint);
    u8* carvefirst(u32 footprint);
    u8* newroot(u32 footprint);
    bool growfreelist(u8*& spare, u32& sparesize);
    bool growroottable(u8*& spare, u32& sparesize);
    int reserveblockslot();
    int findblock(void const* p) const;
    void insertfree(u8* p, u32 size);
    bool appendfree(u8* p, u32 size);
    void removefree(u32 index);
    void absorbnext(u32 index);
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
    void* getmem(u32 n);    // n rounded up to 8 (blocks are 8-aligned); null when the pool refuses
    void* getmem0(u32 n);
    char* setstr(char const* s);
    void freemem();
};

} // namespace kzv
