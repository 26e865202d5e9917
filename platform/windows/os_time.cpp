// Clocks and sleeping. Milliseconds come from timeGetTime in "Winmm.dll", bound
// on the first call, or from GetTickCount where that library is missing.
// Microseconds come from the performance counter, scaled in 64 bits and cut to
// 32. Seconds since 1970 follow the calendar rule from the system's date and time
// fields; the local ones already hold the user's zone, so the offset is 0.
#include "winos.h"
#include "wincalendar.h"
#include "../../framework/os.h"

namespace kzv {

u32 os_getms32()
{
    win_timegettime clock = win_clock();
    return clock ? clock() : GetTickCount();
}

static u32 seconds1970(winsystemtime const& t)
{
    wincalendardate d = {t.year, t.month, t.day, t.hour, t.minute, t.second};
    return wincalendar_seconds1970(d);
}

u32 os_getms32_sec1970(int& localsec1970)
{
    u32 ms = os_getms32();
    winsystemtime t;
    GetLocalTime(&t);
    localsec1970 = (int)seconds1970(t);
    return ms;
}

u32 os_getutcsec1970()
{
    os_getms32();
    winsystemtime t;
    GetSystemTime(&t);
    return seconds1970(t);
}

// Whole seconds and the remainder are scaled apart, so the product stays far
// below 2^64 for any counter frequency and uptime.
u32 os_getus32()
{
    winstate* s = win_state();
    s64 frequency = s ? s->counterfrequency : 0;
    if (!frequency) {
        if (!QueryPerformanceFrequency(&frequency) || frequency <= 0)
            return os_getms32() * 1000u;
        if (s)
            s->counterfrequency = frequency;
    }
    s64 counter = 0;
    QueryPerformanceCounter(&counter);
    u64 c = (u64)counter, f = (u64)frequency;
    return (u32)((c / f) * 1000000u + (c % f) * 1000000u / f);
}

int os_getlocaltimeoffset() { return 0; }

void os_sleep(unsigned ms) { Sleep(ms); }

// The X11 client is the only one that waits on a descriptor, and this program
// draws through GDI: the whole time is slept.
bool os_waitdescriptor(int, bool, unsigned ms)
{
    Sleep(ms);
    return false;
}

} // namespace kzv
