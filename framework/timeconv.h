// Calendar decoding: seconds since 1 January 1970 into date and time of day, and
// day numbers of the proleptic Gregorian calendar into dates. Pure arithmetic, no
// time zones: callers pass the seconds they want shown. Correct for every u32
// second count (years 1970 to 2106) and every u32 day number.
#pragma once
#include "types.h"

namespace kzv {

const u32 TIME_DAY1970 = 719163;        // the day number of 1 January 1970

void time_decode1970(u32 seconds, u32& day, u32& month, u32& year, u32& hour, u32& minute, u32& second);
// Day 1 is 1 January of year 1. Day 0 gives 31 December of year 0.
void time_decode1900(u32 daynumber, u32& day, u32& month, u32& year);

} // namespace kzv
