// The GDI display back-end: every window is a plain Win32 window whose client
// area is a device-independent bitmap (32 bits a pixel, 16 for a 555 or 565
// request), filled by the widgets and copied to the screen on each update.
// Keys, buttons, pointer and wheel become the window events of the back-end
// interface, sent through each window's event pin from inside the message pump,
// which runs every 20 ms. The binding of the window system (monitors, window
// class) is made once per process and kept in its window-system slot; the
// module's pool holds the window list and the screen list.
#pragma once
#include "win32.h"
#include "../../framework/mem.h"
#include "../../framework/module.h"
#include "../../gui/guiwindow.h"

namespace kzv {

const u32 GDI_PUMPINTERVAL = 20;        // ms between two message pumps
const u32 GDI_TITLECAPACITY = 1000;     // units of a window title, longer ones are cut
const u32 GDI_MESSAGESPERPUMP = 1000;   // a queue that never empties still lets the scheduler run

struct gdimonitor {
    s32 x, y, width, height;    // the monitor's rectangle
    winhandle handle;
    u32 bitsperpixel;           // of the desktop
    s32 workx, worky, workwidth, workheight;
    u32 spare;
};
static_assert(sizeof(gdimonitor) == 48, "monitor entry");

enum : u8 { gdibinding_classregistered = 1 };

struct gdibinding {
    u8 flags;
    u32 monitorcount;           // the primary monitor first
    gdimonitor* monitors;
    u16* classname;
    u32 windowcount;            // the back-end's list, for the window procedure
    guiwindow** windows;
};

// The back-end's fields in a window's guiwindow record.
struct gdiwindowpart {
    u32 shown;                  // set at the first update, which shows the window
    u32 style;
    u32 exstyle;
    s32 lastx, lasty;           // the pointer at the last move, for the wheel
    u32 bitsperpixel;           // of the back buffer
    void* bits;
    winhandle memorydc;
    winhandle dib;
    winhandle oldbitmap;        // what the memory context held before the DIB
    winhandle window;
    winhandle windowdc;         // during an update
};

class gdi : public module {
public:
    u32 windowcapacity;
    guiwindow** windows;
    smem store;

    void init(mem* p);
    void exit(bool keep);
    void mexit();

    // Binds the window system and fills the display information; 1, or 0 with
    // the failed flag set when there is no monitor.
    int open(u32 formatrequest);
    bool addtowinlist(guiwindow* w);
    int closewindow(guiwindow* w);
    sptr command(unsigned code, int a, int b, guiwindow* w);
    void pump();

    bool haswindow(guiwindow* w) const;
    static gdiwindowpart* part(guiwindow* w) { return w->backendfields<gdiwindowpart>(); }

private:
    int openwindow(guiwindow* w);
    int createbackbuffer(guiwindow* w);
    int getbackbuffer(guiwindow* w);
    int update(guiwindow* w);
    void removefromwinlist(guiwindow* w);
    void publishwinlist();
};

sptr gdi_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The binding of this process, made on first use; null when there is no monitor.
gdibinding* gdi_binding();
// The clipboard's text into p (max units with the terminator); the units copied.
u32 gdi_clipboardtext(u16* p, int max);
// The window procedure's translation of one message; the stored list finds the window.
sptr gdi_windowproc(winhandle window, u32 message, uptr wparam, sptr lparam);

} // namespace kzv
