// Process-wide odds and ends: the system memory of the pools, the process id and
// the end of the process.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "syscalls.h"

namespace kzv {

void* os_getmem(int size)
{
    if (size <= 0)
        return nullptr;
    long r = sys_mmap(nullptr, (uptr)size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (sys_failedaddress(r))
        return nullptr;
    return (void*)r;            // anonymous mappings come zero-filled
}

int os_getpid()
{
    if (!process)
        return (int)sys_getpid();
    if (!process->pid)
        process->pid = (int)sys_getpid();
    return process->pid;
}

// A fatal end still leaves the terminal as it was found.
void os_exitprocess(int status)
{
    if (process)
        os_exitstdio();
    sys_exitgroup(status);
}

} // namespace kzv
