// The deflate encoder's output bytes are pinned: the length and CRC-32 of what it
// writes for a fixed corpus, in every mode, whole and in pieces, with restarts
// between modes. The match finder may be made faster, but any change to the
// matches it picks, the blocks it cuts or the codes it writes shows here. The
// corpus is generated, so the same figures hold on every target. Each stream must
// also inflate to its input.
#include "codectest.h"
#include "../../codecs/crc32.h"
#include "../../codecs/deflate.h"

using namespace kzv;
using namespace codectest;

namespace {

// Bytes shaped like machine code and its tables: short and long zero runs, small
// little-endian words, a few recurring byte sequences, runs of 0xFF and noise.
// Such data make the longest hash chains, full of strings that share their
// first bytes.
void makebinary(u8* p, u32 n, u32 seed)
{
    u32 x = seed * 2654435761u + 977;
    auto next = [&x]() { x ^= x << 13; x ^= x >> 17; x ^= x << 5; return x; };
    static u8 const sequences[6][6] = {
        {0x48, 0x8b, 0x45, 0xf8, 0x48, 0x89}, {0xe8, 0x00, 0x00, 0x00, 0x00, 0x90},
        {0x0f, 0x1f, 0x44, 0x00, 0x00, 0x00}, {0x89, 0xc7, 0xe8, 0x10, 0x00, 0x00},
        {0x55, 0x48, 0x89, 0xe5, 0x41, 0x57}, {0x00, 0x00, 0x00, 0x01, 0x00, 0x00},
    };
    u32 i = 0;
    while (i < n) {
        u32 r = next();
        u32 kind = r % 16;
        u32 len = 0;
        if (kind < 4) {
            len = 1 + (r >> 8) % 12;                    // a short zero run
            if ((r >> 20) % 64 == 0)
                len += 200 + (r >> 4) % 3000;           // now and then a long one
            for (u32 k = 0; k < len && i < n; k++)
                p[i++] = 0;
        } else if (kind < 8) {
            u32 v = (r >> 8) % 300;                     // a small 32-bit word
            for (u32 k = 0; k < 4 && i < n; k++, v >>= 8)
                p[i++] = (u8)v;
        } else if (kind < 12) {
            u8 const* s = sequences[(r >> 8) % 6];
            len = 2 + (r >> 12) % 5;
            for (u32 k = 0; k < len && i < n; k++)
                p[i++] = s[k];
        } else if (kind == 12) {
            len = 3 + (r >> 8) % 40;
            for (u32 k = 0; k < len && i < n; k++)
                p[i++] = 0xff;
        } else {
            len = 1 + (r >> 8) % 8;
            for (u32 k = 0; k < len && i < n; k++)
                p[i++] = (u8)next();
        }
    }
}

// A pattern of 2 to 9 bytes repeated with a changed byte now and then.
void makeperiodic(u8* p, u32 n, u32 seed)
{
    u32 x = seed * 2246822519u + 3;
    auto next = [&x]() { x ^= x << 13; x ^= x >> 17; x ^= x << 5; return x; };
    u32 period = 2 + next() % 8;
    u8 pattern[9];
    for (u32 k = 0; k < period; k++)
        pattern[k] = (u8)next();
    for (u32 i = 0; i < n; i++) {
        if (next() % 97 == 0)
            pattern[next() % period] = (u8)next();
        p[i] = pattern[i % period];
    }
}

enum { golden_binary = data_kinds, golden_periodic, golden_mixed };

// The data of one row: a generated kind, or all kinds one after the other.
void makegolden(int kind, u8* p, u32 n, u32 seed)
{
    if (kind == golden_binary)
        return makebinary(p, n, seed);
    if (kind == golden_periodic)
        return makeperiodic(p, n, seed);
    if (kind != golden_mixed)
        return makedata(kind, p, n, seed);
    u32 part = n / 8;
    for (u32 k = 0; k < 8; k++) {
        u32 at = k * part, length = k == 7 ? n - at : part;
        u32 which = k % 7;
        if (which == 5)
            makebinary(p + at, length, seed + k);
        else if (which == 6)
            makeperiodic(p + at, length, seed + k);
        else
            makedata((int)which, p + at, length, seed + k);
    }
}

struct goldenrow {
    char const* name;
    int kind;
    u32 length;
    u32 seed;
    int mode;
    u32 piece;              // bytes a write, 0 for one write
    u32 outlength;          // what the encoder wrote
    u32 crc;
};

// Figures written by the encoder as it was first built; a faster match finder
// must reproduce them byte for byte.
goldenrow const rows[] = {
    {"binary best", golden_binary, 300000, 1, deflate_best, 0, 47813, 0x4da1a630},
    {"binary best 777-byte writes", golden_binary, 120000, 2, deflate_best, 777, 24752, 0x815d668e},
    {"binary quick", golden_binary, 300000, 1, deflate_quick, 0, 50805, 0x0706b0d7},
    {"binary stored", golden_binary, 70000, 3, deflate_storeonly, 0, 70010, 0xf60b42cd},
    {"text best", data_text, 200000, 4, deflate_best, 0, 22650, 0x4437e26b},
    {"text quick 1-byte writes", data_text, 20000, 5, deflate_quick, 1, 3404, 0xd09cc30c},
    {"text best 1-byte writes", data_text, 20000, 5, deflate_best, 1, 2584, 0xc37554da},
    {"random best", data_random, 100000, 6, deflate_best, 65536, 100035, 0x387360f1},
    {"one run best", data_run, 150000, 7, deflate_best, 0, 162, 0x92649abd},
    {"two letters best", data_twoletters, 100000, 8, deflate_best, 4096, 15513, 0x519d4790},
    {"far repeats best", data_farrepeats, 200000, 9, deflate_best, 0, 30197, 0x32abf643},
    {"far repeats quick", data_farrepeats, 200000, 9, deflate_quick, 0, 33567, 0xa7fcaa20},
    {"periodic best", golden_periodic, 150000, 10, deflate_best, 0, 3756, 0xa4189623},
    {"mixed best", golden_mixed, 400000, 11, deflate_best, 0, 152758, 0x18846cef},
    {"mixed best 65536-byte writes", golden_mixed, 400000, 12, deflate_best, 65536, 155276, 0x0001cdc9},
    {"mixed quick", golden_mixed, 400000, 11, deflate_quick, 0, 157293, 0x2439b68d},
    {"short binary best", golden_binary, 261, 13, deflate_best, 0, 113, 0x3129440c},
    {"short text best", data_text, 9, 14, deflate_best, 0, 11, 0x51fc3764},
};

// Encodes one row with d (restarted into the row's mode) into sink.
bool encoderow(deflater& d, goldenrow const& row, u8 const* in, deflatesink& sink)
{
    d.restart(row.mode);
    bool ok = true;
    for (u32 at = 0; at < row.length && ok;) {
        u32 size = row.piece && row.length - at > row.piece ? row.piece : row.length - at;
        ok = d.write(in + at, size, sink);
        at += size;
    }
    return ok && d.finish(sink);
}

} // namespace

// One encoder for all rows, so every row also checks a restart from the row
// before, whose mode and window contents differ.
TEST(outputbytesarepinned)
{
    mem& pool = process->pool;
    deflater d;
    CHECK(d.init(&pool, deflate_best));
    for (goldenrow const& row : rows) {
        kzvtest::setrow(row.name);
        u8* in = (u8*)pool.getmem(row.length);
        u8* back = (u8*)pool.getmem(row.length);
        makegolden(row.kind, in, row.length, row.seed);
        deflatesink sink;
        sink.init(&pool);
        CHECK(encoderow(d, row, in, sink));
        u32 length = sink.length - sink.start;
        u32 crc = crc32_update(0, sink.data + sink.start, length);
        CHECK_EQ(length, row.outlength);
        CHECK_EQ(crc, row.crc);
        outcome o = inflateall(sink.data + sink.start, length, back, row.length, 0, 0);
        CHECK_EQ(o.result, inflate_end);
        CHECK_EQ(o.length, row.length);
        CHECK_MEM(back, in, row.length);
        sink.release();
        pool.freemem(back);
        pool.freemem(in);
    }
    kzvtest::setrow(nullptr);
    d.exit();
}
