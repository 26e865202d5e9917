// The deflate decoder: the table of hand-made streams, fed whole and in the
// smallest pieces (one input byte and one byte of room at a time must give the
// same outcome), back-references into earlier output, and the table builder's
// limits.
#include "codectest.h"
#include "test_inflate_cases.h"
#include "../../framework/str.h"

using namespace kzv;
using namespace codectest;

static char const* outcometext(outcome const& o)
{
    if (o.result == inflate_end)
        return "ok";
    if (o.result == inflate_needinput)
        return "truncated";
    return o.message;
}

TEST(handmadestreams)
{
    u8 in[256], out[64];
    for (auto const& c : inflatecases) {
        kzvtest::setrow(c.name);
        u32 n = fromhex(c.hex, in, sizeof in);
        u32 pieces[][2] = {{0, 0}, {1, 1}, {1, 0}, {3, 2}};
        for (auto const& p : pieces) {
            outcome o = inflateall(in, n, out, sizeof out, p[0], p[1]);
            CHECK_STR(outcometext(o), c.expect);
            if (o.result == inflate_end) {
                CHECK_EQ(o.length, strlen(c.text));
                CHECK_MEM(out, c.text, o.length);
            }
        }
    }
    kzvtest::setrow(nullptr);
}

// Errors are sticky: a call after a failure fails again and writes nothing.
TEST(errorstaysset)
{
    u8 in[8], out[16];
    u32 n = fromhex("07 00 00", in, sizeof in);
    void* work = process->pool.getmem(INFLATE_WORKBYTES);
    inflater z;
    z.init(work);
    z.window = z.out = out;
    z.outend = out + sizeof out;
    z.next = in;
    z.end = in + n;
    CHECK_EQ(z.run(), inflate_error);
    u8 const* at = z.next;
    CHECK_EQ(z.run(), inflate_error);
    CHECK(z.next == at);
    CHECK(z.out == out);
    CHECK_STR(z.message, "type");
    process->pool.freemem(work);
}

// A stored block of 40000 bytes then a fixed block that copies 258 bytes from
// 32768 back: the farthest distance deflate allows.
TEST(farthestdistance)
{
    mem& pool = process->pool;
    u32 storedn = 40000;
    u8* in = (u8*)pool.getmem(storedn + 64);
    u8* expect = (u8*)pool.getmem(storedn + 258);
    makedata(data_random, expect, storedn, 7);
    in[0] = 0;                              // stored, not final
    in[1] = (u8)storedn, in[2] = (u8)(storedn >> 8);
    in[3] = (u8)~storedn, in[4] = (u8)(~storedn >> 8);
    memcpy(in + 5, expect, storedn);
    // Fixed block: length 258 (symbol 285, code 11000101), distance code 29 with
    // 13 extra bits 8191 (24577 + 8191 = 32768), end of block.
    u32 at = 5 + storedn;
    u64 bits = 0;
    u32 count = 0;
    auto put = [&](u32 v, u32 n) { bits |= (u64)v << count; count += n; };
    auto putcode = [&](u32 code, u32 n) {
        for (u32 i = n; i-- > 0;)
            put((code >> i) & 1, 1);
    };
    put(1, 1), put(1, 2);
    putcode(0xc5, 8);
    putcode(29, 5), put(8191, 13);
    putcode(0, 7);
    for (; count > 0; count = count > 8 ? count - 8 : 0, bits >>= 8)
        in[at++] = (u8)bits;
    for (u32 i = 0; i < 258; i++)
        expect[storedn + i] = expect[storedn - 32768 + i];
    u8* out = (u8*)pool.getmem(storedn + 258);
    u32 pieces[][2] = {{0, 0}, {1, 7}, {1000, 300}};
    for (auto const& p : pieces) {
        outcome o = inflateall(in, at, out, storedn + 258, p[0], p[1]);
        CHECK_EQ(o.result, inflate_end);
        CHECK_EQ(o.length, storedn + 258);
        CHECK_MEM(out, expect, storedn + 258);
    }
    pool.freemem(in);
    pool.freemem(expect);
    pool.freemem(out);
}

// The table builder: root size chosen from the lengths, and refusals.
TEST(buildtable)
{
    static inflatecode table[INFLATE_TABLEENTRIES];
    static u16 work[INFLATE_MAXSYMBOLS];
    static u16 lengths[INFLATE_MAXLENGTHS];
    struct row {
        char const* name;
        u32 count;
        u8 lens[8];
        u32 wantroot;
        char const* expect;
        u32 root;
    };
    static const row rows[] = {
        {"two codes of length 1", 2, {1, 1}, 9, nullptr, 1},
        {"one code of length 1", 1, {1}, 9, nullptr, 1},
        {"root below the shortest code", 4, {2, 2, 2, 2}, 1, nullptr, 2},
        {"longer codes in sub-tables", 4, {1, 2, 3, 3}, 2, nullptr, 2},
        {"no code at all", 3, {0, 0, 0}, 9, "table !max", 0},
        {"over-subscribed", 3, {1, 1, 1}, 9, "table left", 0},
        {"incomplete with a longest code of 2", 2, {1, 2}, 9, "table type", 0},
    };
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        for (u32 i = 0; i < r.count; i++)
            lengths[i] = r.lens[i];
        u32 root = r.wantroot, used = 0;
        char const* bad = inflate_buildtable(inflatetable_litlen, lengths, r.count, table, INFLATE_TABLEENTRIES,
                                             root, used, work);
        CHECK_STR(bad, r.expect);
        if (!bad)
            CHECK_EQ(root, r.root);
    }
    kzvtest::setrow(nullptr);
    // A lone code of length 1 is refused for the code-length code, which must be complete.
    lengths[0] = 1;
    u32 root = 7, used = 0;
    CHECK_STR(inflate_buildtable(inflatetable_codelengths, lengths, 1, table, INFLATE_TABLEENTRIES, root, used,
                                 work),
              "table type");
    // The longest literal/length code: lengths 1..14 then two of 15 fill sub-tables
    // of up to 6 index bits behind a 9-bit root; a table too small is refused.
    for (u32 i = 0; i < 14; i++)
        lengths[i] = (u16)(i + 1);
    lengths[14] = lengths[15] = 15;
    root = 9;
    CHECK(inflate_buildtable(inflatetable_litlen, lengths, 16, table, INFLATE_TABLEENTRIES, root, used, work) ==
          nullptr);
    CHECK_EQ(used, 512 + 64);
    root = 9;
    CHECK_STR(inflate_buildtable(inflatetable_litlen, lengths, 16, table, 520, root, used, work), "table size");
}
