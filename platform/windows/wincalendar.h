// The calendar rule of the Windows clock: a date and time of the system's
// calendar as seconds since 1 January 1970, in unsigned 32-bit arithmetic, exact
// from 1970 up to the wrap in February 2106. Pure code.
#pragma once
#include "../../framework/types.h"

namespace kzv {

struct wincalendardate {
    u32 year, month, day;       // month 1-12, day 1-31
    u32 hour, minute, second;
};

// The day number of a date, counting 1 January of year 1 as day 1.
u32 wincalendar_daynumber(u32 year, u32 month, u32 day);
u32 wincalendar_seconds1970(wincalendardate const& d);

} // namespace kzv
