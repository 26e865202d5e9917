// The memory dump, captured in a memory sink and compared with hand-written lines:
// layout of full and short lines, the heading, and the clamped bytes per line.
#include "../harness/harness.h"
#include "../../framework/dumpmem.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

// v in the given base, lower-case, written here without the engine.
static char const* digits(u64 v, u32 base, char* out)
{
    char reversed[24];
    u32 k = 0;
    do {
        reversed[k++] = "0123456789abcdef"[v % base];
        v /= base;
    } while (v);
    for (u32 i = 0; i < k; i++)
        out[i] = reversed[k - 1 - i];
    out[k] = 0;
    return out;
}

// The heading as it must read.
static void heading(char* out, u32 capacity, u32 n, void const* p)
{
    char count[24], address[24];
    str_combine(out, capacity, "dumpmem ", digits(n, 10, count), " bytes at ");
    strcat(out, digits((u64)(uptr)p, 16, address), capacity - 1);
    strcat(out, ":\n", capacity - 1);
}

static char captured[8192];

static char const* dump(void const* p, u32 n, u32 perline)
{
    printsink out = printsink_memory(captured, sizeof captured);
    dumpmem(out, p, n, perline);
    return captured;
}

static char expected[8192];

static char const* expect(void const* p, u32 n, char const* lines)
{
    heading(expected, sizeof expected, n, p);
    strcat(expected, lines, sizeof expected - 1);
    return expected;
}

static u8 const twenty[20] = {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r',
                              'l', 'd', '!', 0x00, 0x01, 0x7F, 0x80, 0xFF, '~', ' '};

TEST(twentybytessixteenperline)
{
    char const* lines =
        "       0: 48 65 6c 6c 6f 2c 20 77 6f 72 6c 64 21 00 01 7f  Hello, world!...\n"
        "      10: 80 ff 7e 20                                      ..~ \n";
    CHECK_STR(dump(twenty, 20, 16), expect(twenty, 20, lines));
}

TEST(exactlines)
{
    char const* lines =
        "       0: 48 65 6c 6c  Hell\n"
        "       4: 6f 2c 20 77  o, w\n";
    CHECK_STR(dump(twenty, 8, 4), expect(twenty, 8, lines));
}

TEST(headingalone)
{
    CHECK_STR(dump(twenty, 0, 16), expect(twenty, 0, ""));
    CHECK_STR(dump(nullptr, 5, 16), expect(nullptr, 5, ""));
}

TEST(perlineclamped)
{
    // 0 would never end a line: it counts as 1.
    char const* one =
        "       0: 48  H\n"
        "       1: 65  e\n"
        "       2: 6c  l\n";
    CHECK_STR(dump(twenty, 3, 0), expect(twenty, 3, one));

    // Past 49 a line would not fit its buffer: 49 per line, and the lines stay whole.
    static u8 bytes[60];
    for (u32 i = 0; i < 60; i++)
        bytes[i] = (u8)('A' + i % 26);
    char const* text = dump(bytes, 60, 100);
    char const* first = strchr(text, '\n') + 1;
    char const* second = strchr(first, '\n') + 1;
    CHECK_EQ((u64)(second - first), 10 + 3 * 49 + 1 + 49 + 1);
    CHECK(streqbegin(first, "       0: 41 42 43"));
    CHECK(streqbegin(second, "      31: 58 59 5a 41"));        // offset 49
    CHECK(streqend(second, " XYZABCDEFGH\n"));
    CHECK_EQ((u64)strlen(second), 10 + 3 * 49 + 1 + 11 + 1);    // padded to the full width
}

TEST(longdump)
{
    static u8 block[0x1010];
    for (u32 i = 0; i < sizeof block; i++)
        block[i] = (u8)i;
    u32 const capacity = 32768;               // 258 lines of 76 characters
    char* text = (char*)process->pool.getmem(capacity);
    CHECK(text != nullptr);
    if (!text)
        return;
    printsink out = printsink_memory(text, capacity);
    dumpmem(out, block, sizeof block, 16);
    CHECK_EQ(out.length, strlen(expect(block, sizeof block, "")) + 257 * 76);
    CHECK(streqend(text, "\n    1000: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f  ................\n"));
    CHECK(strstr(text, "\n     ff0: f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff  ................\n"));
    process->pool.freemem(text);
}
