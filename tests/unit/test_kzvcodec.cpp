// The kzv codec over buffers: the row encodings pinned to hand-computed bytes,
// the decoder fed in pieces of every size, and hand-made bad streams (foreign or
// short headers, huge sides, runs past the row end, count-0 triplets) that must
// be refused or cut without writing past a row. The independent Python reader in
// tests/e2e checks the same encodings from outside.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"
#include "../../gui/kzvcodec.h"
#include "../../gui/pixelformat.h"

using namespace kzv;

namespace {

u32 get32(u8 const* p) { return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24; }

void put16(u8* p, u32 v) { p[0] = (u8)v, p[1] = (u8)(v >> 8); }

u32 makeheader(u8* out, u8 encoding, u32 width, u32 height)
{
    kzvheader h = {encoding, width, height, 0, 0};
    kzv_writeheader(out, h);
    return KZV_HEADERSIZE;
}

// A 16-byte aligned block from the process pool, so ASan sees its end.
template <class T> T* block(u32 count)
{
    return (T*)process->pool.getmem((u64)count * sizeof(T));
}

u32 seed = 12345;
u32 random32()
{
    seed = seed * 1103515245u + 12345u;
    return seed >> 4;
}

} // namespace

TEST(header_fields_and_magic)
{
    u8 h[KZV_HEADERSIZE];
    kzvheader in = {kzv_bits, 300, 7, 0x112233, 0xAABBCC};
    kzv_writeheader(h, in);
    static u8 const expect[KZV_HEADERSIZE] = {
        'k', 'z', 'v', ' ', 0xCD, 0xEF, 55, 0, 0x2C, 0x01, 7, 0, 0x33, 0x22, 0x11, 0,
        0xCC, 0xBB, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    CHECK_MEM(h, expect, KZV_HEADERSIZE);
    kzvheader out;
    CHECK_EQ(kzv_readheader(h, KZV_HEADERSIZE, out), kzv_ok);
    CHECK_EQ(out.width, 300);
    CHECK_EQ(out.height, 7);
    CHECK_EQ(out.color0, 0x112233);
    CHECK_EQ(out.color1, 0xAABBCC);
    // Colour words belong to 1-bit images only.
    kzvheader rgb = {kzv_rle888, 1, 1, 5, 6};
    kzv_writeheader(h, rgb);
    CHECK_EQ(get32(h + 12), 0);
    CHECK_EQ(get32(h + 16), 0);
    // Only the first three magic bytes are checked.
    h[3] = 'x';
    CHECK_EQ(kzv_readheader(h, KZV_HEADERSIZE, out), kzv_ok);
}

TEST(bad_headers_are_refused)
{
    static struct {
        char const* name;
        u32 length;
        u32 offset;             // byte to patch (0: none)
        u8 value;
        u32 width, height;
        kzvresult expect;
    } const rows[] = {
        {"31 bytes", 31, 0, 0, 2, 2, kzv_shortheader},
        {"no magic", 32, 1, 'Z', 2, 2, kzv_badmagic},
        {"font encoding", 32, 6, 45, 2, 2, kzv_badencoding},
        {"archive encoding", 32, 6, 56, 2, 2, kzv_badencoding},
        {"encoding 0", 32, 6, 0, 2, 2, kzv_badencoding},
        {"encoding 59", 32, 6, 59, 2, 2, kzv_badencoding},
        {"width 32769", 32, 0, 0, 32769, 2, kzv_toolarge},
        {"height 65535", 32, 0, 0, 2, 65535, kzv_toolarge},
        {"both at the limit", 32, 0, 0, 32768, 32768, kzv_ok},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        u8 h[KZV_HEADERSIZE];
        makeheader(h, kzv_rgba, 0, 0);
        put16(h + 8, row.width);
        put16(h + 10, row.height);
        if (row.offset)
            h[row.offset] = row.value;
        kzvheader out;
        CHECK_EQ(kzv_readheader(h, row.length, out), row.expect);
    }
    kzvtest::setrow("");
    kzvheader out;
    CHECK_EQ(kzv_readheader(nullptr, 32, out), kzv_shortheader);
    CHECK(!kzv_checksides(70000, 1));
}

TEST(rle888_runs)
{
    u8 out[1200];
    u32 length = 0;
    // A A B: two words, A with top byte 1, B with top byte 0; bits 24-31 of the source ignored.
    static u32 const aab[3] = {0xFF123456, 0x00123456, 0x00ABCDEF};
    CHECK(kzv_encode54(aab, 3, out, sizeof out, length));
    CHECK_EQ(length, 8);
    CHECK_EQ(get32(out), 0x01123456);
    CHECK_EQ(get32(out + 4), 0x00ABCDEF);
    // 300 equal pixels: 256 and 44.
    u32* same = block<u32>(300);
    for (u32 i = 0; i < 300; i++)
        same[i] = 0x00102030;
    CHECK(kzv_encode54(same, 300, out, sizeof out, length));
    CHECK_EQ(length, 8);
    CHECK_EQ(get32(out), 0xFF102030);
    CHECK_EQ(get32(out + 4), 0x2B102030);
    // Too little room: nothing written.
    CHECK(!kzv_encode54(same, 300, out, 300 * 4 - 1, length));
    process->pool.free_int(same);
}

TEST(rle565_runs)
{
    u8 out[1000];
    u32 length = 0;
    u16* same = block<u16>(300);
    for (u32 i = 0; i < 300; i++)
        same[i] = 0xF81F;
    CHECK(kzv_encode58(same, 300, out, sizeof out, length));
    static u8 const expect[6] = {255, 0x1F, 0xF8, 45, 0x1F, 0xF8};
    CHECK_EQ(length, 6);
    CHECK_MEM(out, expect, 6);
    same[1] = 0x0001;
    CHECK(kzv_encode58(same, 3, out, sizeof out, length));
    static u8 const three[9] = {1, 0x1F, 0xF8, 1, 0x01, 0x00, 1, 0x1F, 0xF8};
    CHECK_EQ(length, 9);
    CHECK_MEM(out, three, 9);
    CHECK(!kzv_encode58(same, 300, out, 899, length));
    process->pool.free_int(same);
}

TEST(rgba_and_bits_rows)
{
    u8 out[16];
    u32 length = 0;
    static u32 const pixel[1] = {0x80112233};
    CHECK(kzv_encode57(pixel, 1, out, sizeof out, length));
    static u8 const bytes[4] = {0x11, 0x22, 0x33, 0x80};
    CHECK_EQ(length, 4);
    CHECK_MEM(out, bytes, 4);
    // And back through the decoder.
    u8 h[KZV_HEADERSIZE];
    makeheader(h, kzv_rgba, 1, 1);
    kzvheader hd;
    CHECK_EQ(kzv_readheader(h, KZV_HEADERSIZE, hd), kzv_ok);
    kzvdecoder d;
    d.start(hd);
    u32* row = block<u32>(1);
    CHECK_EQ(d.decode(bytes, 4, row), 4);
    CHECK(d.rowcomplete());
    CHECK_EQ(row[0], 0x80112233);
    process->pool.free_int(row);
    // 1-bit rows are copied as they are, padding bits included.
    static u8 const bits[2] = {0xA5, 0x7F};
    CHECK(kzv_encode55(bits, 10, out, sizeof out, length));
    CHECK_EQ(length, 2);
    CHECK_MEM(out, bits, 2);
    CHECK(!kzv_encode55(bits, 10, out, 1, length));
    // The 8-bit source goes through its palette into 888 runs.
    static u8 const indexes[4] = {7, 7, 0xE0, 0xE0};
    u32 palette[256];
    for (u32 i = 0; i < 256; i++)
        palette[i] = pixel_palette332entry(i);
    u8 rle[16];
    CHECK(kzv_encode54_8(indexes, palette, 4, rle, sizeof rle, length));
    CHECK_EQ(length, 8);
    CHECK_EQ(get32(rle), 0x010020C0);    // 332 index 7: green 1 of 7, blue 3 of 3
    CHECK_EQ(get32(rle + 4), 0x01E00000);
}

// Rows of every encoding, encoded, then decoded from pieces of every size from 1
// to 9 bytes and from one piece: the rows come back exactly.
TEST(decoder_takes_any_split)
{
    static u8 const encodings[4] = {kzv_rle888, kzv_bits, kzv_rgba, kzv_rle565};
    const u32 W = 37, H = 5;
    for (u8 encoding : encodings) {
        u32 rowlength = kzv_rowlength(encoding, W);
        u8* rows = block<u8>(rowlength * H);
        for (u32 i = 0; i < rowlength * H; i++)
            rows[i] = (u8)(random32() % 3 == 0 ? random32() : 0x40);   // runs and changes
        if (encoding == kzv_rle888)
            for (u32 i = 0; i < W * H; i++)
                ((u32*)rows)[i] &= 0xFFFFFF;
        u8* stream = block<u8>(KZV_HEADERSIZE + kzv_maxencodedrow(encoding, W) * H);
        u32 length = makeheader(stream, encoding, W, H);
        for (u32 y = 0; y < H; y++) {
            u32 n = 0;
            u8 const* src = rows + y * rowlength;
            u8* at = stream + length;
            u32 room = kzv_maxencodedrow(encoding, W);
            bool ok = encoding == kzv_rle888 ? kzv_encode54((u32 const*)src, W, at, room, n)
                    : encoding == kzv_bits   ? kzv_encode55(src, W, at, room, n)
                    : encoding == kzv_rgba   ? kzv_encode57((u32 const*)src, W, at, room, n)
                                             : kzv_encode58((u16 const*)src, W, at, room, n);
            CHECK(ok);
            length += n;
        }
        u8* row = block<u8>(rowlength);
        for (u32 piece = 1; piece <= 10; piece++) {
            kzvheader h;
            CHECK_EQ(kzv_readheader(stream, length, h), kzv_ok);
            kzvdecoder d;
            d.start(h);
            u32 at = KZV_HEADERSIZE;
            bool same = true;
            while (!d.finished()) {
                while (!d.rowcomplete() && at < length) {
                    u32 n = piece == 10 ? length - at : kzv_min(piece, length - at);
                    at += d.decode(stream + at, n, row);
                }
                if (!d.rowcomplete())
                    break;
                same = same && memcmp(row, rows + d.line * rowlength, rowlength) == 0;
                d.nextrow();
            }
            CHECK(d.finished());
            CHECK(same);
            CHECK_EQ(at, length);
        }
        process->pool.free_int(row);
        process->pool.free_int(stream);
        process->pool.free_int(rows);
    }
}

// Hand-made rows that break the format. Runs are cut at the row end; the bytes
// after a complete row are left for the next row; nothing is written past the row.
TEST(bad_rows_are_cut_at_the_row_end)
{
    static struct {
        char const* name;
        u8 encoding;
        u32 width;
        u8 bytes[12];
        u32 length;
        u32 consumed;           // bytes the first row takes
        u32 firstpixel;
    } const rows[] = {
        {"888 run of 256 in a row of 3", kzv_rle888, 3, {0x33, 0x22, 0x11, 0xFF, 1, 2, 3, 0}, 8, 4, 0x112233},
        {"888 two runs, the second too long", kzv_rle888, 3, {1, 0, 0, 1, 2, 0, 0, 5}, 8, 8, 0x000001},
        {"565 count 255 in a row of 2", kzv_rle565, 2, {255, 0x34, 0x12, 1, 0, 0}, 6, 3, 0x1234},
        {"565 count 0 adds nothing", kzv_rle565, 2, {0, 0xFF, 0xFF, 2, 0x34, 0x12}, 6, 6, 0x1234},
        {"565 only count-0 triplets", kzv_rle565, 1, {0, 1, 1, 0, 2, 2, 0, 3, 3}, 9, 9, 0},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        kzvheader h = {row.encoding, row.width, 2, 0, 0};
        kzvdecoder d;
        d.start(h);
        // Exactly the row's length: ASan reports any write behind it.
        u8* out = block<u8>(kzv_rowlength(row.encoding, row.width));
        memset0(out, kzv_rowlength(row.encoding, row.width));
        u32 used = d.decode(row.bytes, row.length, out);
        CHECK_EQ(used, row.consumed);
        u32 first = row.encoding == kzv_rle565 ? ((u16*)out)[0] : ((u32*)out)[0];
        if (d.rowcomplete())
            CHECK_EQ(first, row.firstpixel);
        else
            CHECK_EQ(row.encoding, kzv_rle565);     // the count-0 row is still open
        process->pool.free_int(out);
    }
}

TEST(split_units_and_empty_rows)
{
    // A run word cut after its second byte is completed by the next piece.
    kzvheader h = {kzv_rle888, 4, 1, 0, 0};
    kzvdecoder d;
    d.start(h);
    u32* row = block<u32>(4);
    static u8 const word[4] = {0x01, 0x02, 0x03, 0x03};
    CHECK_EQ(d.decode(word, 2, row), 2);
    CHECK(d.midunit());
    CHECK(!d.rowcomplete());
    CHECK_EQ(d.decode(word + 2, 2, row), 2);
    CHECK(d.rowcomplete());
    CHECK(!d.midunit());
    CHECK_EQ(row[3], 0x030201);
    process->pool.free_int(row);
    // Width 0: every row is complete without a byte.
    kzvheader empty = {kzv_rgba, 0, 3, 0, 0};
    d.start(empty);
    u32 rows = 0;
    while (!d.finished() && rows < 10) {
        CHECK(d.rowcomplete());
        CHECK_EQ(d.decode(word, 4, nullptr), 0);
        d.nextrow();
        rows++;
    }
    CHECK_EQ(rows, 3);
}
