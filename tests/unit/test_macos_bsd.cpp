// The arithmetic of the macOS platform bodies, on the host: raw terminal mode in
// the 72-byte termios block, the local time offset with daylight saving, the
// length of a pause, the kinds and device numbers of stat records and the exit
// status the program ends with.
#include "../harness/harness.h"
#include "../../framework/filepacket.h"
#include "../../framework/memprim.h"
#include "../../platform/macos/bsdrules.h"

using namespace kzv;
using namespace kzvtest;

namespace {

bsd::termios cookedterminal()
{
    bsd::termios t;
    memset0(&t, sizeof t);
    t.iflag = 0x2b02;           // ICRNL among them: Enter stays 10
    t.oflag = 0x3;
    t.cflag = 0x4b00;
    t.lflag = bsd::ECHOKE | bsd::ECHO | 0x2 /* ECHOE */ | bsd::ECHOCTL | bsd::ISIG | bsd::ICANON | bsd::ALTWERASE |
              0x400 /* IEXTEN */;
    for (u32 i = 0; i < bsd::NCCS; i++)
        t.cc[i] = (u8)(i + 1);
    t.ispeed = t.ospeed = 38400;
    return t;
}

} // namespace

TEST(rawmode_drops_echo_and_line_editing_keeps_signals)
{
    bsd::termios old = cookedterminal();
    old.lflag |= bsd::ECHOPRT;
    bsd::termios raw = bsd_rawmode(old);
    CHECK_EQ(raw.lflag & (bsd::ECHO | bsd::ECHOKE | bsd::ECHOPRT | bsd::ECHOCTL | bsd::ICANON | bsd::ALTWERASE), 0);
    CHECK_EQ(raw.lflag & bsd::ISIG, bsd::ISIG);                 // Ctrl-C stays SIGINT
    CHECK_EQ(raw.lflag & (0x2 | 0x400), 0x2 | 0x400);           // the other local flags stay
    CHECK_EQ(raw.cc[bsd::VMIN], 1);
    CHECK_EQ(raw.cc[bsd::VTIME], 0);
    CHECK_EQ(raw.iflag, old.iflag);
    CHECK_EQ(raw.oflag, old.oflag);
    CHECK_EQ(raw.cflag, old.cflag);
    CHECK_EQ(raw.ispeed, 38400);
    CHECK_EQ(raw.ospeed, 38400);
    for (u32 i = 0; i < bsd::NCCS; i++)
        if (i != bsd::VMIN && i != bsd::VTIME)
            CHECK_EQ(raw.cc[i], i + 1);
}

TEST(rawmode_sets_isig_even_when_it_was_off)
{
    bsd::termios old = cookedterminal();
    old.lflag = 0;
    CHECK_EQ(bsd_rawmode(old).lflag, bsd::ISIG);
}

// tcsetattr reports success after any one change, so the settings read back must
// hold the whole of raw mode; anything else the driver changed does not matter.
TEST(raw_mode_counts_only_when_held_whole)
{
    static const struct { char const* name; u64 lflagxor; u8 vmin, vtime; u64 cflagxor; bool raw; } cases[] = {
        {"as asked", 0, 1, 0, 0, true},
        {"other control flags", 0, 1, 0, 0x300, true},
        {"echo kept", bsd::ECHO, 1, 0, 0, false},
        {"line editing kept", bsd::ICANON, 1, 0, 0, false},
        {"signals dropped", bsd::ISIG, 1, 0, 0, false},
        {"old minimum", 0, 4, 0, 0, false},
        {"old timer", 0, 1, 5, 0, false},
    };
    bsd::termios asked = bsd_rawmode(cookedterminal());
    for (auto const& c : cases) {
        setrow(c.name);
        bsd::termios now = asked;
        now.lflag ^= c.lflagxor;
        now.cflag ^= c.cflagxor;
        now.cc[bsd::VMIN] = c.vmin;
        now.cc[bsd::VTIME] = c.vtime;
        CHECK_EQ(bsd_israw(now, asked), c.raw);
    }
    setrow(nullptr);
}

TEST(local_offset_is_minutes_west_less_an_hour_of_daylight_saving)
{
    static const struct { char const* name; s32 minuteswest, dst, offset; } cases[] = {
        {"UTC", 0, 0, 0},
        {"Berlin winter (UTC+1)", -60, 0, -3600},
        {"Berlin summer (UTC+2)", -60, 1, -7200},
        {"New York summer (UTC-4)", 300, 1, 14400},
        {"Kolkata (UTC+5:30)", -330, 0, -19800},
        {"any nonzero dst flag", 300, 5, 14400},
    };
    for (auto const& c : cases) {
        setrow(c.name);
        CHECK_EQ((s64)bsd_localoffset(c.minuteswest, c.dst), (s64)c.offset);
    }
    setrow(nullptr);
}

TEST(a_pause_lasts_1024_microseconds_a_millisecond)
{
    static const struct { u32 ms; s64 sec, nsec; } cases[] = {
        {0, 0, 0},
        {1, 0, 1024000},
        {976, 0, 999424000},
        {977, 1, 448000},           // crosses the second
        {1000, 1, 24000000},        // 1.024 s
        {0xFFFFFFFF, 4398046, 510080000},   // no 32-bit overflow of the microseconds
    };
    for (auto const& c : cases) {
        bsd::timespec t = bsd_sleeptime(c.ms);
        CHECK_EQ(t.sec, c.sec);
        CHECK_EQ(t.nsec, c.nsec);
        CHECK(t.nsec < 1000000000);
    }
}

TEST(stat_modes_and_device_numbers)
{
    static const struct { u32 mode; u8 kind; } kinds[] = {
        {0040755, filekind_directory}, {0100644, filekind_file}, {0060600, filekind_block},
        {0020666, filekind_char}, {0010644, filekind_pipe}, {0140777, filekind_socket},
        {0120777, filekind_other}, {0170000, filekind_other}, {0, filekind_other},
    };
    for (auto const& k : kinds)
        CHECK_EQ(bsd_filekind(k.mode), k.kind);
    // dev_t: major in the top byte, minor in the low 24 bits (kept to 8).
    s32 ttys003 = (s32)((16u << 24) | 3);
    CHECK_EQ(bsd_major(ttys003), 16);
    CHECK_EQ(bsd_minor(ttys003), 3);
    s32 high = (s32)0xFF000123u;
    CHECK_EQ(bsd_major(high), 0xFF);
    CHECK_EQ(bsd_minor(high), 0x23);
}

TEST(exit_status_is_the_status_word_unless_the_end_was_fatal)
{
    static const struct { char const* name; int exitcode, word, status; } cases[] = {
        {"yes", 0, 1, 1},
        {"no", 0, 0, 0},
        {"a path", 0, 0, 0},
        {"fatal: no display (status word 0)", 2, 0, 2},
        {"fatal after a yes", 2, 1, 2},
    };
    for (auto const& c : cases) {
        setrow(c.name);
        CHECK_EQ(bsd_exitstatus(c.exitcode, c.word), c.status);
    }
    setrow(nullptr);
}
