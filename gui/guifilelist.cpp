// The name lists of the file chooser. The first slot of every growth step is the
// start of that step's slot block, so the blocks are found again for `release` by
// walking the same growth schedule.
#include "guifilelist.h"
#include "../framework/str.h"

namespace kzv {

void namelist::init(mem* p)
{
    pool = p;
    names = nullptr;
    capacity = 0;
    count = 0;
}

u32 namelist::growthstep(u32 current)
{
    return current < 256 ? 64 : current < 1024 ? 256 : 1024;
}

void namelist::release()
{
    if (names) {
        for (u32 start = 0; start < capacity; start += growthstep(start))
            pool->freemem(names[start]);
        pool->freemem(names);
    }
    init(pool);
}

bool namelist::grow()
{
    u32 step = growthstep(capacity);
    u32 grown = capacity + step;
    if (grown > NAMELIST_MAXCOUNT)
        return false;
    char* slots = (char*)pool->getmem((u64)step * NAMELIST_SLOTBYTES);
    if (!slots)
        return false;
    char** table = (char**)pool->resize(names, (u64)grown * sizeof(char*));
    if (!table) {
        pool->freemem(slots);
        return false;
    }
    for (u32 i = 0; i < step; i++)
        table[capacity + i] = slots + (uptr)i * NAMELIST_SLOTBYTES;
    names = table;
    capacity = grown;
    return true;
}

bool namelist::append(char const* name)
{
    u32 length = strlen(name);
    if (length >= NAMELIST_SLOTBYTES)
        return false;
    if (count == capacity && !grow())
        return false;
    memcpy(names[count], name, length + 1);
    count++;
    return true;
}

} // namespace kzv
