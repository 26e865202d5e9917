// System threads for the back-ends that need one. The child shares memory, file
// system information and descriptors (clone flags 0x700), has its own signal
// handling and signals nobody when it ends. It gets the function and argument
// through two volatile fields of the process; the parent waits until the child
// has cleared the function field, so one start is in flight at a time. ARMv5 has
// no atomic exchange, hence plain volatile fields with compiler barriers.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "syscalls.h"

extern "C" [[noreturn]] void kzv_threadmain();

namespace kzv {

const uptr THREAD_STACKBYTES = 0x40000;
const uptr THREAD_STACKTOPGAP = 32;         // the child's first frame starts below the top
const unsigned long THREAD_CLONEFLAGS = 0x700;  // CLONE_VM | CLONE_FS | CLONE_FILES

static inline void compilerbarrier() { __asm__ volatile("" ::: "memory"); }

static void clearhandoff()
{
    process->threadargument = nullptr;
    process->threadfunction = nullptr;
    compilerbarrier();
}

bool os_startthread(void* function, void* argument, int priority)
{
    if (!process || !function)
        return false;
    process->threadargument = argument;
    process->threadfunction = function;
    compilerbarrier();
    long stack = sys_mmap(nullptr, THREAD_STACKBYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (sys_failedaddress(stack)) {
        clearhandoff();
        return false;
    }
    void* top = (void*)((uptr)stack + THREAD_STACKBYTES - THREAD_STACKTOPGAP);
    if (sys_failed(sys_clone(THREAD_CLONEFLAGS, top))) {
        sys_munmap((void*)stack, THREAD_STACKBYTES);
        clearhandoff();
        return false;
    }
    while (process->threadfunction)
        os_sleep(1);
    return true;
}

// Runs in the child: take both fields before clearing the function, which lets the
// parent go on (and perhaps start the next thread).
void os_threadentry()
{
    void (*function)(void*) = (void (*)(void*))process->threadfunction;
    void* argument = process->threadargument;
    compilerbarrier();
    process->threadfunction = nullptr;
    compilerbarrier();
    function(argument);
}

} // namespace kzv

// Not instrumented by AddressSanitizer in the hosted build: it runs on a stack the
// sanitizer has never seen, and its stack bookkeeping would warn at the exit.
__attribute__((no_sanitize_address)) void kzv_threadmain()
{
    kzv::os_threadentry();
    kzv::sys_exit(0);
}
