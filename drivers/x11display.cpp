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
const u32 FAILURECAPACITY = 200;
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

u32 x11_parsedisplay(char const* display, x11displayname& out)
{
    memset0(&out, sizeof out);
    char const* colon = display ? strrchr(display, ':') : nullptr;
    if (!colon)
        return out.transport = x11display_default;
    char const* s = colon + 1;
    if (!takedigits(s, 5, out.number) || (*s != 0 && *s != '.')) {
        out.number = 0;
        return out.transport = x11display_default;
    }
    u32 hostlength = (u32)(colon - display);
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

// The display named by DISPLAY, or the fallbacks when it names none.
static bool choosedisplay(guidriver& d, x11displayname& name)
{
    char value[ENVCAPACITY];
    bool set = process->getenv("DISPLAY", value, sizeof value);
    u32 transport = x11_parsedisplay(set ? value : nullptr, name);
    if (transport == x11display_badhost) {
        fail(d, "DISPLAY=%s: only local displays and IPv4 addresses can be reached", value);
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
