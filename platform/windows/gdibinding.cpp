// The window system's binding, made once per process: the monitors (counted,
// then listed at most as many as counted, so one plugged in between cannot
// write past the list; the primary one first, since full-screen windows are
// placed at its origin 0, 0), the window class named after the program and the
// process id, and the clipboard's text.
#include "gdi.h"
#include "cliptext.h"
#include "wintext.h"
#include "../../framework/os.h"
#include "../../framework/printf.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

namespace kzv {

const u32 CLASSNAME_CAPACITY = 1000;

struct monitorfill {
    gdimonitor* list;
    u32 capacity;
    u32 count;
    winhandle dc;
};

static s32 countmonitor(winhandle, winhandle, winrect*, sptr data)
{
    (*(u32*)data)++;
    return 1;
}

static s32 fillmonitor(winhandle monitor, winhandle, winrect*, sptr data)
{
    monitorfill& f = *(monitorfill*)data;
    if (f.count >= f.capacity)
        return 0;
    gdimonitor& m = f.list[f.count++];
    m.handle = monitor;
    m.bitsperpixel = (u32)GetDeviceCaps(f.dc, WIN_BITSPIXEL);
    return 1;
}

static void setrect(gdimonitor& m, winrect const& r, bool work)
{
    s32* out = work ? &m.workx : &m.x;
    out[0] = r.left;
    out[1] = r.top;
    out[2] = r.right - r.left;
    out[3] = r.bottom - r.top;
}

static bool listmonitors(gdibinding& b)
{
    u32 counted = 0;
    EnumDisplayMonitors(nullptr, nullptr, countmonitor, (sptr)&counted);
    if (!counted)
        return false;
    monitorfill f = {(gdimonitor*)process->pool.sgetmem0((u64)counted * sizeof(gdimonitor)), counted, 0, nullptr};
    if (!f.list)
        return false;
    f.dc = GetDC(nullptr);
    EnumDisplayMonitors(f.dc, nullptr, fillmonitor, (sptr)&f);
    ReleaseDC(nullptr, f.dc);
    u32 primary = 0;
    for (u32 i = 0; i < f.count; i++) {
        winmonitorinfo info = {};
        info.size = sizeof info;
        if (!GetMonitorInfoA(f.list[i].handle, &info))
            continue;
        setrect(f.list[i], info.monitor, false);
        setrect(f.list[i], info.work, true);
        if (info.flags & WIN_MONITORINFOF_PRIMARY)
            primary = i;
    }
    gdimonitor first = f.list[0];
    f.list[0] = f.list[primary];
    f.list[primary] = first;
    b.monitors = f.list;
    b.monitorcount = f.count;
    return f.count > 0;
}

static bool registerclass(gdibinding& b)
{
    char name[CLASSNAME_CAPACITY];
    printsink sink = printsink_memory(name, sizeof name);
    printto(sink, "%s%08x", process->getprogramname(), GetCurrentProcessId());
    b.classname = (u16*)process->pool.sgetmem(CLASSNAME_CAPACITY * sizeof(u16));
    u32 units = 0;
    if (!b.classname || !wintext_toutf16(name, b.classname, CLASSNAME_CAPACITY, units))
        return false;
    winhandle instance = GetModuleHandleW(nullptr);
    winwndclass wc = {};
    wc.style = WIN_CSDBLCLKS;
    wc.proc = gdi_windowproc;
    wc.instance = instance;
    wc.cursor = LoadCursorW(nullptr, (u16 const*)(uptr)WIN_IDCARROW);
    wc.icon = LoadIconA(instance, (char const*)(uptr)2);
    wc.classname = b.classname;
    if (!RegisterClassW(&wc))
        return false;
    b.flags |= gdibinding_classregistered;
    return true;
}

gdibinding* gdi_binding()
{
    if (!process)
        return nullptr;
    gdibinding* b = (gdibinding*)process->slots[processslot_windowsystem];
    if (b)
        return b->monitorcount && (b->flags & gdibinding_classregistered) ? b : nullptr;
    b = (gdibinding*)process->pool.sgetmem0(sizeof(gdibinding));
    if (!b)
        return nullptr;
    process->slots[processslot_windowsystem] = b;
    if (!listmonitors(*b) || !registerclass(*b))
        return nullptr;
    return b;
}

u32 gdi_clipboardtext(u16* p, int max)
{
    if (!p || max < 1 || !OpenClipboard(nullptr))
        return 0;
    u32 n = 0;
    winhandle text = GetClipboardData(WIN_CFUNICODETEXT);
    u16 const* block = text ? (u16 const*)GlobalLock(text) : nullptr;
    if (block) {
        n = cliptext_copy(p, max, block, GlobalSize(text));
        GlobalUnlock(text);
    } else {
        p[0] = 0;
    }
    CloseClipboard();
    return n;
}

} // namespace kzv
