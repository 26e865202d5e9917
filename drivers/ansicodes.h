// The bytes of a terminal's data stream that the key decoder reads from a terminal
// and the emulator interprets as one. A sequence is ESC and one byte; a control
// sequence is ESC [, an optional kind byte ('?' or '>'), parameters split by ';',
// and one final byte whose meaning depends on that kind byte; an operating-system
// command is ESC ] up to BEL or ESC \. The cursor keys send the cursor movement
// sequences themselves, so those final bytes have one name for both directions.
// A terminal also sends keys as ESC O and one final byte: F1-F4 always, the
// cursor keys and the keypad once a program has put them in application mode.
#pragma once
#include "../framework/types.h"

namespace kzv {

// Control bytes.
enum : u8 {
    ctl_stx = 2,                // ends an operating-system command as BEL does
    ctl_bel = 7, ctl_backspace = 8, ctl_lf = 10, ctl_cr = 13,
    ctl_shiftout = 14,          // SO: the G1 set from here
    ctl_shiftin = 15,           // SI: the G0 set again
    ctl_escape = 27, ctl_delete = 127,
};

// The byte after ESC.
enum : u8 {
    esc_charsetg0 = '(', esc_charsetg1 = ')',  // then the set's byte
    esc_savecursor = '7', esc_restorecursor = '8',
    esc_keypadapplication = '=', esc_keypadnumeric = '>',
    esc_csi = '[', esc_osc = ']',
    esc_ss3 = 'O',              // from a terminal: a key in one final byte
    esc_reset = 'c',
    esc_stringterminator = '\\',                // ESC \ ends an operating-system command
};
// The set's byte after ESC ( or ESC ) that selects the line-drawing set.
const u8 CHARSET_LINEDRAWING = '0';

// Bytes of a control sequence before its final byte.
enum : u8 {
    csi_separator = ';',
    csi_private = '?', csi_secondary = '>',     // kind bytes
    csi_unknownkind = '<',                      // a kind we do not interpret: shown on standard error
    csi_space = ' ', csi_dollar = '$',          // intermediates: the next byte ends the sequence
    csi_softreset = '!',                        // ESC [ ! p: the next byte ends it
};

// Final bytes of a control sequence without a kind byte. Cursor movement, and the
// cursor keys a terminal sends.
enum : u8 {
    csi_up = 'A', csi_down = 'B', csi_right = 'C', csi_left = 'D',
    csi_column = 'G',               // to column n
    csi_position = 'H',             // to row n, column m (0 and absent count as 1)
    csi_positionclamped = 'f',      // the same with each number clamped to the screen
    csi_row = 'd',                  // to row n
    csi_eraseindisplay = 'J', csi_eraseinline = 'K',
    csi_insertlines = 'L', csi_deletechars = 'P', csi_erasechars = 'X',
    csi_repeat = 'b',               // the last character n times more
    csi_sgr = 'm',                  // colours and attributes
    csi_statusreport = 'n',         // with 6: the cursor position report is the answer
    csi_positionreport = 'R',       // ESC [ row ; column R
    csi_scrollregion = 'r',
    csi_setmode = 'h', csi_resetmode = 'l',
    csi_window = 't',
    csi_deviceattributes = 'c',     // with the kind '>': the terminal's version
};
// The status report's parameter that asks for the cursor position.
const s32 CSI_STATUS_CURSORPOSITION = 6;

// Final bytes after the kind '?' besides set and reset mode: the modes saved and
// restored, which the emulator keeps none of.
enum : u8 { csi_restoremodes = 'r', csi_savemodes = 's' };

// Keys a terminal sends as control sequences besides the cursor keys.
enum : u8 {
    csi_f1 = 'P', csi_f2 = 'Q', csi_f3 = 'R', csi_f4 = 'S',
    csi_delete = '3',               // then csi_tilde
    csi_tilde = '~',
    csi_modified = '1',             // then ';', the modifier digit and the final byte
    csi_mouse = 'M',                // then button, column and row
};
const u8 CSI_SHIFTDIGIT = '2';      // the modifier digit of Shift

// Final bytes of ESC O that only the keypad sends in application mode. The
// keypad's j..y send the key's character plus 0x40 ('*' + - . / and the digits),
// and its Enter 'M' (CR plus 0x40); '=' has a byte of its own.
enum : u8 {
    ss3_keypadenter = 'M', ss3_keypadequals = 'X',
    ss3_keypadfirst = 'j', ss3_keypadlast = 'y',
};
const u8 SS3_KEYPADOFFSET = 0x40;   // the final byte minus the key's character

} // namespace kzv
