// The resource archive linked into the program: the embedded font and icons, found
// by name. The archive is one read-only block built from resources/ at build time;
// the lookup checks every offset against the block's length, so a damaged table
// finds nothing instead of reading past the block. Entries point into the block
// itself: nothing is copied or allocated, and nothing is freed.
#pragma once
#include "types.h"

namespace kzv {

// Archive layout (little-endian): "kzv " 0xEFCD, the kind byte 56, a zero byte,
// the entry count (u32) and the table offset (u32), 16 zero bytes; then the
// entries' data on 16-byte boundaries, their 0-terminated names padded to 4, and
// the table: per entry the name offset, data offset and data size (u32 each).
const u32 RESOURCE_HEADERSIZE = 32;
const u32 RESOURCE_TABLEENTRY = 12;
const u8 RESOURCE_KIND = 56;

// The linked archive, emitted by the resource generator as a C++ array.
extern const u8 binary_tmp_resfile[];
extern const u32 binary_tmp_resfile_length;

struct resourceentry {
    u8 const* bytes;
    u32 size;
};

// Looks `name` up in the archive of `length` bytes at `archive`; false when the
// archive is damaged or holds no such entry.
bool resource_find(u8 const* archive, u32 length, char const* name, resourceentry& out);
// The same in the linked archive.
bool resource_find(char const* name, resourceentry& out);
// The entry's data in the linked archive, or null. Font data carries its own sizes.
u8 const* getresourcepointer(char const* name);

} // namespace kzv
