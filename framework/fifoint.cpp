// The ring holds `count` items from `readindex` on, wrapping at `capacity`.
// Growing copies them to the start of the new block in queue order.
#include "fifoint.h"
#include "mem.h"
#include "sysprocess.h"

namespace kzv {

void fifoint::init(mem* p)
{
    pool = p ? p : &process->pool;
    count = readindex = writeindex = capacity = 0;
    items = nullptr;
}

// With keep the queue is being discarded; it is emptied all the same, so that a
// stray later call finds no freed block.
void fifoint::exit(bool keep)
{
    if (items)
        pool->freemem(items);
    init(pool);
}

static bool grow(fifoint& q)
{
    u64 newcapacity = (u64)q.capacity + FIFOINT_STEP;
    int* block = (int*)q.pool->getmem(newcapacity * sizeof(int));
    if (!block)
        return false;
    u32 k = q.readindex;
    for (u32 i = 0; i < q.count; i++) {
        block[i] = q.items[k];
        if (++k == q.capacity)
            k = 0;
    }
    if (q.items)
        q.pool->freemem(q.items);
    q.items = block;
    q.capacity = (u32)newcapacity;
    q.readindex = 0;
    q.writeindex = q.count;
    return true;
}

bool fifoint::set(int v)
{
    if (count >= capacity && !grow(*this))
        return false;
    items[writeindex] = v;
    if (++writeindex == capacity)
        writeindex = 0;
    count++;
    return true;
}

int fifoint::get()
{
    if (count == 0)
        return 0;
    int v = items[readindex];
    if (++readindex == capacity)
        readindex = 0;
    count--;
    return v;
}

} // namespace kzv
