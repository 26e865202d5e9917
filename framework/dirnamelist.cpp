// The directory name list. One slot always stays free behind the names, so the
// pointer list never grows for the terminator alone.
#include "dirnamelist.h"
#include "mem.h"
#include "sysprocess.h"

namespace kzv {

bool dirnamelist::begin()
{
    names = (char const**)process->pool.getmem(DIRNAMELIST_STEP * sizeof(char const*));
    count = 0;
    capacity = DIRNAMELIST_STEP;
    return names != nullptr;
}

bool dirnamelist::add(smem& store, char const* name)
{
    if (count + 1 >= capacity) {
        u64 bytes = (u64)(capacity + DIRNAMELIST_STEP) * sizeof(char const*);
        char const** grown = (char const**)process->pool.resize(names, bytes);
        if (!grown)
            return false;
        names = grown;
        capacity += DIRNAMELIST_STEP;
    }
    char* copy = store.setstr(name);
    if (!copy)
        return false;
    names[count++] = copy;
    return true;
}

char const** dirnamelist::finish(smem& store, unsigned& outcount)
{
    char const** result = (char const**)store.getmem((count + 1) * (u32)sizeof(char const*));
    if (!result)
        return nullptr;
    for (u32 i = 0; i < count; i++)
        result[i] = names[i];
    result[count] = nullptr;
    outcount = count;
    return result;
}

void dirnamelist::end()
{
    if (names)
        process->pool.freemem(names);
    names = nullptr;
}

bool dirnamelist_isdotordotdot(char const* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

} // namespace kzv
