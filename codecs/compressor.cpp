// The compressor's format machine around the deflate encoder. Format facts:
// - zlib: 78 9C (deflate, 32 KiB window), then the Adler-32 of the plain bytes,
//   big-endian. Two variants keep their own trailer: none at all, or the CRC-32 in
//   the Adler-32's place; neither is a valid zlib stream.
// - gzip: 1F 8B 08, no flags, MTIME 0, XFL 0, OS 255, then the data, then CRC-32
//   and the plain size modulo 2^32, little-endian.
// - zip: a local header with the sizes left zero (flag bit 3: a data descriptor
//   follows the data), the data, the descriptor, one central directory entry and
//   the end record; every number little-endian, "version" 20, Unix mode 0100644.
// Everything goes through one output buffer in order, so a trailer can never
// overtake unread data. The format states follow the order in which the parts are
// written: header, data, trailer, finished.
#include "compressor.h"
#include "../framework/byteorder.h"
#include "crc32.h"
#include "adler32.h"
#include "../framework/mem.h"
#include "../framework/printf.h"
#include "../framework/str.h"
#include "../framework/streamcodes.h"
#include "../framework/sysprocess.h"

namespace kzv {

namespace {

enum : u8 {
    format_unset = 0, format_finished = 1, format_gzipheader = 2, format_zlibheader = 3,
    format_zlibcrcheader = 4, format_zlibadlerheader = 5, format_zipheader = 6,
    format_gzipdata = 7, format_gziptrailer = 8, format_zipdata = 9, format_zipend = 10,
    format_rawdata = 11, format_zlibnocheckdata = 12, format_zlibdata = 13, format_zlibtrailer = 14,
};
enum : u8 { check_none = 0, check_crc32 = 1, check_adler32 = 2 };

} // namespace

static_assert(sizeof(compressor) <= COMPRESSOR_RESERVATION, "the compressor fits its reservation");

void compressor::init(mem* p)
{
    memset0(this, sizeof *this);
    initheader(p, "compressor", compressor_concb, type_bytestream);
    sink.init(pool);
    eol[0] = 0x0d;
    eol[1] = 0x0a;
}

void compressor::exit(bool final)
{
    if (encoderready)
        encoder.exit();
    encoderready = false;
    sink.release();
    if (filename)
        pool->freemem(filename);
    filename = nullptr;
    clearflag(compressor_error | 0x10 | 0x40);
    if (!final) {
        mem* p = pool;
        init(p);
    }
}

sptr compressor::restart(int formatcode, unsigned optionbits, char const* name)
{
    static const struct {
        int code;
        u8 format;
        u8 check;
    } formats[] = {
        {compressor_raw, format_rawdata, check_none},
        {compressor_rawstored, format_rawdata, check_none},
        {compressor_zlibnocheck, format_zlibheader, check_none},
        {compressor_gzip, format_gzipheader, check_crc32},
        {compressor_zip, format_zipheader, check_crc32},
        {compressor_zlibcrc, format_zlibcrcheader, check_crc32},
        {compressor_zlib, format_zlibadlerheader, check_adler32},
    };
    if (formatcode == compressor_zip) {
        char const* entry = name ? name : "file";
        u32 n = strlen(entry);
        // A cut name would silently rename the entry.
        if (n > COMPRESSOR_MAXNAME)
            return 0;
        char* copy = (char*)pool->getmem(n + 1);
        if (!copy)
            return 0;
        memcpy(copy, entry, n + 1);
        if (filename)
            pool->freemem(filename);
        filename = copy;
        namelength = n;
    }
    u8 keep = options;
    options = (u8)((keep & ~(compressor_best | compressor_storeonly | compressor_finished)) |
                   (optionbits & (compressor_best | compressor_storeonly)));
    if (formatcode == compressor_rawstored)
        options |= compressor_storeonly;
    for (auto const& f : formats) {
        if (f.code != formatcode)
            continue;
        format = f.format;
        checkkind = f.check;
    }
    check = checkkind == check_adler32 ? ADLER32_START : 0;
    insize = outsize = 0;
    lastread = 0;
    sink.start = sink.length = 0;
    clearflag(compressor_end);
    int mode = (options & compressor_storeonly) ? deflate_storeonly
               : (options & compressor_best)    ? deflate_best
                                                : deflate_quick;
    bool started = encoderready ? encoder.restart(mode) : (encoderready = encoder.init(pool, mode));
    if (!started)
        setflag(compressor_error);
    return 1;
}

// A compressor used before any restart starts a gzip stream.
bool compressor::ensurestarted()
{
    if (format == format_unset)
        restart(compressor_gzip, options & compressor_best, nullptr);
    return !hasflag(compressor_error);
}

bool compressor::indata() const
{
    return format == format_gzipdata || format == format_zipdata || format == format_rawdata ||
           format == format_zlibnocheckdata || format == format_zlibdata;
}

bool compressor::put(u8 const* bytes, u32 n, bool counted)
{
    if (!sink.append(bytes, n)) {
        setflag(compressor_error);
        return false;
    }
    if (counted)
        outsize += n;
    return true;
}

// ID1 ID2, CM 8 (deflate), FLG 0 (no optional fields), MTIME 0 (no time given),
// XFL 0, OS 255 (unknown).
bool compressor::gzipheader()
{
    static const u8 header[10] = {0x1f, 0x8b, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0xff};
    return put(header, sizeof header, true);
}

// The local file header: signature PK 3 4, version needed 2.0, flags with bit 3
// (CRC and sizes come in the data descriptor, so the header is written before
// they are known), method 8, time, date, CRC and sizes left 0, the name's length,
// no extra field, then the name. Zip times are in the MS-DOS form: hour, minute and
// seconds / 2 in 5, 6 and 5 bits; years since 1980, month and day in 7, 4, 5 bits.
bool compressor::zipheader()
{
    process->calctime();
    u32 year = process->year >= 1980 ? process->year - 1980 : 0;
    dostime = (process->hour << 11 | process->minute << 5 | process->second / 2) & 0xffff;
    dosdate = (year << 9 | process->month << 5 | process->day) & 0xffff;
    u8 h[30] = {0x50, 0x4b, 0x03, 0x04};
    put16le(h + 4, 20);
    put16le(h + 6, 0x0008);
    put16le(h + 8, 8);
    put16le(h + 10, dostime);
    put16le(h + 12, dosdate);
    put16le(h + 26, namelength);
    return put(h, sizeof h, false) && put((u8 const*)filename, namelength, false);
}

// The data descriptor (PK 7 8, CRC, compressed and plain size), the central
// directory entry (PK 1 2: versions made by and needed, the local header's fields
// again with the real CRC and sizes, the name's length, no extra field, comment,
// disk or internal attributes, external attributes with a Unix regular file of
// mode 0644 in the upper half, the local header at offset 0, the name), and the end
// record (PK 5 6: one entry on this one disk, the directory's size and offset,
// which is the local header, name, data and 16-byte descriptor).
bool compressor::zipend()
{
    u8 d[16] = {0x50, 0x4b, 0x07, 0x08};
    put32le(d + 4, check);
    put32le(d + 8, outsize);
    put32le(d + 12, insize);
    u8 c[46] = {0x50, 0x4b, 0x01, 0x02};
    put16le(c + 4, 20);
    put16le(c + 6, 20);
    put16le(c + 8, 0x0008);
    put16le(c + 10, 8);
    put16le(c + 12, dostime);
    put16le(c + 14, dosdate);
    put32le(c + 16, check);
    put32le(c + 20, outsize);
    put32le(c + 24, insize);
    put16le(c + 28, namelength);
    put32le(c + 38, 0x81a40000u);
    u8 e[22] = {0x50, 0x4b, 0x05, 0x06};
    put16le(e + 8, 1);
    put16le(e + 10, 1);
    put32le(e + 12, 46 + namelength);
    put32le(e + 16, 30 + namelength + outsize + 16);
    return put(d, sizeof d, false) && put(c, sizeof c, false) && put((u8 const*)filename, namelength, false) &&
           put(e, sizeof e, false);
}

// gzip ends with the CRC-32 and the plain size modulo 2^32, little-endian; zlib
// with its check value, big-endian.
bool compressor::trailer()
{
    u8 t[8];
    if (format == format_gziptrailer) {
        put32le(t, check);
        put32le(t + 4, insize);
        return put(t, 8, false);
    }
    put32be(t, check);
    return put(t, 4, true);
}

// Plain bytes into the check and the encoder.
bool compressor::take(u8 const* p, u32 n)
{
    if (checkkind == check_crc32)
        check = crc32_update(check, p, n);
    else if (checkkind == check_adler32)
        check = adler32_update(check, p, n);
    insize += n;
    u64 before = sink.appended;
    bool ok = encoder.write(p, n, sink);
    outsize += (u32)(sink.appended - before);
    if (!ok)
        setflag(compressor_error);
    return ok;
}

bool compressor::finishinput()
{
    u64 before = sink.appended;
    bool ok = encoder.finish(sink);
    outsize += (u32)(sink.appended - before);
    options |= compressor_finished;
    if (!ok)
        setflag(compressor_error);
    return ok;
}

// Pulls one chunk from the IN peer; at its end, the final block.
bool compressor::compressstep()
{
    if (!in.peer)
        return false;
    data* d = nullptr;
    sptr n = in.call(stream_readrecord, (int)COMPRESSOR_CHUNK, 0, &d);
    if (n > 0 && d && d->payload)
        return take((u8 const*)d->payload, (u32)n);
    module* peer = in.peer->owner;
    if (peer && (peer->flags & compressor_error))
        setflag(compressor_error);
    if (!peer || !(peer->flags & compressor_end))
        return false;
    return finishinput();
}

// One turn of the format machine; true when it made progress.
bool compressor::step()
{
    if (hasflag(compressor_error) || !ensurestarted())
        return false;
    lastread = 0;           // the buffer may move: what was handed out cannot be given back
    switch (format) {
    case format_finished:
        if (available() == 0)
            setflag(compressor_end);
        return false;
    case format_gzipheader:
        format = format_gzipdata;
        return gzipheader();
    case format_zlibheader:
    case format_zlibcrcheader:
    case format_zlibadlerheader: {
        // CMF 78: method 8 with a 32 KiB window; FLG 9C: default level, no preset
        // dictionary, and CMF x 256 + FLG a multiple of 31.
        static const u8 header[2] = {0x78, 0x9c};
        format = format == format_zlibheader ? format_zlibnocheckdata : format_zlibdata;
        return put(header, 2, true);
    }
    case format_zipheader:
        format = format_zipdata;
        return zipheader();
    case format_gziptrailer:
    case format_zlibtrailer: {
        bool ok = trailer();
        format = format_finished;
        return ok;
    }
    case format_zipend:
        format = format_finished;
        return zipend();
    default:
        break;
    }
    if (!(options & compressor_finished))
        return compressstep();
    switch (format) {
    case format_gzipdata: format = format_gziptrailer; break;
    case format_zipdata: format = format_zipend; break;
    case format_zlibdata: format = format_zlibtrailer; break;
    default: format = format_finished; break;
    }
    return true;
}

void compressor::pushoutput()
{
    while (out.peer && available()) {
        u32 n = available();
        out.call(stream_write, (int)n, 0, sink.data + sink.start);
        sink.start += n;
    }
}

sptr compressor::read(u8** p, u32 max)
{
    if (hasflag(compressor_error) || max == 0)
        return 0;
    bool stepping = !hasflag(compressor_noread);
    clearflag(compressor_noread);
    if (format == format_finished && available() == 0 && hasflag(compressor_autorestart)) {
        // A new module on the same pins: the next use starts a gzip stream, as
        // for any compressor used before its first restart.
        u16 settings = flagword() & (compressor_autorestart | compressor_reporterrors);
        module_resetkeepingpeers(*this);
        setflag(settings);
        return 0;
    }
    while (stepping && available() == 0 && step()) {
    }
    u32 n = kzv_min(available(), max);
    if (n == 0)
        return 0;
    *p = sink.data + sink.start;
    sink.start += n;
    lastread = n;
    return n;
}

sptr compressor::readdata(data** p, u32 max)
{
    u8* bytes = nullptr;
    sptr n = read(&bytes, max);
    size = (u32)n;
    payload = bytes;
    if (p)
        *p = this;
    return n;
}

sptr compressor::giveback(u32 n)
{
    u32 back = kzv_min(n, lastread);
    sink.start -= back;
    lastread -= back;
    return back;
}

// Written bytes are compressed at once, behind the header.
sptr compressor::write(void const* p, u32 n)
{
    if (n == 0)
        return 0;
    if (!ensurestarted())
        return 0;
    while (!indata() && format != format_finished && step()) {
    }
    if (!indata() || (options & compressor_finished))
        return 0;
    clearflag(compressor_end);
    lastread = 0;
    if (!take((u8 const*)p, n))
        return 0;
    pushoutput();
    return n;
}

sptr compressor::writedata(data const* d)
{
    if (!d || d->type != type_bytestream)
        return 0;
    if (d->size == 0)
        return 1;
    return write(d->payload, d->size);
}

sptr compressor::writeline(char const* s)
{
    sptr n = s ? write(s, strlen(s)) : 0;
    if (n || (s && !s[0]))
        n += write(eol, eol[1] ? 2 : 1);
    return n;
}

// The next line of the output: ends at CR, LF or a zero byte, and a CR LF or LF CR
// pair counts once. The line end is overwritten by the terminator.
sptr compressor::getline(char** p)
{
    while (available() == 0 && step()) {
    }
    u8* bytes = sink.data + sink.start;
    u32 n = available();
    for (u32 i = 0; i < n; i++) {
        u8 c = bytes[i];
        if (c != 0x0d && c != 0x0a && c != 0)
            continue;
        u32 used = i + 1;
        if (c && used < n && (bytes[used] == 0x0d || bytes[used] == 0x0a) && bytes[used] != c)
            used++;
        bytes[i] = 0;
        sink.start += used;
        lastread = 0;
        *p = (char*)bytes;
        return i + 1;
    }
    return 0;
}

// No more input: what the IN peer still has, then the final block and the trailer.
sptr compressor::close()
{
    if (!ensurestarted())
        return 1;
    pushoutput();
    while (!indata() && format != format_finished && step()) {
    }
    if (indata() && !(options & compressor_finished)) {
        while (compressstep() && !(options & compressor_finished)) {
        }
        if (!(options & compressor_finished))
            finishinput();
    }
    while (step()) {
        if (out.peer)
            pushoutput();
    }
    pushoutput();
    return 1;
}

sptr compressor_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    compressor* m = (compressor*)self;
    switch (cmd) {
    case cmd_connected:
        m->clearflag(compressor_end);
        return 1;
    case stream_getline:
        return p ? m->getline((char**)const_cast<void*>(p)) : 0;
    case stream_read:
        return p ? m->read((u8**)const_cast<void*>(p), (u32)a) : 0;
    case stream_readrecord:
        return m->readdata((data**)const_cast<void*>(p), (u32)a);
    case stream_getrecord: {
        data* d = nullptr;
        sptr n = m->readdata(&d, 128);
        if (p)
            *(data**)const_cast<void*>(p) = n > 0 ? d : nullptr;
        return n > 0 ? 1 : 0;
    }
    case stream_getbyte:
        return -1;
    case stream_giveback:
        return m->giveback((u32)a);
    case stream_restart:
        module_resetkeepingpeers(*m);
        return 1;
    case stream_writetext:
        return p ? m->write(p, strlen((char const*)p)) : 0;
    case stream_write:
        return a > 0 ? m->write(p, (u32)a) : 0;
    case stream_writerecord:
        return m->writedata((data const*)p);
    case stream_writeline:
        m->writeline((char const*)p);
        return 1;
    case stream_close:
        return m->close();
    case cmd_error:
        m->setflag(compressor_error);
        if (m->hasflag(compressor_reporterrors))
            eprintf("%s error %u\n", m->name, (u32)a);
        return 1;
    default:
        return 0;
    }
}

} // namespace kzv
