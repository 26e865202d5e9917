// The directory name list. One slot always stays free behind the names, so the
// pointer list never grows for the terminator alone; it doubles when full, so a
// big folder costs few copies.
#include "dirnamelist.h"
#include "mem.h"
#include "sysprocess.h"

namespace kzv {

bool dirnamelist::begin(bool withkinds)
{
    names = (char const**)process->pool.getmem(DIRNAMELIST_FIRST * sizeof(char const*));
    kinds = withkinds ? (u8*)process->pool.getmem(DIRNAMELIST_FIRST) : nullptr;
    count = 0;
    capacity = DIRNAMELIST_FIRST;
    return names && (kinds || !withkinds);
}

static bool grow(dirnamelist& list)
{
    u32 capacity = list.capacity * 2;
    char const** names = (char const**)process->pool.resize(list.names, (u64)capacity * sizeof(char const*));
    if (!names)
        return false;
    list.names = names;
    if (list.kinds) {
        u8* kinds = (u8*)process->pool.resize(list.kinds, capacity);
        if (!kinds)
            return false;
        list.kinds = kinds;
    }
    list.capacity = capacity;
    return true;
}

bool dirnamelist::add(smem& store, char const* name, u8 kind)
{
    if (count + 1 >= capacity && !grow(*this))
        return false;
    char* copy = store.setstr(name);
    if (!copy)
        return false;
    if (kinds)
        kinds[count] = kind;
    names[count++] = copy;
    return true;
}

char const** dirnamelist::finish(smem& store, unsigned& outcount, u8** outkinds)
{
    bool withkinds = outkinds && kinds;
    char const** result = (char const**)store.getmem((count + 1) * (u32)sizeof(char const*));
    u8* kept = withkinds ? (u8*)store.getmem(count + 1) : nullptr;
    if (!result || (withkinds && !kept))
        return nullptr;
    for (u32 i = 0; i < count; i++)
        result[i] = names[i];
    result[count] = nullptr;
    if (withkinds) {
        memcpy(kept, kinds, count);
        *outkinds = kept;
    }
    outcount = count;
    return result;
}

void dirnamelist::end()
{
    if (names)
        process->pool.freemem(names);
    if (kinds)
        process->pool.freemem(kinds);
    names = nullptr;
    kinds = nullptr;
}

bool dirnamelist_isdotordotdot(char const* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

} // namespace kzv
