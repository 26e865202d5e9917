// The file chooser's name lists: a table of fixed 256-byte slots, each holding one
// whole entry name (names are at most 255 bytes; a longer one is refused, never
// cut). The table grows by 64 slots below 256, by 256 below 1024 and by 1024
// beyond; the slots of each growth are one block. Table and slot blocks are
// registered blocks of the list's pool, freed by `release`; `clear` keeps them
// for the next folder.
#pragma once
#include "../framework/mem.h"

namespace kzv {

const u32 NAMELIST_SLOTBYTES = 256;         // a 255-byte name and its terminator
const u32 NAMELIST_MAXCOUNT = 1u << 22;     // 1 GiB of slots: far past any folder we list

class namelist {
public:
    mem* pool;
    char** names;           // capacity slots, each NAMELIST_SLOTBYTES
    u32 capacity;
    u32 count;

    void init(mem* p);
    void release();
    void clear() { count = 0; }
    // False when the name does not fit a slot or the table cannot grow.
    bool append(char const* name);
    char const* get(u32 index) const { return index < count ? names[index] : ""; }

    static u32 growthstep(u32 capacity);

private:
    bool grow();
};

} // namespace kzv
