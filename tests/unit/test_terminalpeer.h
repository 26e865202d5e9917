// A scripted byte-stream peer for the terminal renderer's tests: it looks like the
// standard-I/O stream (type 6, kind byte 47, a terminal size) or like any other
// byte stream, keeps every byte written to it ('I', 'J', 'L'), counts the 'Q'
// calls, and answers 'F' and 'C' from a script of input bytes, handed out at most
// `piece` bytes a 'C'. The output store is fixed; a test that writes more fails.
#pragma once
#include "../harness/harness.h"
#include "../../drivers/ansiterminal.h"
#include "../../framework/mem.h"
#include "../../framework/str.h"
#include "../../framework/stream.h"
#include "../../framework/sysprocess.h"

namespace terminaltest {

using namespace kzv;

const u32 PEER_OUTCAPACITY = 1 << 20;

struct fakepeer : public module {
    u8* output;             // from the process pool
    u32 length;
    bool overflow;
    u32 buffering;          // 'Q' with 1 seen
    u32 unbuffering;        // 'Q' with 0 seen
    u8 const* script;
    u32 scriptlength;
    u32 scriptpos;
    u32 piece;
    u8 readbuf[64];

    void start(u8 kindbyte, u16 columns, u16 rows, bool sizeknown);
    void stop() { process->pool.free_int(output); output = nullptr; }
    void reset() { length = 0; overflow = false; buffering = unbuffering = 0; }
    void feed(char const* bytes, u32 n) { script = (u8 const*)bytes; scriptlength = n; scriptpos = 0; }
    void feed(char const* text) { feed(text, strlen(text)); }
    // The output so far as a terminated text (the store keeps one byte for that).
    char const* text() { output[length] = 0; return (char const*)output; }
    bool contains(char const* t) { return strstr(text(), t) != nullptr; }
};

inline sptr fakepeer_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    fakepeer* f = (fakepeer*)self;
    auto keep = [f](void const* bytes, u32 n) {
        if (f->length + n >= PEER_OUTCAPACITY) {
            f->overflow = true;
            return (sptr)0;
        }
        memcpy(f->output + f->length, bytes, n);
        f->length += n;
        return (sptr)n;
    };
    switch (cmd) {
    case stream_writetext: return keep(p, strlen((char const*)p));
    case stream_write: return keep(p, (u32)a);
    case stream_writebyte: { u8 c = (u8)a; return keep(&c, 1); }
    case stream_setbuffering:
        if (a)
            f->buffering++;
        else
            f->unbuffering++;
        return 1;
    case stream_getbyte:
        return f->scriptpos < f->scriptlength ? f->script[f->scriptpos++] : -1;
    case stream_read: {
        u32 n = kzv_min(kzv_min((u32)a, f->piece), f->scriptlength - f->scriptpos);
        n = kzv_min(n, (u32)sizeof(f->readbuf));
        memcpy(f->readbuf, f->script + f->scriptpos, n);
        f->scriptpos += n;
        *(u8**)const_cast<void*>(p) = f->readbuf;
        return n;
    }
    default: return 0;
    }
}

inline void fakepeer::start(u8 kindbyte, u16 columns, u16 rows, bool sizeknown)
{
    memset0(this, sizeof(*this));
    initheader(nullptr, "fakepeer", fakepeer_concb, type_bytestream);
    kind.stream.sourcekind = kindbyte;
    kind.stream.source.stdio.columns = columns;
    kind.stream.source.stdio.rows = rows;
    kind.stream.source.stdio.isterminal = sizeknown ? 1 : 0;
    kind.stream.source.stdio.sizeknown = sizeknown ? 1 : 0;
    output = (u8*)process->pool.getmem(PEER_OUTCAPACITY);
    piece = 64;
}

// A renderer wired to a peer as the terminal back-end wires it.
inline void wire(fakepeer& peer, ansiterminal& t) { connect(peer.out, t.in); }

// A text-UI renderer of the given size on a fresh peer; the start sequence is
// dropped from the peer's output.
inline bool opentui(fakepeer& peer, ansiterminal& t, u16 columns, u16 rows)
{
    peer.start(source_stdio, columns, rows, true);
    wire(peer, t);
    bool ok = t.open(0, 0, 1, 1);
    peer.reset();
    return ok;
}

} // namespace terminaltest
