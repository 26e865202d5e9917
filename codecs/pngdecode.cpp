// PNG format facts the decoder relies on:
// - The file is the 8-byte signature 137 80 78 71 13 10 26 10, then chunks: a
//   big-endian length (below 2^31), four type letters, the data, a CRC-32. IHDR
//   (13 bytes) comes first, PLTE before the first IDAT, IEND last.
// - IHDR: width, height (big-endian, not 0), bit depth, colour type, compression
//   method 0, filter method 0, interlace method 0 or 1 (Adam7).
// - The IDAT chunks' data, joined, are one zlib stream: a 2-byte header, deflate
//   data, an Adler-32. It inflates to the rows, each a filter byte (0 none, 1 sub,
//   2 up, 3 average, 4 Paeth) and the row's bytes; filters work on bytes, against
//   the byte one pixel to the left (one byte for depths below 8) and the byte
//   above, both 0 outside the image.
// Bytes before the signature are skipped. Only the IHDR data and the first 768
// bytes of PLTE are gathered; every other chunk is skipped as it streams by.
#include "pngdecode.h"
#include "../framework/byteorder.h"
#include "../framework/mem.h"

namespace kzv {

namespace {

enum : u8 {
    state_signature, state_head, state_body, state_skip, state_imagedata, state_drain, state_done,
};
enum : u8 { mode_bits = 10, mode_palette = 11, mode_rgb = 12, mode_rgba = 14 };

// A chunk type is four ASCII letters, compared here as one big-endian word.
constexpr u32 chunkname(char const* s)
{
    return (u32)(u8)s[0] << 24 | (u32)(u8)s[1] << 16 | (u32)(u8)s[2] << 8 | (u8)s[3];
}

// 137 (not ASCII), "PNG", CR LF, 26 (end of file for some systems), LF: a file
// that passed through a text conversion no longer matches.
const u8 SIGNATURE[8] = {137, 80, 78, 71, 13, 10, 26, 10};
const u32 CRCBYTES = 4;             // every chunk ends with the CRC-32 of its type and data

// Ancillary chunks that are skipped without a note.
const u32 quietchunks[] = {
    chunkname("bKGD"), chunkname("cHRM"), chunkname("gAMA"), chunkname("iCCP"), chunkname("iTXt"),
    chunkname("pHYs"), chunkname("sBIT"), chunkname("sRGB"), chunkname("tEXt"), chunkname("tIME"),
    chunkname("vpAg"), chunkname("zTXt"),
};

// The Paeth predictor: of left (a), above (b) and upper left (c), the one nearest
// to a + b - c; ties go to left, then above.
u8 paeth(int a, int b, int c)
{
    int p = a + b - c;
    int pa = p > a ? p - a : a - p;
    int pb = p > b ? p - b : b - p;
    int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc)
        return (u8)a;
    return (u8)(pb <= pc ? b : c);
}

} // namespace

bool pngdecoder::init(mem* p)
{
    memset0(this, sizeof *this);
    pool = p;
    line = -1;
    return true;
}

void pngdecoder::exit()
{
    if (inflate) {
        inflate->exit(true);
        pool->freemem(inflate);
    }
    if (rawprev)
        pool->freemem(rawprev);
    if (row)
        pool->freemem(row);
    inflate = nullptr;
    rawprev = rawcur = nullptr;
    row = nullptr;
}

int pngdecoder::fail(char const* why)
{
    if (!failed)
        message = why;
    failed = true;
    return png_error;
}

// Collects n bytes in `head`; false while they are not all there.
bool pngdecoder::gather(u32 n)
{
    u32 take = kzv_min((u32)(end - next), n - gathered);
    memcpy(head + gathered, next, take);
    next += take;
    gathered += take;
    if (gathered < n)
        return false;
    gathered = 0;
    return true;
}

int pngdecoder::run()
{
    for (;;) {
        if (failed)
            return png_error;
        int r = png_needinput;
        switch (state) {
        case state_signature: r = signature(); break;
        case state_head: r = chunkhead(); break;
        case state_body: r = chunkbody(); break;
        case state_skip: r = skipbytes(); break;
        case state_imagedata: r = imagedata(); break;
        case state_drain: r = deliverrow(); break;
        default: return png_end;
        }
        if (r != -1)
            return r;
    }
}

int pngdecoder::finish()
{
    if (failed)
        return png_error;
    if (state == state_done)
        return png_end;
    return fail("truncated");
}

bool pngdecoder::hassignature() const { return state != state_signature; }

// The signature has no proper prefix that is also its suffix, so a mismatch
// restarts the match at the current byte.
int pngdecoder::signature()
{
    while (next < end) {
        u8 c = *next++;
        if (c == SIGNATURE[signaturematched]) {
            signaturematched++;
        } else {
            signaturematched = c == SIGNATURE[0] ? 1 : 0;
        }
        if (signaturematched == 8) {
            state = state_head;
            return -1;
        }
    }
    return png_needinput;
}

int pngdecoder::chunkhead()
{
    // The chunk head: its data length, then its type, both big-endian words. A
    // length must stay below 2^31.
    if (!gather(8))
        return png_needinput;
    chunklength = get32be(head);
    chunktype = get32be(head + 4);
    if (chunklength > PNG_MAXCHUNK)
        return fail("chunk");
    if (chunktype == chunkname("IHDR")) {
        // Exactly one, before the image data: the row buffers are sized from it.
        if (haveheader || datastarted || chunklength != 13)
            return fail("ihdr");
        state = state_body;
        return -1;
    }
    if (chunktype == chunkname("PLTE")) {
        state = state_body;
        return -1;
    }
    if (chunktype == chunkname("IDAT")) {
        if (!haveheader)
            return fail("ihdr");
        state = state_imagedata;
        return datastarted ? -1 : startdata();
    }
    if (chunktype == chunkname("IEND")) {
        // IEND is empty and last: the image data must have come before it.
        if (!datastarted)
            return fail("data");
        inflate->close();
        sawend = true;
        state = state_drain;
        return -1;
    }
    state = state_skip;
    for (u32 quiet : quietchunks)
        if (chunktype == quiet)
            return -1;
    notedchunk = chunktype;
    return png_chunknote;
}

int pngdecoder::chunkbody()
{
    bool header = chunktype == chunkname("IHDR");
    u32 want = header ? 13 : kzv_min(chunklength, (u32)sizeof plte);
    u8* into = header ? head : plte;
    u32 take = kzv_min((u32)(end - next), want - gathered);
    memcpy(into + gathered, next, take);
    next += take;
    gathered += take;
    if (gathered < want)
        return png_needinput;
    gathered = 0;
    chunklength -= want;
    state = state_skip;
    if (header)
        return ihdr();
    // PLTE: entries of three bytes R, G, B, at most 256 of them (indexes are bytes);
    // entries it does not give stay black.
    u32 entries = want / 3;
    memset0(palette, sizeof palette);
    for (u32 i = 0; i < entries; i++)
        palette[i] = (u32)plte[3 * i] << 16 | (u32)plte[3 * i + 1] << 8 | plte[3 * i + 2];
    havepalette = true;
    return -1;
}

// The rest of the chunk's data and its CRC.
int pngdecoder::skipbytes()
{
    u64 left = (u64)chunklength + CRCBYTES - gathered;
    u64 have = (u64)(end - next);
    if (have < left) {
        next = end;
        gathered += (u32)have;
        return png_needinput;
    }
    next += left;
    gathered = 0;
    state = state_head;
    return -1;
}

// IHDR's 13 bytes: width and height (big-endian words), bit depth, colour type,
// compression method, filter method, interlace method (0 none, 1 Adam7). Colour
// types: 0 grey, 2 RGB, 3 palette, 4 grey with alpha, 6 RGBA; only method 0 exists
// for compression and filters.
int pngdecoder::ihdr()
{
    width = get32be(head);
    height = get32be(head + 4);
    depth = head[8];
    colortype = head[9];
    u8 interlace = head[12];
    if (width == 0 || height == 0 || width > PNG_MAXSIDE || height > PNG_MAXSIDE)
        return fail("ihdr");
    if (head[10] != 0 || head[11] != 0 || interlace > 1)
        return fail("ihdr");
    format = 888;
    // A row is its filter byte and the pixels packed at the bit depth: 1-bit rows
    // take (width + 7) / 8 bytes, 8-bit rows a byte a channel.
    if (depth == 1) {
        if (interlace)
            return fail("bits");
        mode = mode_bits;
        rowbytes = (width + 7) / 8 + 1;
        pixelbytes = 1;
    } else if (depth != 8) {
        return fail("bits");
    } else if (colortype == 3) {
        if (interlace)
            return fail("coltype");
        mode = mode_palette;
        rowbytes = width + 1;
        pixelbytes = 1;
    } else if (colortype == 2 || colortype == 6) {
        // No row decoder exists for the Adam7 passes.
        if (interlace)
            return fail("interlace");
        mode = colortype == 2 ? mode_rgb : mode_rgba;
        pixelbytes = colortype == 2 ? 3 : 4;
        format = colortype == 2 ? 888 : 8888;
        rowbytes = width * pixelbytes + 1;
    } else {
        return fail("coltype");
    }
    haveheader = true;
    return png_header;
}

int pngdecoder::startdata()
{
    bool palettemode = mode == mode_bits || mode == mode_palette;
    if (palettemode && !havepalette) {
        if (colortype == 3)
            return fail("plte");
        palette[0] = 0x000000;
        palette[1] = 0xffffff;
    }
    rawprev = (u8*)pool->getmem0(2 * (u64)rowbytes);
    row = (u32*)pool->getmem0((u64)width * 4);     // a row with a bad filter type keeps these zeros
    inflate = (decompressor*)pool->getmem(sizeof(decompressor));
    if (!rawprev || !row || !inflate)
        return fail("no memory");
    rawcur = rawprev + rowbytes;
    inflate->init(pool);
    inflate->restart(decompressor_raw);
    datastarted = true;
    zlibskip = 2;               // the zlib header's CMF and FLG open the first IDAT's data
    return -1;
}

// Image data into the inflater, a row out whenever one is whole.
int pngdecoder::imagedata()
{
    for (;;) {
        int r = deliverrow();
        if (r != png_needinput)
            return r;
        if (chunklength == 0) {
            gathered = 0;
            state = state_skip;
            return -1;
        }
        u32 take = kzv_min((u32)(end - next), chunklength);
        if (take == 0)
            return png_needinput;
        chunklength -= take;
        u32 skip = kzv_min((u32)zlibskip, take);
        zlibskip = (u8)(zlibskip - skip);
        // The chunks' data join into one stream: a chunk may end anywhere in it.
        if (take > skip && inflate->write(next + skip, take - skip) == 0)
            return fail("no memory");
        next += take;
    }
}

// One whole row from the inflater; at IEND, the end once no row is left. Bad data
// after the last row are ignored, so the outcome does not depend on how far the
// inflater had read ahead.
int pngdecoder::deliverrow()
{
    if (rowsdone < height) {
        u8* bytes = nullptr;
        sptr n = inflate->read(&bytes, rowbytes);
        if ((u32)n == rowbytes) {
            unfilterrow(bytes);
            rowsdone++;
            line++;
            return png_row;
        }
        if (n > 0)
            inflate->giveback((u32)n);
        if (inflate->hasflag(decompressor_error))
            return fail("inflate");
    }
    if (!sawend)
        return png_needinput;
    if (rowsdone < height)
        return fail("data");
    state = state_done;
    return png_end;
}

// Undoes the row's filter into rawcur and draws the pixels; a filter type above 4
// leaves the row as it was.
void pngdecoder::unfilterrow(u8 const* filtered)
{
    u32 type = filtered[0];
    u8 const* src = filtered + 1;
    u32 n = rowbytes - 1;
    u32 bpp = pixelbytes;
    u8* cur = rawcur;
    u8 const* prev = rawprev;
    rowfilter = (u8)type;
    if (type > 4)
        return;
    // Filters predict each byte from the unfiltered bytes left (one pixel back),
    // above and upper left, 0 outside the image; the row stores the difference,
    // modulo 256: 0 none, 1 left, 2 above, 3 the mean of left and above rounded
    // down, 4 Paeth.
    for (u32 i = 0; i < n; i++) {
        int left = i >= bpp ? cur[i - bpp] : 0;
        int above = prev[i];
        int upperleft = i >= bpp ? prev[i - bpp] : 0;
        u8 predicted = type == 0 ? 0 : type == 1 ? (u8)left : type == 2 ? (u8)above
                     : type == 3 ? (u8)((left + above) >> 1) : paeth(left, above, upperleft);
        cur[i] = (u8)(src[i] + predicted);
    }
    expand();
    rawcur = rawprev;
    rawprev = cur;
}

void pngdecoder::expand()
{
    u8 const* b = rawcur;
    switch (mode) {
    case mode_bits:
        // The leftmost pixel is the highest bit of its byte.
        for (u32 x = 0; x < width; x++)
            row[x] = palette[(b[x >> 3] >> (7 - (x & 7))) & 1];
        break;
    case mode_palette:
        for (u32 x = 0; x < width; x++)
            row[x] = palette[b[x]];
        break;
    case mode_rgb:
        // Channels come R, G, B (and A), in that order.
        for (u32 x = 0; x < width; x++, b += 3)
            row[x] = (u32)b[0] << 16 | (u32)b[1] << 8 | b[2];
        break;
    default:
        for (u32 x = 0; x < width; x++, b += 4)
            row[x] = (u32)b[3] << 24 | (u32)b[0] << 16 | (u32)b[1] << 8 | b[2];
        break;
    }
}

} // namespace kzv
