// The record a display back-end keeps for one top-level window. The window module
// fills the common part and the back-end the rest; the record never leaves the
// process, so the stride is a plain 32-bit byte count and buffer sizes are
// computed from it in 64 bits. Each back-end keeps its own fields in `backend`,
// sized for the largest back-end of every build. The record owns nothing: the
// title and the event pin are the window module's, the pixels the back-end's.
#pragma once
#include "image.h"

namespace kzv {

// Bits of `flags`.
enum : u8 {
    guiwindow_titlebar = 1,     // a title was given
    guiwindow_shown = 2,        // set by the back-end once the window is on the screen
    guiwindow_fullscreen = 4,   // the window covers the screen, without a title bar
};

// Window sides are 16-bit fields, and no screen we draw on is wider.
const u32 GUIWINDOW_MAXSIDE = 16383;

// Room for the largest back-end's fields, the X11 client's: its window, context
// and pixmap ids, strip and frame counters, the back buffer and an extra buffer
// with an image over it. Each back-end checks that its part fits.
const u32 GUIWINDOW_BACKENDPART = 512;

struct guiwindow {
    u16 width;              // client area; the back-end may cut it to the screen
    u16 height;
    u16 extrawidth;         // the extra buffer of the OpenGL back-ends
    u16 extraheight;
    u32 stride;             // bytes from one pixel row of the back buffer to the next
    u8 flags;               // guiwindow_ bits
    u8 realtime;            // a directly rendered buffer is wanted (X11)
    s32 x;                  // position on the screen; the back-end may move it
    s32 y;
    u32 format;             // pixel format of the back buffer, set by the back-end
    u32 openflags;          // as given to the window's open
    u32 zoom;               // scale of the extra buffer when above 1
    u32 extratexture;
    char const* title;      // UTF-8, or null
    u8* pixels;             // first pixel of the back buffer
    alignas(16) u8 backendpart[GUIWINDOW_BACKENDPART];
    pin* eventpin;          // the window module's IN pin; events go to its owner

    // A back-end's view of its part of the record.
    template <class T> T* backendfields()
    {
        static_assert(sizeof(T) <= GUIWINDOW_BACKENDPART && alignof(T) <= 16,
                      "a back-end's window fields fit the back-end part");
        return (T*)(void*)backendpart;
    }
};

// One layout on the 32-bit and the 64-bit builds: the common fields sit at the
// same offsets, and only the pointers widen.
static_assert(__builtin_offsetof(guiwindow, stride) == 8, "guiwindow stride");
static_assert(__builtin_offsetof(guiwindow, x) == 16, "guiwindow position");
static_assert(__builtin_offsetof(guiwindow, extratexture) == 36, "guiwindow words");
static_assert(__builtin_offsetof(guiwindow, title) == 40, "guiwindow title");
static_assert(__builtin_offsetof(guiwindow, backendpart) == (sizeof(void*) == 8 ? 64 : 48),
              "guiwindow back-end part");
static_assert(sizeof(guiwindow) == (sizeof(void*) == 8 ? 592 : 576), "guiwindow size");

// Sends a window event to the owner of the record's event pin, with that module's
// current pin set for the call; 0 when no pin is set.
inline sptr guiwindow_sendevent(guiwindow* w, unsigned code, int a, int b)
{
    if (!w || !w->eventpin)
        return 0;
    return module_callthrough(w->eventpin->owner, w->eventpin, code, a, b, nullptr);
}

} // namespace kzv
