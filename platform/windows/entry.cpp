// The entry of the Windows program. No C runtime starts it: the system calls
// kzv_winentry with nothing. It runs the static constructors of the image (the
// unit tests register through them; GCC places them in .ctors, which the linker
// frames as -1, the constructors, 0, and which run from the last to the first),
// hands the entry block to kzvmain and ends the process with the exit code:
// 0 after every normal outcome, 2 when the run could not go on, 1 for failed
// unit tests. kzvmain's own end (os_exit) ends the process the same way first.
#include "winos.h"
#include "winentry.h"
#include "../../framework/sysprocess.h"

extern "C" {
extern void (*__CTOR_LIST__[])();
[[noreturn]] void kzv_winentry();
}

namespace kzv {
winentryblock win_entryblock;
}

static void runconstructors()
{
    kzv::u32 count = 0;
    while (__CTOR_LIST__[count + 1])
        count++;
    for (kzv::u32 i = count; i >= 1; i--)
        __CTOR_LIST__[i]();
}

void kzv_winentry()
{
    runconstructors();
    kzv::kzvmain(&kzv::win_entryblock);
    kzv::ExitProcess(kzv::process ? (kzv::u32)kzv::process->exitcode : 2u);
}
