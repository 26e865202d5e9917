// Day numbers: 365 days a year, a leap day every fourth year but not every
// hundredth unless every four-hundredth; (3057 m - 3007) / 100 gives the days
// before month m as if February had 30 days, so the months from March on give
// back 2 days, or 1 in a leap year. The seconds of 1 January 1 to 1 January
// 1970 are subtracted as 0x886CB780, their negation modulo 2^32.
#include "wincalendar.h"

namespace kzv {

const u32 CALENDAR_EPOCHOFFSET = 0x886CB780u;

static bool isleap(u32 year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

u32 wincalendar_daynumber(u32 year, u32 month, u32 day)
{
    u32 y = year - 1;
    u32 days = 365 * y + y / 4 - y / 100 + y / 400 + (3057 * month - 3007) / 100 + day;
    if (month >= 3)
        days -= isleap(year) ? 1 : 2;
    return days;
}

u32 wincalendar_seconds1970(wincalendardate const& d)
{
    u32 days = wincalendar_daynumber(d.year, d.month, d.day);
    return ((days * 1440u + d.hour * 60u + d.minute) * 60u + d.second) + CALENDAR_EPOCHOFFSET;
}

} // namespace kzv
