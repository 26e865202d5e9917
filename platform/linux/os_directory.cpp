// The names in a directory, "." and ".." left out, in the order the kernel gives
// them. Records are read with getdents64 into the first half of a 1 KiB scratch
// buffer; each record is checked against the bytes returned before its name is
// used, and names (at most 255 bytes) are kept whole. The array and the names live
// in the caller's store.
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "syscalls.h"

namespace kzv {

const u32 DIRENTS_CAPACITY = 512;   // the getdents area of the scratch buffer
const u32 NAMELIST_STEP = 64;       // pointer list growth

// The name of the record at `position`, or null when the record is malformed.
static char const* recordname(u8 const* area, u32 position, u32 length, u32& reclen)
{
    if (position + DIRENT64_NAME + 1 > length)
        return nullptr;
    reclen = (u32)area[position + DIRENT64_RECLEN] | (u32)area[position + DIRENT64_RECLEN + 1] << 8;
    if (reclen <= DIRENT64_NAME || position + reclen > length)
        return nullptr;
    for (u32 i = position + DIRENT64_NAME; i < position + reclen; i++)
        if (!area[i])
            return (char const*)area + position + DIRENT64_NAME;
    return nullptr;             // no terminator inside the record
}

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

// Reads every record; false when memory ran out on the way.
static bool readnames(int fd, u8* area, namelist& list, smem& store)
{
    for (;;) {
        long n = sys_getdents64(fd, area, DIRENTS_CAPACITY);
        if (n <= 0)
            return true;
        u32 reclen = 0;
        for (u32 position = 0; position < (u32)n; position += reclen) {
            char const* name = recordname(area, position, (u32)n, reclen);
            if (!name)
                break;
            if (!isdotordotdot(name) && !addname(list, store, name))
                return false;
        }
    }
}

char const** os_getdirentries(char const* path, smem& store, unsigned& count)
{
    count = 0;
    if (!path || !process)
        return nullptr;
    long fd = sys_open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (sys_failed(fd))
        return nullptr;
    u8* scratch = process->pool.gettmp1k();
    namelist list = {(char const**)process->pool.getmem(NAMELIST_STEP * sizeof(char const*)), 0, NAMELIST_STEP};
    char const** result = nullptr;
    if (scratch && list.names && readnames((int)fd, scratch, list, store)) {
        result = (char const**)store.getmem((list.count + 1) * (u32)sizeof(char const*));
        if (result) {
            for (u32 i = 0; i < list.count; i++)
                result[i] = list.names[i];
            result[list.count] = nullptr;
            count = list.count;
        }
    }
    sys_close((int)fd);
    if (list.names)
        process->pool.freemem(list.names);
    if (scratch)
        process->pool.freetmp1k();
    return result;
}

} // namespace kzv
