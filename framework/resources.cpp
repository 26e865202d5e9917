// Resource lookup. Every number is read bytewise (the archive's words need not be
// aligned for the CPU), and every offset and size is checked against the block's
// length in 64 bits before anything behind it is read.
#include "resources.h"

namespace kzv {

static u32 readu32(u8 const* p)
{
    return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
}

static bool isarchive(u8 const* archive, u32 length)
{
    return archive && length >= RESOURCE_HEADERSIZE && archive[0] == 'k' && archive[1] == 'z' &&
           archive[2] == 'v' && archive[3] == ' ' && archive[4] == 0xCD && archive[5] == 0xEF &&
           archive[6] == RESOURCE_KIND;
}

// True when the 0-terminated name at `offset` equals `name`; the stored name must
// end inside the block.
static bool samename(u8 const* archive, u32 length, u32 offset, char const* name)
{
    u32 i = 0;
    for (; offset + (u64)i < length; i++) {
        u8 c = archive[offset + i];
        if (c != (u8)name[i])
            return false;
        if (c == 0)
            return true;
    }
    return false;
}

bool resource_find(u8 const* archive, u32 length, char const* name, resourceentry& out)
{
    out.bytes = nullptr;
    out.size = 0;
    if (!name || !isarchive(archive, length))
        return false;
    u32 count = readu32(archive + 8);
    u32 table = readu32(archive + 12);
    if ((u64)table + (u64)count * RESOURCE_TABLEENTRY > length)
        return false;
    for (u32 i = 0; i < count; i++) {
        u8 const* entry = archive + table + (u64)i * RESOURCE_TABLEENTRY;
        u32 nameoffset = readu32(entry);
        u32 dataoffset = readu32(entry + 4);
        u32 size = readu32(entry + 8);
        if (!samename(archive, length, nameoffset, name))
            continue;
        if ((u64)dataoffset + size > length)
            return false;               // a damaged entry: refuse rather than read past
        out.bytes = archive + dataoffset;
        out.size = size;
        return true;
    }
    return false;
}

bool resource_find(char const* name, resourceentry& out)
{
    return resource_find(binary_tmp_resfile, binary_tmp_resfile_length, name, out);
}

u8 const* getresourcepointer(char const* name)
{
    resourceentry entry;
    return resource_find(name, entry) ? entry.bytes : nullptr;
}

} // namespace kzv
