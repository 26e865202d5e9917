// Helpers of the codec unit tests: hex strings, deterministic test data and a
// whole-stream inflate that feeds input and room in pieces of a chosen size. Every
// input piece is copied into a pool block of exactly its size, so that a read past
// it shows in the sanitizer build.
#pragma once
#include "../harness/harness.h"
#include "../../framework/sysprocess.h"
#include "../../codecs/crc32.h"
#include "../../codecs/inflate.h"
#include "../../framework/module.h"
#include "../../framework/transform.h"

namespace codectest {

using namespace kzv;

inline u32 fromhex(char const* hex, u8* out, u32 capacity)
{
    u32 n = 0;
    int half = -1;
    for (; *hex; hex++) {
        char c = *hex;
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0)
            continue;
        if (half < 0) {
            half = v;
        } else if (n < capacity) {
            out[n++] = (u8)(half << 4 | v);
            half = -1;
        }
    }
    return n;
}

enum datakind { data_random, data_text, data_run, data_twoletters, data_farrepeats, data_kinds };
inline char const* datakindname(int kind)
{
    static char const* const names[] = {"random", "text", "run", "two letters", "far repeats"};
    return names[kind];
}

// Deterministic bytes: incompressible, word-like text, one long run, a two-letter
// alphabet, and random blocks repeated from 20000 to 32768 bytes back.
inline void makedata(int kind, u8* p, u32 n, u32 seed)
{
    u32 x = seed * 2654435761u + 12345;
    auto next = [&x]() { x ^= x << 13; x ^= x >> 17; x ^= x << 5; return x; };
    static char const* const words[] = {"deflate ", "window ", "the ", "block ", "of ", "literal\n", "a ", "match "};
    u32 i = 0;
    while (i < n) {
        switch (kind) {
        case data_random: p[i++] = (u8)(next() >> 7); break;
        case data_text: {
            char const* w = words[next() % 8];
            for (; *w && i < n; w++)
                p[i++] = (u8)*w;
            break;
        }
        case data_run: p[i++] = 'x'; break;
        case data_twoletters: p[i++] = (u8)("ab"[next() & 1]); break;
        default: {
            u32 back = 20000 + next() % 12768;
            u32 len = 3 + next() % 300;
            for (u32 k = 0; k < len && i < n; k++, i++)
                p[i] = i >= back ? p[i - back] : (u8)next();
            break;
        }
        }
    }
}

struct outcome {
    int result;             // inflate_end, inflate_error, or inflate_needinput when cut short
    char const* message;
    u32 length;
};

// Inflates `in` into `out`, `piece` input bytes and `room` output bytes at a time
// (0: all at once).
inline outcome inflateall(u8 const* in, u32 n, u8* out, u32 capacity, u32 piece, u32 room)
{
    mem& pool = process->pool;
    void* work = pool.getmem(INFLATE_WORKBYTES);
    inflater z;
    z.init(work);
    z.window = z.out = out;
    u32 taken = 0;
    int r = inflate_needinput;
    for (;;) {
        u32 size = piece && n - taken > piece ? piece : n - taken;
        u8* copy = (u8*)pool.getmem(size ? size : 1);
        memcpy(copy, in + taken, size);
        z.next = copy;
        z.end = copy + size;
        do {
            u32 left = capacity - (u32)(z.out - out);
            z.outend = z.out + (room && room < left ? room : left);
            r = z.run();
        } while (r == inflate_needoutput && z.out < out + capacity);
        taken += (u32)(z.next - copy);
        pool.freemem(copy);
        if (r != inflate_needinput || taken == n)
            break;
    }
    pool.freemem(work);
    return {r, z.message, (u32)(z.out - out)};
}

} // namespace codectest

namespace codectest {

// A module on the other side of a codec's pin. As a source it answers 'C' and 'D'
// with at most `piece` bytes of its data at a time, and none past `available`
// (more may come: 0 without the end flag), and takes bytes back with 'G'; once
// everything is read it answers 0 and carries the end flag (0x04). As a collector
// it appends what 'J' brings to a pool buffer, and counts the records 'K' brings,
// keeping the last one's line, pixel format and first pixel word, and a CRC-32 of
// every row payload.
class peermodule : public module {
public:
    u8 const* source;
    u32 length, position, piece, available;
    u8* collected;
    u32 collectedlength, collectedcapacity;
    u32 records;
    s32 lastline;
    u32 lastformat;
    u32 firstword;
    u32 rowcrc;

    void init(u8 const* p, u32 n, u32 piecesize)
    {
        memset0(this, sizeof *this);
        initheader(nullptr, "peer", callback_, type_bytestream);
        source = p;
        length = available = n;
        piece = piecesize;
    }
    void release()
    {
        if (collected)
            pool->freemem(collected);
        collected = nullptr;
    }

private:
    static sptr callback_(void* self, unsigned cmd, int a, int b, void const* p)
    {
        peermodule* m = (peermodule*)self;
        switch (cmd) {
        case 'C':
        case 'D': {
            (void)b;
            u32 until = kzv_min(m->length, m->available);
            u32 n = kzv_min(kzv_min(until - kzv_min(until, m->position), m->piece), (u32)a);
            if (cmd == 'D')
                *(data**)const_cast<void*>(p) = m;
            if (n == 0) {
                if (m->position >= m->length)
                    m->flags |= 0x04;
                m->size = 0;
                return 0;
            }
            if (cmd == 'C') {
                *(u8 const**)const_cast<void*>(p) = m->source + m->position;
            } else {
                m->size = n;
                m->payload = const_cast<u8*>(m->source + m->position);
                *(data**)const_cast<void*>(p) = m;
            }
            m->position += n;
            return n;
        }
        case 'G': {
            u32 back = kzv_min((u32)a, m->position);
            m->position -= back;
            return back;
        }
        case 'J': {
            u32 n = (u32)a;
            if (m->collectedlength + n > m->collectedcapacity) {
                u32 want = (m->collectedlength + n) * 2 + 256;
                u8* bigger = (u8*)(m->collected ? m->pool->resize(m->collected, want) : m->pool->getmem(want));
                if (!bigger)
                    return 0;
                m->collected = bigger;
                m->collectedcapacity = want;
            }
            memcpy(m->collected + m->collectedlength, p, n);
            m->collectedlength += n;
            return n;
        }
        case 'K': {
            data const* r = (data const*)p;
            if (!r)
                return 0;
            m->records++;
            m->lastline = r->kind.scanline.line;
            m->lastformat = r->kind.scanline.pixelformat;
            if (r->payload && r->size >= 4)
                m->firstword = *(u32 const*)r->payload;
            if (r->payload && r->size)
                m->rowcrc = crc32_update(m->rowcrc, r->payload, r->size);
            return r->size ? r->size : 1;
        }
        default:
            return 0;
        }
    }
};

// Pulls an encoding codec module's bytes as a file would, records of at most 1024
// bytes, into out; false when it failed, ran out of room or did not end.
template <class M> bool pullfile(M& codec, u8* out, u32 capacity, u32& length)
{
    length = 0;
    data* r = nullptr;
    for (u32 guard = 0; guard < 100000; guard++) {
        sptr n = codec.call('D', 1024, 0, &r);
        if (r != &codec)
            return false;
        if (n <= 0) {
            if (codec.hasflag(tstate_error | tstate_end))
                break;
            continue;                       // an image's first read only prepares
        }
        if (r->type != type_bytestream || length + (u32)n > capacity)
            return false;
        memcpy(out + length, r->payload, (u32)n);
        length += (u32)n;
    }
    return codec.hasflag(tstate_end) && !codec.hasflag(tstate_error);
}

} // namespace codectest
