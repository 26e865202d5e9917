// The display driver selector and the interface every display back-end serves.
// `guidriver::open` creates exactly one back-end module from the driver's pool,
// mirrors its display information into the driver's own data view and passes
// every command it does not answer itself to the active back-end (the process's
// default handler). The driver owns the modules it created and frees them at
// reset and exit; the default-handler field is cleared before a back-end it
// points at goes. When no display can be opened the run ends with one line on
// standard error and exit status 2.
#pragma once
#include "../framework/module.h"
#include "guikeys.h"
#include "guiwindow.h"

namespace kzv {

// Back-end kinds (the driver's `backendkind`).
enum : u32 {
    guikind_none = 0, guikind_x11 = 1, guikind_quartz = 2, guikind_gdi = 3,
    guikind_openglquartz = 4, guikind_terminal = 5, guikind_framebuffer = 7,
    guikind_openglthreaded = 8,
};

// Bits of a back-end's (and the driver's) module flag byte.
enum : u8 {
    gui_failed = 0x01,      // the open failed: every window command answers 0
    gui_ready = 0x40,       // the display information is valid
};

// Bits of the display information's capability byte (kind.gui.flags).
enum : u8 { guicaps_realtime = 1, guicaps_windowsystem = 2 };

// The display information and its screen list read the same on every build.
static_assert(__builtin_offsetof(kindgui, screens) == 1 && __builtin_offsetof(kindgui, width) == 2 &&
              __builtin_offsetof(kindgui, height) == 4 && __builtin_offsetof(kindgui, format) == 8,
              "display information");
static_assert(sizeof(guiscreen) == 20, "screen list entry");

// Flags of `guidriver::open`.
enum : u32 {
    guiopen_threaded = 1,       // threaded OpenGL (macOS)
    guiopen_noterminal = 2,     // never choose the terminal
    guiopen_framebuffer = 4,    // the DRM framebuffer (Linux); elsewhere nothing opens
};

// Commands the window module sends to a back-end besides cmd_datarequested
// (module.h); p is the window's guiwindow.
enum : unsigned {
    guicmd_openwindow = 145,        // 1, or 0 when the window cannot be made
    guicmd_closewindow = 146,
    guicmd_createbackbuffer = 147,  // a: buffer count
    guicmd_getbackbuffer = 148,     // pixels and stride; 0 when there is no back buffer
    guicmd_update = 149,            // a = x | y << 16, b = width | height << 16; 0, 0 whole
    guicmd_createbuffer = 150,
    guicmd_getbufferimage = 151,
    guicmd_setbuffer = 152,
    guicmd_framedue = 154,
    guicmd_updatewhole = 155,
    guicmd_clipboardtext = 161,
};

// Window events a back-end sends through the guiwindow's event pin are the
// ui-message codes of data.h (ui_resized 162 to ui_paint 180), a and b in window
// pixels from the top left; key events carry the key code in a.

// The clock of the display waits (driver and window): the platform clock and the
// scheduler's sleep. Tests put a fake clock here so that a 10-second wait costs
// no time.
struct guiwaitclock {
    u32 (*now)();                           // milliseconds, wrapping
    void (*pause)(module* waiter, u32 ms);  // lets the other modules run meanwhile
};
extern guiwaitclock guidriver_waitclock;

const u32 GUI_WAITMS = 10000;           // longest wait for a display or a window

// The modules a driver owns, in the order they are released: the back-ends
// first, while the streams they write through on their way out still exist, then
// those streams, then the framebuffer.
enum : u32 {
    guislot_x11, guislot_quartz, guislot_openglquartz, guislot_openglthreaded, guislot_gdi,
    guislot_terminal, guislot_tcp, guislot_pipe, guislot_framebuffer,
    GUISLOT_COUNT,
};

// Ends a module the driver owns (its exit with keep = true) before its memory goes.
typedef void (*guirelease)(module* m);

class guidriver : public module {
public:
    u32 backendkind;            // guikind_
    u32 formatrequest;          // handed to the back-end's open; survives resets
    module* owned[GUISLOT_COUNT];
    guirelease release[GUISLOT_COUNT];
    char const* failure;        // why the last open found no display

    void init(mem* p);
    void exit(bool keep);
    void mexit();

    // The platform's selection (the six flag words are OR-ed): 1 when a back-end
    // is open, else 0 after the run was told to end with status 2.
    int open(u32 f0 = 0, u32 f1 = 0, u32 f2 = 0, u32 f3 = 0, u32 f4 = 0, u32 f5 = 0);
    // The terminal back-end on `terminal` (a byte stream of the standard-I/O kind;
    // null: the process's console). 1 on success, else 0 with `failure` set.
    int open_terminal(module* terminal = nullptr);
    // The terminal is chosen before any window system when KZVTERM_CXS is set,
    // unless the open's flags forbid it.
    static bool wantsterminal(u32 flags);
    int open_x11();             // the platform's window system (Linux body)

    void datarequested();
    u32 getscreenxs();          // may wait up to GUI_WAITMS for a back-end getting ready
    u32 getscreenys();

    module* active() const;     // the back-end of `backendkind`, or null
    // A zeroed block for a back-end module, owned in `slot` from now on; null when
    // the pool refuses or the slot is taken.
    void* takebackend(u32 slot, u32 bytes, guirelease r);
    void reset();               // keeps the pins' peers and the format request
    // Prints "<program>: <failure>" once on standard error and ends the run with
    // exit status 2.
    void endrun();

private:
    u32 screenside(bool height);
};

sptr guidriver_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
