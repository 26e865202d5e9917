// Stand-ins for the display tests: a fake clock behind the display waits (a pause
// advances it at once, so a 10-second wait costs no time), a scripted back-end
// that answers 87 and 145-149 and owns a back buffer, a module that records the
// events it is sent, a scripted byte-stream peer of the standard-I/O kind for the
// terminal renderer, and an environment of the test's own.
#pragma once
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/memprim.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"

namespace kzvtest {

// ---- fake clock --------------------------------------------------------------

struct fakeclock {
    u32 now;
    u32 pauses;
    void (*tick)(u32 now);      // called after every pause, may change the fakes
};
inline fakeclock& theclock()
{
    static fakeclock c;
    return c;
}
inline u32 fakenow() { return theclock().now; }
inline void fakepause(module*, u32 ms)
{
    fakeclock& c = theclock();
    c.now += ms;
    c.pauses++;
    if (c.tick)
        c.tick(c.now);
}

// Installs the fake clock for one test and puts the real one back after it.
struct usefakeclock {
    guiwaitclock saved;
    explicit usefakeclock(u32 start = 1000)
    {
        saved = guidriver_waitclock;
        theclock().now = start;
        theclock().pauses = 0;
        theclock().tick = nullptr;
        guidriver_waitclock.now = fakenow;
        guidriver_waitclock.pause = fakepause;
    }
    ~usefakeclock()
    {
        guidriver_waitclock = saved;
        theclock().tick = nullptr;
    }
};

// ---- scripted back-end -------------------------------------------------------

const u32 NEVER = 0xFFFFFFFF;

struct fakebackend : public module {
    u32 readyat;            // fake clock reading from which 87 sets the ready flag
    u32 shownat;            // from which the window is shown; 0 at once in 145
    bool answer145, answer147, answer148, nullpixels;
    u32 cutwidth, cutheight;    // 145 cuts the window to these when nonzero
    u32 format;             // given to the window in 145
    u32 bufferoffset;       // bytes the pixel pointer lies behind the buffer's start
    u32 calls87, calls145, calls146, calls147, calls148, calls149, released;
    guiwindow* window;
    u8* buffer;

    void setup(u16 screenwidth, u16 screenheight)
    {
        memset0(this, sizeof(*this));
        initheader(nullptr, "fakebackend", concb, type_gui);
        kind.gui.width = screenwidth;
        kind.gui.height = screenheight;
        kind.gui.format = 8888;
        kind.gui.screens = 1;
        answer145 = answer147 = answer148 = true;
        format = 8888;
    }
    void release()
    {
        if (buffer)
            pool->freemem(buffer);
        buffer = nullptr;
    }
    void showif(u32 now)
    {
        if (window && shownat != NEVER && now >= shownat)
            window->flags |= guiwindow_shown;
    }
    sptr openwindow(guiwindow* w)
    {
        calls145++;
        if (!answer145)
            return 0;
        if (cutwidth && w->width > cutwidth)
            w->width = (u16)cutwidth;
        if (cutheight && w->height > cutheight)
            w->height = (u16)cutheight;
        w->format = format;
        window = w;
        showif(shownat == 0 ? 0 : theclock().now);
        return 1;
    }
    sptr createbuffer(guiwindow* w)
    {
        calls147++;
        if (!answer147)
            return 0;
        release();
        u64 bytes = (u64)w->width * 4 * w->height + 64;
        buffer = (u8*)pool->getmem0(bytes);
        return buffer ? 1 : 0;
    }
    sptr getbuffer(guiwindow* w)
    {
        calls148++;
        if (!answer148 || !buffer)
            return 0;
        w->pixels = nullpixels ? nullptr : buffer + bufferoffset;
        w->stride = (u32)w->width * 4;
        return 1;
    }
    sptr command(unsigned cmd, guiwindow* w)
    {
        switch (cmd) {
        case cmd_datarequested:
            calls87++;
            if (readyat != NEVER && theclock().now >= readyat)
                flags |= gui_ready;
            return 1;
        case guicmd_openwindow: return openwindow(w);
        case guicmd_closewindow:
            calls146++;
            w->flags &= (u8)~guiwindow_shown;
            window = nullptr;
            return 1;
        case guicmd_createbackbuffer: return createbuffer(w);
        case guicmd_getbackbuffer: return getbuffer(w);
        case guicmd_update: calls149++; return 1;
        default: return 0;
        }
    }
    static sptr concb(void* self, unsigned cmd, int a, int b, void const* p)
    {
        return ((fakebackend*)self)->command(cmd, (guiwindow*)const_cast<void*>(p));
    }
};

// ---- event recorder ------------------------------------------------------------

struct eventlog : public module {
    static const u32 CAPACITY = 64;
    u32 count;
    u32 code[CAPACITY];
    s32 a[CAPACITY];
    s32 b[CAPACITY];
    bool pinwasset[CAPACITY];   // the current pin pointed at our IN pin during the call
    sptr reply;

    void setup()
    {
        memset0(this, sizeof(*this));
        initheader(nullptr, "eventlog", concb, type_uimessage);
        reply = 7;
    }
    static sptr concb(void* self, unsigned cmd, int x, int y, void const*)
    {
        eventlog* e = (eventlog*)self;
        if (e->count < CAPACITY) {
            e->code[e->count] = cmd;
            e->a[e->count] = x;
            e->b[e->count] = y;
            e->pinwasset[e->count] = e->currentpin == &e->in;
            e->count++;
        }
        return e->reply;
    }
};

// ---- scripted terminal ---------------------------------------------------------

// A byte stream that looks like the console on a terminal of the given size. What
// the renderer writes is kept (the first OUTPUTCAPACITY bytes, with the total
// counted); bytes queued with `typein` come back one per 'F'.
struct faketerminal : public module {
    static const u32 OUTPUTCAPACITY = 65536;
    static const u32 INPUTCAPACITY = 256;
    u8 output[OUTPUTCAPACITY];
    u32 outputlength;
    u64 outputtotal;
    u32 writes;
    u8 input[INPUTCAPACITY];
    u32 inputlength, inputpos;
    u32 buffering;

    // A terminal that cannot tell its size still reports one, as the console stream does.
    void setup(u16 columns, u16 rows, bool isterminal = true, bool sizeknown = true)
    {
        memset0(this, sizeof(*this));
        initheader(nullptr, "faketerminal", concb, type_bytestream);
        kind.stream.sourcekind = source_stdio;
        kind.stream.source.stdio.isterminal = isterminal ? 1 : 0;
        kind.stream.source.stdio.sizeknown = isterminal && sizeknown ? 1 : 0;
        kind.stream.source.stdio.columns = columns;
        kind.stream.source.stdio.rows = rows;
    }
    void take(u8 const* bytes, u32 n)
    {
        writes++;
        outputtotal += n;
        for (u32 i = 0; i < n && outputlength < OUTPUTCAPACITY; i++)
            output[outputlength++] = bytes[i];
    }
    void typein(char const* bytes, u32 n)
    {
        for (u32 i = 0; i < n && inputlength < INPUTCAPACITY; i++)
            input[inputlength++] = (u8)bytes[i];
    }
    void clearoutput() { outputlength = 0; outputtotal = 0; writes = 0; }
    // The output so far holds `text` somewhere.
    bool hasoutput(char const* text) const
    {
        u32 n = strlen(text);
        for (u32 i = 0; i + n <= outputlength; i++)
            if (memcmp(output + i, text, n) == 0)
                return true;
        return false;
    }
    static sptr concb(void* self, unsigned cmd, int a, int b, void const* p)
    {
        faketerminal* t = (faketerminal*)self;
        switch (cmd) {
        case 'W': return 1;
        case 'I': t->take((u8 const*)p, strlen((char const*)p)); return 1;
        case 'J': t->take((u8 const*)p, (u32)a); return a;
        case 'L': { u8 c = (u8)a; t->take(&c, 1); return 1; }
        case 'Q': t->buffering = (u32)a; return 1;
        case 'F': return t->inputpos < t->inputlength ? t->input[t->inputpos++] : -1;
        default: return 0;
        }
    }
};

// ---- environment ---------------------------------------------------------------

// The process sees only the given NAME=value strings (null-terminated list) while
// this lives.
struct useenvironment {
    char const** saved;
    explicit useenvironment(char const** env)
    {
        argumentrecord* r = process->getargs();
        saved = r->env;
        r->env = env;
    }
    ~useenvironment() { process->getargs()->env = saved; }
};

// A run that a failed display ended is started again for the next test.
inline void forgetrunend()
{
    process->exitcode = 0;
    process->exitrequested = 0;
    process->exitreason = nullptr;
}

} // namespace kzvtest
