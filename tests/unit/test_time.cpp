// Calendar decoding and the stopwatches. Every day from 1970 to the end of the u32
// second range is checked against an independent days-to-civil formula (eras of
// 400 years, March-based years), and the listed dates against known values.
#include "../harness/harness.h"
#include "../../framework/sysprocess.h"
#include "../../framework/timeconv.h"
#include "../../framework/timers.h"

using namespace kzv;

namespace {

struct civil {
    u32 year, month, day;
};

// Days since 1970-01-01 to a proleptic Gregorian date, by 400-year eras with the
// year starting in March (so the leap day is the year's last day).
civil civilfromdays(s64 z)
{
    z += 719468;
    s64 era = (z >= 0 ? z : z - 146096) / 146097;
    s64 doe = z - era * 146097;
    s64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    s64 y = yoe + era * 400;
    s64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    s64 mp = (5 * doy + 2) / 153;
    s64 d = doy - (153 * mp + 2) / 5 + 1;
    s64 m = mp < 10 ? mp + 3 : mp - 9;
    return {(u32)(y + (m <= 2)), (u32)m, (u32)d};
}

struct datecase {
    char const* name;
    u32 seconds;
    u32 day, month, year, hour, minute, second;
};

const datecase dates[] = {
    {"epoch", 0, 1, 1, 1970, 0, 0, 0},
    {"leap day 2000", 951782400, 29, 2, 2000, 0, 0, 0},
    {"2100 is not a leap year", 4107542400u, 1, 3, 2100, 0, 0, 0},
    {"last second of 2024", 1735689599, 31, 12, 2024, 23, 59, 59},
    {"first second of 2025", 1735689600, 1, 1, 2025, 0, 0, 0},
    {"leap day 2024 noon", 1709208000, 29, 2, 2024, 12, 0, 0},
    {"1 March 2024", 1709251200, 1, 3, 2024, 0, 0, 0},
    {"31 December 1999 23:59:59", 946684799, 31, 12, 1999, 23, 59, 59},
    {"i32 wrap", 2147483648u, 19, 1, 2038, 3, 14, 8},
    {"last u32 second", 4294967295u, 7, 2, 2106, 6, 28, 15},
};

} // namespace

TEST(decode1970_known_dates)
{
    for (datecase const& c : dates) {
        kzvtest::setrow(c.name);
        u32 day, month, year, hour, minute, second;
        time_decode1970(c.seconds, day, month, year, hour, minute, second);
        CHECK_EQ(day, c.day);
        CHECK_EQ(month, c.month);
        CHECK_EQ(year, c.year);
        CHECK_EQ(hour, c.hour);
        CHECK_EQ(minute, c.minute);
        CHECK_EQ(second, c.second);
    }
}

// Every day of the u32 second range, at a time of day that moves through the day.
TEST(decode1970_every_day_matches_civil_formula)
{
    u32 const lastday = 0xFFFFFFFFu / 86400;
    u32 bad = 0;
    for (u32 d = 0; d <= lastday && bad < 5; d++) {
        u32 secondofday = (d * 7919u) % 86400;
        u64 seconds = (u64)d * 86400 + secondofday;
        if (seconds > 0xFFFFFFFFu)
            seconds = 0xFFFFFFFFu;
        u32 day, month, year, hour, minute, second;
        time_decode1970((u32)seconds, day, month, year, hour, minute, second);
        civil c = civilfromdays(d);
        u32 sod = (u32)(seconds % 86400);
        bool ok = CHECK_EQ(year, c.year) && CHECK_EQ(month, c.month) && CHECK_EQ(day, c.day) &&
                  CHECK_EQ(hour * 3600 + minute * 60 + second, sod);
        if (!ok)
            bad++;
    }
    CHECK_EQ(bad, 0);
}

// Day numbers count from 1 January of year 1; 719163 is 1 January 1970. A sample
// of the whole u32 range against the same formula.
TEST(decode1900_day_numbers)
{
    u32 day, month, year;
    time_decode1900(1, day, month, year);
    CHECK_EQ(year, 1);
    CHECK_EQ(month, 1);
    CHECK_EQ(day, 1);
    time_decode1900(TIME_DAY1970, day, month, year);
    CHECK_EQ(year, 1970);
    CHECK_EQ(month, 1);
    CHECK_EQ(day, 1);
    time_decode1900(0, day, month, year);
    CHECK_EQ(year, 0);
    CHECK_EQ(month, 12);
    CHECK_EQ(day, 31);
    u32 bad = 0;
    for (u64 a = 1; a <= 0xFFFFFFFFu && bad < 5; a += 9973) {
        time_decode1900((u32)a, day, month, year);
        civil c = civilfromdays((s64)a - TIME_DAY1970);
        if (!(CHECK_EQ(year, c.year) && CHECK_EQ(month, c.month) && CHECK_EQ(day, c.day)))
            bad++;
    }
    CHECK_EQ(bad, 0);
}

// The scheduler's cached clock drives `timer`; its arithmetic wraps with the clock.
TEST(timer_reads_cached_clock_across_wrap)
{
    u32 saved = process->msnow;
    process->msnow = 0xFFFFFFF0u;
    timer t;
    CHECK_EQ(t.msec(), 0);
    CHECK_EQ(t.msec(), t.msec());
    process->msnow = 0x10;
    CHECK_EQ(t.msec(), 0x20);
    t.reset();
    CHECK_EQ(t.msec(), 0);
    process->msnow = saved;
}

TEST(realtimer_moves_with_platform_clock)
{
    realtimer r;
    u32 start = r.start;
    os_sleep(20);
    u32 elapsed = r.msec();
    CHECK(elapsed >= 15 && elapsed < 2000);
    r.reset_ms(10);
    CHECK_EQ(r.start, start + 10);
    r.start = os_getms32() + 0x10;        // a start "after" now reads as a wrapped span
    CHECK(r.msec() >= 0xFFFFFFF0u);
}

// The calendar clock ticks one second at a time without a full decode, and
// decodes again after a jump.
TEST(calctime_ticks_and_jumps)
{
    sysprocess saved = *process;
    process->year = 0;
    process->utcseconds = 1735689598;   // 31.12.2024 23:59:58
    process->calctime();
    CHECK_EQ(process->second, 58);
    process->utcseconds++;
    process->calctime();
    CHECK_EQ(process->second, 59);
    CHECK_EQ(process->year, 2024);
    process->utcseconds++;              // rolls over midnight: a full decode
    process->calctime();
    CHECK_EQ(process->year, 2025);
    CHECK_EQ(process->month, 1);
    CHECK_EQ(process->day, 1);
    CHECK_EQ(process->hour, 0);
    CHECK_EQ(process->second, 0);
    CHECK_EQ(process->clockseconds, 1735689600);
    process->utcseconds += 3600 + 61;   // a jump
    process->calctime();
    CHECK_EQ(process->hour, 1);
    CHECK_EQ(process->minute, 1);
    CHECK_EQ(process->second, 1);
    CHECK_EQ(process->lastsecond, process->utcseconds);
    process->utcseconds = 1735689600 + 59;   // back in time: decoded again
    process->calctime();
    CHECK_EQ(process->minute, 0);
    CHECK_EQ(process->second, 59);
    process->utcseconds++;              // 00:00:59 -> 00:01:00 by ticking
    process->calctime();
    CHECK_EQ(process->minute, 1);
    CHECK_EQ(process->second, 0);
    CHECK_EQ(process->clockseconds, 1735689660);
    memcpy(process, &saved, sizeof(sysprocess));
}
