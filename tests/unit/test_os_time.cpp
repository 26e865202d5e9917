// The clocks: milliseconds, microseconds and local seconds agree with the kernel's
// clock and with each other; the local offset is the kernel time zone's, with the
// sign turned to "add to UTC"; a sleep lasts at least what was asked, also across
// whole seconds.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "../../platform/linux/syscalls.h"

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

TEST(sleeplastsatleastthetimeasked)
{
    static const unsigned waits[] = {0, 1, 20, 1003};
    for (unsigned ms : waits) {
        u32 us0 = os_getus32();
        u32 ms0 = os_getms32();
        os_sleep(ms);
        u32 us = os_getus32() - us0;
        u32 elapsedms = os_getms32() - ms0;
        CHECK(us >= ms * 1000);
        CHECK(elapsedms + 1 >= ms);
        // The two clocks are one clock: their differences agree to a few ms.
        CHECK(us / 1000 + 2 >= elapsedms && elapsedms + 2 >= us / 1000);
    }
}
