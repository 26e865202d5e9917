// Process-wide odds and ends: the system memory of the pools, the process id and
// the end of the process.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "libsystem.h"

namespace kzv {

static void* const MAP_FAILED = (void*)-1;

void* os_getmem(int size)
{
    if (size <= 0)
        return nullptr;
    void* p = mmap(nullptr, (unsigned long)size, bsd::PROT_READ | bsd::PROT_WRITE, bsd::MAP_PRIVATE | bsd::MAP_ANON,
                   -1, 0);
    return p == MAP_FAILED ? nullptr : p;   // anonymous mappings come zero-filled
}

int os_getpid()
{
    if (!process)
        return getpid();
    if (!process->pid)
        process->pid = getpid();
    return process->pid;
}

// A fatal end still leaves the terminal as it was found.
void os_exitprocess(int status)
{
    if (process)
        os_exitstdio();
    exit(status);
}

} // namespace kzv
