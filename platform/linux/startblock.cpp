// Builds the start block and runs the program through kzvmain. Shared by the
// freestanding entry and a hosted main.
#include "startblock.h"
#include "../../framework/sysprocess.h"

namespace kzv {

int startblock_run(int argc, char** argv, char** envp, void* initialstack)
{
    startblock block;
    block.argc = argc;
    block.argv = argv;
    block.firstarg = argv && argc > 0 ? argv[0] : nullptr;
    block.envp = envp;
    block.initialstack = initialstack;
    kzvmain(&block);
    // kzvmain returns the status word (1 after "yes"); the exit code is separate.
    return process ? process->exitcode : 2;
}

} // namespace kzv
