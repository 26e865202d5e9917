// The engine against the conversion table that tools/gen_printf_table.py builds from
// glibc's snprintf, Python's datetime and UTF-8 codec and single-precision
// arithmetic. Every build runs the same rows, so x86-64, i386 and ARM must agree
// byte for byte. Each row runs the typed steps for its argument kinds, as the
// printf templates expand them, in a printf-sized buffer.
#include "../harness/harness.h"
#include "../../framework/printf.h"
#include "../../framework/str.h"

namespace {

using namespace kzv;

enum argkind : u8 {
    arg_s8, arg_u8, arg_char, arg_s16, arg_u16, arg_s32, arg_u32, arg_bool, arg_s64, arg_u64,
    arg_float, arg_str, arg_str16, arg_null, arg_null16,
};

struct printfarg {
    argkind kind;
    u64 value;              // the bits: sign-extended integers, a float's pattern
    char const* text;
    u16 const* wide;
};

struct printfrow {
    char const* format;
    u32 count;
    printfarg args[4];
    char const* expected;
    char const* source;     // "peers", "billionths" (the engine's documented rounding) or "fixed"
};

#include "../../tools/printf_table.inc"

void step(vprinterdata* d, printfarg const& a)
{
    switch (a.kind) {
    case arg_s8: vprinter_value(d, (signed char)(u8)a.value); break;
    case arg_u8: vprinter_value(d, (unsigned char)a.value); break;
    case arg_char: vprinter_value(d, (char)(u8)a.value); break;
    case arg_s16: vprinter_value(d, (short)(u16)a.value); break;
    case arg_u16: vprinter_value(d, (unsigned short)a.value); break;
    case arg_s32: vprinter_value(d, (int)(u32)a.value); break;
    case arg_u32: vprinter_value(d, (unsigned)a.value); break;
    case arg_bool: vprinter_value(d, a.value != 0); break;
    case arg_s64: vprinter_value(d, (long long)a.value); break;
    case arg_u64: vprinter_value(d, (unsigned long long)a.value); break;
    case arg_float: vprinter_value(d, __builtin_bit_cast(float, (u32)a.value)); break;
    case arg_str: vprinter_value(d, a.text); break;
    case arg_str16: vprinter_value(d, a.wide); break;
    case arg_null: vprinter_value(d, (char const*)nullptr); break;
    case arg_null16: vprinter_value(d, (u16 const*)nullptr); break;
    }
}

TEST(conversions_match_the_peers_table)
{
    static char label[80];
    u32 rows = sizeof(printftable) / sizeof(printftable[0]);
    CHECK(rows > 1000);
    for (u32 i = 0; i < rows; i++) {
        printfrow const& row = printftable[i];
        vprinter_format(label, sizeof label, 70, "row %u %s (%s)", i, row.format, row.source);
        kzvtest::setrow(label);
        char buffer[PRINTF_BUFFERSIZE];
        vprinterdata d;
        vprinter_begin(&d, buffer, sizeof buffer, PRINTF_CAPACITY, row.format);
        for (u32 k = 0; k < row.count; k++)
            step(&d, row.args[k]);
        vprinter_copyrest(&d);
        CHECK_STR(buffer, row.expected);
        CHECK_EQ(d.length, strlen(row.expected));
    }
    kzvtest::setrow(nullptr);
}

} // namespace
