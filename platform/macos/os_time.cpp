// Clocks and sleeping. The millisecond and microsecond clocks are the wall clock
// cut to 32 bits; callers use only wrapping differences. The local time offset
// comes from the time zone that gettimeofday reports (libSystem derives it from
// the user's zone), read once and kept on the process.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "bsdrules.h"
#include "libsystem.h"

namespace kzv {

u32 os_getms32()
{
    bsd::timeval tv;
    gettimeofday(&tv, nullptr);
    return (u32)tv.sec * 1000u + (u32)tv.usec / 1000u;
}

u32 os_getus32()
{
    bsd::timeval tv;
    gettimeofday(&tv, nullptr);
    return (u32)tv.sec * 1000000u + (u32)tv.usec;
}

u32 os_getms32_sec1970(int& localsec1970)
{
    bsd::timeval tv;
    bsd::timezone zone = {0, 0};
    bool known = process && (process->platformflags & platform_offsetknown);
    gettimeofday(&tv, known ? nullptr : &zone);
    s32 offset = known ? process->cachedoffset : bsd_localoffset(zone.minuteswest, zone.dsttime);
    if (process && !known) {
        process->cachedoffset = offset;
        process->platformflags |= platform_offsetknown;
    }
    localsec1970 = (int)(tv.sec - offset);
    return (u32)tv.sec * 1000u + (u32)tv.usec / 1000u;
}

int os_getlocaltimeoffset()
{
    if (!process)
        return 0;
    if (!(process->platformflags & platform_offsetknown)) {
        int ignored;
        os_getms32_sec1970(ignored);
    }
    return -process->cachedoffset;
}

// A signal ends the pause early; it is not resumed.
void os_sleep(unsigned ms)
{
    bsd::timespec t = bsd_sleeptime(ms);
    nanosleep(&t, nullptr);
}

// The X11 client is the only one that waits on a descriptor, and this program
// draws through Quartz: the whole time is slept.
bool os_waitdescriptor(int, bool, unsigned ms)
{
    os_sleep(ms);
    return false;
}

} // namespace kzv
