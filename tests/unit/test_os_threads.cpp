// System threads: the function runs with its argument on its own stack while the
// caller goes on, the hand-off fields are clear once the start returns, and starts
// in a row each deliver their own argument. The thread ends alone; the process goes on.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "../../platform/linux/syscalls.h"

using namespace kzv;
using namespace kzvtest;

namespace {

volatile u32 sum;
volatile u32 finished;
volatile u32 release;

void worker(void* argument)
{
    u32 value = *(u32 const*)argument;
    char deep[8192];                    // the thread's own stack takes a real frame
    for (u32 i = 0; i < sizeof deep; i++)
        deep[i] = (char)i;
    __asm__ volatile("" ::"r"(deep) : "memory");
    while (!release)
        os_sleep(1);
    sum = sum + value + (u8)deep[100] - 100;
    finished = finished + 1;
}

// qemu-user cannot start these threads; there the start must fail cleanly.
bool refusedbyemulator(bool started)
{
    if (started || !SYSARCH_TESTSUNDERQEMU)
        return false;
    note("qemu-user refused the clone; checking the failure path only");
    CHECK(process->threadfunction == nullptr);
    CHECK(process->threadargument == nullptr);
    return true;
}

} // namespace

TEST(threadsrunwiththeirarguments)
{
    static u32 values[8] = {1, 2, 4, 8, 16, 32, 64, 128};
    sum = finished = release = 0;
    u32 started = 0;
    for (u32& v : values) {
        bool ok = os_startthread((void*)worker, &v, 0);
        if (refusedbyemulator(ok))
            return;
        CHECK(ok);
        started += ok;
        CHECK(process->threadfunction == nullptr);
    }
    CHECK_EQ(finished, 0);              // they wait while this thread goes on
    release = 1;
    for (int i = 0; i < 5000 && finished < started; i++)
        os_sleep(1);
    CHECK_EQ(finished, 8);
    CHECK_EQ(sum, 255);
}

TEST(processmemory)
{
    u8* block = (u8*)os_getmem(100000);
    CHECK(block != nullptr);
    if (!block)
        return;
    bool zero = true;
    for (u32 i = 0; i < 100000; i++)
        zero = zero && block[i] == 0;
    CHECK(zero);
    block[99999] = 1;
    CHECK(os_getmem(0) == nullptr);
    CHECK(os_getmem(-1) == nullptr);
    CHECK_EQ(os_getpid(), sys_getpid());
    CHECK_EQ(os_getpid(), process->pid);
}
