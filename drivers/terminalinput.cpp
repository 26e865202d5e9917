// The key decoder's state machine. Facts it relies on: a terminal ends a line with
// CR, LF, CR LF or LF CR, and each pair is one Enter; cursor keys are ESC [ A..D,
// F1-F4 ESC [ P..S, Delete ESC [ 3 ~, Shift+Up/Down ESC [ 1 ; 2 A/B. The same
// cursor and function keys also come as ESC O A..D and ESC O P..S, and the keypad
// in application mode as ESC O and its own final bytes (ansicodes.h). A mouse
// report is ESC [ M and three bytes: the button (32 + button number, 3 meaning
// release, +32 for motion, 64 + n for the wheel, plus the modifier bits) and the
// column and row, each 33 + the cell number.
#include "terminalinput.h"
#include "ansicodes.h"
#include "../framework/printf.h"

namespace kzv {

void keydecoder::reset()
{
    state = keystate_ground;
    escapems = 0;
    pushedback = -1;
    button = 0;
    reportbutton = 0;
    reportcolumn = 0;
    pointercolumn = 0;
    pointerrow = 0;
}

u8 keydecoder::takepushback()
{
    u8 b = (u8)pushedback;
    pushedback = -1;
    return b;
}

u32 keydecoder::pushback(u8 byte, u32 result)
{
    pushedback = byte;
    state = keystate_ground;
    return result;
}

u32 keydecoder::feed(u8 byte, u32 nowms)
{
    switch (state) {
    case keystate_afterlf:
    case keystate_aftercr:
        return afterlineend(byte);
    case keystate_afterescape:
        return afterescape(byte);
    case keystate_csi:
        return csi(byte);
    case keystate_ss3:
        return ss3(byte);
    case keystate_csi3:
        state = keystate_ground;
        if (byte == csi_tilde)
            return guikey_delete;
        eprintf("getkey s3 %x\n", (u32)byte);
        return 0;
    case keystate_csi1:
    case keystate_csi1semicolon:
    case keystate_csi1shift:
        return csi1(byte);
    case keystate_mousebutton:
        return mousebutton(byte);
    case keystate_mousecolumn:
        reportcolumn = byte;
        state = keystate_mouserow;
        return 0;
    case keystate_mouserow:
        state = keystate_ground;
        return mousereport(byte);
    default:
        state = keystate_ground;
        return ground(byte, nowms);
    }
}

u32 keydecoder::ground(u8 byte, u32 nowms)
{
    switch (byte) {
    case ctl_backspace:
    case ctl_delete:
        return guikey_backspace;
    case ctl_lf:
        state = keystate_afterlf;
        return guikey_enter;
    case ctl_cr:
        state = keystate_aftercr;
        return guikey_enter;
    case ctl_escape:
        state = keystate_afterescape;
        escapems = nowms;
        return 0;
    default:
        return byte;
    }
}

// The second byte of a CR LF or LF CR pair is dropped; anything else is a new key.
u32 keydecoder::afterlineend(u8 byte)
{
    bool pair = (state == keystate_afterlf && byte == ctl_cr) || (state == keystate_aftercr && byte == ctl_lf);
    if (pair) {
        state = keystate_ground;
        return 0;
    }
    return pushback(byte, 0);
}

// ESC and a byte other than '[' or 'O' is the Esc key (also Alt+key), and the byte
// is a key of its own. Alt+Shift+O sends ESC O as well, and is given up for the
// keys, which a terminal sends far more often.
u32 keydecoder::afterescape(u8 byte)
{
    if (byte == esc_csi) {
        state = keystate_csi;
        return 0;
    }
    if (byte == esc_ss3) {
        state = keystate_ss3;
        return 0;
    }
    return pushback(byte, guikey_escape);
}

// The final bytes that mean the same key after ESC [ and after ESC O; 0 for others.
static u32 cursororfunctionkey(u8 byte)
{
    switch (byte) {
    case csi_up: return guikey_up;
    case csi_down: return guikey_down;
    case csi_right: return guikey_right;
    case csi_left: return guikey_left;
    case csi_f1: return guikey_f1;
    case csi_f2: return guikey_f1 + 1;
    case csi_f3: return guikey_f1 + 2;
    case csi_f4: return guikey_f1 + 3;
    default: return 0;
    }
}

u32 keydecoder::csi(u8 byte)
{
    state = keystate_ground;
    if (u32 key = cursororfunctionkey(byte))
        return key;
    switch (byte) {
    case csi_delete: state = keystate_csi3; return 0;
    case csi_modified: state = keystate_csi1; return 0;
    case csi_mouse: state = keystate_mousebutton; return 0;
    default: return 0;
    }
}

// Like ESC [, a byte that ends no key here ends the sequence without one; the
// modifier form ESC O 1 ; 2 A goes on as ESC [ 1 ; 2 A does.
u32 keydecoder::ss3(u8 byte)
{
    state = keystate_ground;
    if (u32 key = cursororfunctionkey(byte))
        return key;
    if (byte == csi_modified) {
        state = keystate_csi1;
        return 0;
    }
    if (byte == ss3_keypadenter)
        return guikey_enter;
    if (byte == ss3_keypadequals)
        return '=';
    if (byte >= ss3_keypadfirst && byte <= ss3_keypadlast)
        return (u32)(byte - SS3_KEYPADOFFSET);
    return 0;
}

// ESC [ 1 ; 2 A and B; a byte that breaks the sequence is consumed without a key.
u32 keydecoder::csi1(u8 byte)
{
    u32 s = state;
    state = keystate_ground;
    if (s == keystate_csi1 && byte == csi_separator) {
        state = keystate_csi1semicolon;
    } else if (s == keystate_csi1semicolon && byte == CSI_SHIFTDIGIT) {
        state = keystate_csi1shift;
    } else if (s == keystate_csi1shift) {
        if (byte == csi_up)
            return guikey_pageup;
        if (byte == csi_down)
            return guikey_pagedown;
    }
    return 0;
}

// Every button byte from 32 up is followed by two coordinate bytes, whatever the
// button, so they are always consumed with it.
u32 keydecoder::mousebutton(u8 byte)
{
    if (byte < 32) {
        state = keystate_ground;
        return 0;
    }
    reportbutton = (u8)(byte & ~KEY_MOUSEMODIFIERS);
    state = keystate_mousecolumn;
    return 0;
}

u32 keydecoder::mousereport(u8 rowbyte)
{
    if (reportcolumn < KEY_MOUSEORIGIN || rowbyte < KEY_MOUSEORIGIN)
        return 0;
    u32 column = (u32)(reportcolumn - KEY_MOUSEORIGIN);
    u32 row = (u32)(rowbyte - KEY_MOUSEORIGIN);
    u32 kind = 0;
    switch (reportbutton) {
    case 32: kind = mouse_leftdown; break;
    case 33: kind = mouse_middledown; break;
    case 34: kind = mouse_rightdown; break;
    case 35:
        // The byte form does not say which button went up: the last one pressed did.
        if (!button)
            return 0;
        kind = button + 1u;
        break;
    case 64: case 65: case 66: case 67: kind = mouse_moved; break;
    case 96: kind = mouse_wheelup; break;
    case 97: kind = mouse_wheeldown; break;
    default: return 0;
    }
    if (kind == mouse_leftdown || kind == mouse_middledown || kind == mouse_rightdown)
        button = (u8)kind;
    else if (reportbutton == 35)
        button = 0;
    pointercolumn = (u8)column;
    pointerrow = (u8)row;
    return key_mousecode(kind, column, row);
}

u32 keydecoder::idle(u32 nowms)
{
    if (state == keystate_afterescape && nowms - escapems > KEY_ESCAPEMS) {
        state = keystate_ground;
        return guikey_escape;
    }
    return 0;
}

} // namespace kzv
