// Millisecond stopwatches. `realtimer` reads the platform clock itself; `timer`
// reads the scheduler's cached clock (process->msnow), which every scheduling pass
// refreshes, so two readings within one step agree. Both count in wrapping 32-bit
// arithmetic, so an elapsed time stays right across the clock's wrap.
#pragma once
#include "os.h"
#include "sysprocess.h"

namespace kzv {

class realtimer {
public:
    u32 start;

    realtimer() { reset(); }
    u32 reset() { return start = os_getms32(); }
    u32 msec() const { return os_getms32() - start; }
    void reset_ms(u32 ms) { start += ms; }    // one period on, keeping the remainder
};

class timer {
public:
    u32 start;

    timer() { reset(); }
    void reset() { start = process->msnow; }
    u32 msec() const { return process->msnow - start; }
};

} // namespace kzv
