// The small-object store: 8-byte rounding (blocks hold pointers), getmem(0) at the current position,
// chunk sizes 256 doubling to 8192 (larger when a request needs it), the walk back
// to earlier chunks with room, strings, and freeing all chunks at once.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

namespace {
const u32 HEADER = 32;
}

TEST(init_binds_the_process_pool)
{
    smem s;
    CHECK(s.pool == &process->pool);
    CHECK_EQ(s.chunksize, 256);
    CHECK_EQ(s.maxchunksize, 8192);
    CHECK_EQ(s.total, 0);
    CHECK(s.current == nullptr);
}

TEST(rounding_and_zero_size)
{
    smem s;
    u8* a = (u8*)s.getmem(5);
    CHECK(a != nullptr);
    CHECK_EQ(s.total, HEADER + 8);
    u8* b = (u8*)s.getmem(0);               // the current position, nothing consumed
    CHECK(b == a + 8);
    CHECK_EQ(s.total, HEADER + 8);
    u8* c = (u8*)s.getmem(1);
    CHECK(c == b);
    CHECK_EQ(s.total, HEADER + 16);
    u8* d = (u8*)s.getmem(3);
    CHECK(d == c + 8);
    CHECK_EQ((uptr)d & 7, 0);
    CHECK_EQ(process->pool.blocksize(s.current), 256);
    CHECK(a == s.current + HEADER);
}

TEST(chunk_sizes_double_up_to_8192)
{
    smem s;
    static const u32 expected[] = {256, 512, 1024, 2048, 4096, 8192, 8192};
    u8* chunk = nullptr;
    u32 seen = 0;
    while (seen < 7) {
        s.getmem(200);
        if (s.current != chunk) {
            chunk = s.current;
            CHECK_EQ(process->pool.blocksize(chunk), expected[seen]);
            seen++;
        }
    }
    s.getmem(10000);                         // more than a chunk: sized for the request
    CHECK_EQ(process->pool.blocksize(s.current), (10000 + HEADER + 127) / 128 * 128);
    s.freemem();
    CHECK_EQ(s.total, 0);
    s.getmem(8);
    CHECK_EQ(process->pool.blocksize(s.current), 256);   // the first size again
}

// A request that does not fit the current chunk is served by the first earlier
// chunk that still has room.
TEST(earlier_chunk_with_room_serves)
{
    smem s;
    s.getmem(100);                           // chunk 1 (256): 104 taken, 120 left
    u8* first = s.current;
    s.getmem(400);                           // chunk 2 (512)
    CHECK(s.current != first);
    u8* p = (u8*)s.getmem(120);              // fits only chunk 1 now
    CHECK(s.current == first);
    CHECK(p == first + HEADER + 104);
}

TEST(strings_and_zeroed_blocks)
{
    smem s;
    CHECK_STR(s.setstr("hello"), "hello");
    CHECK(s.setstr(nullptr) == nullptr);
    u8* z = (u8*)s.getmem0(64);
    u8 zeros[64] = {};
    CHECK_MEM(z, zeros, 64);
}

TEST(freemem_returns_every_chunk)
{
    mem& pool = process->pool;
    smem s;
    u8* chunks[4];
    for (u8*& c : chunks) {
        s.getmem(3000);
        c = s.current;
    }
    CHECK(pool.blocksize(chunks[0]) > 0);
    s.exit(false);
    for (u8* c : chunks)
        CHECK_EQ(pool.blocksize(c), 0);
    CHECK_EQ(s.chunksize, 256);
    CHECK(s.pool == &pool);
    s.exit(true);                            // nothing left: harmless
}

TEST(own_pool)
{
    mem* pool = mem::getnewroot(0x4000, 0);
    if (!CHECK(pool != nullptr))
        return;
    smem s(pool);
    void* p = s.getmem(100);
    CHECK(p != nullptr);
    CHECK(pool->blocksize(s.current) == 256);
    CHECK_EQ(process->pool.blocksize(s.current), 0);
}
