// PNG writing. A chunk is its data length (big-endian), four type letters, the
// data and the CRC-32 of type and data. IHDR holds width, height, bit depth,
// colour type (2 RGB, 3 palette, 6 RGBA), compression 0, filter 0, interlace 0.
// The up filter stores each byte minus the byte above it (8-bit wrap-around), the
// row above the first being zeros. 16-bit sources keep the top five bits of each
// channel: 555 gives R = (v >> 7) & F8, G = (v >> 2) & F8, B = (v << 3) & F8; 565
// gives R = (v >> 8) & F8, G = (v >> 3) & F8, B = (v << 3) & F8.
#include "pngencode.h"
#include "../framework/byteorder.h"
#include "crc32.h"
#include "../framework/mem.h"

namespace kzv {

namespace {

const u8 SIGNATURE[8] = {137, 80, 78, 71, 13, 10, 26, 10};
const u32 MAXSIDE = 32768;
// Chunk types as big-endian words of their four letters.
const u32 IDATTYPE = 0x49444154;        // "IDAT"

bool palettized(u32 format) { return format == 1 || format == 8 || format == 332; }

} // namespace

bool pngencoder::fail(char const* why)
{
    message = why;
    return false;
}

// Length (big-endian, the data only), type, data, then the CRC-32 over type and
// data, big-endian: 12 bytes besides the data.
bool pngencoder::chunkout(u32 type, u8 const* data, u32 length, deflatesink& out)
{
    u8* at = out.reserve(length + 12);
    if (!at)
        return fail("no memory");
    put32be(at, length);
    put32be(at + 4, type);
    memcpy(at + 8, data, length);
    put32be(at + 8 + length, crc32_update(0, at + 4, length + 4));
    out.commit(length + 12);
    return true;
}

bool pngencoder::takes(u32 format)
{
    return palettized(format) || format == 555 || format == 565 || format == 888 || format == 8888;
}

bool pngencoder::start(mem* p, u32 w, u32 h, u32 fmt, u32 const* palette, deflatesink& out)
{
    memset0(this, sizeof *this);
    pool = p;
    width = w;
    height = h;
    format = fmt;
    if (!takes(fmt))
        return fail("png encode format");
    // Bit depth and colour type by source format; a row is the filter byte and the
    // pixels packed at that depth.
    u8 depth = 8, colortype = 2;
    switch (fmt) {
    case 1: depth = 1, colortype = 3, rowbytes = (w + 7) / 8 + 1; break;
    case 8: case 332: colortype = 3, rowbytes = w + 1; break;
    case 8888: colortype = 6, rowbytes = w * 4 + 1; break;
    default: rowbytes = w * 3 + 1; break;          // 555, 565 and 888 become RGB
    }
    if (w == 0 || h == 0 || w > MAXSIDE || h > MAXSIDE)
        return fail("png encode size");
    if (palettized(fmt) && !palette)
        return fail("png encode palette");
    prevrow = (u8*)pool->getmem0(2 * (u64)rowbytes);
    chunk = (u8*)pool->getmem(PNG_IDATCAPACITY);
    z = (compressor*)pool->getmem(sizeof(compressor));
    if (!prevrow || !chunk || !z) {
        exit();
        return fail("no memory");
    }
    filtrow = prevrow + rowbytes;
    z->init(pool);
    z->restart(compressor_zlib, 0, nullptr);       // the image data are one zlib stream
    // IHDR: width, height, bit depth, colour type, then compression method 0
    // (deflate), filter method 0 (the five row filters), interlace method 0.
    u8 ihdr[13];
    put32be(ihdr, w);
    put32be(ihdr + 4, h);
    ihdr[8] = depth, ihdr[9] = colortype, ihdr[10] = ihdr[11] = ihdr[12] = 0;
    if (!out.append(SIGNATURE, 8) || !chunkout(0x49484452, ihdr, 13, out))
        return fail("no memory");
    // PLTE comes before the image data: one entry per index, its bytes R, G, B.
    if (palettized(fmt)) {
        u32 entries = fmt == 1 ? 2 : 256;
        u8 plte[768];
        for (u32 i = 0; i < entries; i++)
            plte[3 * i] = (u8)(palette[i] >> 16), plte[3 * i + 1] = (u8)(palette[i] >> 8), plte[3 * i + 2] = (u8)palette[i];
        if (!chunkout(0x504c5445, plte, entries * 3, out))
            return false;
    }
    chunkfill = 8;
    return true;
}

void pngencoder::exit()
{
    if (z) {
        z->exit(true);
        pool->freemem(z);
    }
    if (prevrow)
        pool->freemem(prevrow);
    if (chunk)
        pool->freemem(chunk);
    z = nullptr;
    prevrow = filtrow = chunk = nullptr;
}

void pngencoder::filter(void const* pixels)
{
    u8* f = filtrow;
    u32 n = rowbytes - 1;
    if (palettized(format)) {
        f[0] = 0;                   // filter type 0: the bytes as they are
        memcpy(f + 1, pixels, n);
        return;
    }
    f[0] = 2;                       // filter type 2: each byte less the one above
    u8* raw = f + 1;
    for (u32 x = 0; x < width; x++) {
        u32 r, g, b, a = 0;
        if (format == 555 || format == 565) {
            u32 v = ((u16 const*)pixels)[x];
            r = format == 555 ? (v >> 7) & 0xf8 : (v >> 8) & 0xf8;
            g = format == 555 ? (v >> 2) & 0xf8 : (v >> 3) & 0xf8;
            b = (v << 3) & 0xf8;
        } else {
            u32 v = ((u32 const*)pixels)[x];
            r = (v >> 16) & 0xff, g = (v >> 8) & 0xff, b = v & 0xff, a = v >> 24;
        }
        *raw++ = (u8)r;
        *raw++ = (u8)g;
        *raw++ = (u8)b;
        if (format == 8888)
            *raw++ = (u8)a;
    }
    for (u32 i = 1; i <= n; i++) {
        u8 v = f[i];
        f[i] = (u8)(v - prevrow[i - 1]);
        prevrow[i - 1] = v;
    }
}

// While the chunk fills, `crc` keeps the CRC's register, the value inverted.
bool pngencoder::finishchunk(deflatesink& out)
{
    u32 length = chunkfill - 8;
    put32be(chunk, length);
    put32be(chunk + 4, IDATTYPE);
    put32be(chunk + chunkfill, ~crc);
    if (!out.append(chunk, chunkfill + 4))
        return fail("no memory");
    chunkfill = 8;
    return true;
}

// Compressed bytes into IDAT chunks; a chunk goes out when full, and at the end
// whatever it holds.
bool pngencoder::movecompressed(deflatesink& out, bool last)
{
    for (;;) {
        if (chunkfill == 8)
            crc = ~crc32_update(0, "IDAT", 4);
        u8* bytes;
        sptr n = z->read(&bytes, PNG_IDATCAPACITY - 4 - chunkfill);
        if (n > 0) {
            memcpy(chunk + chunkfill, bytes, (u32)n);
            crc = ~crc32_update(~crc, bytes, (u32)n);
            chunkfill += (u32)n;
        }
        if (chunkfill == PNG_IDATCAPACITY - 4) {
            if (!finishchunk(out))
                return false;
            continue;
        }
        if (n > 0)
            continue;
        if (last && chunkfill > 8)
            return finishchunk(out);
        return true;
    }
}

bool pngencoder::writerow(void const* pixels, deflatesink& out)
{
    if (!z || rows >= height)
        return fail("rows");
    filter(pixels);
    if (z->write(filtrow, rowbytes) != (sptr)rowbytes)
        return fail("no memory");
    rows++;
    return movecompressed(out, false);
}

bool pngencoder::finish(deflatesink& out)
{
    if (!z || rows != height)
        return fail("rows");
    z->close();
    if (!movecompressed(out, true))
        return false;
    // IEND: no data, so always these 12 bytes (AE 42 60 82 is the CRC of "IEND").
    static const u8 iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    return out.append(iend, sizeof iend) || fail("no memory");
}

} // namespace kzv
