// The entry of the freestanding programs. The kernel starts _start with the stack
// holding argc, the argv pointers, a null, the envp pointers and a null. _start
// aligns the stack to 16 and calls kzv_startc with that address; kzv_startc looks
// up the vDSO clock, runs the static constructors (.init_array; the unit tests register through them), calls
// main and ends the process with the exit code main returns.
#include "../../framework/os.h"
#include "startblock.h"
#include "syscalls.h"
#include "vdso.h"

__asm__(SYSARCH_START_ASM);

extern "C" {
extern void (*__init_array_start[])() __attribute__((visibility("hidden")));
extern void (*__init_array_end[])() __attribute__((visibility("hidden")));

// Static objects with destructors register them here. The process never runs
// them: it ends with exit_group after the run.
void* __dso_handle __attribute__((visibility("hidden")));
int __cxa_atexit(void (*)(void*), void*, void*) { return 0; }

// The compiler's support library raises SIGFPE on an integer division by zero
// (the ARM division helpers). That is a fault of ours: one line, the terminal put
// back, status 2.
int raise(int)
{
    kzv::os_stderr("fatal: integer division by zero\n");
    kzv::os_exitprocess(2);
}

[[noreturn]] void kzv_startc(long* initialstack);
}

int main(int argc, char** argv, char** envp)
{
    return kzv::startblock_run(argc, argv, envp, (void*)(argv - 1));
}

void kzv_startc(long* initialstack)
{
    int argc = (int)initialstack[0];
    char** argv = (char**)(initialstack + 1);
    char** envp = argv + argc + 1;
    kzv::vdso_find(envp);
    for (void (**f)() = __init_array_start; f < __init_array_end; f++)
        (*f)();
    kzv::sys_exitgroup(main(argc, argv, envp));
}
