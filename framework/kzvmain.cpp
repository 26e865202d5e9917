// The run: memory sizes from the application, the process block with the process
// object at its start and the pool over the rest, the platform's signal handling,
// the application, the scheduler loop, the platform's restore. A system that
// refuses even the first block ends the run with one line and status 2.
#include "mem.h"
#include "os.h"
#include "sysprocess.h"

namespace kzv {

namespace {
const unsigned PROCESS_BLOCK = 0x10000;     // 64 KiB
const unsigned PROCESS_STEP = 0x80000;      // 512 KiB
const unsigned PROCESS_MINBLOCK = 0x4000;   // the process object, the pool's tables and some room
}

int kzvmain(void* entry)
{
    unsigned blocksize = 0, step = 0;
    memoryinit(blocksize, step);
    if (!blocksize && step) {
        blocksize = step;
    } else {
        if (!step)
            step = PROCESS_STEP;
        if (!blocksize)
            blocksize = PROCESS_BLOCK;
    }
    blocksize = kzv_max(blocksize, PROCESS_MINBLOCK);
    if (blocksize > MEM_MAXREQUEST)
        blocksize = (unsigned)MEM_MAXREQUEST;
    void* block = mem_systemsource((int)blocksize);
    if (!block) {
        os_stderr("kzv: the system refused the process memory\n");
        return 2;
    }
    process = (sysprocess*)block;
    process->init(entry, blocksize, step);
    os_init();
    mmain();
    process->loop();
    os_exit();
    // The status word the application set ("yes" is 1); what the process ends
    // with is the platform entry's business.
    return process->exitstatus;
}

} // namespace kzv
