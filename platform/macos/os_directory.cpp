// The names in a directory, "." and ".." left out, in the order the system gives
// them, read with the classic opendir, readdir and closedir (never mixed with
// their 64-bit-inode variants, whose records differ). A name is taken up to its
// stated length and never past the record's name field. The array and the names
// live in the caller's store.
#include "../../framework/dirnamelist.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "libsystem.h"

namespace kzv {

const u32 NAME_CAPACITY = sizeof(bsd::dirent::name);

// Reads every entry; false when memory ran out on the way.
static bool readnames(void* dir, char* name, dirnamelist& list, smem& store)
{
    while (bsd::dirent* e = readdir(dir)) {
        u32 length = kzv_min<u32>(e->namlen, NAME_CAPACITY - 1);
        u32 i = 0;
        for (; i < length && e->name[i]; i++)
            name[i] = e->name[i];
        name[i] = 0;
        if (i && !dirnamelist_isdotordotdot(name) && !list.add(store, name))
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
    dirnamelist list;
    char const** result = nullptr;
    if (list.begin() && readnames(dir, name, list, store))
        result = list.finish(store, count);
    closedir(dir);
    list.end();
    return result;
}

} // namespace kzv
