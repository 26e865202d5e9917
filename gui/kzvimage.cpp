// The kzv codec module. Decoding: the header is pulled with a minimum of 32 bytes
// (a short first read waits), then each row is decoded from as many pulls as it
// takes, the bytes after a finished row going back to the source; the stream must
// hold `height` rows. Encoding: the first scanline record fixes format, width and
// height; each row is encoded into room reserved for its worst case and the
// unused rest returned; the source must deliver exactly `height` rows.
#include "kzvimage.h"
#include "pixelformat.h"
#include "../framework/mem.h"
#include "../framework/printf.h"

namespace kzv {

static bool kzvimage_step(transform* t) { return static_cast<kzvimage*>(t)->proc(); }
static void kzvimage_mexit(transform* t) { static_cast<kzvimage*>(t)->mexit(); }
static transformcodec const kzvcodecops = {kzvimage_step, kzvimage_mexit};

void kzvimage::init(mem* p)
{
    memset0(this, sizeof *this);
    inittransform(p, "kzvimage", kzvimage_concb, type_bytestream, &kzvcodecops);
}

void kzvimage::exit(bool keep)
{
    exittransform(true);
    if (!keep)
        init(pool);
}

void kzvimage::mexit()
{
    if (rowbuf)
        pool->free_int(rowbuf);
    if (paletteblock)
        pool->free_int(paletteblock);
    rowbuf = nullptr;
    paletteblock = nullptr;
    codecstate = kzvstate_start;
    sourceformat = rowsdone = 0;
}

bool kzvimage::refuse(char const* why, data const* record)
{
    eprintf("kzvimage: %s\n", why);
    if (record)
        record->printdata();
    fail();
    return false;
}

bool kzvimage::proc()
{
    if (hasflag(tstate_error))
        return false;
    if (codecstate == kzvstate_start)
        return start();
    if (codecstate >= kzvstate_decode54)
        return decoderow();
    data* record = nullptr;
    if (mread(&record, 128, 0) > 0 && record)
        return encoderow(record);
    if (hasflag(tstate_error) || !inputended())
        return false;               // nothing now: try again later
    if (rowsdone < header.height) {
        eprintf("kzvimage: the source ended after %u of %u rows\n", rowsdone, header.height);
        fail();
        return false;
    }
    setflag(tstate_end);
    return false;
}

// The first record decides: a kzv header is decoded, a scanline record encoded.
bool kzvimage::start()
{
    data* record = nullptr;
    if (mread(&record, KZV_HEADERSIZE, KZV_HEADERSIZE) <= 0 || !record) {
        if (inputended() && !hasflag(tstate_error))
            return refuse("the stream ends before a kzv header", nullptr);
        return false;
    }
    if (record->type == type_scanline)
        return startencode(record);
    if (record->type == type_bytestream && record->size >= KZV_HEADERSIZE)
        return startdecode(record);
    return refuse("neither a kzv header nor a scanline record", record);
}

// ---- decoding

static char const* headerproblem(kzvresult r)
{
    switch (r) {
    case kzv_shortheader: return "a kzv header shorter than 32 bytes";
    case kzv_badmagic: return "no kzv magic";
    case kzv_badencoding: return "not a kzv image encoding";
    default: return "a kzv image side above the limit";
    }
}

bool kzvimage::startdecode(data* record)
{
    kzvresult r = kzv_readheader((u8 const*)record->payload, record->size, header);
    if (r != kzv_ok)
        return refuse(headerproblem(r), record);
    u32 rowlength = kzv_rowlength(header.encoding, header.width);
    rowbuf = (u8*)pool->getmem(rowlength ? rowlength : 16);
    if (header.encoding == kzv_bits)
        paletteblock = (u32*)pool->getmem(2 * sizeof(u32));
    if (!rowbuf || (header.encoding == kzv_bits && !paletteblock))
        return refuse("no memory for a row", nullptr);
    if (record->size > KZV_HEADERSIZE)
        mrewind(record->size - KZV_HEADERSIZE);
    decoder.start(header);
    memset0(&kind, sizeof kind);
    type = type_scanline;
    kind.scanline.pixelformat = (u16)kzv_pixelformat(header.encoding);
    kind.scanline.line = -1;
    kind.scanline.width = header.width;
    kind.scanline.height = header.height;
    if (paletteblock) {
        // A 1-bit image's two colours are the header words at 12 and 16.
        paletteblock[0] = header.color0;
        paletteblock[1] = header.color1;
        kind.scanline.palette = paletteblock;
    }
    size = 0;
    payload = nullptr;
    switch (header.encoding) {
    case kzv_rle888: codecstate = kzvstate_decode54; break;
    case kzv_bits: codecstate = kzvstate_decode55; break;
    case kzv_rgba: codecstate = kzvstate_decode57; break;
    default: codecstate = kzvstate_decode58; break;
    }
    setflag(tstate_headerset);
    setready();
    return true;
}

// One row, from as many pulls as it takes; without bytes now the row position is
// kept for the next step. The source ending before the last row is an error.
bool kzvimage::decoderow()
{
    if (decoder.finished()) {
        setflag(tstate_end);
        return false;
    }
    while (!decoder.rowcomplete()) {
        data* record = nullptr;
        u32 want = kzv_maxencodedrow(header.encoding, header.width);
        if (mread(&record, want, 0) <= 0 || !record) {
            if (hasflag(tstate_error) || !inputended())
                return false;
            eprintf("kzvimage: the stream ends inside row %u of %u\n", decoder.line, header.height);
            fail();
            return false;
        }
        if (record->type != type_bytestream)
            return refuse("a record inside the rows", record);
        u32 used = decoder.decode((u8 const*)record->payload, record->size, rowbuf);
        if (used < record->size)
            mrewind(record->size - used);
    }
    kind.scanline.line = (s32)decoder.line;
    size = kzv_rowlength(header.encoding, header.width);
    payload = rowbuf;
    decoder.nextrow();
    setready();
    return true;
}

// ---- encoding

// The encoding a source format is written in: bits as 55, palette indexes looked
// up into colours and 888 as the runs of 54, 565 as the runs of 58, 8888 as 57.
// 555 has none.
static u8 encodingfor(u32 format)
{
    switch (format) {
    case 1: return kzv_bits;
    case 8:
    case 332:
    case 888: return kzv_rle888;
    case 565: return kzv_rle565;
    case 8888: return kzv_rgba;
    default: return 0;
    }
}

static u32 encodestatefor(u32 format)
{
    switch (format) {
    case 1: return kzvstate_encode1;
    case 8:
    case 332: return kzvstate_encode8;
    case 565: return kzvstate_encode565;
    case 888: return kzvstate_encode888;
    default: return kzvstate_encode8888;
    }
}

// Bytes of one source row, and the alignment its pixels are read with.
static u32 sourcerowlength(u32 format, u32 width)
{
    switch (format) {
    case 1: return (width + 7) / 8;
    case 8:
    case 332: return width;
    case 565: return width * 2;
    default: return width * 4;
    }
}

static u32 sourcealignment(u32 format)
{
    return format == 565 ? 2 : format == 888 || format == 8888 ? 4 : 1;
}

bool kzvimage::startencode(data* record)
{
    u32 format = record->kind.scanline.pixelformat;
    u8 encoding = encodingfor(format);
    if (!encoding)
        return refuse("no kzv encoding for this pixel format", record);
    u32 width = record->kind.scanline.width, height = record->kind.scanline.height;
    if (!kzv_checksides(width, height))
        return refuse("an image side above the kzv limit", record);
    header.encoding = encoding;
    header.width = width;
    header.height = height;
    header.color0 = header.color1 = 0;
    u32 const* palette = record->kind.scanline.palette;
    // 1-bit rows carry their two colours in the header; without a palette they
    // are black and white.
    if (format == 1) {
        header.color0 = palette ? palette[0] : 0x000000;
        header.color1 = palette ? palette[1] : 0xFFFFFF;
    }
    if ((format == 8 || format == 332) && !palette) {
        // No palette with the rows: the format's own fixed one.
        paletteblock = (u32*)pool->getmem(256 * sizeof(u32));
        if (!paletteblock)
            return refuse("no memory for a palette", nullptr);
        if (format == 8)
            pixel_fillgreyramp(paletteblock);
        else
            pixel_fillpalette332(paletteblock);
    }
    sourceformat = format;
    rowsdone = 0;
    codecstate = encodestatefor(format);
    u8* at = mgetmem(KZV_HEADERSIZE);
    if (!at)
        return false;               // mgetmem has set the error flag
    kzv_writeheader(at, header);
    setflag(tstate_headerset);
    return encoderow(record);
}

bool kzvimage::encoderow(data* record)
{
    u32 width = header.width;
    if (record->type != type_scanline || record->kind.scanline.pixelformat != sourceformat ||
        record->kind.scanline.width != width)
        return refuse("a row that does not match the first", record);
    if (rowsdone >= header.height)
        return refuse("more rows than the image height", record);
    u32 need = sourcerowlength(sourceformat, width);
    if (need > 0 && (!record->payload || record->size < need))
        return refuse("a row shorter than its width", record);
    if ((uptr)record->payload & (sourcealignment(sourceformat) - 1))
        return refuse("a row whose pixels are not aligned", record);
    // The file has no row lengths: each row's encoding simply follows the last.
    u32 room = kzv_maxencodedrow(header.encoding, width);
    u8* at = mgetmem(room);
    if (!at)
        return false;               // mgetmem has set the error flag
    u32 length = 0;
    void const* pixels = record->payload;
    switch (codecstate) {
    case kzvstate_encode1: kzv_encode55((u8 const*)pixels, width, at, room, length); break;
    case kzvstate_encode565: kzv_encode58((u16 const*)pixels, width, at, room, length); break;
    case kzvstate_encode8888: kzv_encode57((u32 const*)pixels, width, at, room, length); break;
    case kzvstate_encode888: kzv_encode54((u32 const*)pixels, width, at, room, length); break;
    default: {
        u32 const* palette = record->kind.scanline.palette;
        kzv_encode54_8((u8 const*)pixels, palette ? palette : paletteblock, width, at, room, length);
        break;
    }
    }
    munget(room - length);
    rowsdone++;
    return true;
}

sptr kzvimage_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    return static_cast<kzvimage*>(self)->command(cmd, a, b, p);
}

} // namespace kzv
