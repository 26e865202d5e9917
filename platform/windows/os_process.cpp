// Start and end of the run, the console control handler, the unhandled-exception
// filter, system memory and the process id. The control handler runs on a thread
// of the system's, so it only stores the reason and the exit flag, atomically.
// The exception filter prints "%08x@%08x" (the code and the low 32 bits of the
// faulting address) on standard error and lets the system end the process.
#include "winos.h"
#include "winentry.h"
#include "../../framework/os.h"
#include "../../framework/printf.h"
#include "../../framework/sysprocess.h"

namespace kzv {

void* os_getmem(int size)
{
    if (size <= 0)
        return nullptr;
    return VirtualAlloc(nullptr, (uptr)size, WIN_MEMCOMMIT | WIN_MEMRESERVE, WIN_PAGEREADWRITE);   // zero-filled
}

int os_getpid() { return (int)GetCurrentProcessId(); }

static void requestexit(char const* reason)
{
    if (!process)
        return;
    __atomic_store_n(&process->exitreason, reason, __ATOMIC_RELEASE);
    __atomic_store_n(&process->exitrequested, (u8)1, __ATOMIC_RELEASE);
}

// Every event counts as handled: the run ends through its own loop.
static s32 controlhandler(u32 event)
{
    if (event == WIN_CTRLCEVENT)
        requestexit("CTRL-C");
    else if (event == WIN_CTRLSHUTDOWNEVENT)
        requestexit("terminated");
    return 1;
}

static s32 exceptionfilter(winexceptionpointers* pointers)
{
    winexceptionrecord* r = pointers ? pointers->record : nullptr;
    u32 code = r ? r->code : 0;
    u32 address = r ? (u32)(uptr)r->address : 0;
    eprintf("%08x@%08x\n", code, address);
    requestexit("exception");
    return WIN_EXCEPTIONCONTINUESEARCH;
}

// The C signal numbers that mean an end on Windows too: SIGINT, SIGQUIT, SIGTERM.
void sighandler(int signal)
{
    switch (signal) {
    case 2: requestexit("CTRL-C"); break;
    case 3: requestexit("quit"); break;
    case 15: requestexit("terminated"); break;
    default: break;
    }
}

void os_initsignals() { SetConsoleCtrlHandler(controlhandler, 1); }

void os_init()
{
    os_initsignals();
    SetErrorMode(WIN_SEMFAILCRITICALERRORS | WIN_SEMNOGPFAULTERRORBOX | WIN_SEMNOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(exceptionfilter);
}

// The program's own run ends the process here, with its exit code: the console
// reader thread would keep it alive otherwise. A run that a test started
// returns to its caller.
void os_exit()
{
    os_exitstdio();
    if (process && process->entry == &win_entryblock)
        ExitProcess((u32)process->exitcode);
}

void os_exitprocess(int status)
{
    if (process)
        os_exitstdio();
    ExitProcess((u32)status);
}

// No back-end of the Windows program runs a thread of its own.
bool os_startthread(void*, void*, int) { return false; }

void os_threadentry() {}

} // namespace kzv
