// The bmp codec module. Reading: each step first lets the reader go on with what
// it has (a header with nothing behind it, the end after the last row), then
// pulls more bytes; the bytes it did not take go back to the source. Writing: the
// first scanline record fixes format and width and writes the header; each row
// is appended to the module's byte sink, padding zeroed, and moved to the output
// buffer; the source's end checks that every row came. The end flag is set only
// once every byte of the file has been handed out.
#include "bmpmodule.h"
#include "rowformat.h"
#include "../framework/mem.h"
#include "../framework/printf.h"

namespace kzv {

static bool bmp_step(transform* t) { return static_cast<bmp*>(t)->proc(); }
static void bmp_mexit(transform* t) { static_cast<bmp*>(t)->mexit(); }
static transformcodec const bmpops = {bmp_step, bmp_mexit};

static u8 const noinput[1] = {0};

enum : u8 { bmprow_upsidedown = 1, bmprow_interlaced = 2 };     // scanline record flags

void bmp::init(mem* p)
{
    memset0(this, sizeof *this);
    inittransform(p, "bmp", bmp_concb, type_bytestream, &bmpops);
    written.init(pool);
}

void bmp::exit(bool keep)
{
    exittransform(true);
    if (!keep)
        init(pool);
}

void bmp::mexit()
{
    reader.exit();
    written.release();
    codecstate = bmpstate_start;
    sourceformat = sourcewidth = 0;
}

bool bmp::error(char const* text)
{
    if (hasflag(tstate_trace))
        eprintf("%s: %s\n", name, text);
    fail();
    return false;
}

bool bmp::refuse(char const* why, data const* record)
{
    error(why);
    if (record && hasflag(tstate_trace))
        record->printdata();
    return false;
}

bool bmp::proc()
{
    if (hasflag(tstate_error))
        return false;
    switch (codecstate) {
    case bmpstate_start: return start();
    case bmpstate_read: return readstep();
    case bmpstate_write: return writestep();
    default:
        if (outpending == 0 && directpending == 0)
            setflag(tstate_end);
        return false;
    }
}

// The first record decides: bytes are read, a scanline record written.
bool bmp::start()
{
    data* record = nullptr;
    if (mread(&record, BMPMODULE_PULL, 0) <= 0 || !record) {
        if (inputended() && !hasflag(tstate_error))
            setflag(tstate_end);        // an empty source holds no image
        return false;
    }
    if (record->type == type_scanline)
        return startwrite(record);
    if (record->type != type_bytestream)
        return refuse("neither BMP bytes nor a scanline record", record);
    reader.init(pool);
    reader.next = reader.end = noinput;
    codecstate = bmpstate_read;
    return feed(record);
}

// ---- reading

bool bmp::readstep()
{
    int event = reader.run();
    if (event != bmp_needinput)
        return readevent(event);
    data* record = nullptr;
    if (mread(&record, BMPMODULE_PULL, 0) <= 0 || !record) {
        if (hasflag(tstate_error) || !inputended())
            return false;               // nothing now: try again later
        return sourceended();
    }
    return feed(record);
}

// The reader over one pulled record; what it leaves goes back to the source.
bool bmp::feed(data* record)
{
    if (record->type != type_bytestream)
        return refuse("a record inside the BMP bytes", record);
    u8 const* bytes = (u8 const*)record->payload;
    reader.next = bytes;
    reader.end = bytes + record->size;
    int event = reader.run();
    u32 left = (u32)(reader.end - reader.next);
    reader.next = reader.end = noinput;
    if (left)
        mrewind(left);
    return event == bmp_needinput || readevent(event);
}

// The header record (line -1, no payload), a row, the end or the refusal.
bool bmp::readevent(int event)
{
    switch (event) {
    case bmp_header:
        type = type_scanline;
        memset0(&kind, sizeof kind);
        kind.scanline.flags = reader.bottomup ? bmprow_upsidedown : 0;
        kind.scanline.pixelformat = 888;
        kind.scanline.line = -1;
        kind.scanline.width = reader.width;
        kind.scanline.height = reader.height;
        size = 0;
        payload = nullptr;
        setflag(tstate_headerset);
        setready();
        return true;
    case bmp_row:
        kind.scanline.line = reader.line;
        payload = reader.row;
        size = reader.width * 4;
        setready();
        return true;
    case bmp_end:
        codecstate = bmpstate_done;
        setflag(tstate_end);
        return false;
    default:
        return error(reader.message);
    }
}

// Without a header the stream holds no image: the end, with no records. After
// it, a source that ends before the last row is cut short.
bool bmp::sourceended()
{
    if (!reader.hasheader()) {
        setflag(tstate_end);
        return false;
    }
    return readevent(reader.finish());
}

// ---- writing

bool bmp::startwrite(data* record)
{
    kindscanline const& k = record->kind.scanline;
    bool bottomup = (k.flags & bmprow_upsidedown) != 0;
    if (!writer.start(k.width, k.height, bottomup, k.pixelformat, k.palette, written))
        return refuse(writer.message, record);
    sourceformat = k.pixelformat;
    sourcewidth = k.width;
    codecstate = bmpstate_write;
    setflag(tstate_headerset);
    return writerow(record);
}

// The source's end closes the file; it must have given every row.
bool bmp::writestep()
{
    data* record = nullptr;
    if (mread(&record, 128, 0) > 0 && record)
        return writerow(record);
    if (hasflag(tstate_error) || !inputended())
        return false;
    if (!writer.finish())
        return error(writer.message);
    codecstate = bmpstate_done;
    return true;
}

// One row into the file. Interlaced rows and records of other kinds are passed over.
bool bmp::writerow(data* record)
{
    if (record->type != type_scanline || (record->kind.scanline.flags & bmprow_interlaced))
        return true;
    if (char const* problem = rowformat_problem(*record, sourceformat, sourcewidth))
        return refuse(problem, record);
    if (!writer.writerow(record->payload, written))
        return error(writer.message);
    return movewritten();
}

bool bmp::movewritten()
{
    u32 n = written.length - written.start;
    if (n == 0)
        return true;
    u8* at = mgetmem(n);
    if (!at)
        return false;                   // mgetmem has set the error flag
    memcpy(at, written.data + written.start, n);
    written.start = written.length = 0;
    return true;
}

sptr bmp_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    return static_cast<bmp*>(self)->command(cmd, a, b, p);
}

} // namespace kzv
