// BMP format facts: a 14-byte file header ("BM", file size, two reserved words,
// offset of the pixel data), an information header whose first word is its own
// size (40 or more; 12 is the old OS/2 form), an optional palette of 4-byte
// entries B, G, R, 0, then the rows. Each row is padded to a multiple of 4 bytes;
// a positive height means the rows run bottom-up. Pixels: 1, 4 and 8 bits are
// palette indexes (the leftmost pixel in the highest bits), 24 bits are B, G, R,
// 32 bits B, G, R and a fourth byte. All numbers are little-endian; width and
// height are signed.
#include "bmp.h"
#include "../framework/byteorder.h"
#include "../framework/mem.h"
#include "../framework/printf.h"

namespace kzv {

namespace {

enum : u8 { state_header, state_skipheader, state_palette, state_skipdata, state_rows, state_done };
enum : u32 { compression_none = 0, compression_bitfields = 3 };

void formatmessage(char* out, u32 capacity, char const* text, u32 a)
{
    printsink sink = printsink_memory(out, capacity);
    printto(sink, text, a);
}

} // namespace

void bmpreader::init(mem* p)
{
    memset0(this, sizeof *this);
    pool = p;
    line = -1;
}

void bmpreader::exit()
{
    if (stored)
        pool->freemem(stored);
    if (row)
        pool->freemem(row);
    stored = nullptr;
    row = nullptr;
}

int bmpreader::fail(char const* text, u32 a)
{
    if (!failed)
        formatmessage(message, sizeof message, text, a);
    failed = true;
    return bmp_error;
}

int bmpreader::run()
{
    for (;;) {
        if (failed)
            return bmp_error;
        switch (state) {
        case state_header: {
            // Bytes before a header are skipped one at a time. The 54 bytes are the
            // file header and the 40 that every information header starts with; a
            // header starts "BM" and its first reserved word is 0.
            while (gathered < sizeof head && next < end)
                head[gathered++] = *next++;
            if (gathered < sizeof head)
                return bmp_needinput;
            if (head[0] != 'B' || head[1] != 'M' || get16le(head + 6) != 0) {
                memmove(head, head + 1, sizeof head - 1);
                gathered--;
                continue;
            }
            return header();
        }
        case state_skipheader:
            if (!skipbytes())
                return bmp_needinput;
            state = state_palette;
            break;
        case state_palette: {
            int r = palettebytes();
            if (r != -1)
                return r;
            break;
        }
        case state_skipdata:
            if (!skipbytes())
                return bmp_needinput;
            state = rowsleft ? state_rows : state_done;
            break;
        case state_rows:
            return rows();
        default:
            return bmp_end;
        }
    }
}

int bmpreader::finish()
{
    if (failed)
        return bmp_error;
    return state == state_done ? bmp_end : fail("truncated");
}

bool bmpreader::hasheader() const { return state != state_header; }

bool bmpreader::skipbytes()
{
    u64 take = kzv_min(skip, (u64)(end - next));
    next += take;
    skip -= take;
    position += (u32)take;
    return skip == 0;
}

// Offsets in the file header: 2 file size, 6 and 8 reserved, 10 the pixel data's
// offset. In the information header (from 14): 14 its size, 18 width, 22 height
// (both signed), 26 planes, 28 bits per pixel, 30 compression, 34 the pixel data's
// size, 38 and 42 the resolution, 46 colours used (0: all that the depth can
// index), 50 colours important.
int bmpreader::header()
{
    u32 offset = get32le(head + 10);
    u32 infosize = get32le(head + 14);
    s32 w = (s32)get32le(head + 18);
    s32 h = (s32)get32le(head + 22);
    bpp = get16le(head + 28);
    u32 compression = get32le(head + 30);
    colors = get32le(head + 46);
    if (infosize == 12)
        return fail("old bmp format");
    if (infosize < 40 || infosize > BMP_MAXOFFSET)
        return fail("header size %u", infosize);
    if (offset > BMP_MAXOFFSET)
        return fail("dataoffset %u", offset);
    if (w < 0 || w > (s32)BMP_MAXSIDE)
        return fail("xs %d", (u32)w);
    s64 magnitude = h < 0 ? -(s64)h : (s64)h;
    if (magnitude > BMP_MAXSIDE)
        return fail("ys %d", (u32)h);
    if (bpp < 1 || bpp > 32)
        return fail("bpp %u", bpp);
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return fail("unknown bpp %u", bpp);
    // RLE, JPEG, PNG and 16-bit fields would decode as garbage.
    if (compression != compression_none && !(compression == compression_bitfields && bpp == 32))
        return fail("compression %u", compression);
    // The palette follows the information header, 4 bytes an entry.
    if (bpp <= 8) {
        if (colors > 256)
            return fail("colors %u", colors);
        if (colors == 0)
            colors = 1u << bpp;
    }
    u64 paletteend = 14 + (u64)infosize + (u64)colors * 4;
    if (paletteend > BMP_MAXOFFSET)
        return fail("colors %u", colors);
    storedcolors = kzv_min(colors, 256u);
    width = (u32)w;
    height = (u32)magnitude;
    bottomup = h >= 0;          // a negative height stores the top row first
    line = bottomup ? (s32)height : -1;
    rowbytes = (u32)(((u64)width * bpp + 7) / 8);
    stride = (rowbytes + 3) & ~3u;  // a stored row is padded to a multiple of 4 bytes
    rowsleft = height;
    stored = (u8*)pool->getmem(stride ? stride : 1);
    row = (u32*)pool->getmem0(width ? (u64)width * 4 : 4);
    if (!stored || !row)
        return fail("no memory");
    memset0(palette, sizeof palette);
    position = 54;
    skip = infosize - 40;
    state = state_skipheader;
    return bmp_header;
}

int bmpreader::palettebytes()
{
    u32 want = colors * 4;
    while (gathered - sizeof head < want && next < end) {
        u32 index = (gathered - (u32)sizeof head) / 4;
        u32 part = (gathered - (u32)sizeof head) % 4;
        u8 c = *next++;
        gathered++;
        position++;
        // An entry is B, G, R and an unused byte: little-endian 0x00RRGGBB.
        if (index < storedcolors && part < 3)
            palette[index] |= (u32)c << (8 * part);
    }
    if (gathered - sizeof head < want)
        return bmp_needinput;
    // The pixel data start at the file header's offset, which may leave a gap
    // after the palette.
    u32 offset = get32le(head + 10);
    skip = offset > position ? offset - position : 0;
    state = state_skipdata;
    return -1;
}

int bmpreader::rows()
{
    u32 got = gathered - (u32)sizeof head - colors * 4;
    u32 take = kzv_min((u32)(end - next), stride - got);
    memcpy(stored + got, next, take);
    next += take;
    gathered += take;
    if (got + take < stride)
        return bmp_needinput;
    gathered -= stride;
    decode();
    line = bottomup ? line - 1 : line + 1;
    if (--rowsleft == 0)
        state = state_done;
    return bmp_row;
}

// Indexes of 1 and 4 bits are packed leftmost pixel in the highest bits; 24-bit
// pixels are B, G, R; 32-bit ones B, G, R and a byte that is not drawn.
void bmpreader::decode()
{
    u8 const* b = stored;
    for (u32 x = 0; x < width; x++) {
        switch (bpp) {
        case 1: row[x] = palette[(b[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: row[x] = palette[(b[x >> 1] >> ((x & 1) ? 0 : 4)) & 15]; break;
        case 8: row[x] = palette[b[x]]; break;
        case 24: row[x] = (u32)b[3 * x + 2] << 16 | (u32)b[3 * x + 1] << 8 | b[3 * x]; break;
        default: row[x] = (u32)b[4 * x + 2] << 16 | (u32)b[4 * x + 1] << 8 | b[4 * x]; break;
        }
    }
}

bool bmpwriter::start(u32 w, u32 h, bool bottomup, u32 fmt, u32 const* palette, deflatesink& out)
{
    width = w;
    height = h;
    format = fmt;
    rows = 0;
    u32 bits = fmt == 1 ? 1 : fmt == 8 ? 8 : 24;
    if (fmt != 1 && fmt != 8 && fmt != 565 && fmt != 888 && fmt != 8888) {
        formatmessage(message, sizeof message, "format %d", fmt);
        return false;
    }
    if (w > BMP_MAXSIDE || h > BMP_MAXSIDE) {
        formatmessage(message, sizeof message, "size %u", w > BMP_MAXSIDE ? w : h);
        return false;
    }
    if ((fmt == 1 || fmt == 8) && !palette) {
        formatmessage(message, sizeof message, "no palette", 0);
        return false;
    }
    // Rows padded to 4 bytes; the pixel data after the 54 header bytes and the
    // palette of 4-byte entries.
    stride = (u32)((((u64)w * bits + 7) / 8 + 3) & ~(u64)3);
    u32 entries = fmt == 1 ? 2 : fmt == 8 ? 256 : 0;
    u32 offset = 54 + entries * 4;
    u8* at = out.reserve(offset);
    if (!at) {
        formatmessage(message, sizeof message, "no memory", 0);
        return false;
    }
    // The file header, then a 40-byte information header with compression 0 and
    // no resolution; the fields not written stay 0.
    memset0(at, offset);
    at[0] = 'B', at[1] = 'M';
    put32le(at + 2, stride * h + offset);
    put32le(at + 10, offset);
    put32le(at + 14, 40);
    put32le(at + 18, w);
    put32le(at + 22, bottomup ? h : (u32)-(s32)h);     // its sign: the order the rows come in
    put16le(at + 26, 1);                                // one plane
    put16le(at + 28, bits);
    put32le(at + 34, stride * h);
    put32le(at + 46, entries);
    for (u32 i = 0; i < entries; i++) {
        u8* e = at + 54 + 4 * i;
        e[0] = (u8)palette[i], e[1] = (u8)(palette[i] >> 8), e[2] = (u8)(palette[i] >> 16);
    }
    out.commit(offset);
    return true;
}

bool bmpwriter::writerow(void const* pixels, deflatesink& out)
{
    u8* at = rows < height ? out.reserve(stride) : nullptr;
    if (!at) {
        formatmessage(message, sizeof message, rows < height ? "no memory" : "rows", 0);
        return false;
    }
    memset0(at, stride);        // the padding bytes too
    if (format == 1 || format == 8) {
        memcpy(at, pixels, format == 1 ? (width + 7) / 8 : width);
    } else {
        // 24-bit pixels, B, G, R; 565 keeps the top five bits of each channel.
        for (u32 x = 0; x < width; x++) {
            u8* p = at + 3 * x;
            if (format == 565) {
                u32 v = ((u16 const*)pixels)[x];
                p[0] = (u8)((v << 3) & 0xf8), p[1] = (u8)((v >> 3) & 0xf8), p[2] = (u8)((v >> 8) & 0xf8);
            } else {
                u32 v = ((u32 const*)pixels)[x];
                p[0] = (u8)v, p[1] = (u8)(v >> 8), p[2] = (u8)(v >> 16);
            }
        }
    }
    out.commit(stride);
    rows++;
    return true;
}

bool bmpwriter::finish()
{
    if (rows == height)
        return true;
    formatmessage(message, sizeof message, "rows", 0);
    return false;
}

} // namespace kzv
