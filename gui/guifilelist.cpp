// The name lists of the file chooser. A name never spans two chunks: when it does
// not fit behind the last one, it goes to the start of the next chunk (one kept
// from an earlier folder, else a new one), so every name is one whole string.
#include "guifilelist.h"
#include "../framework/str.h"

namespace kzv {

static_assert(NAMELIST_CHUNKBYTES >= sizeof(namechunk) + NAMELIST_NAMECAPACITY, "a chunk holds the longest name");

void namelist::init(mem* p)
{
    pool = p;
    names = nullptr;
    capacity = 0;
    count = 0;
    chunks = nullptr;
    current = nullptr;
    used = 0;
}

void chooserlist::init(mem* p, u16 dragbit)
{
    namelist::init(p);
    first = 0;
    bar = {};
    dragy = 0;
    dragflag = dragbit;
}

void chooserlist::scrollto(u32 index, u32 rows)
{
    if (index < first)
        first = index;
    else if (index >= first + rows)
        first = index + 1 - rows;
}

u32 namelist::growthstep(u32 current)
{
    return current < 256 ? 64 : current < 1024 ? 256 : 1024;
}

void namelist::clear()
{
    count = 0;
    current = chunks;
    used = sizeof(namechunk);
}

void namelist::release()
{
    for (namechunk* c = chunks; c;) {
        namechunk* next = c->next;
        pool->freemem(c);
        c = next;
    }
    if (names)
        pool->freemem(names);
    init(pool);
}

bool namelist::grow()
{
    u32 grown = capacity + growthstep(capacity);
    if (grown > NAMELIST_MAXCOUNT)
        return false;
    char** table = (char**)pool->resize(names, (u64)grown * sizeof(char*));
    if (!table)
        return false;
    names = table;
    capacity = grown;
    return true;
}

// Moves to the chunk after the current one, taking a new chunk when there is none.
bool namelist::nextchunk()
{
    namechunk* next = current ? current->next : chunks;
    if (!next) {
        next = (namechunk*)pool->getmem(NAMELIST_CHUNKBYTES);
        if (!next)
            return false;
        next->next = nullptr;
        if (current)
            current->next = next;
        else
            chunks = next;
    }
    current = next;
    used = sizeof(namechunk);
    return true;
}

bool namelist::append(char const* name)
{
    u32 length = strlen(name);
    if (length >= NAMELIST_NAMECAPACITY)
        return false;
    if (count == capacity && !grow())
        return false;
    if ((!current || used + length + 1 > NAMELIST_CHUNKBYTES) && !nextchunk())
        return false;
    char* slot = (char*)current + used;
    memcpy(slot, name, length + 1);
    used += length + 1;
    names[count++] = slot;
    return true;
}

} // namespace kzv
