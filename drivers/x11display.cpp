// The X11 path of the display selection. A connection that cannot be made fails
// at once (the local socket's connect, the first TCP connect) and so does a
// server that refuses the setup (the client ends the run itself); only a server
// that accepted the connection and stays silent is waited for, at most 9999 ms.
#include "x11display.h"
#include "x11.h"
#include "../framework/os.h"
#include "../framework/pipe.h"
#include "../framework/printf.h"
#include "../framework/str.h"
#include "../framework/sysprocess.h"
#include "../framework/tcp.h"
#include "../gui/guidriver.h"

namespace kzv {

const u32 ENVCAPACITY = 1024;           // getenv copies at most 999 characters
const u32 FAILURECAPACITY = X11_SHOWNMAX + 100;   // the longest text: DISPLAY shown whole
static char const SOCKETPREFIX[] = "/tmp/.X11-unix/X";

static bool isdigit(char c) { return c >= '0' && c <= '9'; }

// 1 to `most` decimal digits from s, as a number below 10^most; false otherwise.
static bool takedigits(char const*& s, u32 most, u32& value)
{
    u32 n = 0;
    value = 0;
    while (isdigit(s[n]) && n <= most) {
        value = value * 10 + (u32)(s[n] - '0');
        n++;
    }
    if (n == 0 || n > most)
        return false;
    s += n;
    return true;
}

// A display or screen number: 1 to 5 digits, at most X11_NUMBERMAX.
static bool takenumber(char const*& s, u32& value)
{
    return takedigits(s, 5, value) && value <= X11_NUMBERMAX;
}

// No host, or up to X11_HOSTMAX visible ASCII bytes: no space or control byte
// can be part of a host name, so such a value names no display.
static bool ishostname(char const* host, u32 length)
{
    if (length > X11_HOSTMAX)
        return false;
    for (u32 i = 0; i < length; i++) {
        u8 c = (u8)host[i];
        if (c <= ' ' || c >= 0x7f)
            return false;
    }
    return true;
}

// A dotted IPv4 address of exactly `length` characters.
static bool parseipv4(char const* s, u32 length, u32& address)
{
    char const* end = s + length;
    address = 0;
    for (u32 part = 0; part < 4; part++) {
        u32 v = 0;
        if (!takedigits(s, 3, v) || v > 255 || s > end)
            return false;
        address = (address << 8) | v;
        if (part < 3 && (s >= end || *s++ != '.'))
            return false;
    }
    return s == end;
}

static bool hostis(char const* host, u32 length, char const* name)
{
    return strlen(name) == length && str_eqprefix(host, name, (int)length);
}

// The display part behind the last ':': "n" or "n.s", nothing after it.
static bool takedisplaypart(char const* s, u32& number)
{
    u32 screen = 0;
    if (!takenumber(s, number))
        return false;
    if (*s == '.' && !takenumber(++s, screen))
        return false;
    return *s == 0;
}

u32 x11_parsedisplay(char const* display, x11displayname& out)
{
    memset0(&out, sizeof out);
    if (!display)
        return out.transport = x11display_default;
    char const* colon = strrchr(display, ':');
    u32 hostlength = colon ? (u32)(colon - display) : 0;
    if (!colon || !ishostname(display, hostlength) || !takedisplaypart(colon + 1, out.number)) {
        out.number = 0;
        return out.transport = x11display_malformed;
    }
    if (hostlength == 0 || hostis(display, hostlength, "unix")) {
        char digits[8];
        vprinter_int32tostring((int)out.number, digits);
        str_combine(out.socketpath, sizeof out.socketpath, SOCKETPREFIX, digits);
        return out.transport = x11display_unix;
    }
    u32 address = X11_LOOPBACK;
    if (!hostis(display, hostlength, "localhost") && !parseipv4(display, hostlength, address))
        return out.transport = x11display_badhost;
    if (X11_TCPBASEPORT + out.number > 65535)
        return out.transport = x11display_badhost;
    out.address = address;
    out.port = X11_TCPBASEPORT + out.number;
    return out.transport = x11display_tcp;
}

// DISPLAY as a message shows it: bytes outside visible ASCII and space as '?',
// so a value cannot move the cursor or recolour the terminal; cut behind
// X11_SHOWNMAX bytes (longer than any display name) with "...".
void x11_showdisplay(char const* value, char* out, u32 capacity)
{
    if (!out || capacity < 4)
        return;
    u32 most = kzv_min(X11_SHOWNMAX, capacity - 4);     // room for "..." and the end
    u32 n = 0;
    for (; value && value[n] && n < most; n++) {
        u8 c = (u8)value[n];
        out[n] = c >= ' ' && c < 0x7f ? (char)c : '?';
    }
    bool cut = value && value[n];
    for (u32 i = 0; cut && i < 3; i++)
        out[n++] = '.';
    out[n] = 0;
}

static void releasex11(module* m) { ((x11*)m)->exit(true); }
static void releasepipe(module* m) { ((pipe*)m)->exit(true); }
static void releasetcp(module* m) { ((tcp*)m)->exit(true); }

// The driver prints its failure later, so the text lives in its pool.
template <class... A> static void fail(guidriver& d, char const* format, A... args)
{
    char* text = (char*)d.pool->sgetmem(FAILURECAPACITY);
    if (!text) {
        d.failure = "no X display could be opened";
        return;
    }
    printsink sink = printsink_memory(text, FAILURECAPACITY);
    printto(sink, format, args...);
    d.failure = text;
}

// The display named by DISPLAY, or the fallbacks when DISPLAY is unset; a
// DISPLAY that is set but names no display, or one out of reach, is refused.
static bool choosedisplay(guidriver& d, x11displayname& name)
{
    char value[ENVCAPACITY];
    value[0] = 0;
    bool set = process->getenv("DISPLAY", value, sizeof value);
    u32 transport = x11_parsedisplay(set ? value : nullptr, name);
    char shown[X11_SHOWNMAX + 4];
    x11_showdisplay(value, shown, sizeof shown);
    if (transport == x11display_malformed) {
        fail(d, "DISPLAY=%s: not a display name", shown);
        return false;
    }
    if (transport == x11display_badhost) {
        fail(d, "DISPLAY=%s: only local displays and IPv4 addresses can be reached", shown);
        return false;
    }
    if (transport != x11display_default)
        return true;
    str_combine(name.socketpath, sizeof name.socketpath, SOCKETPREFIX, "0");
    if (os_fileexists(name.socketpath)) {
        name.transport = x11display_unix;
        return true;
    }
    name.transport = x11display_tcp;
    name.address = X11_LOOPBACK;
    name.port = X11_TCPBASEPORT;
    return true;
}

static stream* connectstream(guidriver& d, x11displayname const& name)
{
    if (name.transport == x11display_unix) {
        pipe* p = (pipe*)d.takebackend(guislot_pipe, sizeof(pipe), releasepipe);
        if (!p)
            return nullptr;
        p->init(d.pool);
        p->open(name.socketpath);
        if (p->isopen())
            return p;
        fail(d, "cannot connect to the X server at %s", name.socketpath);
        return nullptr;
    }
    tcp* t = (tcp*)d.takebackend(guislot_tcp, sizeof(tcp), releasetcp);
    if (!t)
        return nullptr;
    t->init(d.pool);
    t->open(name.address, name.port);
    return t;
}

// Waits while the client sets the connection up; a refused first TCP connect or
// a client that gave up ends the wait at once.
static bool waitready(guidriver& d, x11& x, x11displayname const& name)
{
    tcp* t = (tcp*)d.owned[guislot_tcp];
    u32 start = guidriver_waitclock.now();
    while (!x.isready() && guidriver_waitclock.now() - start <= X11_CONNECTWAITMS) {
        if (x.flags & gui_failed)
            return false;
        if (t && t->connstate == tcpstate_waitreconnect) {
            fail(d, "cannot connect to the X server at %i:%d", name.address, name.port);
            return false;
        }
        guidriver_waitclock.pause(&d, 1);
    }
    if (x.isready())
        return true;
    if (name.transport == x11display_unix)
        fail(d, "the X server at %s did not answer", name.socketpath);
    else
        fail(d, "the X server at %i:%d did not answer", name.address, name.port);
    return false;
}

int x11_opendisplay(guidriver& d)
{
    x11* x = (x11*)d.takebackend(guislot_x11, sizeof(x11), releasex11);
    if (!x) {
        d.failure = "no memory for the X11 client";
        return 0;
    }
    x->init(d.pool);
    x11displayname name;
    if (!choosedisplay(d, name))
        return 0;
    stream* s = connectstream(d, name);
    if (!s) {
        if (!d.failure)
            d.failure = "no memory for the X11 connection";
        return 0;
    }
    connect(s->out, x->in);
    // The local socket is waited on while the client waits for the server; a TCP
    // stream may reconnect on another socket, so it is read at the 1 ms steps.
    if (name.transport == x11display_unix)
        x->serverfd = ((pipe*)s)->fd;
    d.backendkind = guikind_x11;
    char authfile[ENVCAPACITY];
    if (!process->getenv("XAUTHORITY", authfile, sizeof authfile) || !authfile[0])
        strcpy(authfile, "~/.Xauthority", sizeof authfile - 1);
    // The cookie of this machine goes only to this machine.
    bool remote = name.transport == x11display_tcp && (name.address >> 24) != 127;
    if (!x->open(name.number, authfile, d.formatrequest, remote ? name.address : 0))
        return 0;
    d.datarequested();
    bool ready = waitready(d, *x, name);
    d.datarequested();
    if (ready)
        d.flags |= gui_ready;
    return ready ? 1 : 0;
}

} // namespace kzv
