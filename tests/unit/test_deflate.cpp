// The deflate encoder: every mode on every kind of test data, written whole, in
// 64 KiB chunks and one byte at a time, must inflate to the input; the block
// forms that the format fixes (empty streams, stored splitting, incompressible
// data) are checked byte for byte.
#include "codectest.h"
#include "../../codecs/deflate.h"
#include "../../framework/str.h"

using namespace kzv;
using namespace codectest;

namespace {

struct encoded {
    deflater d;
    deflatesink sink;
    bool ok;
};

// Encodes n bytes in pieces of `piece` bytes (0: whole); the caller releases.
void encode(encoded& e, int mode, u8 const* p, u32 n, u32 piece)
{
    mem* pool = &process->pool;
    e.sink.init(pool);
    e.ok = e.d.init(pool, mode);
    if (!e.ok)
        return;
    for (u32 at = 0; at < n && e.ok;) {
        u32 size = piece && n - at > piece ? piece : n - at;
        e.ok = e.d.write(p + at, size, e.sink);
        at += size;
    }
    e.ok = e.ok && e.d.finish(e.sink);
}

void release(encoded& e)
{
    e.sink.release();
    e.d.exit();
}

char const* modename(int mode)
{
    return mode == deflate_storeonly ? "store only" : mode == deflate_quick ? "quick" : "best";
}

} // namespace

TEST(roundtrips)
{
    mem& pool = process->pool;
    u32 const sizes[] = {1, 3, 300, 70000, 200000};
    u32 const pieces[] = {0, 65536, 1};
    char row[96];
    for (int kind = 0; kind < data_kinds; kind++) {
        for (u32 n : sizes) {
            u8* in = (u8*)pool.getmem(n);
            u8* out = (u8*)pool.getmem(n);
            makedata(kind, in, n, n);
            for (int mode = deflate_storeonly; mode <= deflate_best; mode++) {
                for (u32 piece : pieces) {
                    if (piece == 1 && n > 70000)
                        continue;
                    row[0] = 0;
                    strcat(row, datakindname(kind), sizeof row - 1);
                    strcat(row, ", ", sizeof row - 1);
                    strcat(row, modename(mode), sizeof row - 1);
                    strcat(row, piece == 1 ? ", bytewise" : piece ? ", chunks" : ", whole", sizeof row - 1);
                    kzvtest::setrow(row);
                    encoded e;
                    encode(e, mode, in, n, piece);
                    CHECK(e.ok);
                    outcome o = inflateall(e.sink.data, e.sink.length, out, n, 0, 0);
                    CHECK_EQ(o.result, inflate_end);
                    CHECK_EQ(o.length, n);
                    CHECK_MEM(out, in, n);
                    release(e);
                }
            }
            pool.freemem(in);
            pool.freemem(out);
        }
    }
    kzvtest::setrow(nullptr);
}

TEST(emptyinput)
{
    u8 const fixedempty[] = {0x03, 0x00};
    u8 const storedempty[] = {0x01, 0x00, 0x00, 0xff, 0xff};
    for (int mode = deflate_storeonly; mode <= deflate_best; mode++) {
        kzvtest::setrow(modename(mode));
        encoded e;
        encode(e, mode, nullptr, 0, 0);
        CHECK(e.ok);
        if (mode == deflate_storeonly) {
            CHECK_EQ(e.sink.length, sizeof storedempty);
            CHECK_MEM(e.sink.data, storedempty, sizeof storedempty);
        } else {
            CHECK_EQ(e.sink.length, sizeof fixedempty);
            CHECK_MEM(e.sink.data, fixedempty, sizeof fixedempty);
        }
        release(e);
    }
    kzvtest::setrow(nullptr);
}

// 65536 bytes store only: a block of 65535 bytes, then a final one of 1 byte.
TEST(storedsplit)
{
    u32 n = 65536;
    u8* in = (u8*)process->pool.getmem(n);
    makedata(data_text, in, n, 3);
    encoded e;
    encode(e, deflate_storeonly, in, n, 0);
    CHECK(e.ok);
    CHECK_EQ(e.sink.length, 5 + 65535 + 5 + 1);
    u8 const first[] = {0x00, 0xff, 0xff, 0x00, 0x00};
    u8 const second[] = {0x01, 0x01, 0x00, 0xfe, 0xff};
    CHECK_MEM(e.sink.data, first, 5);
    CHECK_MEM(e.sink.data + 5, in, 65535);
    CHECK_MEM(e.sink.data + 5 + 65535, second, 5);
    CHECK_EQ(e.sink.data[5 + 65535 + 5], in[65535]);
    release(e);
    process->pool.freemem(in);
}

// Incompressible bytes still in the window go out as one final stored block.
TEST(incompressiblestored)
{
    u32 n = 1000;
    u8* in = (u8*)process->pool.getmem(n);
    makedata(data_random, in, n, 11);
    for (int mode = deflate_quick; mode <= deflate_best; mode++) {
        kzvtest::setrow(modename(mode));
        encoded e;
        encode(e, mode, in, n, 0);
        CHECK_EQ(e.sink.length, n + 5);
        u8 const header[] = {0x01, (u8)n, (u8)(n >> 8), (u8)~n, (u8)(~n >> 8)};
        CHECK_MEM(e.sink.data, header, 5);
        CHECK_MEM(e.sink.data + 5, in, n);
        release(e);
    }
    kzvtest::setrow(nullptr);
    process->pool.freemem(in);
}

// The two parameter sets search differently: on data with many far repeats the
// best set finds more and smaller output, and both still inflate to the input.
TEST(parametersetsdiffer)
{
    u32 n = 100000;
    u8* in = (u8*)process->pool.getmem(n);
    makedata(data_farrepeats, in, n, 5);
    encoded quick, best;
    encode(quick, deflate_quick, in, n, 0);
    encode(best, deflate_best, in, n, 0);
    CHECK(quick.ok && best.ok);
    CHECK(best.sink.length < quick.sink.length);
    release(quick);
    release(best);
    process->pool.freemem(in);
}

// A restarted encoder gives the same bytes as a fresh one.
TEST(restartrepeats)
{
    u32 n = 50000;
    u8* in = (u8*)process->pool.getmem(n);
    makedata(data_text, in, n, 9);
    encoded a;
    encode(a, deflate_best, in, n, 0);
    deflatesink again;
    again.init(&process->pool);
    a.d.restart(deflate_best);
    CHECK(a.d.write(in, n, again) && a.d.finish(again));
    CHECK_EQ(again.length, a.sink.length);
    CHECK_MEM(again.data, a.sink.data, a.sink.length);
    again.release();
    release(a);
    process->pool.freemem(in);
}

namespace {

// Bits of a deflate stream, lowest bit of each byte first.
struct bitreader {
    u8 const* p;
    u32 length, at;
    bool over;

    u32 get(u32 n)
    {
        u32 v = 0;
        for (u32 i = 0; i < n; i++, at++) {
            if (at >= length * 8) {
                over = true;
                return 0;
            }
            v |= (u32)((p[at >> 3] >> (at & 7)) & 1) << i;
        }
        return v;
    }
};

// The code lengths a dynamic block header sends: nlen literal/length lengths then
// ndist distance lengths into lens. False when the first block is not dynamic or
// its header does not read.
bool dynamiclengths(u8 const* stream, u32 length, u8* lens, u32& nlen, u32& ndist)
{
    bitreader r = {stream, length, 0, false};
    r.get(1);
    if (r.get(2) != 2)
        return false;
    nlen = r.get(5) + 257;
    ndist = r.get(5) + 1;
    u32 ncode = r.get(4) + 4;
    static u8 const order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    u8 cl[19] = {};
    for (u32 i = 0; i < ncode; i++)
        cl[order[i]] = (u8)r.get(3);
    // Canonical codes of the code-length alphabet; they are sent first bit first.
    u32 code[19] = {};
    u32 next = 0;
    for (u32 len = 1; len <= 7; len++, next <<= 1)
        for (u32 s = 0; s < 19; s++)
            if (cl[s] == len)
                code[s] = next++;
    for (u32 n = 0; n < nlen + ndist;) {
        int sym = -1;
        for (u32 c = 0, len = 1; sym < 0 && len <= 7; len++) {
            c = c << 1 | r.get(1);
            for (u32 s = 0; s < 19; s++)
                if (cl[s] == len && code[s] == c)
                    sym = (int)s;
        }
        if (sym < 0 || r.over)
            return false;
        if (sym < 16) {
            lens[n++] = (u8)sym;
            continue;
        }
        u32 repeat = sym == 16 ? 3 + r.get(2) : sym == 17 ? 3 + r.get(3) : 11 + r.get(7);
        if ((sym == 16 && n == 0) || n + repeat > nlen + ndist)
            return false;
        u8 v = sym == 16 ? lens[n - 1] : 0;
        while (repeat--)
            lens[n++] = v;
    }
    return !r.over;
}

} // namespace

// A block whose matches all have one distance still sends two distance codes,
// both of length 1: a code of one symbol is not a complete prefix code.
TEST(singledistancecode)
{
    u32 const n = 30000, period = 50;
    u8* in = (u8*)process->pool.getmem(n);
    u8* out = (u8*)process->pool.getmem(n);
    for (u32 i = 0; i < period; i++)
        in[i] = (u8)(i * 7 % period + 'A');        // no string of 3 bytes twice within a period
    for (u32 i = period; i < n; i++)
        in[i] = in[i - period];
    for (int mode = deflate_quick; mode <= deflate_best; mode++) {
        kzvtest::setrow(modename(mode));
        encoded e;
        encode(e, mode, in, n, 0);
        CHECK(e.ok);
        u8 lens[320];
        u32 nlen = 0, ndist = 0;
        CHECK(dynamiclengths(e.sink.data, e.sink.length, lens, nlen, ndist));
        u32 used = 0, ones = 0;
        for (u32 i = nlen; i < nlen + ndist; i++) {
            used += lens[i] != 0;
            ones += lens[i] == 1;
        }
        CHECK_EQ(used, 2);
        CHECK_EQ(ones, 2);
        outcome o = inflateall(e.sink.data, e.sink.length, out, n, 0, 0);
        CHECK_EQ(o.result, inflate_end);
        CHECK_EQ(o.length, n);
        CHECK_MEM(out, in, n);
        release(e);
    }
    kzvtest::setrow(nullptr);
    process->pool.freemem(in);
    process->pool.freemem(out);
}
