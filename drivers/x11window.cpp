// Windows of the X11 back-end: creating them with their properties, the back
// buffer and its server pixmap, updates in PutImage strips, the extra buffer and
// frame pacing. Facts the code relies on:
// - ZPixmap rows are padded to the scanline pad of the pixmap format of the
//   depth (32 bits on the servers we meet); the back buffer's stride is padded
//   the same way, so an odd width at depth 16 does not skew the picture.
// - A PutImage strip must fit the maximum request length, head included (24
//   bytes, 28 in the extended BIG-REQUESTS form). Its pixels follow its head
//   straight from the back buffer, as the socket takes them; no other request
//   may start before the last of them, so `send` first finishes a strip.
// - The back buffer keeps its own size: a window the window manager makes larger
//   is sent and copied only as far as the back buffer reaches.
#include "x11.h"
#include "x11proto.h"
#include "../framework/dumpmem.h"
#include "../framework/printf.h"
#include "../framework/str.h"
#include "../framework/stream.h"
#include "../framework/sysprocess.h"
#include "../gui/blit.h"
#include "../gui/guidriver.h"
#include "../gui/pixelformat.h"
#include "../gui/windowtable.h"

namespace kzv {

// KeyPress, KeyRelease, ButtonPress, ButtonRelease, PointerMotion, Button1Motion
// to Button5Motion, ButtonMotion, Exposure, VisibilityChange, StructureNotify.
const u32 X11_EVENTMASK = 0x3bf4f;
const u32 SIZEHINTS_VALUES = 18;         // a whole WM_SIZE_HINTS
const u32 SIZEHINTS_USPOSSIZE = 15;      // user and program position and size
const u32 X11_FRAMEGAPMS = 16;
const u32 X11_DEFAULTREFRESH = 60000;    // mHz

// ---- the window list ----

bool x11::haswindow(guiwindow* w) const { return windowtable_has(windows, windowcapacity, w); }

guiwindow* x11::findwindow(u32 id) const
{
    for (u32 i = 0; id && i < windowcapacity; i++) {
        if (windows[i] && part(windows[i])->windowid == id)
            return windows[i];
    }
    return nullptr;
}

bool x11::addwindow(guiwindow* w) { return windowtable_add(windows, windowcapacity, store, w); }

void x11::removewindow(guiwindow* w) { windowtable_drop(windows, windowcapacity, w); }

// ---- opening and closing ----

static void property(x11& x, u32 window, u32 name, u32 type, u32 format, void const* values, u32 count)
{
    if (!name || !type)
        return;                     // an atom the server did not give
    x11writer w;
    w.begin(x.request, sizeof x.request);
    u32 length = x11req_changeproperty(w, window, name, type, format, values, count);
    if (length)
        x.sendrequest(length);
}

static void sendwindowrequests(x11& x, guiwindow* w, x11windowpart* p, bool screensized)
{
    x11writer q;
    q.begin(x.request, sizeof x.request);
    x.sendrequest(x11req_createwindow(q, p->windowid, x.root, w->x, w->y, w->width, w->height,
                                      X11_EVENTMASK));
    if (w->title && w->title[0]) {
        u32 n = str_utf8prefix(w->title, X11_TITLEMAX, X11_TITLEMAX);
        property(x, p->windowid, x.atoms[x11atom_wmname], x.atoms[x11atom_string], 8, w->title, n);
        property(x, p->windowid, x.atoms[x11atom_wmiconname], x.atoms[x11atom_string], 8, w->title, n);
    }
    if (screensized) {
        u32 const nodecorations[5] = {2, 0, 0, 0, 0};
        u32 motif = x.atoms[x11atom_motifwmhints];
        property(x, p->windowid, motif, motif, 32, nodecorations, 5);
    }
    u32 hints[SIZEHINTS_VALUES] = {SIZEHINTS_USPOSSIZE};
    property(x, p->windowid, x.atoms[x11atom_wmnormalhints], x.atoms[x11atom_wmsizehints], 32, hints,
             SIZEHINTS_VALUES);
    p->gcid = x.newid();
    q.begin(x.request, sizeof x.request);
    x.sendrequest(x11req_creategc(q, p->gcid, p->windowid, 3, 0xffffff, 0xff0000));
    u32 deletewindow = x.atoms[x11atom_wmdeletewindow];
    if (deletewindow)
        property(x, p->windowid, x.atoms[x11atom_wmprotocols], x.atoms[x11atom_atom], 32, &deletewindow, 1);
    q.begin(x.request, sizeof x.request);
    x.sendrequest(x11req_window(q, xreq_mapwindow, p->windowid));
}

int x11::openwindow(guiwindow* w)
{
    if (!w || !isready() || (flags & gui_failed))
        return 0;
    if (!kind.gui.format) {
        char depth[16];
        vprinter_int32tostring(rootdepth, depth);
        endrun("this X server's screen depth is not supported", depth);
        return 0;
    }
    if (haswindow(w))
        closewindow(w);             // opened again: the old one goes first
    if (!addwindow(w))
        return 0;
    x11windowpart* p = new (w->backendpart) x11windowpart;
    p->extraimage.init(pool);
    p->windowid = newid();
    p->frameclock.reset();
    p->nextframe = 0;
    u32 sw = kind.gui.width;
    u32 sh = kind.gui.height;
    bool screensized = sw && sh && (w->width >= sw || w->height >= sh);
    if (screensized) {
        w->width = (u16)sw;
        w->height = (u16)sh;
        w->x = w->y = 0;
    }
    w->width = (u16)kzv_max<u32>(w->width, 1);     // X refuses windows of size 0
    w->height = (u16)kzv_max<u32>(w->height, 1);
    group(true);
    sendwindowrequests(*this, w, p, screensized);
    group(false);
    pace();                         // its MapNotify is read as soon as it comes
    w->format = kind.gui.format;
    if (w->realtime) {
        checkrealtime();
        if (!(kind.gui.flags & guicaps_realtime))
            w->realtime = 0;
    }
    return 1;
}

void x11::closewindow(guiwindow* w)
{
    if (!haswindow(w))
        return;
    x11windowpart* p = part(w);
    if (connstate != x11state_ended)
        finishstrip();              // its pixels may be what is going out
    w->flags &= (u8)~guiwindow_shown;
    if (p->bbpixels && w->pixels == p->bbpixels)
        w->pixels = nullptr;
    if (p->bbpixels)
        pool->freemem(p->bbpixels);
    if (p->extrapixels)
        pool->freemem(p->extrapixels);
    p->bbpixels = nullptr;
    p->extrapixels = nullptr;
    p->hasbackbuffer = 0;
    p->extraimage.exit(true);
    removewindow(w);
    if (connstate == x11state_ended || p->destroyed)
        return;                     // a window the server destroyed has no id to destroy
    x11writer q;
    q.begin(request, sizeof request);
    sendrequest(x11req_window(q, xreq_destroywindow, p->windowid));
}

// ---- the back buffer and updates ----

void x11::createbackbuffer(guiwindow* w)
{
    x11windowpart* p = part(w);
    finishstrip();                  // the old buffer's pixels may be going out
    if (p->bbpixels)
        pool->freemem(p->bbpixels);
    p->bbpixels = nullptr;
    p->hasbackbuffer = 0;
    p->sendrow = p->sendend = p->copyfirst = p->copyend = 0;
    u64 row = (u64)w->width * bytesperpixel;
    u64 stride = (row + rowpad - 1) / rowpad * rowpad;
    u64 bytes = stride * w->height;
    if (bytes == 0 || bytes > MEM_MAXREQUEST)
        return;
    p->bbpixels = (u8*)pool->getmem0((u32)bytes);   // an Expose before the first draw shows black
    if (!p->bbpixels)
        return;
    p->hasbackbuffer = 1;
    p->bbstride = (u32)stride;
    p->bbwidth = w->width;
    p->bbheight = w->height;
    u32 rows = maxrequest > 28 ? (u32)((maxrequest - 28) / stride) : 0;
    p->linesperstrip = kzv_max(rows, 1u);
    p->pixmapid = newid();
    x11writer q;
    q.begin(request, sizeof request);
    sendrequest(x11req_createpixmap(q, rootdepth, p->pixmapid, p->windowid, p->bbwidth, p->bbheight));
}

// The head of a PutImage of `rows` rows from y; its pixels then go out from the
// back buffer as the socket takes them (writestrip).
static bool putstrip(x11& x, x11windowpart* p, u32 y, u32 rows)
{
    u32 data = rows * p->bbstride;
    x11writer q;
    q.begin(x.request, sizeof x.request);
    u32 head = x11req_putimagehead(q, x.bigrequests != 0, x.bigrequests ? X11_MAXREQUESTCAP : x.maxrequest,
                                   p->pixmapid, p->gcid, p->bbwidth, rows, y, x.rootdepth, data);
    if (!head)
        return false;
    x.sequence++;
    x.send(x.request, head);
    x.strippixels = p->bbpixels + (u64)y * p->bbstride;
    x.stripleft = data;
    x.strippad = x11_pad4(data) - data;
    return true;
}

// As many of the strip's pixels as the socket takes now, straight from the back
// buffer, so that no copy of the image is queued; true once all are out.
bool x11::writestrip()
{
    if (stripleft) {
        in.call(stream_setdirect, 1, 0, nullptr);
        sptr k = in.call(stream_write, (int)stripleft, 0, strippixels);
        in.call(stream_setdirect, 0, 0, nullptr);
        if (k > 0) {
            strippixels += k;
            stripleft -= (u32)kzv_min<sptr>(k, stripleft);
        }
        if (stripleft)
            return false;
    }
    if (strippad)
        finishstrip();              // at most 3 bytes: the stream may keep them
    return true;
}

// The rest of the strip through the stream's buffer, before any other request
// or before its back buffer goes.
void x11::finishstrip()
{
    static u8 const zeros[4] = {0, 0, 0, 0};
    u8 const* pixels = strippixels;
    u32 left = stripleft;
    u32 pad = strippad;
    strippixels = nullptr;
    stripleft = strippad = 0;
    if (left)
        in.call(stream_write, (int)left, 0, pixels);
    if (pad)
        in.call(stream_write, (int)pad, 0, zeros);
}

bool x11::sending(guiwindow* w) const
{
    x11windowpart const* p = part(w);
    return p->sendrow < p->sendend || p->copyend > p->copyfirst;
}

// The window's rows still to put, strip by strip while the socket takes them,
// then their copy to the window; the step goes on where the socket stopped.
void x11::sendstrips(guiwindow* w)
{
    x11windowpart* p = part(w);
    while (writestrip() && p->sendrow < p->sendend) {
        u32 rows = kzv_min(p->linesperstrip, p->sendend - p->sendrow);
        u32 y = p->sendrow;
        p->sendrow += rows;
        putstrip(*this, p, y, rows);
    }
    if (stripleft || strippad || p->sendrow < p->sendend)
        return;
    u32 first = p->copyfirst;
    u32 copywidth = kzv_min<u32>(w->width, p->bbwidth);
    u32 copyend = kzv_min<u32>(p->copyend, w->height);
    p->sendrow = p->sendend = p->copyfirst = p->copyend = 0;
    if (copyend > first) {
        x11writer q;
        q.begin(request, sizeof request);
        sendrequest(x11req_copyarea(q, p->pixmapid, p->windowid, p->gcid, first, copywidth, copyend - first));
    }
}

sptr x11::update(guiwindow* w, u32 firstrow, u32 rows, bool whole)
{
    if (!haswindow(w) || connstate == x11state_ended)
        return 0;
    x11windowpart* p = part(w);
    if (!(w->flags & guiwindow_shown) || !p->hasbackbuffer)
        return 0;
    if (in.call(stream_pending, 0, 0, nullptr) > (sptr)X11_PENDINGOUTPUT || stripleft || strippad ||
        sending(w)) {
        p->dirty = 1;               // redone from the step once the output drains
        return 0;
    }
    u32 end = whole ? p->bbheight : (u32)kzv_min<u64>((u64)firstrow + rows, p->bbheight);
    u32 first = whole ? 0 : firstrow;
    if (first >= end)
        return 1;
    p->sendrow = p->copyfirst = first;
    p->sendend = p->copyend = end;
    p->dirty = 0;
    sendstrips(w);
    pace();
    return 1;
}

void x11::redodirty()
{
    for (u32 i = 0; i < windowcapacity; i++) {
        guiwindow* w = windows[i];
        if (w && sending(w))
            sendstrips(w);
        if (w && part(w)->dirty && in.call(stream_pending, 0, 0, nullptr) <= (sptr)X11_PENDINGOUTPUT)
            update(w, 0, 0, true);
    }
}

// ---- frame pacing ----

int x11::timerbufav(guiwindow* w)
{
    x11windowpart* p = part(w);
    u32 t = p->frameclock.msec();
    if (t < p->nextframe)
        return 0;
    u32 rate = p->refreshmhz ? p->refreshmhz : X11_DEFAULTREFRESH;
    p->frameaccumulator += 1000000000ull / rate;
    p->nextframe = (u32)(p->frameaccumulator / 1000);
    if (p->frameaccumulator > 999999) {
        p->frameaccumulator -= 1000000;
        p->frameclock.start += 1000;    // the clock goes back one second with it
        p->nextframe -= 1000;
        t = p->frameclock.msec();
    }
    if ((s32)(t - p->nextframe) >= 0)
        p->nextframe = t + X11_FRAMEGAPMS;
    return 1;
}

// ---- the extra buffer ----

void x11::createbuffer(guiwindow* w, u32 width, u32 height)
{
    x11windowpart* p = part(w);
    if (!p->hasbackbuffer)
        createbackbuffer(w);
    if (p->extrapixels)
        pool->freemem(p->extrapixels);
    p->extrapixels = nullptr;
    p->extraimage.exit(true);
    p->extrawidth = p->extraheight = 0;
    u64 bytes = (u64)width * height * 4;
    if (width > IMAGE_MAXSIDE || height > IMAGE_MAXSIDE || bytes == 0 || bytes > MEM_MAXREQUEST)
        return;
    p->extrapixels = (u32*)pool->getmem0((u32)bytes);
    if (!p->extrapixels)
        return;
    p->extrawidth = width;
    p->extraheight = height;
    if (p->extraformat != pixfmt_888)
        p->extraformat = pixfmt_8888;
}

void x11::getbufferimage(guiwindow* w)
{
    x11windowpart* p = part(w);
    if (p->extraimage.haspixels() || !p->extrapixels)
        return;
    p->extraimage.open(p->extrapixels, p->extrawidth, p->extraheight, p->extraformat, p->extrawidth * 4);
}

// The extra buffer enlarged by the window's zoom into the back buffer at (x, y),
// cut to both buffers. Only a back buffer of 32-bit pixels takes it.
void x11::setbuffer(guiwindow* w, int x, int y)
{
    x11windowpart* p = part(w);
    u32 f = w->zoom > 1 ? w->zoom : 1;
    blitfunction blit = blit_select(f, p->extraformat == pixfmt_8888);
    if (!blit || !p->extrapixels || !p->bbpixels || bytesperpixel != 4)
        return;
    s64 sx = x < 0 ? -(s64)x : 0;
    s64 sy = y < 0 ? -(s64)y : 0;
    s64 dx = x < 0 ? 0 : x;
    s64 dy = y < 0 ? 0 : y;
    s64 width = kzv_min<s64>((s64)p->extrawidth - sx, (s64)(p->bbwidth / f) - dx);
    s64 height = kzv_min<s64>((s64)p->extraheight - sy, (s64)(p->bbheight / f) - dy);
    if (width <= 0 || height <= 0)
        return;
#ifndef NDEBUG
    // The clipping above keeps both rectangles inside their buffers; a mistake
    // in it stops a debug build here instead of writing past the back buffer.
    if (!blit_inside(f, p->bbwidth, p->bbheight, p->extrawidth, p->extraheight, (u32)(dx * f),
                     (u32)(dy * f), (u32)sx, (u32)sy, (u32)width, (u32)height))
        __builtin_trap();
#endif
    blit((u32*)(void*)p->bbpixels, p->extrapixels, p->bbstride / 4, p->extrawidth, (u32)(dx * f),
         (u32)(dy * f), (u32)sx, (u32)sy, (u32)width, (u32)height);
}

// ---- the DRI2 probe ----

void x11::checkrealtime()
{
    if (!opcode[x11slot_dri2] || dri2state != x11dri2_unprobed)
        return;
    dri2state = x11dri2_probing;
    u32 const words[2] = {root, 0};     // the root window, driver type DRI
    x11writer q;
    q.begin(request, sizeof request);
    u32 length = x11req_extension(q, (u8)opcode[x11slot_dri2], xdri2_connect, words, 2);
    addpending(sendrequest(length), x11pending_extension, x11ext_dri2connect, nullptr);
    connstate = x11state_dri2probe;
    waitforallrepliesfinished();
    u32 freeslot = 0;
    while (freeslot < X11_PENDINGCOUNT && pending[freeslot].inuse)
        freeslot++;
    u32 const authenticate[2] = {root, 0};
    q.begin(request, sizeof request);
    u32 prepared = x11req_extension(q, (u8)opcode[x11slot_dri2], xdri2_authenticate, authenticate, 2);
    eprintf("dri2 %d %08x\n", freeslot, dri2fd);
    dumpmem(request, prepared, 16);
    dri2state = x11dri2_done;
}

// ---- the command set ----

sptr x11::command(unsigned code, int a, int b, guiwindow* w)
{
    if (flags & gui_failed)
        return 0;
    if (code == guicmd_openwindow)
        return openwindow(w);
    if (code == guicmd_closewindow) {
        closewindow(w);             // a window we do not hold is closed already
        return 1;
    }
    if (!haswindow(w))
        return 0;
    x11windowpart* p = part(w);
    switch (code) {
    case guicmd_createbackbuffer: createbackbuffer(w); return p->hasbackbuffer;
    case guicmd_getbackbuffer:
        if (!p->hasbackbuffer)
            return 0;
        w->stride = p->bbstride;
        w->pixels = p->bbpixels;
        return 1;
    case guicmd_update:
        if (a || b)
            return update(w, (u32)a >> 16, (u32)b >> 16, false);
        return update(w, 0, 0, true);
    case guicmd_createbuffer: createbuffer(w, (u32)a, (u32)b); return 1;
    case guicmd_getbufferimage: getbufferimage(w); return 1;
    case guicmd_setbuffer: setbuffer(w, a, b); return 1;
    case guicmd_framedue: return dri2state == x11dri2_probing ? 0 : timerbufav(w);
    case guicmd_updatewhole: return update(w, 0, 0, true);
    default: return 0;
    }
}

} // namespace kzv
