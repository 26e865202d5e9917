// System threads for the back-ends that need one. The child shares memory, file
// system information and descriptors (clone flags 0x700), has its own signal
// handling and signals nobody when it ends. It gets the function and argument
// through two volatile fields of the process; the parent waits until the child
// has cleared the function field, so one start is in flight at a time. ARMv5 has
// no atomic exchange, hence plain volatile fields with compiler barriers.
// Such a child is a process of its own: nothing ends it with its parent unless it
// asks the kernel to (the parent-death signal), and nothing gives back its stack
// unless it unmaps it itself, which it does as it ends (the clone assembly).
// Each stack is one mapping whose lowest page is a guard: an overflow faults
// there instead of writing into whatever lies below.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "linuxos.h"
#include "syscalls.h"

extern "C" void kzv_threadmain(kzv::threadstack const* stack);

namespace kzv {

const uptr THREAD_STACKBYTES = 0x40000;
const uptr THREAD_GUARDBYTES = 4096;        // one page, never readable or writable
const uptr THREAD_STACKTOPGAP = 32;         // holds the threadstack record; the first frame starts below
const unsigned long THREAD_CLONEFLAGS = 0x700;  // CLONE_VM | CLONE_FS | CLONE_FILES
static_assert(sizeof(threadstack) <= THREAD_STACKTOPGAP, "the record fits above the first frame");

static inline void compilerbarrier() { __asm__ volatile("" ::: "memory"); }

static void clearhandoff()
{
    process->threadargument = nullptr;
    process->threadfunction = nullptr;
    compilerbarrier();
}

threadstack* thread_mapstack()
{
    long stack = sys_mmap(nullptr, THREAD_STACKBYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (sys_failedaddress(stack))
        return nullptr;
    if (sys_failed(sys_mprotect((void*)stack, THREAD_GUARDBYTES, PROT_NONE))) {
        sys_munmap((void*)stack, THREAD_STACKBYTES);
        return nullptr;
    }
    threadstack* record = (threadstack*)((uptr)stack + THREAD_STACKBYTES - THREAD_STACKTOPGAP);
    record->base = (uptr)stack;
    record->length = THREAD_STACKBYTES;
    // Asked now, not the cached id: a forked copy of the process starts threads too.
    record->parent = sys_getpid();
    return record;
}

void thread_unmapstack(threadstack* stack) { sys_munmap((void*)stack->base, stack->length); }

bool os_startthread(void* function, void* argument, int priority)
{
    if (!process || !function)
        return false;
    threadstack* stack = thread_mapstack();
    if (!stack) {
        clearhandoff();         // the last start's argument is still there: a failed start clears it too
        return false;
    }
    process->threadargument = argument;
    process->threadfunction = function;
    compilerbarrier();
    if (sys_failed(sys_clone(THREAD_CLONEFLAGS, stack))) {
        thread_unmapstack(stack);
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

// The child's first frame. The parent-death signal is SIGKILL, which no handler
// can catch: the thread must not outlive a process that was killed or crashed
// (it would hold the caller's descriptors and devices under init). A parent that
// died before the request took effect has left the child to another parent, so
// the child ends at once. On the way out every signal is blocked: one arriving
// after the stack is unmapped would find no room for its frame.
// Not instrumented by AddressSanitizer in the hosted build: it runs on a stack the
// sanitizer has never seen.
__attribute__((no_sanitize_address)) void kzv_threadmain(kzv::threadstack const* stack)
{
    using namespace kzv;
    sys_prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (sys_getppid() == stack->parent)
        os_threadentry();
    static const u64 allsignals = ~(u64)0;
    sys_sigprocmask(SIG_SETMASK, &allsignals, nullptr);
}
