// The gdi module and its window operations. A window is created hidden, its
// outer size grown until the client area is exactly the window's size, and shown
// by its first update. The back buffer is a DIB section selected into a memory
// context; its rows are padded to 4 bytes, as DIBs are. Closing selects the
// context's own bitmap back before the DIB is deleted, so no GDI object is lost.
#include "gdi.h"
#include "wintext.h"
#include "../../framework/memprim.h"
#include "../../framework/str.h"
#include "../../framework/streamcodes.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"
#include "../../gui/pixelformat.h"
#include "../../gui/windowtable.h"

namespace kzv {

void gdi::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "gdi", gdi_concb, type_gui);
    store.init(pool);
}

void gdi::mexit()
{
    if (process->defaulthandler == this)
        process->defaulthandler = nullptr;
    for (u32 i = 0; i < windowcapacity; i++)
        if (windows[i])
            closewindow(windows[i]);
    windows = nullptr;
    windowcapacity = 0;
    publishwinlist();
    store.exit(true);
}

void gdi::exit(bool keep)
{
    module_exit(*this, keep);
}

static u32 pixelformatof(u32 request) { return request == pixfmt_555 || request == pixfmt_565 ? pixfmt_555 : pixfmt_888; }

int gdi::open(u32 formatrequest)
{
    module_resetkeepingpeers(*this);
    process->defaulthandler = nullptr;
    gdibinding* b = gdi_binding();
    guiscreen* screens = b ? (guiscreen*)store.getmem0(b->monitorcount * (u32)sizeof(guiscreen)) : nullptr;
    if (!screens) {
        flags |= gui_failed;
        return 0;
    }
    u32 format = pixelformatof(formatrequest);
    for (u32 i = 0; i < b->monitorcount; i++)
        screens[i] = {b->monitors[i].x, b->monitors[i].y, b->monitors[i].width, b->monitors[i].height, format};
    kind.gui.flags = guicaps_windowsystem;
    kind.gui.screens = (u8)kzv_min(b->monitorcount, 255u);
    kind.gui.width = (u16)kzv_min((u32)b->monitors[0].width, GUIWINDOW_MAXSIDE);
    kind.gui.height = (u16)kzv_min((u32)b->monitors[0].height, GUIWINDOW_MAXSIDE);
    kind.gui.format = format;
    payload = screens;
    size = kind.gui.screens * (u32)sizeof(guiscreen);
    flags |= gui_ready;
    process->startthread(this, GDI_PUMPINTERVAL);
    process->defaulthandler = this;
    return 1;
}

// ---- the window list ----

bool gdi::haswindow(guiwindow* w) const { return windowtable_has(windows, windowcapacity, w); }

// The window procedure finds windows through the binding's copy of the list.
void gdi::publishwinlist()
{
    gdibinding* b = process ? (gdibinding*)process->slots[processslot_windowsystem] : nullptr;
    if (!b)
        return;
    b->windows = windows;
    b->windowcount = windowcapacity;
}

// The window procedure keeps its own copy of the table's address and size.
bool gdi::addtowinlist(guiwindow* w)
{
    if (!windowtable_add(windows, windowcapacity, store, w))
        return false;
    publishwinlist();
    return true;
}

void gdi::removefromwinlist(guiwindow* w) { windowtable_drop(windows, windowcapacity, w); }

// ---- window operations ----

// A title that does not fit is cut; one with characters beyond the first plane
// keeps them as surrogate pairs.
static void widetitle(char const* title, u16* out)
{
    u32 units = 0;
    if (!wintext_toutf16(title ? title : "", out, GDI_TITLECAPACITY, units))
        str_utf82unicode(title, out, GDI_TITLECAPACITY);
}

// The outer size that a client area of width x height gets with this style. Where
// the system cannot tell, the frame is taken to add nothing.
static void framedsize(u32 style, u32 exstyle, s32& width, s32& height)
{
    winrect outer = {0, 0, width, height};
    if (!AdjustWindowRectEx(&outer, style, 0, exstyle))
        return;
    width = outer.right - outer.left;
    height = outer.bottom - outer.top;
}

// An outer window of that size at x, y is moved up and left as far as it must to
// end within the monitor, never past the monitor's top or left edge.
static void keeponmonitor(gdimonitor const& m, s32 width, s32 height, s32& x, s32& y)
{
    if ((s64)x + width > (s64)m.x + m.width)
        x = m.x + m.width - width;
    if ((s64)y + height > (s64)m.y + m.height)
        y = m.y + m.height - height;
    x = kzv_max(x, m.x);
    y = kzv_max(y, m.y);
}

int gdi::openwindow(guiwindow* w)
{
    gdibinding* b = gdi_binding();
    if (!b || !addtowinlist(w))
        return 0;
    gdiwindowpart* p = part(w);
    memset0(p, sizeof(*p));
    w->format = pixelformatof(w->openflags);
    p->style = WIN_WSPOPUP;
    gdimonitor const& first = b->monitors[0];
    bool fullscreen = w->width >= first.width || w->height > first.height;
    if (fullscreen) {
        w->x = w->y = 0;
        w->width = (u16)kzv_min((u32)first.width, GUIWINDOW_MAXSIDE);
        w->height = (u16)kzv_min((u32)first.height, GUIWINDOW_MAXSIDE);
    }
    u16 title[GDI_TITLECAPACITY];
    widetitle(w->title, title);
    // A window whose frame would not fit on the monitor opens without one, as a
    // full-size one does; one whose frame fits is placed so that all of it is on
    // the monitor. Either way the client area, with the buttons along its bottom,
    // stays on the monitor.
    if (!fullscreen) {
        u32 framed = p->style | WIN_WSFRAMEPARTS | (title[0] ? (u32)WIN_WSCAPTION : 0u);
        s32 width = w->width, height = w->height;
        framedsize(framed, p->exstyle, width, height);
        if (width <= first.width && height <= first.height) {
            p->style = framed;
        } else {
            width = w->width;
            height = w->height;
        }
        keeponmonitor(first, width, height, w->x, w->y);
    }
    p->window = CreateWindowExW(p->exstyle, b->classname, title, p->style, w->x, w->y, w->width, w->height, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!p->window) {
        removefromwinlist(w);
        return 0;
    }
    winrect client = {}, outer = {};
    if (GetClientRect(p->window, &client) && GetWindowRect(p->window, &outer) &&
        (client.right - client.left != w->width || client.bottom - client.top != w->height)) {
        s32 width = outer.right - outer.left + w->width - (client.right - client.left);
        s32 height = outer.bottom - outer.top + w->height - (client.bottom - client.top);
        SetWindowPos(p->window, nullptr, 0, 0, width, height, WIN_SWPKEEPPOSITION);
    }
    w->flags |= guiwindow_shown;
    return 1;
}

// Rows of a DIB are padded to 4 bytes; the sides are capped, so the size fits
// easily in 64 bits.
static u32 dibstride(u32 width, u32 bitsperpixel) { return ((width * bitsperpixel / 8) + 3) & ~3u; }

int gdi::createbackbuffer(guiwindow* w)
{
    gdiwindowpart* p = part(w);
    if (p->dib)
        return 1;
    p->bitsperpixel = w->format == pixfmt_555 ? 16 : 32;
    winbitmapinfo info = {};
    info.size = 40;
    info.width = w->width;
    info.height = -(s32)w->height;      // rows from the top down
    info.planes = 1;
    info.bitcount = (u16)p->bitsperpixel;
    winhandle dc = GetDC(p->window);
    p->memorydc = CreateCompatibleDC(dc);
    p->dib = p->memorydc ? CreateDIBSection(dc, &info, WIN_DIBRGBCOLORS, &p->bits, nullptr, 0) : nullptr;
    if (p->dib)
        p->oldbitmap = SelectObject(p->memorydc, p->dib);
    ReleaseDC(p->window, dc);
    if (!p->dib || !p->bits) {
        if (p->memorydc)
            DeleteDC(p->memorydc);
        p->memorydc = p->dib = nullptr;
        p->bits = nullptr;
        return 0;
    }
    return 1;
}

int gdi::getbackbuffer(guiwindow* w)
{
    gdiwindowpart* p = part(w);
    if (!p->bits)
        return 0;
    w->stride = dibstride(w->width, p->bitsperpixel);
    w->pixels = (u8*)p->bits;
    return 1;
}

// The shown flag is set before ShowWindow, whose messages may update again.
int gdi::update(guiwindow* w)
{
    gdiwindowpart* p = part(w);
    if (!p->window || !p->memorydc)
        return 1;
    p->windowdc = GetDC(p->window);
    if (!p->shown) {
        p->shown = 1;
        ShowWindow(p->window, WIN_SWNORMAL);
        ValidateRect(p->window, nullptr);
        SetForegroundWindow(p->window);
    }
    BitBlt(p->windowdc, 0, 0, w->width, w->height, p->memorydc, 0, 0, WIN_SRCCOPY);
    ReleaseDC(p->window, p->windowdc);
    p->windowdc = nullptr;
    return 1;
}

int gdi::closewindow(guiwindow* w)
{
    if (!w)
        return 1;
    w->flags &= (u8)~guiwindow_shown;
    removefromwinlist(w);
    gdiwindowpart* p = part(w);
    if (p->memorydc) {
        if (p->oldbitmap)
            SelectObject(p->memorydc, p->oldbitmap);
        DeleteDC(p->memorydc);
    }
    if (p->dib)
        DeleteObject(p->dib);
    if (p->window)
        DestroyWindow(p->window);
    memset0(p, sizeof(*p));
    return 1;
}

sptr gdi::command(unsigned code, int a, int b, guiwindow* w)
{
    if (flags & gui_failed)
        return 0;
    switch (code) {
    case guicmd_openwindow: return w ? openwindow(w) : 0;
    case guicmd_closewindow: return closewindow(w);
    case guicmd_clipboardtext: return gdi_clipboardtext((u16*)(void*)w, a);
    default: break;
    }
    if (!haswindow(w))
        return 0;
    switch (code) {
    case guicmd_createbackbuffer: return createbackbuffer(w);
    case guicmd_getbackbuffer: return getbackbuffer(w);
    case guicmd_update: return update(w);       // a rectangle is shown whole
    default: return 0;
    }
}

void gdi::pump()
{
    publishwinlist();
    winmsg msg;
    for (u32 n = 0; n < GDI_MESSAGESPERPUMP && PeekMessageW(&msg, nullptr, 0, 0, WIN_PMREMOVE); n++) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The stream-like answers of a back-end; every other code is a window command.
sptr gdi_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    gdi* g = (gdi*)self;
    if (cmd == cmd_cyclic) {
        g->pump();
        return 1;
    }
    sptr reply;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return g->command(cmd, a, b, (guiwindow*)const_cast<void*>(p));
}

} // namespace kzv
