// The image record: allocation and wrapping, pixel access, fill, copies between
// formats, in-memory kzv images, and the row reader of the module side.
// Invariants: without image_pixelspresent, width and height are 0 and pixels is
// null, so every clipped access falls through; an owned block holds rowlength x
// height pixel bytes (rounded up) with the palette behind them; a wrapped 332
// image reads the shared constant palette.
#include "image.h"
#include "kzvcodec.h"
#include "scanline.h"
#include "../framework/mem.h"
#include "../framework/streamcodes.h"
#include "../framework/sysprocess.h"
#include "../framework/memprim.h"
#include "../framework/printf.h"

namespace kzv {

static s32 serialcounter;       // one counter for the whole process

s32 image::nextserial() { return ++serialcounter; }

void image::init(mem* p)
{
    memset0(this, sizeof(image));
    type = type_scanline;
    callback = image_concb;
    pool = p ? p : (process ? &process->pool : nullptr);
    name = "image";
    in.owner = this;
    out.owner = this;
    serial = nextserial();
}

void image::exit(bool keep)
{
    if (state & 1) {
        process->stopthread(this);
        state &= (u8)~1;
    }
    mexit();
    if (!keep)
        init(pool);
}

void image::mexit()
{
    if (ownedblock)
        pool->freemem(ownedblock);
    if (ownership == image_owned && pixels)
        pool->freemem(pixels);
    ownedblock = nullptr;
    pixels = nullptr;
    palette = nullptr;
    ownership = 0;
    width = height = 0;
    blocksize = 0;
    rowlength = stride = 0;
    flags &= (u8)~image_pixelspresent;
}

// Re-initialises the record; the connections of both pins survive.
void image::reset()
{
    module_resetkeepingpeers(*this);
}

bool image::sizefits(unsigned xs, unsigned ys) const
{
    return pool && xs <= IMAGE_MAXSIDE && ys <= IMAGE_MAXSIDE;
}

static u64 roundup(u64 n, u64 multiple) { return (n + multiple - 1) & ~(multiple - 1); }

// Takes the block for an owned image and fills the record; nothing changes
// when the pool cannot serve it.
void image::takeblock(unsigned xs, unsigned ys, unsigned fmt, u64 pixelbytes, u64 blockbytes)
{
    if (blockbytes > IMAGE_MAXBYTES)
        return;
    u8* block = (u8*)pool->getmem(blockbytes ? blockbytes : 16);
    if (!block)
        return;
    u32* tail = (u32*)(void*)(block + pixelbytes);   // pixelbytes is a multiple of 16
    if (fmt == pixfmt_1)
        pixel_fillpalette1(tail);
    else if (fmt == pixfmt_8)
        pixel_fillgreyramp(tail);
    else if (fmt == pixfmt_332)
        pixel_fillpalette332(tail);
    if (fmt == pixfmt_1 || fmt == pixfmt_8 || fmt == pixfmt_332)
        palette = tail;
    pixels = block;
    width = (s32)xs;
    height = (s32)ys;
    format = (s32)fmt;
    blocksize = (s32)blockbytes;
    ownership = image_owned;
    flags |= image_pixelspresent;
}

bool image::open(unsigned xs, unsigned ys, unsigned fmt)
{
    reset();
    if (!sizefits(xs, ys))
        return false;
    u64 area = (u64)xs * ys;                    // at most 2^30
    switch (fmt) {
    case pixfmt_1: {
        u32 r = (xs + 7) / 8;
        u64 p = roundup((u64)ys * r, 16);
        rowlength = stride = r;
        takeblock(xs, ys, fmt, p, p + 8);
        break;
    }
    case pixfmt_8:
    case pixfmt_332: {
        u64 p = roundup(area, 16);
        rowlength = stride = xs;
        takeblock(xs, ys, fmt, p, p + 1024);
        break;
    }
    case pixfmt_555:
    case pixfmt_565:
        rowlength = xs * 2;
        stride = xs;
        takeblock(xs, ys, fmt, 0, roundup(area * 2, 32));
        break;
    case pixfmt_888:
    case pixfmt_8888:
        rowlength = xs * 4;
        stride = xs;
        takeblock(xs, ys, fmt, 0, roundup(area * 4, 64));
        break;
    default:
        break;
    }
    if (haspixels())
        return true;
    rowlength = stride = 0;
    return false;
}

bool image::open(void* buf, unsigned xs, unsigned ys, unsigned fmt, unsigned rowbytes)
{
    reset();
    u32 bpp = (fmt == pixfmt_8) ? 0 : pixel_bytes(fmt);   // formats 1 and 8 are never wrapped
    if (!buf || bpp == 0 || !sizefits(xs, ys))
        return false;
    // Pixels are read as 16- or 32-bit words, which ARMv5 cannot load unaligned.
    if ((uptr)buf % bpp != 0)
        return false;
    u64 rowpixelbytes = (u64)xs * bpp;
    u64 rb = rowbytes ? rowbytes : rowpixelbytes;
    u64 total = rb * ys;
    if (rb < rowpixelbytes || total > IMAGE_MAXBYTES)
        return false;               // rows that overlap, or more than any image we keep
    if (rb % bpp != 0)
        return false;               // every row must start on a whole pixel, aligned as the first
    pixels = (u8*)buf;
    palette = (fmt == pixfmt_332) ? pixel_palette332.entry : nullptr;
    width = (s32)xs;
    height = (s32)ys;
    format = (s32)fmt;
    blocksize = (s32)total;
    rowlength = (u32)rowpixelbytes;
    stride = (u32)(rb / bpp);
    ownership = image_wrapped;
    flags |= image_pixelspresent;
    return true;
}

// ---- pixel access ----------------------------------------------------------

static inline bool outside(const image& im, int x, int y)
{
    return (unsigned)x >= (unsigned)im.width || (unsigned)y >= (unsigned)im.height;
}

void image::setpixel(int x, int y, unsigned c)
{
    if (outside(*this, x, y))
        return;
    switch (format) {
    case pixfmt_888:
    case pixfmt_8888: row32(y)[x] = c; return;
    case pixfmt_565:  row16(y)[x] = (u16)pixel_pack565(c); return;
    case pixfmt_555:  row16(y)[x] = (u16)pixel_pack555(c); return;
    case pixfmt_332:  row8(y)[x] = (u8)pixel_pack332(c); return;
    case pixfmt_8:    row8(y)[x] = (u8)c; return;
    case pixfmt_1: {
        u8* b = row8(y) + (x >> 3);
        u8 bit = (u8)(0x80 >> (x & 7));
        *b = c ? (u8)(*b | bit) : (u8)(*b & ~bit);
        return;
    }
    default: return;
    }
}

unsigned image::getpixel(int x, int y) const
{
    if (outside(*this, x, y))
        return 0;
    switch (format) {
    case pixfmt_888:
    case pixfmt_8888: return row32(y)[x];
    case pixfmt_565:
    case pixfmt_555:  return row16(y)[x];
    case pixfmt_332:
    case pixfmt_8:    return row8(y)[x];
    case pixfmt_1:    return (row8(y)[x >> 3] >> (7 - (x & 7))) & 1;
    default:          return 0;
    }
}

unsigned image::getpixel_truecolor(int x, int y) const
{
    if (outside(*this, x, y))
        return 0;
    unsigned v = getpixel(x, y);
    switch (format) {
    case pixfmt_332: return palette[v];
    case pixfmt_555: return pixel_unpack555(v);
    case pixfmt_565: return pixel_unpack565(v);
    default:         return v;
    }
}

void image::setpixel_fixedalpha(int x, int y, unsigned c, unsigned a)
{
    if (outside(*this, x, y))
        return;
    if (a > 255)
        a = 255;
    switch (format) {
    case pixfmt_888: {
        u32* p = row32(y) + x;
        *p = pixel_blend888(*p, c, a);
        return;
    }
    case pixfmt_8888: row32(y)[x] = a << 24 | (c & 0xFFFFFF); return;
    case pixfmt_565: {
        u16* p = row16(y) + x;
        *p = (u16)pixel_blend565(*p, pixel_pack565(c), a);
        return;
    }
    case pixfmt_555: {
        u16* p = row16(y) + x;
        *p = (u16)pixel_blend555(*p, pixel_pack555(c), a);
        return;
    }
    case pixfmt_332: {
        u8* p = row8(y) + x;
        *p = (u8)pixel_blend332(*p, pixel_pack332(c), a);
        return;
    }
    default: return;                // formats 1 and 8 do not blend
    }
}

// ---- fill ------------------------------------------------------------------

static u32 stridebytes(const image& im)
{
    return im.format == pixfmt_1 ? im.stride : im.stride * pixel_bytes((u32)im.format);
}

// Zeroes the pixels row by row over the stride: a wrapped image may be a window
// inside a larger buffer, whose other pixels are not ours to clear.
void image::zerorows()
{
    u32 step = stridebytes(*this);
    if (step == rowlength) {
        memset0(pixels, (u64)rowlength * (u32)height);
        return;
    }
    for (s32 y = 0; y < height; y++)
        memset0(pixels + (uptr)y * step, rowlength);
}

void image::clear(unsigned c)
{
    if (!haspixels())
        return;
    if (c == 0) {
        zerorows();
        return;
    }
    for (s32 y = 0; y < height; y++) {
        switch (format) {
        case pixfmt_1:   memset(row8(y), 0xFF, rowlength); break;
        case pixfmt_332: memset(row8(y), (int)pixel_pack332(c), (u32)width); break;
        case pixfmt_555:
        case pixfmt_565: {
            u16 v = (u16)(format == pixfmt_565 ? pixel_pack565(c) : pixel_pack555(c));
            u16* r = row16(y);
            for (s32 x = 0; x < width; x++)
                r[x] = v;
            break;
        }
        case pixfmt_888:
        case pixfmt_8888: {
            u32* r = row32(y);
            for (s32 x = 0; x < width; x++)
                r[x] = c;
            break;
        }
        default: return;            // format 8 keeps its pixels
        }
    }
}

// ---- copy ------------------------------------------------------------------

// Which message an unsupported destination format reports.
static int copymessage(s32 dst)
{
    switch (dst) {
    case pixfmt_332: return 2;
    case pixfmt_555: return 3;
    case pixfmt_565: return 4;
    case pixfmt_888: return 5;
    default:         return 6;
    }
}

static bool canconvert(s32 dst, s32 src)
{
    bool fromtruecolor = src == pixfmt_888 || src == pixfmt_8888;
    switch (dst) {
    case pixfmt_332:
    case pixfmt_555:
    case pixfmt_565: return fromtruecolor;
    case pixfmt_888: return src == pixfmt_8888 || src == pixfmt_8;
    default:         return false;
    }
}

// Cuts one axis of the rectangle to both images: d is the destination start,
// s the source start, n the length; false when nothing is left.
static bool clipaxis(s64& d, s64& s, s64& n, s64 dlimit, s64 slimit)
{
    if (d < 0) {
        n += d;
        s -= d;
        d = 0;
    }
    if (s < 0) {
        n += s;
        d -= s;
        s = 0;
    }
    if (n > dlimit - d)
        n = dlimit - d;
    if (n > slimit - s)
        n = slimit - s;
    return n > 0;
}

void image::copy(image* src, int dx, int dy, int w, int h, int sx, int sy)
{
    if (!src || !haspixels() || !src->haspixels())
        return;
    if (format == pixfmt_8 && src->format == pixfmt_8) {
        eprintf("1 img cpy! %d %d\n", format, src->format);
        return;
    }
    bool same = format == src->format;
    if (!same && !canconvert(format, src->format)) {
        eprintf("%d img cpy! %d %d\n", copymessage(format), format, src->format);
        return;
    }
    s64 x = dx, y = dy, u = sx, v = sy;
    s64 n = w ? w : src->width;
    s64 m = h ? h : src->height;
    if (!clipaxis(x, u, n, width, src->width) || !clipaxis(y, v, m, height, src->height))
        return;
    if (!same)
        copyconvert(src, (s32)x, (s32)y, (s32)n, (s32)m, (s32)u, (s32)v);
    else if (format == pixfmt_1)
        copybits(src, (s32)x, (s32)y, (s32)n, (s32)m, (s32)u, (s32)v);
    else
        copyrows(src, (s32)x, (s32)y, (s32)n, (s32)m, (s32)u, (s32)v);
}

// Same format, one block copy a row. Within one image the rows go bottom-up
// when the destination lies lower, and each row moves with memmove.
void image::copyrows(image* src, s32 dx, s32 dy, s32 w, s32 h, s32 sx, s32 sy)
{
    u32 bpp = pixel_bytes((u32)format);
    u32 length = (u32)w * bpp;      // at most IMAGE_MAXSIDE x 4
    bool self = src == this;
    bool upward = self && dy > sy;
    for (s32 i = 0; i < h; i++) {
        s32 r = upward ? h - 1 - i : i;
        u8* to = pixels + ((uptr)(dy + r) * stride + (u32)dx) * bpp;
        u8 const* from = src->pixels + ((uptr)(sy + r) * src->stride + (u32)sx) * bpp;
        if (self)
            memmove(to, from, length);
        else
            memcpy(to, from, length);
    }
}

static inline u32 getbit(const image& im, s32 x, s32 y) { return (im.row8(y)[x >> 3] >> (7 - (x & 7))) & 1; }

static inline void putbit(image& im, s32 x, s32 y, u32 v)
{
    u8* b = im.row8(y) + (x >> 3);
    u8 bit = (u8)(0x80 >> (x & 7));
    *b = v ? (u8)(*b | bit) : (u8)(*b & ~bit);
}

// Format 1, pixel by pixel; within one image the walk runs against the
// direction of the move so that no source pixel is overwritten before it is read.
void image::copybits(image* src, s32 dx, s32 dy, s32 w, s32 h, s32 sx, s32 sy)
{
    bool backward = src == this && (dy > sy || (dy == sy && dx > sx));
    for (s32 i = 0; i < h; i++) {
        s32 r = backward ? h - 1 - i : i;
        for (s32 j = 0; j < w; j++) {
            s32 c = backward ? w - 1 - j : j;
            putbit(*this, dx + c, dy + r, getbit(*src, sx + c, sy + r));
        }
    }
}

// Different formats: the pairs that canconvert allows, one raw row at a time.
void image::copyconvert(image* src, s32 dx, s32 dy, s32 w, s32 h, s32 sx, s32 sy)
{
    bool opaque = src->format == pixfmt_888;
    for (s32 i = 0; i < h; i++) {
        if (src->format == pixfmt_8) {      // only into 888: through the source palette
            u32* d = row32(dy + i) + dx;
            u8 const* b = src->row8(sy + i) + sx;
            for (s32 j = 0; j < w; j++)
                d[j] = src->palette[b[j]];
            continue;
        }
        u32 const* s = src->row32(sy + i) + sx;
        switch (format) {
        case pixfmt_332: {
            u8* d = row8(dy + i) + dx;
            for (s32 j = 0; j < w; j++)
                d[j] = (u8)(opaque ? pixel_pack332(s[j]) : pixel_over332(d[j], s[j]));
            break;
        }
        case pixfmt_555: {
            u16* d = row16(dy + i) + dx;
            for (s32 j = 0; j < w; j++)
                d[j] = (u16)(opaque ? pixel_pack555(s[j]) : pixel_over555(d[j], s[j]));
            break;
        }
        case pixfmt_565: {
            u16* d = row16(dy + i) + dx;
            for (s32 j = 0; j < w; j++)
                d[j] = (u16)(opaque ? pixel_pack565(s[j]) : pixel_over565(d[j], s[j]));
            break;
        }
        case pixfmt_888: {                  // from 8888
            u32* d = row32(dy + i) + dx;
            for (s32 j = 0; j < w; j++)
                d[j] = pixel_over888(d[j], s[j]);
            break;
        }
        default: return;
        }
    }
}

// ---- kzv images in memory --------------------------------------------------


void image::copyres(u8 const* res, u32 length, int x, int y)
{
    if (!res || length < KZV_HEADERSIZE || memcmp(res, "kzv ", 4) != 0) {
        eprintf("img copyres no kzv header\n");
        return;
    }
    if (res[6] != kzv_rgba) {
        eprintf("img copyres t=%u\n", res[6]);
        return;
    }
    copyres_57(res, length, x, y);
}

// Pixels are little-endian 0xAARRGGBB words read byte by byte (the data need not
// be aligned). Alpha 253 and above is drawn opaque, 6 to 252 blended, the rest skipped.
// Only the part that lands on the image is walked, so no position overflows.
void image::copyres_57(u8 const* res, u32 length, int x, int y)
{
    u32 w = get16le(res + 8), h = get16le(res + 10);
    if (KZV_HEADERSIZE + (u64)w * h * 4 > length) {
        eprintf("img copyres short %u\n", length);
        return;
    }
    s64 firstcol = kzv_max<s64>(0, -(s64)x), endcol = kzv_min<s64>(w, (s64)width - x);
    s64 firstrow = kzv_max<s64>(0, -(s64)y), endrow = kzv_min<s64>(h, (s64)height - y);
    for (s64 i = firstrow; i < endrow; i++) {
        u8 const* p = res + KZV_HEADERSIZE + ((u64)i * w + (u64)firstcol) * 4;
        for (s64 j = firstcol; j < endcol; j++, p += 4) {
            u32 c = get32le(p);
            int px = (int)(x + j), py = (int)(y + i);
            if (c > 0xFCFFFFFF)
                setpixel(px, py, c & 0xFFFFFF);
            else if (c > 0x05FFFFFF)
                setpixel_fixedalpha(px, py, c & 0xFFFFFF, c >> 24);
        }
    }
}

// ---- the module side -------------------------------------------------------

static u32 rowstatefor(s32 format)
{
    switch (format) {
    case pixfmt_1:    return 3;
    case pixfmt_8:
    case pixfmt_332:  return 4;
    case pixfmt_555:  return 5;
    case pixfmt_565:  return 6;
    case pixfmt_888:  return 7;
    case pixfmt_8888: return 8;
    default:          return 0;
    }
}

int image::read(data** out, unsigned max)
{
    if (out)
        *out = this;
    if (!haspixels())
        return 0;
    if (rowstate == imagerows_start) {
        u32 next = rowstatefor(format);
        if (!next) {
            flags |= image_error;
            return 0;
        }
        memset0(&kind, sizeof(kind));
        type = type_scanline;
        scanline_setformat(*this, (u32)format);
        scanline_setwidth(*this, (u32)width);
        scanline_setheight(*this, (u32)height);
        scanline_setpalette(*this, palette);
        size = rowlength;
        nextrow = 0;
        rowcursor = pixels;
        flags |= image_recordready;
        rowstate = height > 0 ? next : (u32)imagerows_end;
        return 0;
    }
    if (rowstate == imagerows_end) {
        flags |= image_endofdata;
        rowstate = imagerows_start;
        return 0;
    }
    scanline_setline(*this, (s32)nextrow);
    payload = rowcursor;
    rowcursor += stridebytes(*this);
    if (++nextrow >= (u32)height)
        rowstate = imagerows_end;
    return 1;
}

sptr image_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    image* im = (image*)self;
    if (cmd == stream_readrecord)
        return im->read((data**)p, (unsigned)a);
    // Every other code, text written to an image among them, has its default reply or 0.
    sptr reply = 0;
    module_defaultreply(cmd, p, reply);
    return reply;
}

} // namespace kzv
