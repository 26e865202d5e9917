// The list of names that os_getdirentries builds on every platform: a pointer
// list in the process pool that grows while the directory is read, each name
// copied into the caller's store, and at the end a null-terminated array in that
// store, with the names' kinds where the platform's listing gives them. A name
// that cannot be kept fails the list: no partial list is handed out.
#pragma once
#include "types.h"

namespace kzv {

class smem;

const u32 DIRNAMELIST_FIRST = 64;      // pointer list slots at first; the list doubles

struct dirnamelist {
    char const** names;
    u8* kinds;              // each name's file kind (0: not known) where the listing tells them
    u32 count;
    u32 capacity;

    // False when the process pool refuses. With `withkinds` a kind is kept beside
    // every name.
    bool begin(bool withkinds = false);
    bool add(smem& store, char const* name, u8 kind = 0);  // false when it could not be kept
    // The names as a null-terminated array in the store and their count, and, when
    // `outkinds` is given and kinds were kept, the kinds in the store too; null
    // (count and kinds untouched) when the store refuses.
    char const** finish(smem& store, unsigned& outcount, u8** outkinds = nullptr);
    void end();                                         // gives the working list back
};

// "." and "..", which no listing shows.
bool dirnamelist_isdotordotdot(char const* name);

} // namespace kzv
