// The names in a directory, "." and ".." left out, in the order the kernel gives
// them, and each one's kind from the record's d_type. Records are read with
// getdents64 into a 32 KiB buffer, so a big folder costs few calls; each record is
// checked against the bytes returned before its name is used, and names (at most
// 255 bytes) are kept whole. The arrays and the names live in the caller's store.
#include "../../framework/filepacket.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "syscalls.h"

namespace kzv {

const u32 DIRENTS_CAPACITY = 32768; // the getdents buffer
const u32 NAMELIST_FIRST = 64;      // pointer list slots at first; the list doubles

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

// The kind a d_type tells; 0 for a link (its target decides) and for unknown.
static u8 kindoftype(u8 type)
{
    switch (type) {
    case DT_DIR: return filekind_directory;
    case DT_REG: return filekind_file;
    case DT_BLK: return filekind_block;
    case DT_CHR: return filekind_char;
    case DT_FIFO: return filekind_pipe;
    case DT_SOCK: return filekind_socket;
    default: return 0;
    }
}

struct namelist {
    char const** names;
    u8* kinds;
    u32 count;
    u32 capacity;
};

static bool growlist(namelist& list)
{
    u32 capacity = list.capacity * 2;
    char const** names = (char const**)process->pool.resize(list.names, (u64)capacity * sizeof(char const*));
    if (!names)
        return false;
    list.names = names;
    u8* kinds = (u8*)process->pool.resize(list.kinds, capacity);
    if (!kinds)
        return false;
    list.kinds = kinds;
    list.capacity = capacity;
    return true;
}

static bool addname(namelist& list, smem& store, char const* name, u8 kind)
{
    if (list.count + 1 >= list.capacity && !growlist(list))
        return false;
    char* copy = store.setstr(name);
    if (!copy)
        return false;
    list.kinds[list.count] = kind;
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
            if (!isdotordotdot(name) && !addname(list, store, name, kindoftype(area[position + DIRENT64_TYPE])))
                return false;
        }
    }
}

// Copies the list into the store: the null-terminated names and, when asked, the kinds.
static char const** keeplist(namelist const& list, smem& store, u8** kinds)
{
    char const** result = (char const**)store.getmem((list.count + 1) * (u32)sizeof(char const*));
    u8* kept = kinds ? (u8*)store.getmem(list.count + 1) : nullptr;
    if (!result || (kinds && !kept))
        return nullptr;
    for (u32 i = 0; i < list.count; i++)
        result[i] = list.names[i];
    result[list.count] = nullptr;
    if (kinds) {
        memcpy(kept, list.kinds, list.count);
        *kinds = kept;
    }
    return result;
}

char const** os_getdirentries(char const* path, smem& store, unsigned& count, u8** kinds)
{
    count = 0;
    if (kinds)
        *kinds = nullptr;
    if (!path || !process)
        return nullptr;
    long fd = sys_open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (sys_failed(fd))
        return nullptr;
    u8* area = (u8*)process->pool.getmem(DIRENTS_CAPACITY);
    namelist list = {(char const**)process->pool.getmem(NAMELIST_FIRST * sizeof(char const*)),
                     (u8*)process->pool.getmem(NAMELIST_FIRST), 0, NAMELIST_FIRST};
    char const** result = nullptr;
    if (area && list.names && list.kinds && readnames((int)fd, area, list, store)) {
        result = keeplist(list, store, kinds);
        count = result ? list.count : 0;
    }
    sys_close((int)fd);
    if (list.names)
        process->pool.freemem(list.names);
    if (list.kinds)
        process->pool.freemem(list.kinds);
    if (area)
        process->pool.freemem(area);
    return result;
}

} // namespace kzv
