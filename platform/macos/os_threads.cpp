// System threads for the back-ends that need one, on pthreads. The new thread
// gets the function and argument through the two hand-off fields of the process;
// the starter waits (bounded) until the thread has cleared the function field, so
// one start is in flight at a time. Threads are detached: nobody joins them, and
// a back-end that must know its thread has ended keeps its own flag for that.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "libsystem.h"

namespace kzv {

const u32 THREAD_STARTWAITS = 10000;    // 1 ms pauses, about 10 s

static void* threadstart(void*)
{
    os_threadentry();
    return nullptr;
}

// Priority 1: raised to its policy's maximum once it runs; priority 2: created
// with that policy set explicitly at its maximum priority.
static int createthread(bsd_pthread& thread, int priority)
{
    if (priority != 2)
        return pthread_create(&thread, nullptr, threadstart, nullptr);
    bsd::pthread_attr attr;
    if (pthread_attr_init(&attr) != 0)
        return -1;
    int policy = 0;
    pthread_attr_getschedpolicy(&attr, &policy);
    bsd::sched_param param = {};
    param.priority = sched_get_priority_max(policy);
    pthread_attr_setinheritsched(&attr, bsd::PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, policy);
    pthread_attr_setschedparam(&attr, &param);
    int r = pthread_create(&thread, &attr, threadstart, nullptr);
    pthread_attr_destroy(&attr);
    return r;
}

static void raisepriority(bsd_pthread thread)
{
    int policy = 0;
    bsd::sched_param param = {};
    if (pthread_getschedparam(thread, &policy, &param) != 0)
        return;
    param.priority = sched_get_priority_max(policy);
    pthread_setschedparam(thread, policy, &param);
}

bool os_startthread(void* function, void* argument, int priority)
{
    if (!process || !function)
        return false;
    process->threadargument = argument;
    __atomic_store_n(&process->threadfunction, function, __ATOMIC_RELEASE);
    bsd_pthread thread = nullptr;
    if (createthread(thread, priority) != 0) {
        process->threadargument = nullptr;
        __atomic_store_n(&process->threadfunction, nullptr, __ATOMIC_RELEASE);
        return false;
    }
    if (priority == 1)
        raisepriority(thread);
    pthread_detach(thread);
    for (u32 i = 0; i < THREAD_STARTWAITS && __atomic_load_n(&process->threadfunction, __ATOMIC_ACQUIRE); i++)
        os_sleep(1);
    return true;
}

// Runs in the new thread: take both fields before clearing the function, which
// lets the starter go on (and perhaps start the next thread).
void os_threadentry()
{
    void (*function)(void*) = (void (*)(void*))__atomic_load_n(&process->threadfunction, __ATOMIC_ACQUIRE);
    void* argument = process->threadargument;
    __atomic_store_n(&process->threadfunction, nullptr, __ATOMIC_RELEASE);
    if (function)
        function(argument);
}

} // namespace kzv
