// The clocks: milliseconds, microseconds and local seconds agree with the kernel's
// clock and with each other; the local offset is the kernel time zone's, with the
// sign turned to "add to UTC"; a sleep lasts at least what was asked, also across
// whole seconds.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "../../platform/linux/startblock.h"
#include "../../platform/linux/syscalls.h"
#include "../../platform/linux/vdso.h"

using namespace kzv;
using namespace kzvtest;

TEST(clocksagreewiththekernel)
{
    ktimeval tv;
    ktimezone zone;
    sys_gettimeofday(&tv, &zone);
    int local = 0;
    u32 ms = os_getms32_sec1970(local);
    CHECK((u32)(ms - ((u32)tv.sec * 1000u + (u32)tv.usec / 1000u)) < 1000);
    s64 utc = (s64)local + os_getlocaltimeoffset();
    CHECK(utc - (s64)tv.sec >= 0 && utc - (s64)tv.sec <= 1);
    CHECK_EQ(os_getlocaltimeoffset(), -zone.minuteswest * 60);
    CHECK(process->platformflags & platform_offsetknown);
}

// A freestanding start where the kernel maps a vDSO finds its clock there (qemu-user
// maps none; a C library's start hands over no initial stack), and that clock is
// the system call's clock.
TEST(vdsoclockisthekernelclock)
{
    startblock const* block = (startblock const*)process->entry;
    bool freestanding = block && block->initialstack;
    if (freestanding && vdso_mapped(block->envp))
        CHECK(vdso_gettimeofday() != nullptr);
    vdsogettimeofday f = vdso_gettimeofday();
    if (!f)
        return;
    ktimeval fast, slow;
    ktimezone fastzone, slowzone;
    CHECK_EQ(f(&fast, &fastzone), 0);
    sys_gettimeofday(&slow, &slowzone);
    s64 us = ((s64)slow.sec - (s64)fast.sec) * 1000000 + ((s64)slow.usec - (s64)fast.usec);
    CHECK(us >= 0 && us < 1000000);
    CHECK_EQ(fastzone.minuteswest, slowzone.minuteswest);
}

TEST(sleeplastsatleastthetimeasked)
{
    static const unsigned waits[] = {0, 1, 20, 1003};
    for (unsigned ms : waits) {
        // Each millisecond reading is bracketed by two microsecond readings, so
        // that a preemption between the reads widens the bounds instead of
        // failing a busy machine.
        u32 outer0 = os_getus32();
        u32 ms0 = os_getms32();
        u32 inner0 = os_getus32();
        os_sleep(ms);
        u32 inner1 = os_getus32();
        u32 ms1 = os_getms32();
        u32 outer1 = os_getus32();
        u32 inner = inner1 - inner0, outer = outer1 - outer0;
        u32 elapsedms = ms1 - ms0;
        CHECK(inner >= ms * 1000);
        CHECK(elapsedms + 1 >= ms);
        // The two clocks are one clock: the millisecond difference lies within
        // the microsecond ones, give or take the rounding of a few ms.
        CHECK(elapsedms + 2 >= inner / 1000 && outer / 1000 + 2 >= elapsedms);
    }
}
