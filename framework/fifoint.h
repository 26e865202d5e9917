// A growable first-in first-out queue of ints. The items live in one registered
// block of the queue's pool, in a ring that grows by 64 items when full. An empty
// queue answers 0, like a queued 0. When the pool cannot grow the block, the new
// value is dropped and the queue stays as it was.
#pragma once
#include "types.h"

namespace kzv {

class mem;

const u32 FIFOINT_STEP = 64;          // items added per growth

class fifoint {
public:
    mem* pool;
    u32 count;              // items stored
    u32 readindex;
    u32 writeindex;
    u32 capacity;           // items the block holds
    int* items;

    void init(mem* p);      // null: the process pool
    void exit(bool keep);   // frees the items and leaves the queue empty
    bool set(int v);        // appends; false when it had to be dropped
    int get();              // removes the oldest; 0 when empty
};

} // namespace kzv
