// The process a codec fuzz target needs: the process object and its pool, set up
// once as the program's start-up would, so that the codecs take their memory
// from a real pool. The application hooks are empty: libFuzzer runs the program.
#pragma once
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

// A running digest of what a decoder handed out, to compare two runs.
struct fuzzdigest {
    u64 value = 1469598103934665603ull;
    void add(u64 v) { value = (value ^ v) * 1099511628211ull; }
};

} // namespace kzv
