// A scripted X server for the X11 client's unit tests: a byte stream whose reads
// deliver what the test fed (in pieces of at most `chunk` bytes), whose writes
// collect the client's requests (or take nothing while `blocked`), and whose end
// the test can call. Builders make setup replies, replies, errors and events the
// way the protocol lays them out; `nextrequest` walks the captured requests.
#pragma once
#include "../harness/harness.h"
#include "../../drivers/x11.h"
#include "../../drivers/x11proto.h"
#include "../../framework/mem.h"
#include "../../framework/stream.h"
#include "../../framework/sysprocess.h"

namespace kzvtest {

using namespace kzv;

const u32 FAKE_INPUT = 0x20000;
const u32 FAKE_OUTPUT = 0x100000;

class fakeserver : public stream {
public:
    u8* input;
    u32 inputlength, inputpos;
    u32 chunk;              // most bytes a read delivers; 0 = all
    u8* output;
    u32 outputlength, outputread;
    bool blocked;
    u32 take;               // most bytes a write takes, like a full socket; 0 = all
    bool ended;

    static fakeserver* make();
    void release();
    void feed(void const* bytes, u32 n);
    void end() { ended = true; }
};

inline int fakeread(stream* s, u8* buffer, u32 n)
{
    fakeserver* f = (fakeserver*)s;
    u32 left = f->inputlength - f->inputpos;
    if (left == 0 && f->ended)
        f->control |= control_endofinput | control_discard;
    u32 k = kzv_min(n, left);
    if (f->chunk)
        k = kzv_min(k, f->chunk);
    memcpy(buffer, f->input + f->inputpos, k);
    f->inputpos += k;
    return (int)k;
}

inline int fakewrite(stream* s, u8 const* bytes, u32 n)
{
    fakeserver* f = (fakeserver*)s;
    if (f->blocked)
        return 0;
    if (f->take)
        n = kzv_min(n, f->take);
    u32 k = kzv_min(n, FAKE_OUTPUT - f->outputlength);
    memcpy(f->output + f->outputlength, bytes, k);
    f->outputlength += k;
    return (int)n;
}

inline void fakeexit(stream* s, bool keep)
{
    s->releasestream();
    if (!keep)
        s->clearstate(streamstate_open);
}

inline sptr fake_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    return ((stream*)self)->command(cmd, a, b, p);
}

inline streamdevice const* fakedevice()
{
    static streamdevice const device = {fakeread, fakewrite, fakeexit};
    return &device;
}

inline fakeserver* fakeserver::make()
{
    fakeserver* f = (fakeserver*)process->pool.getmem0(sizeof(fakeserver));
    f->initstream(nullptr, "fakeserver", fake_concb, 99, 1024, fakedevice());
    f->input = (u8*)process->pool.getmem0(FAKE_INPUT);
    f->output = (u8*)process->pool.getmem0(FAKE_OUTPUT);
    f->access = access_readable | access_writable;
    f->setstate(streamstate_open);
    return f;
}

inline void fakeserver::release()
{
    releasestream();
    process->pool.freemem(input);
    process->pool.freemem(output);
    process->pool.freemem(this);
}

inline void fakeserver::feed(void const* bytes, u32 n)
{
    if (inputpos == inputlength)
        inputpos = inputlength = 0;
    u32 k = kzv_min(n, FAKE_INPUT - inputlength);
    memcpy(input + inputlength, bytes, k);
    inputlength += k;
}

// ---- building what a server sends ----

struct xbytes {
    u8 b[0x8000];
    x11writer w;
    xbytes() { w.begin(b, sizeof b); }
    u32 length() const { return w.length; }
};

struct serversetup {
    u32 vendorlength = 5;
    u32 formats = 2;
    u32 depth = 24;
    u32 bpp = 32;
    u32 width = 1024, height = 768;
    u32 minkey = 8, maxkey = 255;
    u32 maxrequestwords = 65535;
    u32 root = 0x2a;
    u32 base = 0x400000;
    u32 screens = 1;
};

// The additional data of a setup reply (what follows the 8-byte head).
inline void setupdata(x11writer& w, serversetup const& s)
{
    w.put32(12004000);                  // release
    w.put32(s.base);
    w.put32(0x1fffff);
    w.put32(256);
    w.put16(s.vendorlength);
    w.put16(s.maxrequestwords);
    w.put8(s.screens);
    w.put8(s.formats);
    w.put8(0);                          // LSBFirst images
    w.put8(0);
    w.put8(32);
    w.put8(32);
    w.put8(s.minkey);
    w.put8(s.maxkey);
    w.put32(0);
    for (u32 i = 0; i < s.vendorlength; i++)
        w.put8('A' + i % 26);
    w.pad4();
    for (u32 i = 0; i < s.formats; i++) {
        w.put8(i == 0 ? 1 : s.depth);
        w.put8(i == 0 ? 1 : s.bpp);
        w.put8(32);
        for (u32 k = 0; k < 5; k++)
            w.put8(0);
    }
    w.put32(s.root);
    w.put32(0x20);                      // colormap
    w.put32(0xffffff);
    w.put32(0);
    w.put32(0);
    w.put16(s.width);
    w.put16(s.height);
    w.put16(300);
    w.put16(200);
    w.put16(1);
    w.put16(1);
    w.put32(0x21);                      // root visual
    w.put8(0);
    w.put8(0);
    w.put8(s.depth);
    w.put8(0);                          // no depth list follows in these tests
}

inline u32 setupreply(xbytes& out, serversetup const& s)
{
    xbytes data;
    setupdata(data.w, s);
    out.w.put8(1);
    out.w.put8(0);
    out.w.put16(11);
    out.w.put16(0);
    out.w.put16(data.length() / 4);
    out.w.putbytes(data.b, data.length());
    return out.length();
}

// A reply head: 1, a data byte, the sequence, the words behind the 32 bytes.
inline void replyhead(x11writer& w, u32 data1, u32 seq, u32 extrawords)
{
    w.put8(1);
    w.put8(data1);
    w.put16(seq);
    w.put32(extrawords);
}

inline void fill(x11writer& w, u32 upto)
{
    while (w.length < upto)
        w.put8(0);
}

inline void atomreply(x11writer& w, u32 seq, u32 atom)
{
    u32 start = w.length;
    replyhead(w, 0, seq, 0);
    w.put32(atom);
    fill(w, start + 32);
}

inline void extensionreply(x11writer& w, u32 seq, bool present, u32 opcode)
{
    u32 start = w.length;
    replyhead(w, 0, seq, 0);
    w.put8(present);
    w.put8(opcode);
    fill(w, start + 32);
}

inline void errorpacket(x11writer& w, u32 code, u32 seq, u32 major, u32 minor)
{
    u32 start = w.length;
    w.put8(0);
    w.put8(code);
    w.put16(seq);
    w.put32(0);
    w.put16(minor);
    w.put8(major);
    fill(w, start + 32);
}

// A key, button or motion event on `window`.
inline void inputevent(x11writer& w, u32 code, u32 detail, u32 window, s32 x, s32 y, u32 state)
{
    u32 start = w.length;
    w.put8(code);
    w.put8(detail);
    w.put16(0);
    w.put32(0);                         // time
    w.put32(0x2a);                      // root
    w.put32(window);
    w.put32(0);                         // child
    w.put16((u32)(x + 100) & 0xffff);   // root position
    w.put16((u32)(y + 100) & 0xffff);
    w.put16((u32)x & 0xffff);
    w.put16((u32)y & 0xffff);
    w.put16(state);
    w.put8(1);
    fill(w, start + 32);
}

inline void configureevent(x11writer& w, u32 window, s32 x, s32 y, u32 width, u32 height)
{
    u32 start = w.length;
    w.put8(xev_configurenotify);
    w.put8(0);
    w.put16(0);
    w.put32(window);
    w.put32(window);
    w.put32(0);
    w.put16((u32)x & 0xffff);
    w.put16((u32)y & 0xffff);
    w.put16(width);
    w.put16(height);
    fill(w, start + 32);
}

inline void windowevent(x11writer& w, u32 code, u32 window)
{
    u32 start = w.length;
    w.put8(code);
    w.put8(0);
    w.put16(0);
    w.put32(code == xev_mapnotify ? window : window);
    w.put32(window);
    fill(w, start + 32);
}

inline void clientmessage(x11writer& w, bool sent, u32 window, u32 type, u32 value)
{
    u32 start = w.length;
    w.put8(xev_clientmessage | (sent ? xev_sent : 0));
    w.put8(32);
    w.put16(0);
    w.put32(window);
    w.put32(type);
    w.put32(value);
    fill(w, start + 32);
}

inline void mappingnotify(x11writer& w, u32 request, u32 firstkeycode, u32 count)
{
    u32 start = w.length;
    w.put8(xev_mappingnotify);
    w.put8(0);
    w.put16(0);
    w.put8(request);
    w.put8(firstkeycode);
    w.put8(count);
    fill(w, start + 32);
}

// A GetKeyboardMapping reply of two keysyms a key for `keys` key codes from
// `first`: key code 38 gets sym38 (and 'A' shifted), 113 gets sym113, the rest
// none. `extrawords` makes it longer (or, negative, shorter) than those keys.
inline void keymapreply(x11writer& w, u32 seq, u32 first, u32 keys, u32 sym38, u32 sym113, int extrawords = 0)
{
    u32 words = (u32)((int)(keys * 2) + extrawords);
    replyhead(w, 2, seq, words);
    fill(w, w.length + 24);
    for (u32 i = 0; i < words; i++) {
        u32 code = first + i / 2;
        bool shifted = i % 2 == 1;
        w.put32(code == 38 ? (shifted ? 'A' : sym38) : code == 113 && !shifted ? sym113 : 0);
    }
}

// ---- reading what the client sent ----

struct xrequest {
    u8 const* bytes;
    u32 length;             // bytes, head included
    u8 opcode;
    u8 data;
};

// The next captured request; false at the end of the output.
inline bool nextrequest(fakeserver& f, xrequest& r)
{
    if (f.outputread + 4 > f.outputlength)
        return false;
    u8 const* p = f.output + f.outputread;
    u64 length = (u64)x11_get16(p + 2) * 4;
    if (length == 0) {
        if (f.outputread + 8 > f.outputlength)
            return false;
        length = (u64)x11_get32(p + 4) * 4;
    }
    if (length == 0 || f.outputread + length > f.outputlength)
        return false;
    r.bytes = p;
    r.length = (u32)length;
    r.opcode = p[0];
    r.data = p[1];
    f.outputread += (u32)length;
    return true;
}

inline void skiprequests(fakeserver& f) { f.outputread = f.outputlength; }

} // namespace kzvtest
