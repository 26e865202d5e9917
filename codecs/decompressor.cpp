// The decompressor's framing and buffering around the inflater. Format facts:
// - zlib: CMF, FLG. CMF's low nibble is the method (8, deflate), its high nibble
//   the window size minus 8 (at most 7); CMF x 256 + FLG is a multiple of 31, and
//   FLG bit 5 asks for a preset dictionary, which this module cannot supply.
// - gzip: 1F 8B, CM (8), FLG, MTIME (4), XFL, OS, then the fields FLG announces:
//   FEXTRA (4), FNAME (8, zero-terminated), FCOMMENT (16), FHCRC (2). Only FNAME
//   is read; bits 5 to 7 are reserved.
// The inflater can stop at any bit, so input is given to it as it comes: pushed
// bytes stay in the input buffer until taken, and bytes pulled from the IN peer
// that it did not take go back to the peer with 'G'. Output is decoded until the
// reader's request is met; the output buffer keeps 32768 bytes of history when it
// is compacted, so back-references always find their bytes.
#include "decompressor.h"
#include "../framework/mem.h"
#include "../framework/printf.h"
#include "../framework/str.h"
#include "../framework/streamcodes.h"
#include "../framework/sysprocess.h"

namespace kzv {

namespace {

const u32 PULLMAX = 65536;              // most compressed bytes taken from the IN peer at a time
const u32 OUTPUTROOM = INFLATE_WINDOW + INFLATE_MAXMATCH + 8;   // room given to one decoding run
const u32 COMPACTAT = 131072;           // read offset at which the output buffer is compacted
const u32 NAMEPIECE = 256;

enum : u8 {
    header_detect = 0, header_allocate = 1, header_inflate = 2, header_gzip = 9,
    header_gzipname = 12,
};
enum : u8 { gzip_fhcrc = 2, gzip_fextra = 4, gzip_fname = 8, gzip_fcomment = 16, gzip_reserved = 0xe0 };

} // namespace

static_assert(sizeof(decompressor) <= DECOMPRESSOR_RESERVATION, "the decompressor fits its reservation");

void decompressor::init(mem* p)
{
    memset0(this, sizeof *this);
    initheader(p, "decompressor", decompressor_concb, type_bytestream);
}

void decompressor::exit(bool final)
{
    if (state & 1)
        process->stopthread(this);
    state &= (u8)~1;
    if (workarea)
        pool->freemem(workarea);
    if (output)
        pool->freemem(output);
    if (input)
        pool->freemem(input);
    workarea = output = input = nullptr;
    if (!final) {
        mem* p = pool;
        init(p);
    }
}

sptr decompressor::restart(unsigned mode)
{
    u16 report = flagword() & decompressor_reporterrors;
    module_resetkeepingpeers(*this);
    setflag(report);
    headerstate = mode == decompressor_raw ? header_allocate : header_detect;
    return 1;
}

bool decompressor::error(char const* message, u32 a, u32 b)
{
    if (hasflag(decompressor_reporterrors)) {
        char text[96];
        printsink sink = printsink_memory(text, sizeof text);
        printto(sink, message, a, b);
        eprintf("%s: %s\n", name, text);
    }
    setflag(decompressor_error | decompressor_end);
    return false;
}

// Pushed bytes first; else a read from the IN peer. False when nothing is there.
bool decompressor::getinput(inputview& v, u32 max)
{
    v.frompeer = false;
    v.bytes = nullptr;
    v.count = 0;
    if (inwrite > inread) {
        setflag(decompressor_inputseen);
        v.bytes = input + inread;
        v.count = kzv_min(inwrite - inread, max);
        return true;
    }
    if (!in.peer)
        return false;
    u8* p = nullptr;
    sptr n = in.call(stream_read, (int)max, 0, &p);
    if (n <= 0 || !p) {
        if (in.peer->owner && (in.peer->owner->flags & decompressor_end))
            inputclosed = 1;
        return false;
    }
    setflag(decompressor_inputseen);
    v.bytes = p;
    v.count = (u32)kzv_min((u64)n, (u64)max);
    v.frompeer = true;
    return true;
}

void decompressor::consume(inputview const& v, u32 used)
{
    if (!v.frompeer) {
        inread += used;
        if (inread == inwrite)
            inread = inwrite = 0;
    } else if (used < v.count) {
        in.call(stream_giveback, (int)(v.count - used), 0, nullptr);
    }
}

bool decompressor::inputended()
{
    return inputclosed && inwrite == inread;
}

// One turn of the header machine; true when it made progress.
bool decompressor::step(u32 want)
{
    if (hasflag(decompressor_error) || hasflag(decompressor_end))
        return false;
    switch (headerstate) {
    case header_detect: return detect();
    case header_gzip: return gzipfixed();
    case header_gzipname: return gzipname();
    case header_allocate:
        if (!workarea)
            workarea = pool->getmem(INFLATE_WORKBYTES);
        if (!workarea)
            return error("no memory");
        z.init(workarea);
        headerstate = header_inflate;
        return true;
    case header_inflate: return inflatestep(want);
    default: return error("gzip header!! state %u", headerstate);
    }
}

// Collects the n header bytes in the record, whatever pieces they come in.
bool decompressor::gather(u32 n)
{
    while (gathered < n) {
        inputview v;
        if (!getinput(v, n - gathered))
            return false;
        memcpy(header + gathered, v.bytes, v.count);
        gathered = (u8)(gathered + v.count);
        totalin += v.count;
        consume(v, v.count);
    }
    gathered = 0;
    return true;
}

bool decompressor::detect()
{
    if (!gather(2))
        return inputended() ? error("truncated") : false;
    u32 cmf = header[0], flg = header[1];
    if (cmf == 0x1f && flg == 0x8b) {
        headerstate = header_gzip;
        return true;
    }
    // Method 8, a window of at most 32 KiB, the check that the two bytes make a
    // multiple of 31, and no preset dictionary asked for.
    bool zlib = (cmf & 15) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 && !(flg & 0x20);
    if (!zlib)
        return error("unknown header %02x %02x", cmf, flg);
    headerstate = header_allocate;
    return true;
}

// The 8 bytes after ID1 ID2: CM, FLG, MTIME (4), XFL, OS; only CM and FLG matter.
bool decompressor::gzipfixed()
{
    if (!gather(8))
        return inputended() ? error("truncated") : false;
    u32 method = header[0];
    gzipflags = header[1];
    if (method != 8)
        return error("decompress gzip unknown compression method %02x", method);
    return nextgzipfield();
}

// The first announced field that is still to come decides the next state.
bool decompressor::nextgzipfield()
{
    u8 f = gzipflags;
    if (f & gzip_fhcrc)
        return error("gzip header!! state %u", 10);
    if (f & gzip_fextra)
        return error("gzip header!! state %u", 11);
    if (f & gzip_fname) {
        headerstate = header_gzipname;
        return true;
    }
    if (f & gzip_fcomment)
        return error("gzip header!! state %u", 13);
    if (f & gzip_reserved)
        return error("gzip header!! state %u", 14);
    headerstate = header_allocate;
    return true;
}

// Skips the name up to its zero byte, whatever its length; the bytes after the zero
// are the first deflate bytes and stay in the input.
bool decompressor::gzipname()
{
    inputview v;
    if (!getinput(v, NAMEPIECE))
        return inputended() ? error("truncated") : false;
    u32 i = 0;
    while (i < v.count && v.bytes[i])
        i++;
    bool found = i < v.count;
    u32 used = found ? i + 1 : v.count;
    consume(v, used);
    totalin += used;
    if (found) {
        gzipflags &= (u8)~gzip_fname;
        return nextgzipfield();
    }
    return true;
}

// Moves the unread bytes and the 32768 bytes before them to the front.
void decompressor::compact()
{
    u32 from = outread > INFLATE_WINDOW ? outread - INFLATE_WINDOW : 0;
    if (from == 0)
        return;
    memmove(output, output + from, outfill - from);
    outfill -= from;
    outread -= from;
    outmark = outread;
}

bool decompressor::reserveoutput(u32 n)
{
    if (outcap - outfill >= n)
        return true;
    compact();
    if (outcap - outfill >= n)
        return true;
    u64 want = ((u64)outfill + n + 4095) & ~(u64)4095;
    if (want < 65536)
        want = 65536;
    u8* bigger = (u8*)(output ? pool->resize(output, want) : pool->getmem(want));
    if (!bigger)
        return false;
    output = bigger;
    outcap = (u32)want;
    return true;
}

bool decompressor::inflatestep(u32 want)
{
    if (!reserveoutput(OUTPUTROOM))
        return error("no memory");
    inputview v;
    bool got = getinput(v, PULLMAX);
    if (!got && !inputended())
        return false;
    u8 const* none = nullptr;
    z.next = got ? v.bytes : none;
    z.end = got ? v.bytes + v.count : none;
    z.window = output;
    z.out = output + outfill;
    u32 room = kzv_max(want, OUTPUTROOM);
    z.outend = output + (outcap - outfill > room ? outfill + room : outcap);
    int r = z.run();
    u32 used = (u32)(z.next - v.bytes);
    u32 produced = (u32)(z.out - (output + outfill));
    if (got) {
        // Bytes after the final block are dropped.
        consume(v, r == inflate_end ? v.count : used);
    }
    totalin += used;
    outfill += produced;
    outavail += produced;
    if (r == inflate_error)
        return error(z.message);
    if (r == inflate_end) {
        setflag(decompressor_end);
        return produced > 0 || used > 0;
    }
    if (r == inflate_needinput && !got && inputended())
        return error("truncated");
    return used > 0 || produced > 0;
}

sptr decompressor::read(u8** p, u32 max)
{
    if (outread >= COMPACTAT)
        compact();
    while (outavail < max && step(max)) {
    }
    if (outavail == 0 || max == 0)
        return 0;
    u32 n = kzv_min(outavail, max);
    *p = output + outread;
    outread += n;
    outavail -= n;
    return n;
}

sptr decompressor::giveback(u32 n)
{
    u32 back = kzv_min(n, outread - outmark);
    outread -= back;
    outavail += back;
    return back;
}

sptr decompressor::write(void const* p, u32 n)
{
    if (n == 0)
        return 0;
    if (inread == inwrite)
        inread = inwrite = 0;
    if (incap - inwrite < n && inread > 0) {
        memmove(input, input + inread, inwrite - inread);
        inwrite -= inread;
        inread = 0;
    }
    if (incap - inwrite < n) {
        u64 want = ((u64)inwrite + n + 8192) & ~(u64)4095;
        if (want > MEM_MAXREQUEST)
            return 0;
        u8* bigger = (u8*)(input ? pool->resize(input, want) : pool->getmem(want));
        if (!bigger)
            return 0;
        input = bigger;
        incap = (u32)want;
    }
    memcpy(input + inwrite, p, n);
    inwrite += n;
    return n;
}

sptr decompressor::writedata(data const* d)
{
    if (!d || d->type != type_bytestream) {
        eprintf("decompressor write\n");
        return 0;
    }
    return write(d->payload, d->size);
}

sptr decompressor::close()
{
    inputclosed = 1;
    return 1;
}

sptr decompressor_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    decompressor* m = (decompressor*)self;
    switch (cmd) {
    case cmd_cyclic: case stream_seteol: case cmd_datarequested: case cmd_error:
        return 1;
    case stream_getline:
        eprintf("decompressor getline\n");
        return 0;
    case stream_read:
        return p ? m->read((u8**)const_cast<void*>(p), (u32)a) : 0;
    case stream_readrecord: {
        u8* bytes = nullptr;
        sptr n = m->read(&bytes, (u32)a);
        m->size = (u32)n;
        m->payload = bytes;
        if (p)
            *(data**)const_cast<void*>(p) = m;
        return n;
    }
    case stream_getrecord:
        if (p)
            *(void**)const_cast<void*>(p) = nullptr;
        return 0;
    case stream_getbyte:
        eprintf("dec gbt\n");
        return -1;
    case stream_giveback:
        return m->giveback((u32)a);
    case stream_restart:
        eprintf("dec rst\n");
        return 0;
    case stream_writetext:
        return p ? m->write(p, strlen((char const*)p)) : 0;
    case stream_write:
        return a > 0 ? m->write(p, (u32)a) : 0;
    case stream_writerecord:
        return m->writedata((data const*)p);
    case stream_writebyte:
        eprintf("dec pub\n");
        return 0;
    case stream_writeline:
        eprintf("dec pul\n");
        return 0;
    case stream_close:
        return m->close();
    default:
        return 0;
    }
}

} // namespace kzv
