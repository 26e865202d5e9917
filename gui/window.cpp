// The top-level window module. Opening runs the scheduler while it waits (for the
// back-end's display information, then for the window to be shown), so the other
// modules, the back-end's event reader among them, keep running; one timer, reset
// once before each wait, bounds both. A screen side of 0 counts as unknown: the
// window is then neither cut, moved nor made full screen. Events arrive on the IN
// pin from the back-end and leave through the OUT pin or the queue.
#include "window.h"
#include "../framework/mem.h"
#include "../framework/memprim.h"
#include "../framework/streamcodes.h"
#include "../framework/sysprocess.h"

namespace kzv {

window* window_current()
{
    return process ? (window*)process->slots[processslot_currentwindow] : nullptr;
}

void window::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "window", window_concb, type_uimessage);
    backimage.init(pool);
    events.init(pool);
}

void window::exit(bool keep)
{
    module_exit(*this, keep);
}

void window::mexit()
{
    backimage.exit(true);
    if (isready())
        tobackend(guicmd_closewindow);
    flags &= (u8)~gui_ready;
    events.exit(true);
    if (process->slots[processslot_currentwindow] == this)
        process->slots[processslot_currentwindow] = nullptr;
}

sptr window::tobackend(unsigned code, int a, int b)
{
    return backend ? backend->call(code, a, b, &gwin) : 0;
}

// The active back-end, or the one a driver of our own finds. That driver is never
// freed: a run without a display ends. A run already told to end (a display that
// failed before, say) tries no other.
module* window::findbackend()
{
    if (process->defaulthandler)
        return process->defaulthandler;
    if (process->exitrequested)
        return nullptr;
    guidriver* d = (guidriver*)pool->sgetmem(sizeof(guidriver));
    if (!d)
        return nullptr;
    d->init(nullptr);
    d->formatrequest = gwin.openflags;
    d->open();
    return process->defaulthandler;
}

// Until the back-end's display information is valid; a back-end whose open
// failed will never get there.
bool window::waitbackend(u32 start)
{
    tobackend(cmd_datarequested);
    for (;;) {
        if (backend->flags & gui_failed)
            return false;
        if (backend->flags & gui_ready)
            return true;
        if (guidriver_waitclock.now() - start > GUI_WAITMS)
            return false;
        guidriver_waitclock.pause(this, 1);
        tobackend(cmd_datarequested);
    }
}

// Cut to a known screen and kept on it; a window that covers it is full screen,
// without a title bar. Positions are unsigned: a centring that went below 0 is
// taken as far right or below and comes back onto the screen.
void window::place(char const* title, u32 x, u32 y, u32 w, u32 h)
{
    screenwidth = backend->kind.gui.width;
    screenheight = backend->kind.gui.height;
    w = kzv_min(w, GUIWINDOW_MAXSIDE);
    h = kzv_min(h, GUIWINDOW_MAXSIDE);
    if (screenwidth && w > screenwidth)
        w = screenwidth;
    if (screenheight && h > screenheight)
        h = screenheight;
    if (screenwidth && (u64)x + w > screenwidth)
        x = screenwidth - w;
    if (screenheight && (u64)y + h > screenheight)
        y = screenheight - h;
    gwin.x = (s32)x;
    gwin.y = (s32)y;
    gwin.width = (u16)w;
    gwin.height = (u16)h;
    if (title && title[0]) {
        gwin.title = title;
        gwin.flags |= guiwindow_titlebar;
    }
    if (screenwidth && screenheight && w >= screenwidth && h >= screenheight) {
        gwin.flags &= (u8)~(guiwindow_titlebar | guiwindow_fullscreen);
        gwin.flags |= guiwindow_fullscreen;
    }
    gwin.eventpin = &in;
}

bool window::waitshown()
{
    u32 start = guidriver_waitclock.now();
    while (!(gwin.flags & guiwindow_shown)) {
        if (guidriver_waitclock.now() - start > GUI_WAITMS)
            return false;
        guidriver_waitclock.pause(this, 1);
    }
    return true;
}

// The image is made from the record's size after 148: the back-end may have cut
// it when the window was opened.
bool window::takebackbuffer()
{
    if (!tobackend(guicmd_createbackbuffer, 0, 0) || !tobackend(guicmd_getbackbuffer))
        return false;
    if (!gwin.pixels)
        return false;
    return backimage.open(gwin.pixels, gwin.width, gwin.height, gwin.format, gwin.stride);
}

int window::open(char const* title, u32 x, u32 y, u32 w, u32 h, u32 openflags)
{
    u32 start = guidriver_waitclock.now();
    module_resetkeepingpeers(*this);
    width = w;
    height = h;
    gwin.openflags = openflags;
    backend = findbackend();
    if (!backend || !waitbackend(start))
        return 0;
    place(title, x, y, w, h);
    if (!tobackend(guicmd_openwindow))
        return 0;
    if (!waitshown() || !takebackbuffer()) {
        tobackend(guicmd_closewindow);
        backimage.exit(true);
        return 0;
    }
    width = (u32)backimage.width;
    height = (u32)backimage.height;
    format = (u32)backimage.format;
    flags |= gui_ready;
    process->slots[processslot_currentwindow] = this;
    return 1;
}

int window::read(data** p, int max)
{
    if (p)
        *p = this;
    return uievent_take(events, *this) ? 1 : 0;
}

// Three items or none: an item the queue could not keep takes back the ones
// before it, so the queue never falls out of step. A refused first item leaves
// nothing to take back (and the queue may have no block at all yet).
void uievent_queue(fifoint& q, unsigned code, int a, int b)
{
    int const item[3] = {(int)code, a, b};
    for (u32 i = 0; i < 3; i++) {
        if (q.set(item[i]))
            continue;
        if (i > 0) {
            q.writeindex = (q.writeindex + q.capacity - i) % q.capacity;
            q.count -= i;
        }
        return;
    }
}

bool uievent_take(fifoint& q, data& d)
{
    if (q.count < 3)
        return false;
    d.kind.ui.code = (u8)q.get();
    d.kind.ui.x = q.get();
    d.kind.ui.y = q.get();
    return true;
}

sptr window::event(unsigned code, int a, int b)
{
    if (out.peer)
        return out.call(code, a, b, nullptr);
    uievent_queue(events, code, a, b);
    return 1;
}

sptr window::command(unsigned code, int a, int b, void const* p)
{
    switch (code) {
    case guicmd_update:
    case ui_paint:
        if (isready())
            tobackend(guicmd_update, 0, 0);
        return 1;
    case windowcmd_getimage:
        if (p)
            *(image**)const_cast<void*>(p) = &backimage;
        return 1;
    case guicmd_clipboardtext:
        return backend ? backend->call(code, a, b, p) : 0;
    case ui_resized: case ui_closed: case ui_moved: case ui_leftdown: case ui_leftup:
    case ui_middledown: case ui_middleup: case ui_rightdown: case ui_rightup:
    case ui_mousemoved: case ui_keydown: case ui_keyup: case ui_wheelup: case ui_wheeldown:
        return event(code, a, b);
    default:
        return 0;
    }
}

// The stream-like answers of a window; 'E' hands out the window itself as the
// packet when an event was read.
sptr window_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    window* w = (window*)self;
    switch (cmd) {
    case stream_readrecord:
        return w->read((data**)const_cast<void*>(p), a);
    case stream_getrecord: {
        data* scratch = nullptr;
        int r = w->read(&scratch, a);
        if (p)
            *(data**)const_cast<void*>(p) = r ? (data*)w : nullptr;
        return r;
    }
    case stream_close:
        w->exit(false);
        return 1;
    default:
        break;
    }
    sptr reply;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return w->command(cmd, a, b, p);
}

} // namespace kzv
