// The file chooser's name lists: a table of pointers to whole entry names (at most
// 255 bytes; a longer one is refused, never cut), the names packed back to back in
// chunks of NAMELIST_CHUNKBYTES, so a folder of short names costs what its names
// need. The table grows by 64 slots below 256, by 256 below 1024 and by 1024
// beyond. Table and chunks are registered blocks of the list's pool, freed by
// `release`; `clear` keeps them for the next folder. A `chooserlist` is one of
// the chooser's two lists as shown: its names, the first row shown, its scrollbar
// and its thumb drag; the folder list and the file list are two of them.
#pragma once
#include "../framework/mem.h"

namespace kzv {

const u32 NAMELIST_NAMECAPACITY = 256;      // a 255-byte name and its terminator
const u32 NAMELIST_MAXCOUNT = 1u << 22;     // far past any folder we list
const u32 NAMELIST_CHUNKBYTES = 16384;      // a chunk holds at least 63 of the longest names

// A chunk of names; the names follow the header.
struct namechunk {
    namechunk* next;
};

class namelist {
public:
    mem* pool;
    char** names;           // capacity slots, the first count point at names
    u32 capacity;
    u32 count;
    namechunk* chunks;      // the first chunk; each links the next
    namechunk* current;     // the chunk that takes the next name
    u32 used;               // bytes of `current` taken, header included

    void init(mem* p);
    void release();
    // Empties the list; the table and the chunks stay for the next names.
    void clear();
    // False when the name is longer than 255 bytes or memory runs out.
    bool append(char const* name);
    char const* get(u32 index) const { return index < count ? names[index] : ""; }

    static u32 growthstep(u32 capacity);

private:
    bool grow();
    bool nextchunk();
};

struct scrollbar {
    s32 x, y, width, height;    // the track, relative to the widget; x 0: no scrollbar
    s32 thumbtop, thumbbottom;
};

class chooserlist : public namelist {
public:
    u32 first;              // index of the first row shown
    scrollbar bar;
    s32 dragy;              // last pointer y of a thumb drag
    u16 dragflag;           // the chooser flag that marks this list's thumb as held

    void init(mem* p, u16 dragbit);
    // Moves the rows shown the least that brings `index` into the `rows` shown.
    void scrollto(u32 index, u32 rows);
    // The last name is on the last row shown: the list cannot move down.
    bool atend(u32 rows) const { return count <= rows || first >= count - rows; }
};

} // namespace kzv
