// The list of names that os_getdirentries builds on every platform: a pointer
// list in the process pool that grows while the directory is read, each name
// copied into the caller's store, and at the end a null-terminated array in that
// store. A name that cannot be kept fails the list: no partial list is handed out.
#pragma once
#include "types.h"

namespace kzv {

class smem;

const u32 DIRNAMELIST_STEP = 64;       // pointer list growth

struct dirnamelist {
    char const** names;
    u32 count;
    u32 capacity;

    bool begin();                                       // false when the process pool refuses
    bool add(smem& store, char const* name);            // false when it could not be kept
    // The names as a null-terminated array in the store and their count; null
    // (count untouched) when the store refuses.
    char const** finish(smem& store, unsigned& outcount);
    void end();                                         // gives the working list back
};

// "." and "..", which no listing shows.
bool dirnamelist_isdotordotdot(char const* name);

} // namespace kzv
