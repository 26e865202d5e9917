// The integer queue: order across growth (also with the ring wrapped), the empty
// answer, and a pool that cannot grow the block.
#include "../harness/harness.h"
#include "../../framework/fifoint.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

TEST(listedexample)
{
    fifoint q;
    q.init(nullptr);
    CHECK(q.pool == &process->pool);
    for (int i = 0; i < 65; i++)
        CHECK(q.set(1000 + i));
    CHECK_EQ(q.capacity, 128);
    CHECK_EQ(q.count, 65);
    bool inorder = true;
    for (int i = 0; i < 65; i++)
        inorder = inorder && q.get() == 1000 + i;
    CHECK(inorder);
    CHECK_EQ(q.count, 0);
    CHECK_EQ(q.get(), 0);                     // empty
    CHECK_EQ(q.capacity, 128);
    q.exit(false);
    CHECK(q.items == nullptr);
    CHECK_EQ(q.capacity, 0);
}

// The ring wraps before it grows: the copy must take the old ring from the read
// index on.
TEST(growthwithwrappedring)
{
    fifoint q;
    q.init(&process->pool);
    int next = 0, expect = 0;
    bool inorder = true;
    for (int i = 0; i < 50; i++)
        q.set(next++);
    for (int i = 0; i < 40; i++)
        inorder = inorder && q.get() == expect++;
    for (int i = 0; i < 54; i++)              // write index wraps to the front
        q.set(next++);
    CHECK_EQ(q.capacity, 64);
    CHECK_EQ(q.count, 64);
    CHECK(q.writeindex == q.readindex);
    for (int i = 0; i < 300; i++)             // grows with the ring wrapped, then more
        q.set(next++);
    CHECK_EQ(q.count, 364);
    CHECK_EQ(q.capacity, 384);
    while (q.count)
        inorder = inorder && q.get() == expect++;
    CHECK(inorder);
    CHECK_EQ(expect, next);
    q.exit(true);
}

TEST(negativeandzerovalues)
{
    fifoint q;
    q.init(nullptr);
    static int const values[] = {0, -1, -2147483647 - 1, 2147483647, 7};
    for (int v : values)
        q.set(v);
    for (int v : values)
        CHECK_EQ((s64)q.get(), (s64)v);
    q.exit(false);
}

TEST(unusedqueue)
{
    fifoint q;
    q.init(nullptr);
    CHECK_EQ(q.get(), 0);
    q.exit(false);                            // no block: nothing is freed
    q.exit(true);
    CHECK(q.items == nullptr);
    CHECK_EQ(q.count, 0);
}

static void* nosystemmemory(int) { return nullptr; }

TEST(poolwithoutmemory)
{
    // A small pool of its own inside a block of the process pool.
    u32 const size = 8192;
    void* block = process->pool.getmem(size);
    CHECK(block != nullptr);
    if (!block)
        return;
    mem* pool = (mem*)block;
    pool->created(block, size, sizeof(mem), size);
    memsystemsource saved = mem_systemsource;
    mem_systemsource = nosystemmemory;        // the pool cannot take a second area
    fifoint q;
    q.init(pool);
    int stored = 0;
    bool refused = false;
    for (int i = 0; i < 10000 && !refused; i++) {
        if (q.set(i))
            stored++;
        else
            refused = true;
    }
    CHECK(refused);
    CHECK_EQ((s64)q.count, (s64)stored);
    u32 capacity = q.capacity;
    CHECK(!q.set(-5));                        // still refused, and nothing changed
    CHECK_EQ((s64)q.count, (s64)stored);
    CHECK_EQ(q.capacity, capacity);
    bool inorder = true;
    for (int i = 0; i < stored; i++)
        inorder = inorder && q.get() == i;
    CHECK(inorder);
    CHECK_EQ(q.count, 0);
    q.exit(true);
    mem_systemsource = saved;
    process->pool.freemem(block);
}
