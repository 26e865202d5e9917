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
