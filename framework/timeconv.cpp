// Day numbers count from 1 January of year 1. The year is found from an estimate
// (400 years are 146097 days) that is never too high, stepped up until the days
// through its end reach the day number. Within the year, days are recounted so that
// February's end is the last day of the year's count, which lets one linear formula
// give the month of every day.
#include "timeconv.h"

namespace kzv {

static u64 daysthrough(u64 year)        // days from day 1 to the end of `year`
{
    return 365 * year + year / 4 - year / 100 + year / 400;
}

static bool isleap(u64 year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

void time_decode1900(u32 daynumber, u32& day, u32& month, u32& year)
{
    u64 a = daynumber;
    u64 y = a * 400 / 146097;
    while (daysthrough(y) < a)
        y++;
    u64 dayofyear = a - (y ? daysthrough(y - 1) : 0);
    if (y == 0)
        dayofyear += 366;               // day 0: the last day of year 0, a leap year
    u64 d = dayofyear;
    if (dayofyear >= 60) {
        if (!isleap(y))
            d = dayofyear + 2;
        else if (dayofyear > 60)
            d = dayofyear + 1;
    }
    u64 m = (d * 100 + 3007) / 3057;
    day = (u32)(d - (m * 3057 - 3007) / 100);
    month = (u32)m;
    year = (u32)y;
}

void time_decode1970(u32 seconds, u32& day, u32& month, u32& year, u32& hour, u32& minute, u32& second)
{
    u32 minutes = seconds / 60;
    second = seconds - minutes * 60;
    u32 daynumber = minutes / 1440 + TIME_DAY1970;
    u32 minuteofday = minutes % 1440;
    hour = minuteofday / 60;
    minute = minuteofday - hour * 60;
    time_decode1900(daynumber, day, month, year);
}

} // namespace kzv
