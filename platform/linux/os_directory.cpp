// The names in a directory, "." and ".." left out, in the order the kernel gives
// them, and each one's kind from the record's d_type. Records are read with
// getdents64 into a 32 KiB buffer, so a big folder costs few calls; each record is
// checked against the bytes returned before its name is used, and names (at most
// 255 bytes) are kept whole. The arrays and the names live in the caller's store.
#include "../../framework/dirnamelist.h"
#include "../../framework/filepacket.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "syscalls.h"

namespace kzv {

const u32 DIRENTS_CAPACITY = 32768; // the getdents buffer

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

// Reads every record; false when memory ran out on the way.
static bool readnames(int fd, u8* area, dirnamelist& list, smem& store)
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
            if (!dirnamelist_isdotordotdot(name) && !list.add(store, name, kindoftype(area[position + DIRENT64_TYPE])))
                return false;
        }
    }
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
    dirnamelist list;
    char const** result = nullptr;
    if (list.begin(kinds != nullptr) && area && readnames((int)fd, area, list, store))
        result = list.finish(store, count, kinds);
    sys_close((int)fd);
    list.end();
    if (area)
        process->pool.freemem(area);
    return result;
}

} // namespace kzv
