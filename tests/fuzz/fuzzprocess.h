// The process a codec fuzz target needs: the process object and its pool, set up
// once as the program's start-up would, so that the codecs take their memory
// from a real pool, and a byte source that lends a codec module its input the
// way a file does; and the check the image decoder targets share: one input
// decoded three ways must give the same digest. The application hooks are empty:
// libFuzzer runs the program.
#pragma once
#include <stdlib.h>

#include "../../framework/mem.h"
#include "../../framework/module.h"
#include "../../framework/sysprocess.h"

namespace kzv {

void memoryinit(unsigned&, unsigned&) {}
void mmain() {}

inline void fuzzprocess_start()
{
    const unsigned block = 0x100000, step = 0x800000;
    if (process)
        return;
    process = (sysprocess*)mem_systemsource((int)block);
    process->init(nullptr, block, step);
}

// Feeds all of data to a decoder (fields next and end, run, finish; event 0 asks
// for input), whole or one byte at a time from heap blocks of exactly that size,
// and gives every other event to `event` until it answers false.
template <class D, class F> void fuzzfeed(D& d, u8 const* data, u32 size, bool bytewise, F event)
{
    u32 at = 0;
    for (;;) {
        u32 piece = bytewise ? (size - at > 0 ? 1 : 0) : size - at;
        u8* copy = (u8*)malloc(piece ? piece : 1);
        for (u32 i = 0; i < piece; i++)
            copy[i] = data[at + i];
        d.next = copy;
        d.end = copy + piece;
        int r = d.run();
        at += (u32)(d.next - copy);
        free(copy);
        if (r == 0 && at == size)
            r = d.finish();
        if (r != 0 && !event(r))
            return;
    }
}

// A byte source on the stream protocol for the codec modules: 'D' (and 'C', for
// modules that read bytes) hands out the next piece of the data copied into a
// heap block of exactly its size, which the next read frees, so that a module
// reading past a record or keeping a pointer into one it was lent is an ASan
// report; 'G' takes bytes back; at the end it answers 0 with the end flag (0x04).
class fuzzsource : public module {
public:
    u8 const* bytes;
    u32 length, position, piece;
    u8* block;

    void setup(u8 const* b, u32 n, u32 chunk)
    {
        memset0(this, sizeof *this);
        initheader(nullptr, "fuzzsource", concb, type_bytestream);
        bytes = b;
        length = n;
        piece = chunk;
    }
    ~fuzzsource() { free(block); }
    sptr handout(data** out, u32 max)
    {
        free(block);
        block = nullptr;
        *out = this;
        u32 n = length - position < piece ? length - position : piece;
        n = n < max ? n : max;
        if (n == 0) {
            flags |= 0x04;
            size = 0;
            return 0;
        }
        block = (u8*)malloc(n);
        for (u32 i = 0; i < n; i++)
            block[i] = bytes[position + i];
        payload = block;
        size = n;
        position += n;
        return n;
    }
    static sptr concb(void* self, unsigned cmd, int a, int, void const* p)
    {
        fuzzsource* s = (fuzzsource*)self;
        if (cmd == 'D')
            return s->handout((data**)const_cast<void*>(p), (u32)a);
        if (cmd == 'C') {
            data* record = nullptr;
            sptr n = s->handout(&record, (u32)a);
            *(u8**)const_cast<void*>(p) = s->block;
            return n;
        }
        if (cmd == 'G') {
            u32 n = (u32)a < s->position ? (u32)a : s->position;
            s->position -= n;
            return n;
        }
        return 0;
    }
};

// Reads every record of a codec module pulling from `source`, giving each to
// `record`; answers 1 when the module ended in its error flag, 0 at its end. A
// read that answers 0 with neither flag set, from a source that never waits, is
// a stall: abort.
template <class M, class F> int fuzzpull(M& codec, fuzzsource& source, F record)
{
    connect(source.out, codec.in);
    for (;;) {
        data* r = nullptr;
        sptr n = codec.call('D', 128, 0, &r);
        if (n > 0 && r) {
            record(*r);
            continue;
        }
        u16 flagword = (u16)(codec.flags | codec.state << 8);
        if (flagword & 0x0001)
            return 1;
        if (flagword & 0x0004)
            return 0;
        abort();
    }
}

// A running digest of what a decoder handed out, to compare two runs.
struct fuzzdigest {
    u64 value = 1469598103934665603ull;
    void add(u64 v) { value = (value ^ v) * 1099511628211ull; }
};

// The digest of an image codec module's records read from `source`: the header
// record's width, height and `third(record)`, each row's line and pixels, then
// `errorevent` or `endevent`. A stream in which the module found no image gives
// no records and ends; the decoder itself calls that cut short, so it counts as
// the error there too.
template <class M, class T>
u64 fuzzmoduledigest(M& codec, fuzzsource& source, T third, u64 errorevent, u64 endevent)
{
    fuzzdigest digest;
    bool header = false;
    int failed = fuzzpull(codec, source, [&](data const& r) {
        s32 line = r.kind.scanline.line;
        if (line < 0) {
            header = true;
            digest.add(r.kind.scanline.width), digest.add(r.kind.scanline.height), digest.add(third(r));
            return;
        }
        digest.add((u64)line);
        for (u32 x = 0; x < r.kind.scanline.width; x++)
            digest.add(((u32 const*)r.payload)[x]);
    });
    digest.add(failed || !header ? errorevent : endevent);
    return digest.value;
}

// The events of an image row decoder and its codec module: what the decoder
// answers with a header, a row and an event that carries nothing to compare (-1
// none), and the module's digest words for its error and its end.
struct fuzzevents {
    int header, row, passed;
    u64 error, end;
};

// The digest of an image row decoder D (fields width, height, line and row; init
// with a pool, exit) fed all of the input, whole or a byte at a time: the header's
// width, height and `third(decoder)`, each row's line and pixels, then the event
// that ended it.
template <class D, class T>
u64 fuzzdecoderdigest(u8 const* bytes, u32 size, bool bytewise, fuzzevents const& events, T third)
{
    D d;
    d.init(&process->pool);
    fuzzdigest digest;
    fuzzfeed(d, bytes, size, bytewise, [&](int r) {
        if (r == events.header) {
            digest.add(d.width), digest.add(d.height), digest.add(third(d));
        } else if (r == events.row) {
            digest.add((u64)d.line);
            for (u32 x = 0; x < d.width; x++)
                digest.add(d.row[x]);
        } else if (r != events.passed) {
            digest.add((u64)r);
            return false;
        }
        return true;
    });
    d.exit();
    return digest.value;
}

// One input of an image decoder target: decoded whole, a byte at a time, and
// through the codec module M from a source that lends it pieces (of a size the
// last input byte picks), all three must give the same header, rows and ending;
// `decoderthird` and `recordthird` give the header's third word from the decoder
// and from the module's header record. Inputs over 200000 bytes are passed over.
template <class D, class M, class T, class U>
int fuzzimagedecoder(u8 const* bytes, size_t size, fuzzevents const& events, T decoderthird, U recordthird)
{
    if (size > 200000)
        return 0;
    fuzzprocess_start();
    u32 n = (u32)size;
    u64 whole = fuzzdecoderdigest<D>(bytes, n, false, events, decoderthird);
    if (whole != fuzzdecoderdigest<D>(bytes, n, true, events, decoderthird))
        abort();
    fuzzsource source;
    source.setup(bytes, n, n ? 1 + bytes[n - 1] % 97 : 1);
    M codec(&process->pool);
    if (whole != fuzzmoduledigest(codec, source, recordthird, events.error, events.end))
        abort();
    return 0;
}

} // namespace kzv
