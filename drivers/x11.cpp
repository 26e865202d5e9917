// The X11 connection: authorization, the setup exchange, the pending-reply table
// and the state machine that the scheduler steps: every 1 ms, with the socket
// handed to the scheduler's waits, while a caller waits on the server (the
// setup, a map and its first Expose, a reply, pixels still going out); every
// 20 ms otherwise. Facts it relies on:
// - The server numbers requests from 1 after the setup; replies and errors carry
//   the low 16 bits of that number, so pending entries are matched on 16 bits and
//   marked in use apart from the number, which wraps to 0.
// - An error answers a request instead of its reply, so it frees that entry.
// - The setup reply's head is 8 bytes: status (0 failed, 1 success, 2 more
//   authentication), the reason length, the protocol version and the length of
//   the rest in words.
#include "x11.h"
#include "x11auth.h"
#include "x11proto.h"
#include "../framework/fileload.h"
#include "../framework/os.h"
#include "../framework/printf.h"
#include "../framework/stdio.h"
#include "../framework/str.h"
#include "../framework/stream.h"
#include "../framework/sysprocess.h"
#include "../gui/guidriver.h"
#include "../gui/pixelformat.h"

namespace kzv {

static char const* const ATOMNAMES[X11_ATOMCOUNT] = {
    "WM_NAME", "WM_ICON_NAME", "STRING", "INT32", "WM_HINTS", "WM_CLASS", "WM_DELETE_WINDOW",
    "ATOM", "WM_PROTOCOLS", "WM_NORMAL_HINTS", "WM_SIZE_HINTS", "WM_TRANSIENT_FOR", "WINDOW",
    "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE_FULLSCREEN", "_MOTIF_WM_HINTS",
};

// By x11slot_*.
static char const* const EXTENSIONNAMES[X11_EXTENSIONCOUNT] = {"RANDR", "BIG-REQUESTS", "DRI2", "DRI3", "Present"};

void x11::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "x11", x11_concb, type_gui);
    maxrequest = X11_DEFAULTMAXREQUEST;
    store.init(pool);
    setuptimer.reset();
}

void x11::mexit()
{
    if (process->defaulthandler == this)
        process->defaulthandler = nullptr;
    stopwaking();
    for (u32 i = 0; i < windowcapacity; i++) {
        guiwindow* w = windows[i];
        if (!w)
            continue;
        x11windowpart* p = part(w);
        if (p->bbpixels)
            pool->freemem(p->bbpixels);
        if (p->extrapixels)
            pool->freemem(p->extrapixels);
        p->extraimage.exit(true);
        w->flags &= (u8)~guiwindow_shown;
        windows[i] = nullptr;
    }
    strippixels = nullptr;          // the back buffers go: their pixels are not sent
    stripleft = strippad = 0;
    if (dri2fd)
        os_close(dri2fd);
    dri2fd = 0;
    windows = nullptr;
    windowcapacity = 0;
    store.exit(true);
}

void x11::exit(bool keep) { module_exit(*this, keep); }

stream* x11::connection() const
{
    module* m = in.peer ? in.peer->owner : nullptr;
    return m && m->type == type_bytestream ? (stream*)m : nullptr;
}

bool x11::send(void const* bytes, u32 n)
{
    if (n == 0)
        return true;
    // A request must not land inside the pixels of a PutImage still going out.
    if (stripleft || strippad)
        finishstrip();
    return in.call(stream_write, (int)n, 0, bytes) == (sptr)n;
}

bool x11::awaitingserver() const
{
    if (connstate != x11state_ready && connstate != x11state_dri2probe)
        return true;                // still setting up
    if (stripleft || strippad || pendingcount() || anysending())
        return true;
    for (u32 i = 0; i < windowcapacity; i++) {
        x11windowpart const* p = windows[i] ? part(windows[i]) : nullptr;
        if (p && (!p->mapped || (!p->exposed && os_getms32() - p->mappedat < X11_EXPOSEWAITMS)))
            return true;
    }
    return false;
}

// A frame whose pixels are going out, or one put off until the output drains.
bool x11::anysending() const
{
    for (u32 i = 0; i < windowcapacity; i++) {
        if (windows[i] && (sending(windows[i]) || part(windows[i])->dirty))
            return true;
    }
    return false;
}

// While awaiting, the scheduler's idle waits also end when the server's bytes
// come (with the socket known), so they are read at once, not at the next step.
void x11::pace()
{
    if (connstate == x11state_ended)
        return;
    bool awaiting = awaitingserver();
    if (awaiting && serverfd > 0) {
        process->wakefd = serverfd;
        process->wakeonoutput = stripleft || strippad || anysending() ? 1 : 0;
        process->wakemodule = this;
    } else {
        stopwaking();
    }
    u32 want = awaiting ? X11_SETUPINTERVAL : X11_READYINTERVAL;
    if (want == interval)
        return;
    interval = want;
    process->startthread(this, want);
}

void x11::stopwaking()
{
    if (process->wakemodule != this)
        return;
    process->wakefd = 0;
    process->wakeonoutput = 0;
    process->wakemodule = nullptr;
}

u16 x11::sendrequest(u32 length)
{
    sequence++;
    send(request, length);
    return sequence;
}

void x11::group(bool on)
{
    in.call(stream_setbuffering, on ? 1 : 0, 0, nullptr);
}

x11pending* x11::addpending(u16 seq, u32 kindcode, u32 parameter, void* target)
{
    for (u32 i = 0; i < X11_PENDINGCOUNT; i++) {
        x11pending& e = pending[i];
        if (e.inuse)
            continue;
        e.inuse = 1;
        e.sequence = seq;
        e.kind = kindcode;
        e.parameter = parameter;
        e.target = target;
        return &e;
    }
    return nullptr;                 // its reply will find no entry and is dropped
}

x11pending* x11::findpending(u16 seq)
{
    for (u32 i = 0; i < X11_PENDINGCOUNT; i++) {
        if (pending[i].inuse && (u16)pending[i].sequence == seq)
            return &pending[i];
    }
    return nullptr;
}

u32 x11::pendingcount() const
{
    u32 n = 0;
    for (u32 i = 0; i < X11_PENDINGCOUNT; i++)
        n += pending[i].inuse;
    return n;
}

bool x11::keymappending() const
{
    for (u32 i = 0; i < X11_PENDINGCOUNT; i++) {
        if (pending[i].inuse && pending[i].kind == x11pending_keymap)
            return true;
    }
    return false;
}

// ---- authorization and opening ----

u32 x11::generateauth(u32 display, u8 const* file, u32 size)
{
    x11authentry e;
    bool found = file && x11auth_find(file, size, display, remoteaddress, X11_REQUESTCAPACITY, e);
    authmissing = found ? 0 : 1;
    return x11auth_setuprequest(request, X11_REQUESTCAPACITY, found ? &e : nullptr);
}

// The file whole, under a cap; null when it is missing, empty or too large.
static u8* loadauthority(char const* path, u32& size)
{
    char full[X11_PATHCAPACITY];
    size = 0;
    if (path[0] == '~') {
        if (!str_combine(full, sizeof full, process->gethomedir(), path + 1))
            return nullptr;
        path = full;
    }
    u64 bytes = os_fsize(path);
    if (bytes == 0 || bytes > X11_AUTHFILEMAX)
        return nullptr;
    unsigned loaded = 0;
    u8* file = (u8*)loadfile(path, loaded);
    size = loaded;
    return file;
}

int x11::open(u32 display, char const* authfile, u32 f, u32 remote)
{
    int fd = serverfd;              // a descriptor handed over before the open stays
    module_resetkeepingpeers(*this);
    serverfd = fd;
    openflags = f;
    displaynumber = display;
    remoteaddress = remote;
    process->defaulthandler = nullptr;
    // A path that does not fit is not cut to another file's name: no file.
    if (authfile && strlen(authfile) < sizeof authpath)
        strcpy(authpath, authfile, sizeof authpath - 1);
    u32 size = 0;
    u8* file = authpath[0] ? loadauthority(authpath, size) : nullptr;
    u32 length = generateauth(display, file, size);
    if (file)
        process->pool.free_int(file);
    send(request, length);
    memset0(request, length);       // the cookie does not stay behind
    process->defaulthandler = this;
    connstate = x11state_setuphead;
    interval = X11_SETUPINTERVAL;
    process->startthread(this, X11_SETUPINTERVAL);
    cyclic();
    return 1;
}

// The setup reply did not come: the same setup again on the same stream.
void x11::retry()
{
    char path[X11_PATHCAPACITY];
    strcpy(path, authpath, sizeof path - 1);
    open(displaynumber, path, openflags, remoteaddress);
}

void x11::endrun(char const* what, char const* reason)
{
    flags |= gui_failed;
    connstate = x11state_ended;
    unregister();
    stopwaking();
    if (process->exitcode != 2) {
        eprint(process->getprogramname());
        eprint(": ");
        eprint(what);
        if (reason && reason[0]) {
            eprint(": ");
            eprint(reason);
        }
        eputs("");
        process->exitcode = 2;
    }
    process->exit("");
}

// ---- the setup ----

bool x11::decodeserverinfo(u8 const* data, u32 length)
{
    x11setup s;
    if (!x11_decodesetup(data, length, s))
        return false;
    nextid = s.resourcebase;
    screencount = s.screens;
    imagebyteorder = s.imagebyteorder;
    bitmaporder = s.bitmaporder;
    scanlineunit = s.scanlineunit;
    scanlinepad = s.scanlinepad;
    root = s.root;
    screenwidth = s.width;
    screenheight = s.height;
    rootdepth = s.rootdepth;
    u32 bytes = s.bitsperpixel ? (s.bitsperpixel + 7) / 8u : (s.rootdepth + 7) / 8u;
    bytesperpixel = (u8)(bytes == 3 ? 4 : bytes);
    u32 pad = (s.bitsperpixel ? s.depthpad : s.scanlinepad) / 8u;
    rowpad = (u8)(pad == 1 || pad == 2 || pad == 4 || pad == 8 ? pad : 4);
    minkeycode = (u8)kzv_max<u32>(s.minkeycode, 8);
    maxkeycode = s.maxkeycode;
    // The program's own limit, lowered to the server's where that is smaller.
    u64 most = (u64)s.maxrequestwords * 4;
    maxrequest = (most && most < X11_DEFAULTMAXREQUEST) ? (u32)most : X11_DEFAULTMAXREQUEST;
    return true;
}

u32 x11::getatom(char const* name, u32* target)
{
    x11writer w;
    w.begin(request, sizeof request);
    u32 length = x11req_internatom(w, name);
    if (!length)
        return 0;
    u16 seq = sendrequest(length);
    addpending(seq, x11pending_atom, 0, target);
    return seq;
}

u32 x11::getkeymap()
{
    if (minkeycode > maxkeycode)
        return 0;
    u32 count = (u32)maxkeycode - minkeycode + 1;
    x11writer w;
    w.begin(request, sizeof request);
    u32 length = x11req_getkeyboardmapping(w, minkeycode, count);
    u16 seq = sendrequest(length);
    addpending(seq, x11pending_keymap, minkeycode | (count << 8), keymap);
    return seq;
}

u32 x11::checkextension(char const* name, u32 parameter)
{
    x11writer w;
    w.begin(request, sizeof request);
    u32 length = x11req_queryextension(w, name);
    if (!length)
        return 0;
    u16 seq = sendrequest(length);
    addpending(seq, x11pending_extension, parameter, nullptr);
    return seq;
}

bool x11::readsetuphead()
{
    u8* b = nullptr;
    sptr n = in.call(stream_read, (int)X11_SETUPHEAD, 0, &b);
    if (n < (sptr)X11_SETUPHEAD) {
        if (n > 0)
            in.call(stream_giveback, (int)n, 0, nullptr);
        return false;
    }
    setuptimer.reset();
    // Told only now: a server that cannot be reached gets its own single line.
    if (authmissing)
        eputs("error x11 auth");
    authmissing = 0;
    setuplength = (u32)x11_get16(b + 6) * 4;
    memcpy(request, b, X11_SETUPHEAD);  // the head, kept for a refusal's reason
    bool accepted = b[0] == 1 && x11_get16(b + 2) == 11;
    connstate = accepted ? x11state_setupdata : x11state_refused;
    return true;
}

bool x11::readsetupdata()
{
    u8* b = nullptr;
    sptr n = setuplength ? in.call(stream_read, (int)setuplength, 0, &b) : 0;
    if (setuplength && n < (sptr)setuplength) {
        if (n > 0)
            in.call(stream_giveback, (int)n, 0, nullptr);
        return false;
    }
    if (!decodeserverinfo(b, setuplength)) {
        connstate = x11state_setuphead;
        return true;
    }
    group(true);
    sequence = 0;
    for (u32 i = 0; i < X11_ATOMCOUNT; i++)
        getatom(ATOMNAMES[i], &atoms[i]);
    getkeymap();
    for (u32 i = 0; i < X11_EXTENSIONCOUNT; i++)
        checkextension(EXTENSIONNAMES[i], x11ext_randr + i);
    group(false);
    connstate = x11state_setupreplies;
    return true;
}

// A refused setup ends the run at once, with the server's reason.
void x11::readrefusal()
{
    u8* b = nullptr;
    sptr n = setuplength ? in.call(stream_read, (int)setuplength, 0, &b) : 0;
    if (setuplength && n < (sptr)setuplength) {
        if (n > 0)
            in.call(stream_giveback, (int)n, 0, nullptr);
        return;
    }
    u8 head[X11_SETUPHEAD];
    memcpy(head, request, sizeof head);
    char reason[200];
    reason[0] = 0;
    if (head[0] == 0 || head[0] == 2)
        x11_refusalreason(head, b, (u32)kzv_max<sptr>(n, 0), reason, sizeof reason);
    else
        strcpy(reason, "unexpected setup reply", sizeof reason - 1);
    endrun("the X server refused the connection", reason);
}

void x11::setupstep()
{
    bool progress = connstate == x11state_setuphead ? readsetuphead() : readsetupdata();
    if (!progress && setuptimer.msec() > X11_RETRYMS)
        retry();
}

// RANDR's screen size and BIG-REQUESTS, once the first replies are in.
void x11::askscreen()
{
    bool asked = false;
    group(true);
    x11writer w;
    if (opcode[x11slot_randr]) {
        w.begin(request, sizeof request);
        u32 length = x11req_extension(w, (u8)opcode[x11slot_randr], xrandr_getscreenresources, &root, 1);
        addpending(sendrequest(length), x11pending_extension, x11ext_screenresources, nullptr);
        asked = true;
    }
    if (opcode[x11slot_bigrequests]) {
        w.begin(request, sizeof request);
        u32 length = x11req_extension(w, (u8)opcode[x11slot_bigrequests], xbigreq_enable, nullptr, 0);
        addpending(sendrequest(length), x11pending_extension, x11ext_bigreqenable, nullptr);
        asked = true;
    }
    group(false);
    if (asked)
        connstate = x11state_screenreplies;
    else
        becomeready();
}

void x11::setpixelformat()
{
    switch (rootdepth) {
    case 15: kind.gui.format = pixfmt_555; break;
    case 16: kind.gui.format = pixfmt_565; break;
    case 24: case 32: kind.gui.format = pixfmt_888; break;
    default: break;         // no format: a window cannot be opened
    }
}

void x11::becomeready()
{
    flags |= gui_ready;
    connstate = x11state_ready;
    pace();
    kind.gui.width = (u16)kzv_min(screenwidth, X11_MAXSIDE);
    kind.gui.height = (u16)kzv_min(screenheight, X11_MAXSIDE);
    setpixelformat();
    kind.gui.flags |= guicaps_windowsystem;
    if ((opcode[x11slot_dri3] && opcode[x11slot_present]) || opcode[x11slot_dri2])
        kind.gui.flags |= guicaps_realtime;
}

// The stream ends, fails or closes when the server goes away.
bool x11::checkconnection()
{
    stream* s = connection();
    bool gone = !s || !s->isopen() || s->hasstate(streamstate_error) ||
                ((s->control & control_endofinput) && s->readcount == 0);
    if (gone)
        endrun("the connection to the X server was lost", nullptr);
    return !gone;
}

void x11::readall()
{
    for (u32 i = 0; i < X11_READSPERSTEP && connstate != x11state_ended; i++) {
        if (!readx11())
            break;
        // The key map's reply, its error or its skipping frees the keys it held.
        if (heldcount && !keymappending())
            releaseheldkeys();
    }
}

void x11::cyclic()
{
    // A step may move the state on; the next state's work follows at once.
    for (u32 step = 0; step < 4 && connstate != x11state_ended; step++) {
        if (!checkconnection())
            return;
        u32 before = connstate;
        switch (connstate) {
        case x11state_setuphead:
        case x11state_setupdata: setupstep(); break;
        case x11state_refused: readrefusal(); break;
        // An error read here may have ended the run: the state says so.
        case x11state_setupreplies:
            readall();
            if (connstate == x11state_setupreplies && !pendingcount())
                askscreen();
            break;
        case x11state_screenreplies:
            readall();
            if (connstate == x11state_screenreplies && !pendingcount())
                becomeready();
            break;
        case x11state_ready:
        case x11state_dri2probe:
            readall();
            redodirty();
            break;
        default:
            break;
        }
        if (connstate == before)
            break;
    }
    // Whatever could be read has been: bytes left behind the end of input are a
    // piece that can never be completed.
    stream* s = connection();
    if (connstate != x11state_ended && s && (s->control & control_endofinput))
        endrun("the connection to the X server was lost", nullptr);
    pace();
}

void x11::waitforallrepliesfinished()
{
    realtimer watch;
    while (pendingcount() && connstate != x11state_ended && watch.msec() <= X11_REPLYWAITMS) {
        cyclic();
        if (pendingcount())
            process->sleep(this, 1);
    }
}

// ---- reading ----

bool x11::readlong()
{
    u8* b = nullptr;
    sptr n = in.call(stream_read, (int)longreply, 0, &b);
    if (n < (sptr)longreply) {
        if (n > 0)
            in.call(stream_giveback, (int)n, 0, nullptr);
        return false;
    }
    readerstate = x11reader_event;
    dispatchreply(b, longreply);
    return true;
}

// The rest of a reply too long to keep, taken in pieces and dropped.
bool x11::discard()
{
    if (discardleft == 0) {
        readerstate = x11reader_event;
        return true;
    }
    u8* b = nullptr;
    u32 piece = (u32)kzv_min<u64>(discardleft, 0x10000);
    sptr n = in.call(stream_read, (int)piece, 0, &b);
    if (n <= 0)
        return false;
    discardleft -= (u64)n;
    if (discardleft == 0)
        readerstate = x11reader_event;
    return true;
}

bool x11::readx11()
{
    if (readerstate == x11reader_longreply)
        return readlong();
    if (readerstate == x11reader_discard)
        return discard();
    u8* b = nullptr;
    sptr n = in.call(stream_read, (int)X11_EVENTBYTES, 0, &b);
    if (n < (sptr)X11_EVENTBYTES) {
        if (n > 0)
            in.call(stream_giveback, (int)n, 0, nullptr);
        return false;
    }
    u8 e[X11_EVENTBYTES];
    memcpy(e, b, sizeof e);
    bool reply = e[0] == xev_reply;
    if (reply || (e[0] & 0x7f) == xev_genericevent) {
        u64 extra = (u64)x11_get32(e + 4) * 4;
        if (extra == 0) {
            if (reply)
                dispatchreply(e, sizeof e);
            return true;
        }
        if (!reply || sizeof e + extra > X11_MAXREPLY) {
            x11pending* p = reply ? findpending(x11_get16(e + 2)) : nullptr;
            if (p) {
                eprintf("x11 reply of %u bytes skipped\n", (u64)(sizeof e + extra));
                p->inuse = 0;
            }
            discardleft = extra;
            readerstate = x11reader_discard;
            return true;
        }
        in.call(stream_giveback, (int)sizeof e, 0, nullptr);
        longreply = (u32)(sizeof e + extra);
        readerstate = x11reader_longreply;
        return true;
    }
    // An error or an event we do not know is printed and the reading goes on: what
    // follows it in the stream is no less due.
    if (e[0] == xev_error)
        dispatcherror(e);
    else
        dispatchevent(e);
    return true;
}

sptr x11_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    x11* x = (x11*)self;
    if (cmd == cmd_cyclic) {
        x->cyclic();
        return 1;
    }
    if (cmd >= guicmd_openwindow && cmd <= guicmd_updatewhole)
        return x->command(cmd, a, b, (guiwindow*)const_cast<void*>(p));
    sptr reply = 0;
    module_defaultreply(cmd, p, reply);
    return reply;
}

} // namespace kzv
