// The key codes of the back-end interface: every display back-end (X11, terminal,
// GDI, Quartz) puts these in the key events it sends, so the widgets and the
// application read one set whatever the display.
#pragma once
#include "../framework/types.h"

namespace kzv {

// Key codes: printable keys are their character, Enter 10, Esc 27.
enum : u32 {
    guikey_enter = 10, guikey_escape = 27,
    guikey_left = 0x10000, guikey_right = 0x10001, guikey_up = 0x10002, guikey_down = 0x10003,
    guikey_home = 0x10004, guikey_end = 0x10005, guikey_delete = 0x10006,
    guikey_backspace = 0x10007, guikey_pageup = 0x10008, guikey_pagedown = 0x10009,
    guikey_f1 = 0x1000A,            // to F12 at 0x10015
    guikey_shifted = 0x20,          // added to left .. down and F1 .. F12 with the modifier
    guikey_paste = 0x10030,
};

} // namespace kzv
