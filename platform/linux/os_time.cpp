// Clocks and sleeping. The millisecond and microsecond clocks are the wall clock
// cut to 32 bits; callers use only wrapping differences. The clock is read through
// the kernel's vDSO where the start found it, else with the system call. The local time offset is
// the kernel's time zone (minutes west, usually 0), read once and kept on the
// process.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "syscalls.h"
#include "vdso.h"

namespace kzv {

static void readclock(ktimeval* tv, ktimezone* zone)
{
    vdsogettimeofday f = vdso_gettimeofday();
    if (!f || f(tv, zone) != 0)
        sys_gettimeofday(tv, zone);
}

u32 os_getms32()
{
    ktimeval tv;
    readclock(&tv, nullptr);
    return (u32)tv.sec * 1000u + (u32)tv.usec / 1000u;
}

u32 os_getus32()
{
    ktimeval tv;
    readclock(&tv, nullptr);
    return (u32)tv.sec * 1000000u + (u32)tv.usec;
}

u32 os_getms32_sec1970(int& localsec1970)
{
    ktimeval tv;
    ktimezone zone = {0, 0};
    bool known = process && (process->platformflags & platform_offsetknown);
    readclock(&tv, known ? nullptr : &zone);
    s32 offset = known ? process->cachedoffset : zone.minuteswest * 60;
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

void os_sleep(unsigned ms)
{
    ktimespec t;
    t.sec = ms / 1000;
    t.nsec = (ms % 1000) * 1000000;
    sys_nanosleep(&t);
}

// A descriptor that is not open answers poll at once with POLL_NVAL: the time is
// slept then, so that a stale descriptor never turns the wait into a spin.
bool os_waitdescriptor(int fd, bool writable, unsigned ms)
{
    if (fd <= 0) {
        os_sleep(ms);
        return false;
    }
    kpollfd p = {fd, (short)(writable ? POLL_IN | POLL_OUT : POLL_IN), 0};
    long r = sys_poll(&p, 1, (int)kzv_min(ms, 0x7fffffffu));
    if (r == 1 && (p.revents & POLL_NVAL)) {
        os_sleep(ms);
        return false;
    }
    return r == 1 && (p.revents & (POLL_IN | POLL_OUT | POLL_HUP | POLL_ERR)) != 0;
}

} // namespace kzv
