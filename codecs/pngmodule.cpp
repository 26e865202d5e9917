// The png codec module. Decoding: each step first lets the decoder hand out what
// it holds (rows inflated ahead), and only then pulls more bytes; the bytes it did
// not take go back to the source, so the decoder never keeps a pointer into a
// record it was lent. Encoding: the first scanline record fixes format, width and
// height; each row is filtered and compressed into the module's byte sink, and
// what the encoder wrote is moved to the output buffer. The end flag is set only
// once every byte of the file has been handed out.
#include "pngmodule.h"
#include "rowformat.h"
#include "../framework/mem.h"
#include "../framework/printf.h"

namespace kzv {

static bool png_step(transform* t) { return static_cast<png*>(t)->proc(); }
static void png_mexit(transform* t) { static_cast<png*>(t)->mexit(); }
static transformcodec const pngops = {png_step, png_mexit};

static u8 const noinput[1] = {0};

void png::init(mem* p)
{
    memset0(this, sizeof *this);
    inittransform(p, "png", png_concb, type_bytestream, &pngops);
    encoded.init(pool);
}

void png::exit(bool keep)
{
    exittransform(true);
    if (!keep)
        init(pool);
}

void png::mexit()
{
    decoder.exit();
    encoder.exit();
    encoded.release();
    codecstate = pngstate_start;
    sourceformat = sourcewidth = sourceheight = 0;
}

bool png::error(char const* text)
{
    eprintf("png error %s\n", text);
    fail();
    return false;
}

bool png::refuse(char const* why, data const* record)
{
    error(why);
    if (record)
        record->printdata();
    return false;
}

bool png::proc()
{
    if (hasflag(tstate_error))
        return false;
    switch (codecstate) {
    case pngstate_start: return start();
    case pngstate_decode: return decodestep();
    case pngstate_encode: return encodestep();
    default:
        if (outpending == 0 && directpending == 0)
            setflag(tstate_end);
        return false;
    }
}

// The first record decides: bytes are decoded, a scanline record encoded.
bool png::start()
{
    data* record = nullptr;
    if (mread(&record, PNGMODULE_PULL, 0) <= 0 || !record) {
        if (inputended() && !hasflag(tstate_error))
            setflag(tstate_end);        // an empty source holds no image
        return false;
    }
    if (record->type == type_scanline)
        return startencode(record);
    if (record->type != type_bytestream)
        return refuse("neither PNG bytes nor a scanline record", record);
    decoder.init(pool);
    decoder.next = decoder.end = noinput;
    codecstate = pngstate_decode;
    return feed(record);
}

// ---- decoding

bool png::decodestep()
{
    int event = decoderun();
    if (event != png_needinput)
        return decoded(event);
    data* record = nullptr;
    if (mread(&record, PNGMODULE_PULL, 0) <= 0 || !record) {
        if (hasflag(tstate_error) || !inputended())
            return false;               // nothing now: try again later
        return sourceended();
    }
    return feed(record);
}

// The decoder over one pulled record; what it leaves goes back to the source.
bool png::feed(data* record)
{
    if (record->type != type_bytestream)
        return refuse("a record inside the PNG bytes", record);
    u8 const* bytes = (u8 const*)record->payload;
    decoder.next = bytes;
    decoder.end = bytes + record->size;
    int event = decoderun();
    u32 left = (u32)(decoder.end - decoder.next);
    decoder.next = decoder.end = noinput;
    if (left)
        mrewind(left);
    return event == png_needinput || decoded(event);
}

// Runs the decoder to its next event; chunks it skips unknown are noted here.
int png::decoderun()
{
    for (;;) {
        int event = decoder.run();
        if (event != png_chunknote)
            return event;
        u32 t = decoder.notedchunk;
        eprintf("png chunk %c%c%c%c 0x%08x\n", (char)(t >> 24), (char)(t >> 16), (char)(t >> 8), (char)t, t);
    }
}

// The header record (line -1, no payload), a row, the end or the refusal.
bool png::decoded(int event)
{
    switch (event) {
    case png_header:
        type = type_scanline;
        memset0(&kind, sizeof kind);
        kind.scanline.pixelformat = (u16)decoder.format;
        kind.scanline.line = -1;
        kind.scanline.width = decoder.width;
        kind.scanline.height = decoder.height;
        size = 0;
        payload = nullptr;
        setflag(tstate_headerset);
        setready();
        return true;
    case png_row:
        if (decoder.rowfilter > 4)
            eprintf("rs8 %d\n", decoder.rowfilter);       // the row keeps what it held
        kind.scanline.line = decoder.line;
        payload = decoder.row;
        size = decoder.width * 4;
        setready();
        return true;
    case png_end:
        codecstate = pngstate_done;
        setflag(tstate_end);
        return false;
    default:
        return error(decoder.message);
    }
}

// No signature at all means no PNG image: the end, with no records. Once the
// signature was seen, a source that ends before IEND is cut short.
bool png::sourceended()
{
    if (!decoder.hassignature()) {
        setflag(tstate_end);
        return false;
    }
    return decoded(decoder.finish());
}

// ---- encoding

bool png::startencode(data* record)
{
    kindscanline const& k = record->kind.scanline;
    if (!encoder.start(pool, k.width, k.height, k.pixelformat, k.palette, encoded)) {
        if (!pngencoder::takes(k.pixelformat))
            eprintf("png fmt %d\n", (int)k.pixelformat);
        return refuse(encoder.message, record);
    }
    sourceformat = k.pixelformat;
    sourcewidth = k.width;
    sourceheight = k.height;
    codecstate = pngstate_encode;
    setflag(tstate_headerset);
    return encoderow(record);
}

bool png::encodestep()
{
    data* record = nullptr;
    if (mread(&record, 128, 0) <= 0 || !record) {
        if (hasflag(tstate_error) || !inputended())
            return false;
        return error("rows");           // the source ended before the last row
    }
    return encoderow(record);
}

// One row into the file; after the last one the rest of the image data and IEND.
// Records of other kinds are passed over.
bool png::encoderow(data* record)
{
    if (record->type != type_scanline)
        return true;
    if (char const* problem = rowformat_problem(*record, sourceformat, sourcewidth))
        return refuse(problem, record);
    if (!encoder.writerow(record->payload, encoded))
        return error(encoder.message);
    if (encoder.rowswritten() == sourceheight) {
        if (!encoder.finish(encoded))
            return error(encoder.message);
        codecstate = pngstate_done;
    }
    return moveencoded();
}

bool png::moveencoded()
{
    u32 n = encoded.length - encoded.start;
    if (encoded.nomemory)
        return error("no memory");
    if (n == 0)
        return true;
    u8* at = mgetmem(n);
    if (!at)
        return false;                   // mgetmem has set the error flag
    memcpy(at, encoded.data + encoded.start, n);
    encoded.start = encoded.length = 0;
    return true;
}

sptr png_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    return static_cast<png*>(self)->command(cmd, a, b, p);
}

} // namespace kzv
