// The names in a directory, "." and ".." left out, in the order the system gives
// them, read with the classic opendir, readdir and closedir (never mixed with
// their 64-bit-inode variants, whose records differ). A name is taken up to its
// stated length and never past the record's name field. The array and the names
// live in the caller's store.
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "libsystem.h"

namespace kzv {

const u32 NAMELIST_STEP = 64;       // pointer list growth
const u32 NAME_CAPACITY = sizeof(bsd::dirent::name);

static bool isdotordotdot(char const* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

struct namelist {
    char const** names;
    u32 count;
    u32 capacity;
};

static bool addname(namelist& list, smem& store, char const* name)
{
    if (list.count + 1 >= list.capacity) {
        u64 bytes = (u64)(list.capacity + NAMELIST_STEP) * sizeof(char const*);
        char const** grown = (char const**)process->pool.resize(list.names, bytes);
        if (!grown)
            return false;
        list.names = grown;
        list.capacity += NAMELIST_STEP;
    }
    char* copy = store.setstr(name);
    if (!copy)
        return false;
    list.names[list.count++] = copy;
    return true;
}

// Reads every entry; false when memory ran out on the way.
static bool readnames(void* dir, char* name, namelist& list, smem& store)
{
    while (bsd::dirent* e = readdir(dir)) {
        u32 length = kzv_min<u32>(e->namlen, NAME_CAPACITY - 1);
        u32 i = 0;
        for (; i < length && e->name[i]; i++)
            name[i] = e->name[i];
        name[i] = 0;
        if (i && !isdotordotdot(name) && !addname(list, store, name))
            return false;
    }
    return true;
}

// No kinds come with the names here: the caller examines every entry.
char const** os_getdirentries(char const* path, smem& store, unsigned& count, u8** kinds)
{
    count = 0;
    if (kinds)
        *kinds = nullptr;
    if (!path || !process)
        return nullptr;
    void* dir = opendir(path);
    if (!dir)
        return nullptr;
    char name[NAME_CAPACITY];
    namelist list = {(char const**)process->pool.getmem(NAMELIST_STEP * sizeof(char const*)), 0, NAMELIST_STEP};
    char const** result = nullptr;
    if (list.names && readnames(dir, name, list, store)) {
        result = (char const**)store.getmem((list.count + 1) * (u32)sizeof(char const*));
        if (result) {
            for (u32 i = 0; i < list.count; i++)
                result[i] = list.names[i];
            result[list.count] = nullptr;
            count = list.count;
        }
    }
    closedir(dir);
    if (list.names)
        process->pool.freemem(list.names);
    return result;
}

} // namespace kzv
