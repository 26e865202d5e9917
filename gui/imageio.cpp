// Scanline records into images, kzv files onto images, images into files through
// any codec. A record's row is read only after its payload is known to hold the
// whole row at the alignment of its pixel words. Saving pumps the file stream in a
// loop without sleeping: the source is this image in memory and never blocks, and
// a sleep would let other modules step in the middle of the save (one of them may
// be the module that is saving). The borrowed pins are given back before each call
// returns, so nothing keeps pointing at the local codec.
#include "imageio.h"
#include "kzvimage.h"
#include "scanline.h"
#include "../framework/data.h"
#include "../framework/filepacket.h"
#include "../framework/filestream.h"
#include "../framework/memprim.h"
#include "../framework/os.h"
#include "../framework/path.h"
#include "../framework/printf.h"
#include "../framework/str.h"

namespace kzv {

static constexpr u32 formatpair(u32 imageformat, u32 recordformat) { return imageformat * 10000 + recordformat; }

static u32 const blackwhite[2] = {0x000000, 0xFFFFFF};     // a 1-bit row that came without colours

// The record's payload holds `width` pixels of `format`, at the alignment its
// pixel words are read with.
static bool rowreadable(data const& rec, u32 format, u32 width)
{
    u32 bpp = pixel_bytes(format);
    u64 need = format == pixfmt_1 ? ((u64)width + 7) / 8 : (u64)width * bpp;
    if (need == 0)
        return true;
    if (!rec.payload || rec.size < need)
        return false;
    return format == pixfmt_1 || bpp <= 1 || (uptr)rec.payload % bpp == 0;
}

static u32 const* rowpalette(data const& rec)
{
    u32 const* palette = scanline_palette(rec);
    return palette ? palette : blackwhite;
}

// Pixels first..end of a 1-bit row (bit 7 of each byte first) in palette colours.
static void drawbits(image& im, s64 x, s32 y, u8 const* bits, u32 const* palette, s64 first, s64 end)
{
    for (s64 i = first; i < end; i++)
        im.setpixel((int)(x + i), y, palette[bits[i >> 3] >> (7 - (i & 7)) & 1]);
}

// The visible part of a row of `width` pixels placed at x.
static void visiblespan(image const& im, s64 x, u32 width, s64& first, s64& end)
{
    first = x < 0 ? -x : 0;
    end = kzv_min<s64>(width, (s64)im.width - x);
}

static void blend888from8888(u32* d, u32 const* s, u32 width)
{
    for (u32 i = 0; i < width; i++) {
        if (s[i] >= PIXEL_OPAQUEFROM)
            d[i] = s[i] & 0xFFFFFF;
        else if (s[i] >= PIXEL_VISIBLEFROM)
            d[i] = pixel_blend888(d[i], s[i], s[i] >> 24);
    }
}

// The old 555 pixel widened to 24 bits (low bits zero), blended as 888, packed again.
static void blend555from8888(u16* d, u32 const* s, u32 width)
{
    for (u32 i = 0; i < width; i++) {
        if (s[i] >= PIXEL_OPAQUEFROM)
            d[i] = (u16)pixel_pack555(s[i]);
        else if (s[i] >= PIXEL_VISIBLEFROM)
            d[i] = (u16)pixel_pack555(pixel_blend888(pixel_unpack555(d[i]), s[i], s[i] >> 24));
    }
}

static void blend565from8888(u16* d, u32 const* s, u32 width)
{
    for (u32 i = 0; i < width; i++)
        d[i] = (u16)pixel_over565(d[i], s[i]);
}

static void widen565(u32* d, u16 const* s, u32 width)
{
    for (u32 i = 0; i < width; i++)
        d[i] = pixel_unpack565(s[i]);
}

static void pack565(u16* d, u32 const* s, u32 width)
{
    for (u32 i = 0; i < width; i++)
        d[i] = (u16)pixel_pack565(s[i]);
}

static bool candraw(u32 imageformat, u32 recordformat)
{
    switch (formatpair(imageformat, recordformat)) {
    case formatpair(pixfmt_888, pixfmt_888):
    case formatpair(pixfmt_888, pixfmt_8888):
    case formatpair(pixfmt_888, pixfmt_565):
    case formatpair(pixfmt_888, pixfmt_1):
    case formatpair(pixfmt_565, pixfmt_888):
    case formatpair(pixfmt_565, pixfmt_8888):
    case formatpair(pixfmt_565, pixfmt_1):
    case formatpair(pixfmt_555, pixfmt_888):
    case formatpair(pixfmt_555, pixfmt_8888): return true;
    default: return false;
    }
}

void image::drawscanline(data* rec, int x, int y)
{
    if (!rec || y < 0 || y >= height)
        return;
    u32 w = scanline_width(*rec);
    // A row that starts left of the image is dropped like one that ends right of it.
    if (x < 0 || (s64)x + w > width) {
        eprintf("scanline oversize!! x=%d dxs=%d xs=%d\n", x, (int)w, width);
        return;
    }
    u32 fmt = scanline_format(*rec);
    if (!candraw((u32)format, fmt)) {
        eprintf("drawscanline fmt %u ", (u32)format);
        rec->printdata();
        return;
    }
    if (!rowreadable(*rec, fmt, w)) {
        eprintf("drawscanline short row ");
        rec->printdata();
        return;
    }
    void const* src = rec->payload;
    switch (formatpair((u32)format, fmt)) {
    case formatpair(pixfmt_888, pixfmt_888): memcpy(row32(y) + x, src, w * 4); return;
    case formatpair(pixfmt_888, pixfmt_8888): blend888from8888(row32(y) + x, (u32 const*)src, w); return;
    case formatpair(pixfmt_888, pixfmt_565): widen565(row32(y) + x, (u16 const*)src, w); return;
    case formatpair(pixfmt_555, pixfmt_8888): blend555from8888(row16(y) + x, (u32 const*)src, w); return;
    case formatpair(pixfmt_565, pixfmt_8888): blend565from8888(row16(y) + x, (u32 const*)src, w); return;
    case formatpair(pixfmt_565, pixfmt_888):
    case formatpair(pixfmt_555, pixfmt_888): {
        u32 const* s = (u32 const*)src;
        for (u32 i = 0; i < w; i++)
            setpixel(x + (int)i, y, s[i]);
        return;
    }
    default: drawbits(*this, x, y, (u8 const*)src, rowpalette(*rec), 0, w); return;
    }
}

// Rows land at the scanline origin plus their line; words are stored as they are.
void image::putscanline(data* rec)
{
    if (!rec)
        return;
    s64 row = (s64)originy + scanline_line(*rec);
    if (row < 0 || row >= height)
        return;
    s32 y = (s32)row;
    u32 fmt = scanline_format(*rec), w = scanline_width(*rec);
    bool fits = originx >= 0 && (s64)originx + w <= width;
    bool copies = (fmt == (u32)format && (fmt == pixfmt_565 || fmt == pixfmt_888 || fmt == pixfmt_8888)) ||
                  (fmt == pixfmt_8888 && format == pixfmt_888);
    bool packs = fmt == pixfmt_888 && format == pixfmt_565;
    bool bits = fmt == pixfmt_1 && format == pixfmt_888;
    if (!copies && !packs && !bits) {
        rec->printdata();
        return;
    }
    if (!rowreadable(*rec, fmt, w)) {
        eprintf("putscanline short row ");
        rec->printdata();
        return;
    }
    if (bits) {
        s64 first, end;
        visiblespan(*this, originx, w, first, end);
        drawbits(*this, originx, y, (u8 const*)rec->payload, rowpalette(*rec), first, end);
        return;
    }
    if (!fits)
        return;
    if (packs) {
        pack565(row16(y) + originx, (u32 const*)rec->payload, w);
        return;
    }
    u32 bpp = pixel_bytes(fmt);     // 2 or 4, the same for the image
    memcpy(pixels + ((uptr)y * stride + (uptr)originx) * bpp, rec->payload, w * bpp);
}

// ---- records and saves through a codec ----------------------------------------

sptr imageio_nextrecord(transform& codec, u32 max, data*& record)
{
    for (u32 idle = 0; idle < IMAGEIO_IDLELIMIT; idle++) {
        record = nullptr;
        sptr n = codec.call(stream_readrecord, (int)max, 0, &record);
        if (n > 0 && record)
            return n;
        if (codec.hasflag(tstate_error | tstate_end))
            return 0;
    }
    return 0;
}

bool imageio_header(transform& codec, data*& record)
{
    return imageio_nextrecord(codec, IMAGEIO_HEADERREAD, record) > 0 && record->type == type_scanline &&
           scanline_line(*record) < 0;
}

// The row reader back at its start, with no end or error left from a read before.
static void restartrows(image& im)
{
    im.rowstate = imagerows_start;
    im.nextrow = 0;
    im.rowcursor = nullptr;
    im.flags &= (u8)~(image_endofdata | image_error | image_recordready);
}

// 1 progress, 2 nothing now, 0 stop: the file pulls encoded bytes from the codec,
// which pulls rows from the image.
static bool pumpsave(file& target)
{
    u32 idle = 0;
    int r;
    while ((r = target.step(0)) != 0) {
        idle = r == 2 ? idle + 1 : 0;
        if (idle >= IMAGEIO_IDLELIMIT)
            return false;
    }
    target.checkwrite();
    return target.writecount == 0;
}

// A failed save leaves no partial file. Only a regular file that is no link is
// removed: a save onto a device or through a link must not delete either.
static void removepartial(char const* path)
{
    data info;
    info.payload = const_cast<char*>(path);
    info.size = strlen(path) + 1;           // no room behind the path: nothing is stored there
    if (os_fileinfo(info) && file_kind(info) == filekind_file && !(file_flags(info) & fileflag_link))
        os_unlink(path);
}

static imagesaveresult saveresult(bool pumped, transform& codec, file& target)
{
    if (!pumped || target.hasstate(streamstate_error))
        return imagesave_unwritten;
    if (codec.hasflag(tstate_error) || !codec.hasflag(tstate_end))
        return imagesave_refused;
    return imagesave_saved;
}

// The save into a file just made at `path`, which the call closes.
static imagesaveresult savetofile(image& im, transform& codec, file& target, char const* path)
{
    pin* previous = im.out.peer;
    restartrows(im);
    connect(im.out, codec.in);
    connect(codec.out, target.in);
    imagesaveresult result = saveresult(pumpsave(target), codec, target);
    connect(codec.out, nullptr);
    connect(target.in, nullptr);
    connect(codec.in, nullptr);
    im.out.peer = previous;                 // the save only borrowed the pin
    restartrows(im);
    target.exit(false);
    if (result != imagesave_saved)
        removepartial(path);
    return result;
}

static bool hasrows(image& im) { return im.haspixels() && im.width != 0 && im.height != 0; }

imagesaveresult imageio_save(image& im, transform& codec, char const* path)
{
    if (!path || !hasrows(im))
        return imagesave_noimage;           // an image without rows hands out no record to encode
    file target;
    target.init(im.pool);
    if (!target.create(path))
        return imagesave_nofile;
    return savetofile(im, codec, target, path);
}

imagesaveresult imageio_savenew(image& im, transform& codec, char const* path, bool& taken)
{
    taken = false;
    if (!path || !hasrows(im))
        return imagesave_noimage;
    file target;
    target.init(im.pool);
    if (!target.createnew(path, taken))
        return imagesave_nofile;
    return savetofile(im, codec, target, path);
}

// ---- kzv files ----------------------------------------------------------------

// The header record first, then every row at y + its line.
static bool drawrows(image& im, kzvimage& codec, int x, int y)
{
    data* rec = nullptr;
    if (!imageio_header(codec, rec))
        return false;
    while (imageio_nextrecord(codec, 0, rec) > 0) {
        s64 row = (s64)y + scanline_line(*rec);
        if (row >= 0 && row < im.height)
            im.drawscanline(rec, x, (int)row);
    }
    return !codec.hasflag(tstate_error) && codec.hasflag(tstate_end);
}

bool image::drawimage(int x, int y, char const* path)
{
    if (!path)
        path = "";
    char extension[FILEEXTENSION_CAPACITY];
    getfileextension(path, extension);
    if (extension[0] && !streq(extension, "kzv")) {
        eprintf("error drawimage %s\n", path);
        return false;
    }
    file source;
    source.init(pool);
    if (!source.open(path)) {
        eprintf("drawimage not found: %s\n", path);
        return false;
    }
    kzvimage codec(pool);
    connect(source.out, codec.in);
    bool drawn = drawrows(*this, codec, x, y) && !source.hasstate(streamstate_error);
    connect(source.out, nullptr);
    connect(codec.in, nullptr);
    return drawn;
}

bool image::savekzv(char const* path)
{
    kzvimage codec(pool);
    return imageio_save(*this, codec, path) == imagesave_saved;
}

bool image::savekzvnew(char const* path, bool& taken)
{
    kzvimage codec(pool);
    return imageio_savenew(*this, codec, path, taken) == imagesave_saved;
}

} // namespace kzv
