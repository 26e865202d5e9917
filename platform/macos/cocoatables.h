// The tables and small rules of the Cocoa binding, as plain functions: what each
// Cocoa event type becomes, the key translation, the modifier reduction, the
// window style mask and the coordinate flips. Cocoa's y grows upwards from the
// bottom of the main display (of the window, for event locations); ours grows
// downwards from the top.
#pragma once
#include "objc.h"

namespace kzv {

// What the event pump does with one Cocoa event type.
enum cocoaaction : u32 {
    cocoa_button,           // a button or the pointer: the window event of `code`, at x, y
    cocoa_leftdown,         // 165 in the content; in the title bar a close-button test
    cocoa_key,              // 174 or 175 with the first character's key code
    cocoa_flagschanged,     // keep the modifier flags
    cocoa_appkitdefined,    // a window being opened is shown; else 180
    cocoa_scroll,           // 177 or 178 by the sign of deltaY
    cocoa_silent,           // nothing is sent
    cocoa_unknown,          // "osgui msg=%d" on standard error
};
struct cocoaevent {
    cocoaaction action;
    u32 code;               // the window event, where there is one
    bool tococoa;           // passed on to Cocoa (every event but the keys)
};
cocoaevent cocoa_eventfor(u32 type);

// A character of an NSEvent (with the modifiers kept from type 12) as a key code.
u32 cocoa_keycode(u32 character, u32 modifiers);
// The stored modifier value: bit 1 while Shift is held.
u32 cocoa_modifiers(nsuinteger eventflags);
const u32 COCOA_SHIFTBIT = 2;

// Window style: titled and closable with a title, borderless without one, the
// full-screen style for a window that covers the screen.
u32 cocoa_stylemask(bool hastitle, bool fullscreen);

// A double from Cocoa as a pixel count, clamped to the range a window can hold.
s32 cocoa_pixels(double v);
// An event's y in the window (from the bottom) as top-left y: height - y + 1.
s32 cocoa_eventy(u32 windowheight, double y);
// The bottom-left y of a window whose top lies `top` pixels below the top of the
// main display.
double cocoa_windowy(s32 mainheight, s32 top, u32 height);

} // namespace kzv
