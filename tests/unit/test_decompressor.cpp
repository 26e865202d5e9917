// The decompressor module: zlib, gzip and raw input pushed in or pulled from an IN
// peer in pieces of every size, reads of every size, give-back, compaction with
// back-references across it, and the refusals of the framing.
#include "codectest.h"
#include "../../codecs/compressor.h"
#include "../../codecs/decompressor.h"
#include "../../framework/str.h"

using namespace kzv;
using namespace codectest;

namespace {

decompressor* newdecompressor(unsigned mode)
{
    decompressor* d = (decompressor*)process->pool.getmem(sizeof(decompressor));
    d->init(nullptr);
    d->restart(mode);
    return d;
}

void dispose(decompressor* d)
{
    d->exit(true);
    process->pool.freemem(d);
}

// The stream of `format` for n bytes of p, in a pool block; *length gets its size.
u8* compressed(int format, u8 const* p, u32 n, u32& length)
{
    compressor* c = (compressor*)process->pool.getmem(sizeof(compressor));
    c->init(nullptr);
    c->restart(format, compressor_best, "name.txt");
    c->write(p, n);
    c->close();
    u8* out = (u8*)process->pool.getmem(n + n / 8 + 4096);
    length = 0;
    u8* piece;
    sptr k;
    while ((k = c->read(&piece, 65536)) > 0) {
        memcpy(out + length, piece, (u32)k);
        length += (u32)k;
    }
    c->exit(true);
    process->pool.freemem(c);
    return out;
}

// Reads everything, `max` bytes at a time; the count, or -1 past the capacity.
s64 readall(decompressor* d, u8* out, u32 capacity, u32 max)
{
    u32 n = 0;
    u8* p;
    sptr k;
    while ((k = d->read(&p, max)) > 0) {
        if (n + (u32)k > capacity)
            return -1;
        memcpy(out + n, p, (u32)k);
        n += (u32)k;
    }
    return n;
}

} // namespace

TEST(pushedandpulled)
{
    u32 n = 300000;
    u8* in = (u8*)process->pool.getmem(n);
    u8* out = (u8*)process->pool.getmem(n);
    makedata(data_farrepeats, in, n, 8);
    static const int formats[] = {compressor_zlib, compressor_gzip, compressor_raw};
    static const u32 pieces[] = {1, 7, 4096, 100000};
    for (int format : formats) {
        u32 length;
        u8* stream = compressed(format, in, n, length);
        unsigned mode = format == compressor_raw ? decompressor_raw : decompressor_detect;
        for (u32 piece : pieces) {
            kzvtest::setrow(format == compressor_zlib ? "zlib" : format == compressor_gzip ? "gzip" : "raw");
            if (piece == 1 && format != compressor_gzip)
                continue;
            // Pulled from the IN peer.
            peermodule source;
            source.init(stream, length, piece);
            decompressor* d = newdecompressor(mode);
            connect(d->in, source.out);
            CHECK_EQ(readall(d, out, n, 1000 + piece), n);
            CHECK_MEM(out, in, n);
            CHECK(d->hasflag(decompressor_end));
            CHECK(!d->hasflag(decompressor_error));
            dispose(d);
            // Pushed in pieces, read between them.
            d = newdecompressor(mode);
            s64 got = 0;
            for (u32 at = 0; at < length && got >= 0; at += piece) {
                d->write(stream + at, kzv_min(piece, length - at));
                s64 more = readall(d, out + got, n - (u32)got, 65536);
                got = more < 0 ? -1 : got + more;
            }
            d->close();
            s64 rest = readall(d, out + got, n - (u32)got, 333);
            CHECK_EQ(got + rest, n);
            CHECK_MEM(out, in, n);
            CHECK(d->hasflag(decompressor_end));
            dispose(d);
        }
        process->pool.freemem(stream);
    }
    kzvtest::setrow(nullptr);
    process->pool.freemem(in);
    process->pool.freemem(out);
}

// Bytes read and given back come again; give-back reaches no further than the
// bytes handed out since the last compaction.
TEST(giveback)
{
    u32 n = 200000;
    u8* in = (u8*)process->pool.getmem(n);
    makedata(data_text, in, n, 1);
    u32 length;
    u8* stream = compressed(compressor_zlib, in, n, length);
    decompressor* d = newdecompressor(decompressor_detect);
    CHECK_EQ(d->giveback(10), 0);
    d->write(stream, length);
    d->close();
    u8* p;
    CHECK_EQ(d->read(&p, 10), 10);
    CHECK_EQ(d->giveback(4), 4);
    CHECK_EQ(d->read(&p, 4), 4);
    CHECK_MEM(p, in + 6, 4);
    CHECK_EQ(decompressor_concb(d, 'G', 100, 0, nullptr), 10);
    // Everything that can be given back comes again; after a compaction that is
    // less than all that was read.
    u32 at = 0;
    bool limited = false;
    while (at < n) {
        sptr k = d->read(&p, 20000);
        CHECK(k > 0);
        if (k <= 0)
            break;
        CHECK_MEM(p, in + at, (u32)k);
        at += (u32)k;
        sptr back = d->giveback(n);
        CHECK(back >= k && (u32)back <= at);
        limited = limited || (u32)back < at;
        CHECK_EQ(d->read(&p, (u32)back), back);
        CHECK_MEM(p, in + at - back, (u32)back);
    }
    CHECK(limited);
    dispose(d);
    process->pool.freemem(stream);
    process->pool.freemem(in);
}

// The framings' refusals, by their messages' flags: error and end set, reads 0.
TEST(refusals)
{
    static const struct {
        char const* name;
        char const* hex;
        unsigned mode;
    } rows[] = {
        {"unknown header", "12 34 03 00", decompressor_detect},
        {"zlib with a preset dictionary", "78 bb 00 00 00 00 03 00", decompressor_detect},
        {"zlib window over 32 KiB", "88 98 03 00", decompressor_detect},
        {"gzip method 7", "1f 8b 07 00 00 00 00 00 00 ff 03 00", decompressor_detect},
        {"gzip extra field", "1f 8b 08 04 00 00 00 00 00 ff 03 00", decompressor_detect},
        {"gzip name cut short", "1f 8b 08 08 00 00 00 00 00 ff 61 62", decompressor_detect},
        {"header cut short", "78", decompressor_detect},
        {"no input at all", "", decompressor_detect},
        {"raw data cut short", "4b 04", decompressor_raw},
    };
    u8 bytes[32];
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        decompressor* d = newdecompressor(r.mode);
        u32 n = fromhex(r.hex, bytes, sizeof bytes);
        d->write(bytes, n);
        d->close();
        u8* p;
        while (d->read(&p, 100) > 0) {
        }
        CHECK(d->hasflag(decompressor_error));
        CHECK(d->hasflag(decompressor_end));
        d->restart(decompressor_detect);
        CHECK(!d->hasflag(decompressor_error));
        dispose(d);
    }
    kzvtest::setrow(nullptr);
}

// The gzip name and the first deflate bytes arrive in one piece from the IN peer:
// the deflate bytes go back to it and are decoded.
TEST(gzipnameinonepiece)
{
    u8 stream[64];
    u32 n = fromhex("1f 8b 08 08 00 00 00 00 00 ff 61 2e 74 78 74 00 4b 04 02 00 00 00 00 00 04 00 00 00", stream,
                    sizeof stream);
    peermodule source;
    source.init(stream, n, 64);
    decompressor* d = newdecompressor(decompressor_detect);
    connect(d->in, source.out);
    u8* p;
    CHECK_EQ(d->read(&p, 100), 4);
    CHECK_MEM(p, "aaaa", 4);
    dispose(d);
}

// Written as a data packet; a packet of another type is refused.
TEST(packets)
{
    u8 stream[8];
    u32 n = fromhex("4b 04 02 00", stream, sizeof stream);
    decompressor* d = newdecompressor(decompressor_raw);
    data packet;
    packet.type = type_record;
    CHECK_EQ(decompressor_concb(d, 'K', 0, 0, &packet), 0);
    packet.type = type_bytestream;
    packet.payload = stream;
    packet.size = n;
    CHECK_EQ(decompressor_concb(d, 'K', 0, 0, &packet), n);
    data* out = nullptr;
    CHECK_EQ(decompressor_concb(d, 'D', 10, 0, &out), 4);
    CHECK(out == d);
    CHECK_EQ(d->size, 4);
    CHECK_MEM(d->payload, "aaaa", 4);
    dispose(d);
}
