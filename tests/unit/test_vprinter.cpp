// The engine's buffer rules, which no peer has: the stop rule before each
// conversion, the hard end that clips every byte (nested runs included), over-long
// flag runs, formats that end inside a conversion, and the typed front ends. The
// conversions themselves are checked against glibc in test_vprinter_table.
#include "../harness/harness.h"
#include "../../framework/printf.h"
#include "../../framework/vprinterfloat.h"
#include "../../framework/str.h"

namespace {

using namespace kzv;

const u8 GUARD = 0xA5;

// A buffer of `size` bytes that the engine is told about, followed by guard bytes
// it must never touch.
struct guarded {
    char bytes[1200];
    u32 size;
    explicit guarded(u32 n) : size(n)
    {
        for (u32 i = 0; i < sizeof bytes; i++)
            bytes[i] = (char)GUARD;
    }
    bool guardintact() const
    {
        for (u32 i = size; i < sizeof bytes; i++)
            if ((u8)bytes[i] != GUARD)
                return false;
        return true;
    }
};

char const* repeat(char* out, char c, u32 n)
{
    for (u32 i = 0; i < n; i++)
        out[i] = c;
    out[n] = 0;
    return out;
}

TEST(stop_rule_drops_the_argument_but_copies_the_text)
{
    char buffer[64];
    // Capacity 20: at length 4 the room test 4 + 16 >= 20 drops the value, and the
    // literal text behind it is still copied up to the capacity.
    vprinterdata d;
    vprinter_begin(&d, buffer, sizeof buffer, 20, "abcd%d tail text here!");
    vprinter_int(&d, 12345);
    CHECK_STR(buffer, "abcdd tail text here");
    CHECK_EQ(d.length, 20);             // the trailing copy fills up to the capacity
    // One byte less text and the value fits: 3 + 16 < 20.
    vprinter_format(buffer, sizeof buffer, 20, "abc%d!", 12345);
    CHECK_STR(buffer, "abc12345!");
}

TEST(a_string_that_does_not_fit_is_not_printed_at_all)
{
    char buffer[64];
    // "hello" needs 5 + 8 + length < capacity: at length 2 and capacity 15 it is dropped.
    vprinter_format(buffer, sizeof buffer, 15, "[[%s]]", "hello");
    CHECK_STR(buffer, "[[s]]");
    vprinter_format(buffer, sizeof buffer, 16, "[[%s]]", "hello");
    CHECK_STR(buffer, "[[hello]]");
    // A width does not count: the room test uses the string's own length, and the
    // text behind it stops at the capacity.
    vprinter_format(buffer, sizeof buffer, 16, "[[%20s]]", "hello");
    CHECK_STR(buffer, "[[hello               ");
}

TEST(wide_field_at_the_end_of_a_printf_buffer_is_clipped)
{
    // The known overrun: %70s of a short string at length 480 of a 512-byte buffer.
    guarded g(PRINTF_BUFFERSIZE);
    char format[600];
    repeat(format, 'x', 480);
    strcpy(format + 480, "%70s!", 5);
    vprinterdata d;
    vprinter_begin(&d, g.bytes, g.size, PRINTF_CAPACITY, format);
    vprinter_int(&d, "ab");
    CHECK(g.guardintact());
    CHECK_EQ(d.length, PRINTF_BUFFERSIZE - 1);
    CHECK_EQ(g.bytes[PRINTF_BUFFERSIZE - 1], 0);
    CHECK_EQ(g.bytes[480], 'a');
    CHECK_EQ(g.bytes[510], ' ');
}

TEST(every_conversion_is_clipped_at_a_small_buffer)
{
    static const struct { char const* name; char const* format; u32 size; char const* expected; } rows[] = {
        {"64-bit decimal", "%d", 8, "-922337"},
        {"zero padded", "%020u", 6, "09223"},
        {"hex width", "%30x", 4, "   "},
        {"float with width", "%12.6f", 10, "-    1.50"},
        {"float digits", "%.8f", 6, "-1.50"},
        {"date", "%D", 9, "01.01.19"},
        {"memory size .3", "%.3m", 5, "1.50"},
        {"hundredths", "%8h", 5, "-   "},
        {"address", "%I", 7, "001.00"},
        {"one byte", "%d", 1, ""},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        guarded g(row.size);
        vprinterdata d;
        vprinter_begin(&d, g.bytes, g.size, 100, row.format);
        char const* f = row.format;
        char letter = f[strlen(f) - 1];
        if (letter == 'f')
            vprinter_int(&d, -1.5f);
        else if (letter == 'D')
            vprinter_int(&d, 0u);
        else if (letter == 'm')
            vprinter_int(&d, (u64)1536);
        else if (letter == 'h')
            vprinter_int(&d, -1234);
        else if (letter == 'I')
            vprinter_int(&d, 0x01020304u);
        else
            vprinter_int(&d, (s64)((u64)1 << 63));
        CHECK(g.guardintact());
        CHECK_STR(g.bytes, row.expected);
        CHECK_EQ(d.length, row.size - 1);
    }
    kzvtest::setrow(nullptr);
}

TEST(a_zero_sized_buffer_is_never_written)
{
    guarded g(0);
    vprinterdata d;
    vprinter_begin(&d, g.bytes, 0, 100, "abc%d");
    vprinter_int(&d, 5);
    CHECK(g.guardintact());
    CHECK_EQ(d.length, 0);
}

TEST(huge_width_costs_only_the_room)
{
    char buffer[32];
    u32 n = vprinter_format(buffer, sizeof buffer, 20, "%9999999d|", 1);
    CHECK_EQ(n, 31);
    CHECK_EQ(buffer[30], ' ');
}

TEST(more_than_seven_flag_characters_are_skipped)
{
    char buffer[64];
    vprinterdata d;
    vprinter_begin(&d, buffer, sizeof buffer, 60, "%000000000001d|%d");
    u32 end = d.end;
    vprinter_int(&d, 7, 8);
    CHECK_EQ(d.end, end);               // the field behind the flags is untouched
    CHECK_EQ(d.flags[7], 0);
    CHECK_STR(buffer, "7|8");           // the seven zeros kept: zero padding, width 0
}

TEST(formats_that_end_inside_a_conversion)
{
    char buffer[32];
    // '%' last, and flags up to the end: no letter, the argument is consumed and
    // nothing is read past the terminator.
    CHECK_EQ(vprinter_format(buffer, sizeof buffer, 20, "abc%", 5), 3);
    CHECK_STR(buffer, "abc");
    CHECK_EQ(vprinter_format(buffer, sizeof buffer, 20, "abc%05", 5, 6), 3);
    CHECK_STR(buffer, "abc");
    CHECK_EQ(vprinter_format(buffer, sizeof buffer, 20, "%", "text"), 0);
    CHECK_EQ(vprinter_format(buffer, sizeof buffer, 20, nullptr, 1), 0);
    CHECK_STR(buffer, "");
}

TEST(typed_arguments_in_one_call)
{
    char buffer[128];
    u16 const wide[] = {'w', 0x20AC, 0};
    vprinter_format(buffer, sizeof buffer, 100, "%d %d %u %c %d %s %s %d %u %.2f %x", (char)0xE9, (signed char)-23,
                    (unsigned short)65535, 'A', true, "str", wide, (long long)-5, 3000000000u, 2.25f, (u64)1 << 40);
    CHECK_STR(buffer, "233 -23 65535 A 1 str w\342\202\254 -5 3000000000 2.25 10000000000");
    // long takes the step of its width: 64-bit on LP64, 32-bit on LLP64 and 32-bit CPUs.
    vprinter_format(buffer, sizeof buffer, 100, "%d %u", -1L, (unsigned long)-1L);
    CHECK_STR(buffer, sizeof(long) == 8 ? "-1 18446744073709551615" : "-1 4294967295");
}

// Only strings are pointer arguments: any other pointer would silently take the
// bool step (an address printed as 1), so it must not compile at all.
template <class T> constexpr auto hasstep(int) -> decltype(vprinter_value((vprinterdata*)nullptr, T()), true)
{
    return true;
}
template <class T> constexpr bool hasstep(...) { return false; }
static_assert(hasstep<char const*>(0) && hasstep<char*>(0) && hasstep<u16 const*>(0), "strings have steps");
static_assert(!hasstep<void const*>(0) && !hasstep<int*>(0) && !hasstep<u8 const*>(0), "no pointer step");
static_assert(!hasstep<double>(0), "a double is narrowed explicitly");

TEST(conversion_routines)
{
    static const struct { s64 value; char const* decimal; char const* hex; char const* upper; char const* hex32; } rows[] = {
        {0, "0", "0", "0", "0"},
        {1, "1", "1", "1", "1"},
        {-1, "-1", "ffffffffffffffff", "FFFFFFFFFFFFFFFF", "ffffffff"},
        {255, "255", "ff", "FF", "ff"},
        {2147483647, "2147483647", "7fffffff", "7FFFFFFF", "7fffffff"},
        {-2147483647 - 1, "-2147483648", "ffffffff80000000", "FFFFFFFF80000000", "80000000"},
        {(s64)((u64)1 << 63), "-9223372036854775808", "8000000000000000", "8000000000000000", nullptr},
        {0x7FFFFFFFFFFFFFFF, "9223372036854775807", "7fffffffffffffff", "7FFFFFFFFFFFFFFF", nullptr},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.decimal);
        char text[24];
        CHECK_EQ(vprinter_int64tostring(row.value, text), strlen(row.decimal));
        CHECK_STR(text, row.decimal);
        CHECK_EQ(vprinter_hex64tostring((u64)row.value, text, false), strlen(row.hex));
        CHECK_STR(text, row.hex);
        vprinter_hex64tostring((u64)row.value, text, true);
        CHECK_STR(text, row.upper);
        if (row.hex32) {
            CHECK_EQ(vprinter_int32tostring((int)row.value, text), strlen(row.decimal));
            CHECK_STR(text, row.decimal);
            CHECK_EQ(vprinter_hex32tostring((u32)row.value, text, false), strlen(row.hex32));
            CHECK_STR(text, row.hex32);
        }
    }
    kzvtest::setrow(nullptr);
}

TEST(date_conversion_obeys_the_stop_rule_per_value)
{
    char buffer[64];
    // Capacity 30 with 4 bytes before: the date's values stop once length + 16
    // reaches 30, and the rest of the outer format follows as text.
    vprinter_format(buffer, sizeof buffer, 30, "at: %D!", 1735689599u);
    CHECK_STR(buffer, "at: 31.12.2024!");
    vprinter_format(buffer, sizeof buffer, 100, "at: %D!", 1735689599u);
    CHECK_STR(buffer, "at: 31.12.2024 23:59:59!");
}

TEST(memory_thousandths_are_exact_single_precision)
{
    // The same quotient in the target's own float unit, each result stored through a
    // volatile float so that it is rounded to single precision on every CPU.
    static const float divisors[] = {1.024f, 1048.576f, 1073741.824f};
    static const u32 strides[] = {1, 1, 997};
    static const u32 ends[] = {1u << 10, 1u << 20, 1u << 30};
    for (int unit = 0; unit < 3; unit++) {
        u32 mismatches = 0;
        for (u32 r = 0; r < ends[unit]; r += strides[unit]) {
            volatile float rest = (float)r;
            volatile float q = rest / divisors[unit];
            volatile float s = q + 0.5f;
            u32 t = (u32)s;
            if (t > 999)
                t = 999;
            if (t != vprinter_memthousandths(r, unit))
                mismatches++;
        }
        CHECK_EQ(mismatches, 0);
    }
    CHECK_EQ(vprinter_memthousandths(71403834, 2), 67);   // 66 in double precision
    CHECK_EQ(vprinter_memthousandths(374199025, 2), 349); // the rest rounds to a float first
}

TEST(double_narrowing_is_safe)
{
    CHECK_EQ(vprinter_floatbits(vprinter_tofloat(1e300)), 0x7F800000);
    CHECK_EQ(vprinter_floatbits(vprinter_tofloat(-1e300)), 0xFF800000);
    CHECK_EQ(vprinter_floatbits(vprinter_tofloat(0.1)), 0x3DCCCCCD);
    u32 nan = vprinter_floatbits(vprinter_tofloat(__builtin_nan("")));
    CHECK((nan & 0x7F800000) == 0x7F800000 && (nan & 0x7FFFFF) != 0);
}

TEST(printto_memory_sink_cuts_at_its_capacity)
{
    char text[16];
    printsink out = printsink_memory(text, sizeof text);
    printto(out, "%s-", "abcdef");
    printto(out, "%u", 123456789u);
    CHECK_STR(text, "abcdef-12345678");
    CHECK_EQ(out.length, 15);
    printto(out, "more");
    CHECK_STR(text, "abcdef-12345678");
}

TEST(printf_buffer_cuts_at_500_characters)
{
    char format[700];
    repeat(format, 'y', 650);
    char text[800];
    printsink out = printsink_memory(text, sizeof text);
    printto(out, format);
    CHECK_EQ(out.length, PRINTF_CAPACITY);
    format[10] = '%';
    format[11] = '%';
    printto(out, format);
    CHECK_EQ(out.length, sizeof text - 1);
}

} // namespace
