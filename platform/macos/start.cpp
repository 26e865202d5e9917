// The entry of the macOS program. libSystem's start code calls main with the
// argument and environment vectors; main keeps them in the start block that
// kzvmain hands on to the argument record, and ends with the status word of the
// run (1 after "yes", 0 after the other answers), or 2 after a fatal end.
#include "../../framework/sysprocess.h"
#include "../linux/startblock.h"
#include "bsdrules.h"

extern "C" int main(int argc, char** argv, char** envp)
{
    kzv::startblock block = {};
    block.argc = argc;
    block.argv = argv;
    block.firstarg = argv && argc > 0 ? argv[0] : nullptr;
    block.envp = envp;
    int status = kzv::kzvmain(&block);
    return kzv::process ? kzv::bsd_exitstatus(kzv::process->exitcode, status) : 2;
}
