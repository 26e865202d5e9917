// The tables of the Cocoa binding; see cocoatables.h. NSEvent types by number:
// 1-4 left and right button down and up, 5 moved, 6-8 left, right dragged and
// mouse entered, 9 exited, 10 and 11 key down and up, 12 flags changed, 13
// AppKit-defined, 14 system-defined, 15 application-defined, 16 periodic, 17
// cursor update, 19 and 20 tablet, 22 scroll wheel, 25-27 other button down, up
// and dragged, 18 and 29-34 gestures.
#include "cocoatables.h"
#include "../../framework/data.h"
#include "../../gui/guidriver.h"

namespace kzv {

cocoaevent cocoa_eventfor(u32 type)
{
    switch (type) {
    case 1: return {cocoa_leftdown, ui_leftdown, true};
    case 2: return {cocoa_button, ui_leftup, true};
    case 3: return {cocoa_button, ui_rightdown, true};
    case 4: return {cocoa_button, ui_rightup, true};
    case 25: return {cocoa_button, ui_middledown, true};
    case 26: return {cocoa_button, ui_middleup, true};
    case 5: case 6: return {cocoa_button, ui_mousemoved, true};
    case 10: return {cocoa_key, ui_keydown, false};
    case 11: return {cocoa_key, ui_keyup, false};
    case 12: return {cocoa_flagschanged, 0, true};
    case 13: return {cocoa_appkitdefined, ui_paint, true};
    case 22: return {cocoa_scroll, 0, true};
    case 7: case 8: case 9: case 14: case 19: case 20: return {cocoa_silent, 0, true};
    default: return {cocoa_unknown, 0, true};
    }
}

// The key characters AppKit reports: the function keys (NSUpArrowFunctionKey and
// on), Return and the backspace key.
enum : u32 {
    nsuparrow = 0xF700, nsdownarrow = 0xF701, nsleftarrow = 0xF702, nsrightarrow = 0xF703,
    nsf1 = 0xF704, nsf12 = 0xF70F, nsdelete = 0xF728, nshome = 0xF729, nsend = 0xF72B,
    nspageup = 0xF72C, nspagedown = 0xF72D,
    nscarriagereturn = 13,      // what Return types
    nsdeletebackward = 127,     // what the Delete (backspace) key types
};

const u32 COCOA_SHIFTEDF1 = 0x10024;

u32 cocoa_keycode(u32 character, u32 modifiers)
{
    u32 shifted = (modifiers & COCOA_SHIFTBIT) ? (u32)guikey_shifted : 0;
    switch (character) {
    case nscarriagereturn: return guikey_enter;
    case nsdeletebackward: return guikey_backspace;
    case nsuparrow: return guikey_up + shifted;
    case nsdownarrow: return guikey_down + shifted;
    case nsleftarrow: return guikey_left + shifted;
    case nsrightarrow: return guikey_right + shifted;
    case nsdelete: return guikey_delete;
    case nshome: return guikey_home;
    case nsend: return guikey_end;
    case nspageup: return guikey_pageup;
    case nspagedown: return guikey_pagedown;
    default: break;
    }
    // Shifted, F1 to F12 follow the shifted arrows: 0x10024 to 0x1002F.
    if (character >= nsf1 && character <= nsf12)
        return (shifted ? COCOA_SHIFTEDF1 : (u32)guikey_f1) + (character - nsf1);
    return character;
}

const nsuinteger NSEVENT_SHIFT = 1ul << 17;     // NSEventModifierFlagShift

u32 cocoa_modifiers(nsuinteger eventflags) { return (eventflags & NSEVENT_SHIFT) ? COCOA_SHIFTBIT : 0; }

enum : u32 { nswindow_titled = 1, nswindow_closable = 2, nswindow_fullscreen = 0x4000 };

u32 cocoa_stylemask(bool hastitle, bool fullscreen)
{
    if (fullscreen)
        return nswindow_fullscreen;
    return hastitle ? nswindow_titled | nswindow_closable : 0;
}

const double COCOA_PIXELLIMIT = 1e6;    // far beyond any screen, far inside an int

s32 cocoa_pixels(double v)
{
    if (!(v > -COCOA_PIXELLIMIT))       // also NaN
        return (s32)-COCOA_PIXELLIMIT;
    if (v > COCOA_PIXELLIMIT)
        return (s32)COCOA_PIXELLIMIT;
    return (s32)v;
}

s32 cocoa_eventy(u32 windowheight, double y) { return (s32)windowheight - cocoa_pixels(y) + 1; }

double cocoa_windowy(s32 mainheight, s32 top, u32 height) { return (double)mainheight - (double)height - (double)top; }

} // namespace kzv
