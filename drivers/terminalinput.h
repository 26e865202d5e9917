// The terminal key decoder: turns the bytes a terminal sends (keys, escape
// sequences and xterm mouse reports in their byte form) into key codes, one byte
// at a time; its state lives in the renderer record and survives between calls.
// Unknown sequences give no key. A mouse report's button byte may carry the
// modifier bits 4, 8 and 16, which are ignored; a report with an unknown button or
// a coordinate byte below 33 is dropped whole, so no coordinate byte ever arrives
// as a typed key. Keys come out in the back-end interface's codes (guikeys.h).
// The decoder allocates nothing.
#pragma once
#include "../gui/guikeys.h"

namespace kzv {

// Mouse report kinds: a report's code holds the kind in bits 16-23, the row in
// bits 8-15 and the column in bits 0-7, both counted from 0.
enum : u32 {
    mouse_leftdown = 0x11, mouse_leftup = 0x12, mouse_rightdown = 0x13, mouse_rightup = 0x14,
    mouse_middledown = 0x15, mouse_middleup = 0x16, mouse_wheelup = 0x17, mouse_wheeldown = 0x18,
    mouse_moved = 0x19,
};
inline u32 key_kind(u32 code) { return (code >> 16) & 0xFF; }
inline u32 key_row(u32 code) { return (code >> 8) & 0xFF; }
inline u32 key_column(u32 code) { return code & 0xFF; }
inline u32 key_mousecode(u32 kind, u32 column, u32 row) { return kind << 16 | row << 8 | column; }

// An ESC with nothing behind it for this long is the Esc key.
const u32 KEY_ESCAPEMS = 100;
// A report's coordinate bytes are the cell number plus 33; smaller bytes are no cell.
const u8 KEY_MOUSEORIGIN = 33;
// The modifier bits of a report's button byte: Shift 4, Meta 8, Ctrl 16.
const u8 KEY_MOUSEMODIFIERS = 0x1C;

enum : u32 {
    keystate_ground = 0, keystate_afterlf, keystate_aftercr, keystate_afterescape, keystate_csi,
    keystate_ss3, keystate_csi3, keystate_csi1, keystate_csi1semicolon, keystate_csi1shift,
    keystate_mousebutton, keystate_mousecolumn, keystate_mouserow,
};

struct keydecoder {
    u32 state;
    u32 escapems;           // clock reading when the ESC came
    s16 pushedback;         // a byte for the ground state on the next round; -1 none
    u8 button;              // the kind of the last press, 0 when none is held
    u8 reportbutton;        // the button byte of the report being read, modifiers removed
    u8 reportcolumn;        // its column byte
    u8 pointercolumn;       // the last report's cell
    u8 pointerrow;

    void reset();
    // One byte from the terminal: a key code, or 0 when the byte completes none.
    u32 feed(u8 byte, u32 nowms);
    // No byte is available: a lone ESC older than KEY_ESCAPEMS becomes the key 27.
    u32 idle(u32 nowms);
    bool haspushback() const { return pushedback >= 0; }
    u8 takepushback();

private:
    u32 ground(u8 byte, u32 nowms);
    u32 afterlineend(u8 byte);
    u32 afterescape(u8 byte);
    u32 csi(u8 byte);
    u32 ss3(u8 byte);
    u32 csi1(u8 byte);
    u32 mousebutton(u8 byte);
    u32 mousereport(u8 rowbyte);
    u32 pushback(u8 byte, u32 result);
};

} // namespace kzv
