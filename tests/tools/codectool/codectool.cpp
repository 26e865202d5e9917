// codectool: the codecs on the command line, so that outside checks (zlib, gzip,
// unzip) can feed them files. One command a run:
//   inflate|gunzip|unzlib IN OUT        raw deflate, or gzip/zlib by their header
//   deflate|gzip|zlib|zip LEVEL IN OUT  LEVEL 0 stores, 1-5 quick search, 6-9 best search
//   bench inflate|gunzip IN REPS        decodes IN (in memory) REPS times
//   bench deflate LEVEL IN REPS         encodes IN (in memory) REPS times
//   bench png IN REPS                   decodes the PNG file IN (in memory) REPS times
//   png2kzv|bmp2kzv|kzv2png|kzv2bmp IN OUT   see images.cpp
// Exit status 0 on success; 1 with one line on standard error when the input is bad
// or a file cannot be read or written (a partial OUT is removed); 2 for a wrong
// command line. bench prints "bytes microseconds" of one run's output and the total
// time on standard output.
#include "codectool.h"
#include "../../../codecs/compressor.h"
#include "../../../codecs/decompressor.h"
#include "../../../framework/mem.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"

namespace kzv {

namespace {

const u32 PIECE = 65536;

int usage()
{
    eprintf("usage: codectool inflate|gunzip|unzlib IN OUT | deflate|gzip|zlib|zip LEVEL IN OUT"
            " | png2kzv|bmp2kzv|kzv2png|kzv2bmp IN OUT\n");
    return 2;
}

int fail(char const* what, char const* path) { return codectool_fail(what, path); }

struct files {
    int in = 0, out = 0;
    char const* outpath = nullptr;
    u8* buffer = nullptr;

    bool open(char const* inpath, char const* outname)
    {
        in = os_fopen(inpath, 1);
        if (!in)
            return false;
        outpath = outname;
        out = os_fopen(outname, 3);
        buffer = (u8*)process->pool.getmem(PIECE);
        return out && buffer;
    }
    bool put(u8 const* p, u32 n)
    {
        while (n) {
            int k = os_write(out, p, n);
            if (k <= 0)
                return false;
            p += k;
            n -= (u32)k;
        }
        return true;
    }
    int close(int status)
    {
        if (in)
            os_close(in);
        if (out)
            os_close(out);
        if (status && out)
            os_unlink(outpath);
        if (buffer)
            process->pool.freemem(buffer);
        return status;
    }
};

int mode(char const* command)
{
    return streq(command, "inflate") ? (int)decompressor_raw : (int)decompressor_detect;
}

// Reads all plain bytes out of d; false when it failed.
bool drain(decompressor* d, files& f)
{
    u8* p;
    sptr n;
    while ((n = d->read(&p, PIECE)) > 0)
        if (!f.put(p, (u32)n))
            return false;
    return !d->hasflag(decompressor_error);
}

int decompress(char const* command, char const* inpath, char const* outpath)
{
    files f;
    if (!f.open(inpath, outpath))
        return f.close(fail(f.in ? "cannot write" : "cannot read", f.in ? outpath : inpath));
    decompressor* d = (decompressor*)process->pool.getmem(sizeof(decompressor));
    if (!d)
        return f.close(fail("no memory for", inpath));
    d->init(nullptr);
    d->restart((unsigned)mode(command));
    d->setflag(decompressor_reporterrors);
    int status = 0;
    for (;;) {
        int n = os_read(f.in, f.buffer, PIECE);
        if (n < 0) {
            status = fail("cannot read", inpath);
            break;
        }
        if (n == 0)
            d->close();
        else
            d->write(f.buffer, (u32)n);
        if (!drain(d, f)) {
            status = d->hasflag(decompressor_error) ? 1 : fail("cannot write", outpath);
            break;
        }
        if (d->hasflag(decompressor_end))
            break;
        if (n == 0) {
            status = fail("no end of data in", inpath);
            break;
        }
    }
    d->exit(true);
    process->pool.freemem(d);
    return f.close(status);
}

// LEVEL 0 stores; 1 to 5 use the quick parameter set, 6 to 9 the best one.
bool level(char const* text, unsigned& options)
{
    if (!text[0] || text[1] || text[0] < '0' || text[0] > '9')
        return false;
    int l = text[0] - '0';
    options = l == 0 ? compressor_storeonly : l >= 6 ? compressor_best : 0;
    return true;
}

int formatcode(char const* command)
{
    if (streq(command, "deflate"))
        return compressor_raw;
    if (streq(command, "gzip"))
        return compressor_gzip;
    if (streq(command, "zlib"))
        return compressor_zlib;
    if (streq(command, "zip"))
        return compressor_zip;
    return 0;
}

char const* basename(char const* path)
{
    char const* name = path;
    for (char const* s = path; *s; s++)
        if (*s == '/')
            name = s + 1;
    return name;
}

bool drain(compressor* c, files& f)
{
    u8* p;
    sptr n;
    while ((n = c->read(&p, PIECE)) > 0)
        if (!f.put(p, (u32)n))
            return false;
    return true;
}

int compress(int code, unsigned options, char const* inpath, char const* outpath)
{
    files f;
    if (!f.open(inpath, outpath))
        return f.close(fail(f.in ? "cannot write" : "cannot read", f.in ? outpath : inpath));
    compressor* c = (compressor*)process->pool.getmem(sizeof(compressor));
    if (!c)
        return f.close(fail("no memory for", inpath));
    c->init(nullptr);
    int status = 0;
    if (!c->restart(code, options, basename(inpath)))
        status = fail("entry name too long:", basename(inpath));
    while (!status) {
        int n = os_read(f.in, f.buffer, PIECE);
        if (n < 0) {
            status = fail("cannot read", inpath);
            break;
        }
        if (n == 0)
            c->close();
        else
            c->write(f.buffer, (u32)n);
        if (c->hasflag(compressor_error)) {
            status = fail("compression failed for", inpath);
            break;
        }
        if (!drain(c, f)) {
            status = fail("cannot write", outpath);
            break;
        }
        if (n == 0)
            break;
    }
    c->exit(true);
    process->pool.freemem(c);
    return f.close(status);
}

} // namespace

int codectool_fail(char const* what, char const* path)
{
    eprintf("codectool: %s %s\n", what, path);
    return 1;
}

u8* codectool_load(char const* path, u32& length)
{
    u64 size = os_fsize(path);
    if (size > MEM_MAXREQUEST)
        return nullptr;
    int fd = os_fopen(path, 1);
    if (!fd)
        return nullptr;
    u8* p = (u8*)process->pool.getmem(size ? size : 1);
    u32 got = 0;
    while (p && got < size) {
        int n = os_read(fd, p + got, (u32)kzv_min(size - got, (u64)PIECE));
        if (n <= 0)
            break;
        got += (u32)n;
    }
    os_close(fd);
    length = got;
    return p;
}

bool codectool_save(char const* path, deflatesink const& bytes)
{
    int fd = os_fopen(path, 3);
    if (!fd)
        return false;
    u8 const* p = bytes.data + bytes.start;
    u32 n = bytes.length - bytes.start;
    bool ok = true;
    while (ok && n) {
        int k = os_write(fd, p, n);
        ok = k > 0;
        p += ok ? k : 0;
        n -= ok ? (u32)k : 0;
    }
    os_close(fd);
    if (!ok)
        os_unlink(path);
    return ok;
}

namespace {

// In-memory runs for the benchmark: no file I/O inside the timed part.
int bench(char const* what, char const* levelarg, char const* inpath, char const* repsarg)
{
    u32 length = 0;
    u8* in = codectool_load(inpath, length);
    if (!in)
        return fail("cannot read", inpath);
    u32 reps = (u32)atoi(repsarg);
    if (reps == 0)
        reps = 1;
    if (streq(what, "png"))
        return codectool_benchpng(in, length, reps);
    bool inflating = !streq(what, "deflate");
    unsigned options = 0;
    if (!inflating && !level(levelarg, options))
        return usage();
    u64 outbytes = 0;
    u32 start = os_getus32();
    for (u32 r = 0; r < reps; r++) {
        outbytes = 0;
        if (inflating) {
            decompressor* d = (decompressor*)process->pool.getmem(sizeof(decompressor));
            d->init(nullptr);
            d->restart((unsigned)mode(what));
            d->write(in, length);
            d->close();
            u8* p;
            sptr n;
            while ((n = d->read(&p, PIECE)) > 0)
                outbytes += (u64)n;
            bool bad = d->hasflag(decompressor_error);
            d->exit(true);
            process->pool.freemem(d);
            if (bad)
                return fail("bad data in", inpath);
        } else {
            compressor* c = (compressor*)process->pool.getmem(sizeof(compressor));
            c->init(nullptr);
            c->restart(compressor_raw, options, nullptr);
            for (u32 at = 0; at < length; at += PIECE)
                c->write(in + at, kzv_min(length - at, PIECE));
            c->close();
            u8* p;
            sptr n;
            while ((n = c->read(&p, PIECE)) > 0)
                outbytes += (u64)n;
            c->exit(true);
            process->pool.freemem(c);
        }
    }
    u32 us = os_getus32() - start;
    printf("%u %u\n", outbytes, (u64)us);
    return 0;
}

int run()
{
    u32 argc = process->getargc();
    if (argc < 1)
        return usage();
    char const* command = process->getargv(0);
    if (streq(command, "bench")) {
        bool deflating = argc == 5 && streq(process->getargv(1), "deflate");
        if (deflating)
            return bench("deflate", process->getargv(2), process->getargv(3), process->getargv(4));
        if (argc != 4)
            return usage();
        return bench(process->getargv(1), "", process->getargv(2), process->getargv(3));
    }
    int image = argc == 3 ? codectool_image(command, process->getargv(1), process->getargv(2)) : -1;
    if (image >= 0)
        return image;
    if (streq(command, "inflate") || streq(command, "gunzip") || streq(command, "unzlib"))
        return argc == 3 ? decompress(command, process->getargv(1), process->getargv(2)) : usage();
    int code = formatcode(command);
    unsigned options = 0;
    if (!code || argc != 4 || !level(process->getargv(1), options))
        return usage();
    return compress(code, options, process->getargv(2), process->getargv(3));
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    process->exitcode = run();
}

} // namespace kzv
