// The PNG encoder and decoder: every source format written and read back in
// pieces of every size, the header event before the rows, the format refusals
// before any byte is written, and damaged files.
#include "codectest.h"
#include "../../codecs/pngdecode.h"
#include "../../codecs/pngencode.h"
#include "../../codecs/compressor.h"
#include "../../framework/byteorder.h"

using namespace kzv;
using namespace codectest;

namespace {

struct decoded {
    int result;
    char const* message;
    u32 width, height, format, rows;
    bool headerfirst;
};

// Decodes n bytes fed `piece` at a time; each row is compared with expect(x, y).
template <class F> decoded decode(u8 const* p, u32 n, u32 piece, F expect)
{
    pngdecoder d;
    d.init(&process->pool);
    decoded out = {png_needinput, nullptr, 0, 0, 0, 0, false};
    u32 at = 0;
    bool seenheader = false;
    for (;;) {
        u32 size = piece && n - at > piece ? piece : n - at;
        d.next = p + at;
        d.end = p + at + size;
        int r = d.run();
        at += (u32)(d.next - (p + at));
        if (r == png_needinput && at == n)
            r = d.finish();
        if (r == png_header) {
            seenheader = true;
            out.headerfirst = out.rows == 0;
        } else if (r == png_row) {
            for (u32 x = 0; x < d.width; x++)
                if (d.row[x] != expect(x, (u32)d.line))
                    out.rows = 0x80000000;
            if (d.line != (s32)(out.rows & 0xffff))
                out.rows = 0x80000000;
            out.rows++;
        } else if (r != png_needinput && r != png_chunknote) {
            out.result = r;
            break;
        }
    }
    out.message = d.message;
    out.width = seenheader ? d.width : 0;
    out.height = d.height;
    out.format = d.format;
    d.exit();
    return out;
}

u32 sample(u32 x, u32 y) { return (x * 0x1f3d5b + y * 0x9e3779) ^ (x << 24) ^ (y << 28); }

} // namespace

TEST(roundtrip)
{
    static const u32 formats[] = {1, 8, 332, 555, 565, 888, 8888};
    static const u32 pieces[] = {0, 1, 13, 4096};
    u32 palette[256];
    for (u32 i = 0; i < 256; i++)
        palette[i] = (i * 0x010305) & 0xffffff;
    u32 const w = 37, h = 29;
    u32* pixels32 = (u32*)process->pool.getmem(w * 4);
    u16* pixels16 = (u16*)pixels32;
    u8* pixels8 = (u8*)pixels32;
    for (u32 format : formats) {
        kzvtest::setrow(format == 1 ? "1" : format == 8 ? "8" : format == 332 ? "332" : format == 555 ? "555"
                        : format == 565 ? "565" : format == 888 ? "888" : "8888");
        deflatesink out;
        out.init(&process->pool);
        pngencoder e;
        CHECK(e.start(&process->pool, w, h, format, palette, out));
        // What a pixel of the source is, as the decoder gives it back.
        auto expect = [&](u32 x, u32 y) -> u32 {
            u32 v = sample(x, y);
            switch (format) {
            case 1: return palette[(v >> 5) & 1];
            case 8: case 332: return palette[v & 255];
            case 555: { u32 s = v & 0xffff; return ((s >> 7) & 0xf8) << 16 | ((s >> 2) & 0xf8) << 8 | ((s << 3) & 0xf8); }
            case 565: { u32 s = v & 0xffff; return ((s >> 8) & 0xf8) << 16 | ((s >> 3) & 0xf8) << 8 | ((s << 3) & 0xf8); }
            case 888: return v & 0xffffff;
            default: return v;
            }
        };
        for (u32 y = 0; y < h; y++) {
            for (u32 x = 0; x < w; x++) {
                u32 v = sample(x, y);
                if (format == 1) {
                    u8 bit = (u8)(0x80 >> (x & 7));
                    pixels8[x >> 3] = (u8)(((v >> 5) & 1) ? pixels8[x >> 3] | bit : pixels8[x >> 3] & ~bit);
                } else if (format == 8 || format == 332) {
                    pixels8[x] = (u8)v;
                } else if (format == 555 || format == 565) {
                    pixels16[x] = (u16)v;
                } else {
                    pixels32[x] = format == 888 ? v & 0xffffff : v;
                }
            }
            CHECK(e.writerow(pixels32, out));
        }
        CHECK(e.finish(out));
        e.exit();
        // Palette images carry the whole palette behind IHDR: 2 entries for 1 bit,
        // all 256 for 8 bits, whichever indexes the rows use.
        if (format == 1 || format == 8 || format == 332) {
            CHECK_EQ(get32be(out.data + 33), format == 1 ? 6u : 768u);
            CHECK_MEM(out.data + 37, "PLTE", 4);
            u32 last = format == 1 ? 1 : 255;
            CHECK_EQ(get32be(out.data + 41 + 3 * last - 1) & 0xffffff, palette[last]);
        }
        for (u32 piece : pieces) {
            decoded d = decode(out.data, out.length, piece, expect);
            CHECK_EQ(d.result, png_end);
            CHECK(d.headerfirst);
            CHECK_EQ(d.width, w);
            CHECK_EQ(d.height, h);
            CHECK_EQ(d.rows, h);
            CHECK_EQ(d.format, format == 8888 ? 8888u : 888u);
        }
        out.release();
    }
    kzvtest::setrow(nullptr);
    process->pool.freemem(pixels32);
}

// An RGBA pixel with the bytes 11 22 33 44 is 0x44112233.
TEST(rgbabyteorder)
{
    deflatesink out;
    out.init(&process->pool);
    pngencoder e;
    u32 pixel = 0x44112233;
    CHECK(e.start(&process->pool, 1, 1, 8888, nullptr, out) && e.writerow(&pixel, out) && e.finish(out));
    e.exit();
    decoded d = decode(out.data, out.length, 0, [](u32, u32) { return 0x44112233u; });
    CHECK_EQ(d.result, png_end);
    CHECK_EQ(d.rows, 1);
    out.release();
}

// Formats it cannot write, a missing palette and missing rows: refused, and a
// refused start writes nothing.
TEST(encoderrefusals)
{
    deflatesink out;
    out.init(&process->pool);
    pngencoder e;
    CHECK(!e.start(&process->pool, 4, 4, 24, nullptr, out));
    CHECK_STR(e.message, "png encode format");
    CHECK(!e.start(&process->pool, 4, 4, 8, nullptr, out));
    CHECK(!e.start(&process->pool, 0, 4, 888, nullptr, out));
    CHECK_EQ(out.length, 0);
    u32 row[4] = {};
    CHECK(e.start(&process->pool, 4, 2, 888, nullptr, out));
    CHECK(e.writerow(row, out));
    CHECK(!e.finish(out));
    CHECK_STR(e.message, "rows");
    e.exit();
    out.release();
}

// A file cut anywhere before the CRC of IEND (not checked) is refused, never
// taken as a shorter image.
TEST(cutfiles)
{
    deflatesink out;
    out.init(&process->pool);
    pngencoder e;
    u32 row[16];
    for (u32 i = 0; i < 16; i++)
        row[i] = sample(i, 3) & 0xffffff;
    CHECK(e.start(&process->pool, 16, 8, 888, nullptr, out));
    for (u32 y = 0; y < 8; y++)
        e.writerow(row, out);
    CHECK(e.finish(out));
    e.exit();
    for (u32 cut = 0; cut < out.length - 4; cut += 3) {
        decoded d = decode(out.data, cut, 5, [&](u32 x, u32) { return row[x]; });
        CHECK_EQ(d.result, png_error);
        CHECK(d.rows <= 8);
    }
    // Width 0 in the header (CRCs are not checked).
    out.data[16] = out.data[17] = out.data[18] = out.data[19] = 0;
    decoded d = decode(out.data, out.length, 0, [](u32, u32) { return 0u; });
    CHECK_EQ(d.result, png_error);
    CHECK_STR(d.message, "ihdr");
    out.release();
}

// A row whose filter type is above 4 is not decoded and keeps what the row buffer
// held: zeros for the first row, whether the file comes whole or byte by byte.
// (Found by the fuzzer: the buffer was not cleared, so the row showed old memory.)
TEST(badfiltertype)
{
    u8 raw[2 * 7] = {7, 1, 2, 3, 4, 5, 6, 0, 9, 8, 7, 6, 5, 4};    // 2 x 2 RGB: filter 7, then none
    compressor* z = (compressor*)process->pool.getmem(sizeof(compressor));
    z->init(nullptr);
    z->restart(compressor_zlib, 0, nullptr);
    z->write(raw, sizeof raw);
    z->close();
    u8 file[256];
    u8 const head[] = {137, 80, 78, 71, 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 2, 0, 0, 0, 2,
                       8, 2, 0, 0, 0, 0, 0, 0, 0};
    memcpy(file, head, sizeof head);
    u32 n = sizeof head;
    u8* bytes;
    sptr k = z->read(&bytes, 200);
    file[n] = 0, file[n + 1] = 0, file[n + 2] = 0, file[n + 3] = (u8)k;
    memcpy(file + n + 4, "IDAT", 4);
    memcpy(file + n + 8, bytes, (u32)k);
    n += 8 + (u32)k + 4;
    u8 const iend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    memcpy(file + n, iend, sizeof iend);
    n += sizeof iend;
    z->exit(true);
    process->pool.freemem(z);
    auto expect = [](u32 x, u32 y) -> u32 { return y == 0 ? 0 : x == 0 ? 0x090807u : 0x060504u; };
    static const u32 pieces[] = {0, 1};
    for (u32 piece : pieces) {
        decoded d = decode(file, n, piece, expect);
        CHECK_EQ(d.result, png_end);
        CHECK_EQ(d.rows, 2);
    }
}
