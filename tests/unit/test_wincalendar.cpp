// The Windows calendar rule and the clipboard copy, run on every build: dates to
// seconds since 1970 against known values (leap days, centuries, the last second
// before the 32-bit wrap in 2106), and the clipboard's bounds (a block without a
// terminator, an odd size, a buffer of one unit).
#include "../harness/harness.h"
#include "../../platform/windows/cliptext.h"
#include "../../platform/windows/wincalendar.h"

using namespace kzv;
using kzvtest::setrow;

TEST(calendar_dates_give_seconds_since_1970)
{
    static const struct { char const* name; wincalendardate date; u32 seconds; } rows[] = {
        {"the epoch", {1970, 1, 1, 0, 0, 0}, 0},
        {"end of the first day", {1970, 1, 1, 23, 59, 59}, 86399},
        {"first of March 1970", {1970, 3, 1, 0, 0, 0}, 5097600},
        {"leap day 2000", {2000, 2, 29, 12, 0, 0}, 951825600},
        {"after the leap day 2000", {2000, 3, 1, 0, 0, 0}, 951868800},
        {"no leap day in 2100", {2100, 3, 1, 0, 0, 0}, 4107542400u},
        {"a date in 2024", {2024, 12, 31, 23, 59, 59}, 1735689599},
        {"the last second before the wrap", {2106, 2, 7, 6, 28, 15}, 0xFFFFFFFFu},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        CHECK_EQ(wincalendar_seconds1970(r.date), r.seconds);
    }
    setrow(nullptr);
    CHECK_EQ(wincalendar_daynumber(1, 1, 1), 1);
    CHECK_EQ(wincalendar_daynumber(2024, 3, 1) - wincalendar_daynumber(2024, 2, 28), 2);
    CHECK_EQ(wincalendar_daynumber(2023, 3, 1) - wincalendar_daynumber(2023, 2, 28), 1);
}

TEST(clipboard_copy_stays_inside_block_and_buffer)
{
    u16 const text[] = {'a', 'b', 'c', 'd'};            // no terminator
    u16 out[8];
    for (u16& u : out)
        u = 0xBEEF;
    CHECK_EQ(cliptext_copy(out, 8, text, sizeof text), 4);
    CHECK_EQ(out[4], 0);
    CHECK_EQ(out[5], 0xBEEF);
    CHECK_EQ(cliptext_copy(out, 8, text, 5), 2);        // an odd size ends at its last whole unit
    CHECK_EQ(out[2], 0);
    CHECK_EQ(cliptext_copy(out, 3, text, sizeof text), 2);   // max - 1 units and the terminator
    CHECK_EQ(out[2], 0);
    CHECK_EQ(out[3], 'd');                              // untouched behind the buffer
    CHECK_EQ(cliptext_copy(out, 1, text, sizeof text), 0);
    CHECK_EQ(out[0], 0);
    out[0] = 0xBEEF;
    CHECK_EQ(cliptext_copy(out, 0, text, sizeof text), 0);
    CHECK_EQ(out[0], 0xBEEF);
    u16 const stopped[] = {'x', 0, 'y'};
    CHECK_EQ(cliptext_copy(out, 8, stopped, sizeof stopped), 1);
    CHECK_EQ(cliptext_copy(out, 8, nullptr, 100), 0);
    CHECK_EQ(out[0], 0);
}
