// The compressor module: the framings byte for byte where the format fixes them,
// refusals, output pushed to an OUT peer, input pulled from an IN peer, and the
// order of header, data and trailer when the stream is closed before any read.
#include "codectest.h"
#include "../../codecs/adler32.h"
#include "../../framework/byteorder.h"
#include "../../codecs/compressor.h"
#include "../../codecs/crc32.h"
#include "../../codecs/decompressor.h"
#include "../../framework/str.h"

using namespace kzv;
using namespace codectest;

namespace {

compressor* newcompressor()
{
    compressor* c = (compressor*)process->pool.getmem(sizeof(compressor));
    c->init(nullptr);
    return c;
}

void dispose(compressor* c)
{
    c->exit(true);
    process->pool.freemem(c);
}

// Everything the compressor hands out, read in pieces of `max`.
u32 readall(compressor* c, u8* out, u32 capacity, u32 max)
{
    u32 n = 0;
    u8* p;
    sptr k;
    while ((k = c->read(&p, max)) > 0 && n + k <= capacity) {
        memcpy(out + n, p, (u32)k);
        n += (u32)k;
    }
    return n;
}

} // namespace

TEST(zlibofabc)
{
    compressor* c = newcompressor();
    CHECK_EQ(c->restart(compressor_zlib, 0, nullptr), 1);
    CHECK_EQ(c->write("abc", 3), 3);
    c->close();
    u8 out[64];
    u32 n = readall(c, out, sizeof out, 64);
    CHECK(n > 6);
    CHECK_EQ(out[0], 0x78);
    CHECK_EQ(out[1], 0x9c);
    CHECK_EQ(get32be(out + n - 4), adler32_update(ADLER32_START, "abc", 3));
    CHECK_EQ(c->insize, 3);
    CHECK_EQ(c->outsize, n);
    CHECK(c->read((u8**)&out, 64) == 0 && c->hasflag(compressor_end));
    dispose(c);
}

TEST(emptygzip)
{
    compressor* c = newcompressor();
    c->restart(compressor_gzip, 0, nullptr);
    c->close();
    u8 out[64];
    u8 const expect[] = {0x1f, 0x8b, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0xff, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    u32 n = readall(c, out, sizeof out, 3);
    CHECK_EQ(n, sizeof expect);
    CHECK_MEM(out, expect, sizeof expect);
    dispose(c);
}

// The trailer variants: none (203) and the CRC-32 in the Adler-32's place (206).
TEST(zlibvariants)
{
    u8 out[64];
    compressor* c = newcompressor();
    c->restart(compressor_zlibnocheck, 0, nullptr);
    c->write("abc", 3);
    c->close();
    u32 n = readall(c, out, sizeof out, 64);
    CHECK_EQ(out[0], 0x78);
    outcome o = inflateall(out + 2, n - 2, out + 32, 32, 0, 0);
    CHECK_EQ(o.result, inflate_end);
    c->restart(compressor_zlibcrc, 0, nullptr);
    c->write("abc", 3);
    c->close();
    n = readall(c, out, sizeof out, 64);
    CHECK_EQ(get32be(out + n - 4), crc32_update(0, "abc", 3));
    c->restart(compressor_rawstored, 0, nullptr);
    c->close();
    u8 const storedempty[] = {0x01, 0x00, 0x00, 0xff, 0xff};
    CHECK_EQ(readall(c, out, sizeof out, 64), 5);
    CHECK_MEM(out, storedempty, 5);
    dispose(c);
}

TEST(ziplayout)
{
    compressor* c = newcompressor();
    c->restart(compressor_zip, 0, nullptr);
    char const* text = "zip entry text, zip entry text";
    u32 length = strlen(text);
    c->write(text, length);
    c->close();
    u8 out[512];
    u32 n = readall(c, out, sizeof out, 100);
    CHECK_EQ(get32le(out), 0x04034b50u);
    CHECK_EQ(get16le(out + 4), 20);
    CHECK_EQ(get16le(out + 6), 8);
    CHECK_EQ(get16le(out + 8), 8);
    CHECK_EQ(get16le(out + 26), 4);
    CHECK_MEM(out + 30, "file", 4);
    u32 csize = c->outsize;
    u8* d = out + 34 + csize;
    CHECK_EQ(get32le(d), 0x08074b50u);
    CHECK_EQ(get32le(d + 4), crc32_update(0, text, length));
    CHECK_EQ(get32le(d + 8), csize);
    CHECK_EQ(get32le(d + 12), length);
    u8* central = d + 16;
    CHECK_EQ(get32le(central), 0x02014b50u);
    CHECK_EQ(get32le(central + 38), 0x81a40000u);
    CHECK_MEM(central + 46, "file", 4);
    u8* end = central + 50;
    CHECK_EQ(get32le(end), 0x06054b50u);
    CHECK_EQ(get32le(end + 12), 50);
    CHECK_EQ(get32le(end + 16), 30 + 4 + csize + 16);
    CHECK_EQ(n, 34 + csize + 16 + 50 + 22);
    outcome o = inflateall(out + 34, csize, out + 400, 100, 0, 0);
    CHECK_EQ(o.length, length);
    CHECK_MEM(out + 400, text, length);
    dispose(c);
}

// A name over 255 bytes is refused and the compressor keeps its format.
TEST(longzipname)
{
    char name[300];
    memset(name, 'n', 256);
    name[256] = 0;
    compressor* c = newcompressor();
    c->restart(compressor_gzip, 0, nullptr);
    CHECK_EQ(c->restart(compressor_zip, 0, name), 0);
    name[255] = 0;
    c->write("x", 1);
    c->close();
    u8 out[64];
    readall(c, out, sizeof out, 64);
    CHECK_EQ(out[0], 0x1f);
    CHECK_EQ(c->restart(compressor_zip, 0, name), 1);
    CHECK_EQ(c->namelength, 255);
    dispose(c);
}

// Closed before anything is read and with no OUT peer: header, data and trailer
// still come out in that order.
TEST(closebeforeread)
{
    u32 n = 5000;
    u8* in = (u8*)process->pool.getmem(n);
    u8* out = (u8*)process->pool.getmem(2 * n);
    makedata(data_text, in, n, 2);
    compressor* c = newcompressor();
    c->restart(compressor_zlib, compressor_best, nullptr);
    for (u32 at = 0; at < n; at += 100)
        c->write(in + at, 100);
    c->close();
    u32 got = readall(c, out, 2 * n, 7);
    decompressor* d = (decompressor*)process->pool.getmem(sizeof(decompressor));
    d->init(nullptr);
    d->write(out, got);
    d->close();
    u8* p;
    CHECK_EQ(d->read(&p, n + 10), n);
    CHECK_MEM(p, in, n);
    CHECK_EQ(get32be(out + got - 4), adler32_update(ADLER32_START, in, n));
    d->exit(true);
    process->pool.freemem(d);
    dispose(c);
    process->pool.freemem(in);
    process->pool.freemem(out);
}

// Pulled from an IN peer in small pieces, pushed to an OUT peer as it is made.
TEST(peers)
{
    u32 n = 100000;
    u8* in = (u8*)process->pool.getmem(n);
    u8* out = (u8*)process->pool.getmem(n);
    makedata(data_farrepeats, in, n, 4);
    peermodule source, collector;
    source.init(in, n, 3000);
    collector.init(nullptr, 0, 0);
    compressor* c = newcompressor();
    c->restart(compressor_raw, 0, nullptr);
    connect(c->in, source.out);
    // A piece handed out and given back comes again.
    u8* p;
    sptr first = c->read(&p, 256);
    CHECK(first > 0);
    CHECK(source.position > 0);
    CHECK_EQ(c->giveback(1000), first);
    c->close();
    sptr k;
    u8* whole = (u8*)process->pool.getmem(n + 1000);
    u32 total = 0;
    while ((k = c->read(&p, 1000)) > 0) {
        memcpy(whole + total, p, (u32)k);
        total += (u32)k;
    }
    outcome o = inflateall(whole, total, out, n, 0, 0);
    CHECK_EQ(o.result, inflate_end);
    CHECK_EQ(o.length, n);
    CHECK_MEM(out, in, n);
    CHECK_EQ(c->insize, n);
    // Written bytes pushed to the OUT peer as soon as they are compressed.
    c->restart(compressor_gzip, 0, nullptr);
    connect(c->in, (pin*)nullptr);
    connect(c->out, collector.in);
    for (u32 at = 0; at < n; at += 10000)
        c->write(in + at, 10000);
    CHECK_EQ(c->insize, n);
    c->close();
    CHECK(collector.collectedlength > 18);
    CHECK_EQ(c->read(&p, 100), 0);
    o = inflateall(collector.collected + 10, collector.collectedlength - 18, out, n, 0, 0);
    CHECK_EQ(o.length, n);
    CHECK_MEM(out, in, n);
    collector.release();
    dispose(c);
    process->pool.freemem(whole);
    process->pool.freemem(in);
    process->pool.freemem(out);
}

// An error notice stops the output until 'H'.
TEST(errornotice)
{
    compressor* c = newcompressor();
    c->restart(compressor_gzip, 0, nullptr);
    c->write("abc", 3);
    CHECK_EQ(compressor_concb(c, '^', 5, 0, nullptr), 1);
    u8* p;
    CHECK_EQ(c->read(&p, 100), 0);
    CHECK_EQ(compressor_concb(c, 'H', 0, 0, nullptr), 1);
    CHECK(!c->hasflag(compressor_error));
    c->write("abc", 3);
    c->close();
    CHECK(c->read(&p, 100) > 0);
    CHECK_EQ(p[0], 0x1f);
    dispose(c);
}

// With the restart-at-end setting, the read after a whole stream answers 0 and
// makes the module new on the same pins, setting kept: the next stream is gzip,
// whatever the framing before.
TEST(restartatend)
{
    static int const codes[] = {compressor_zlib, compressor_zip};
    for (int code : codes) {
        kzvtest::setrow(code == compressor_zip ? "after zip" : "after zlib");
        peermodule collector;
        collector.init(nullptr, 0, 0);
        compressor* c = newcompressor();
        c->setflag(compressor_autorestart);
        c->restart(code, 0, code == compressor_zip ? "entry.txt" : nullptr);
        c->write("first", 5);
        c->close();
        u8 out[256];
        u32 n = readall(c, out, sizeof out, 64);       // its last read answers 0 and restarts
        CHECK(n > 0);
        CHECK_EQ(out[0], code == compressor_zip ? 0x50 : 0x78);
        CHECK(c->hasflag(compressor_autorestart));
        connect(c->out, collector.in);
        c->write("second", 6);
        c->close();
        CHECK(collector.collectedlength > 10 + 8);
        CHECK_EQ(collector.collected[0], 0x1f);
        CHECK_EQ(collector.collected[1], 0x8b);
        outcome o = inflateall(collector.collected + 10, collector.collectedlength - 18, out, sizeof out, 0, 0);
        CHECK_EQ(o.result, inflate_end);
        CHECK_EQ(o.length, 6);
        CHECK_MEM(out, "second", 6);
        collector.release();
        dispose(c);
    }
    kzvtest::setrow(nullptr);
}
