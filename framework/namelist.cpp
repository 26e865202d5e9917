// The directory name list. One slot always stays free behind the names, so the
// pointer list never grows for the terminator alone.
#include "namelist.h"
#include "mem.h"
#include "sysprocess.h"

namespace kzv {

bool namelist::begin()
{
    names = (char const**)process->pool.getmem(NAMELIST_STEP * sizeof(char const*));
    count = 0;
    capacity = NAMELIST_STEP;
    return names != nullptr;
}

bool namelist::add(smem& store, char const* name)
{
    if (count + 1 >= capacity) {
        u64 bytes = (u64)(capacity + NAMELIST_STEP) * sizeof(char const*);
        char const** grown = (char const**)process->pool.resize(names, bytes);
        if (!grown)
            return false;
        names = grown;
        capacity += NAMELIST_STEP;
    }
    char* copy = store.setstr(name);
    if (!copy)
        return false;
    names[count++] = copy;
    return true;
}

char const** namelist::finish(smem& store, unsigned& outcount)
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

void namelist::end()
{
    if (names)
        process->pool.freemem(names);
    names = nullptr;
}

bool namelist_isdotordotdot(char const* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

} // namespace kzv
