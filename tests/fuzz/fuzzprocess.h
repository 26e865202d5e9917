// The process a codec fuzz target needs: the process object and its pool, set up
// once as the program's start-up would, so that the codecs take their memory
// from a real pool. The application hooks are empty: libFuzzer runs the program.
#pragma once
#include <stdlib.h>

#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"

namespace kzv {

void memoryinit(unsigned&, unsigned&) {}
void mmain() {}

inline void fuzzprocess_start()
{
    const unsigned block = 0x100000, step = 0x800000;
    if (process)
        return;
    process = (sysprocess*)mem_systemsource((int)block);
    process->init(nullptr, block, step);
}

// Feeds all of data to a decoder (fields next and end, run, finish; event 0 asks
// for input), whole or one byte at a time from heap blocks of exactly that size,
// and gives every other event to `event` until it answers false.
template <class D, class F> void fuzzfeed(D& d, u8 const* data, u32 size, bool bytewise, F event)
{
    u32 at = 0;
    for (;;) {
        u32 piece = bytewise ? (size - at > 0 ? 1 : 0) : size - at;
        u8* copy = (u8*)malloc(piece ? piece : 1);
        for (u32 i = 0; i < piece; i++)
            copy[i] = data[at + i];
        d.next = copy;
        d.end = copy + piece;
        int r = d.run();
        at += (u32)(d.next - copy);
        free(copy);
        if (r == 0 && at == size)
            r = d.finish();
        if (r != 0 && !event(r))
            return;
    }
}

// A running digest of what a decoder handed out, to compare two runs.
struct fuzzdigest {
    u64 value = 1469598103934665603ull;
    void add(u64 v) { value = (value ^ v) * 1099511628211ull; }
};

} // namespace kzv
