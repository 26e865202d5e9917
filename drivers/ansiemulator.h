// The parser state of the ANSI emulator, the renderer mode that interprets a
// terminal data stream into the cell grid (the code is ansiemulator.cpp, on the
// renderer's record). Untrusted streams are bounded: digit runs stop counting at
// EMU_MAXDIGITS and saturate at EMU_MAXVALUE, every count is clamped to the cells
// or rows that remain, a scroll region whose top is not above its bottom is
// ignored, and an operating-system command ends at BEL, byte 2 or ESC \.
#pragma once
#include "../framework/types.h"

namespace kzv {

const u32 EMU_MAXPARAMS = 4;            // later parameters overwrite the fourth
const u32 EMU_MAXDIGITS = 43;           // further digits of one parameter are ignored
const s32 EMU_MAXVALUE = 99999;         // beyond any grid side: "as far as there is room"
const u32 EMU_DUMPBYTES = 16;           // input shown behind a sequence we do not know

// Escape states.
enum : u8 {
    emu_ground = 0, emu_escape, emu_charsetg0, emu_charsetg1, emu_csi, emu_csiskip,
    emu_csidump, emu_csisoftreset, emu_osc, emu_oscescape,
};

struct emulatorstate {
    u8 escape;              // emu_ state
    u8 csikind;             // 0, '?' private or '>' secondary
    u8 paramindex;          // the parameter being read, 0 to EMU_MAXPARAMS - 1
    u8 digits;              // digits read into it
    u8 paramseen;           // a digit or ';' came since the sequence began
    u8 utf8need;            // bytes of the UTF-8 character being read: 0, 2 or 3
    u8 utf8have;            // bytes of it held in utf8lead
    u8 utf8lead[2];
    s32 params[EMU_MAXPARAMS];
    s16 scrolltop;          // scroll region rows, inclusive
    s16 scrollbottom;
    s16 savedcolumn;        // cursor kept by ESC 7
    s16 savedrow;
    u16 lastchar;           // repeated by CSI b
    u32 savedfg;            // colour pair kept by U+E101
    u32 savedbg;
    s32 extra[2];           // the two further values given at open, only kept
};

} // namespace kzv
