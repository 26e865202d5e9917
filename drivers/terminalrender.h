// Cells, colours and the byte encoding of the terminal renderer's text-UI mode
// (the drawing and update code is terminalrender.cpp, on the renderer's record).
// A cell is a 32-bit word: the character (a UTF-16 unit or a box code 1-11) in
// bits 0-15, the foreground palette index in 16-23, the background in 24-31.
// The encoders write into a caller's buffer of at least TERM_MAXCELLBYTES bytes.
#pragma once
#include "../framework/types.h"

namespace kzv {

// Box codes: line pieces the update sends as box characters or ASCII.
enum : u16 {
    box_topleft = 1, box_topright = 2, box_horizontal = 3, box_bottomleft = 4,
    box_bottomright = 5, box_vertical = 6, box_teedown = 7, box_teeup = 8, box_teeright = 9,
    box_teeleft = 10, box_cross = 11,
};

// Characters the renderer draws itself.
const u32 uchar_upperhalf = 0x2580;
const u32 uchar_lowerhalf = 0x2584;
const u32 uchar_arrowup = 0x2191;
const u32 uchar_arrowdown = 0x2193;
const u32 uchar_euro = 0x20AC;
const u32 uchar_replacement = 0xFFFD;
const u32 uchar_privatemark = 0xE000;   // the marks that place an image file on the screen

// Colour depths.
enum : u8 { depth_none = 2, depth_8 = 8, depth_16 = 16, depth_256 = 240 };

// Longest output of one cell: two colour sequences of 11 bytes ("ESC[38;5;255m")
// and a 3-byte UTF-8 character.
const u32 TERM_MAXSGRBYTES = 11;
const u32 TERM_MAXCELLBYTES = 2 * TERM_MAXSGRBYTES + 3;
const u32 TERM_MAXCELLSIZE = 256;       // pixels a cell side; larger values are not believed

inline u32 cell_char(u32 cell) { return cell & 0xFFFF; }
inline u32 cell_fg(u32 cell) { return (cell >> 16) & 0xFF; }
inline u32 cell_bg(u32 cell) { return cell >> 24; }
inline u32 cell_make(u32 ch, u32 fg, u32 bg) { return (ch & 0xFFFF) | (fg & 0xFF) << 16 | (bg & 0xFF) << 24; }

// The palette index of an RGB word (0xRRGGBB; the top byte is ignored) at a depth:
// 240 the 6x6x6 cube and the grey ramp of the 256-colour palette, 16 and 8 the
// basic colours (16 with the bright half), anything else 0.
u32 term_colorindex(u32 rgb, u8 depth);
// The 3-bit colour of the half-block pictures: red 1, green 2, blue 4 for each
// channel of at least TERM_HALFINTENSITY.
const u32 TERM_HALFINTENSITY = 0x80;
u32 term_color3(u32 rgb);

// The select-colour sequence of a palette index; returns its length.
u32 term_sgr(u8* out, u32 index, bool background);
// A cell's character as the terminal gets it: 32-127 as one byte, box codes as the
// box characters (utf8boxes) or '+', '-' and '|', 0 and the other control codes as
// a space, surrogate halves and U+FFFF as U+FFFD, everything else as UTF-8.
u32 term_charbytes(u8* out, u32 ch, bool utf8boxes);
// UTF-8 of one UTF-16 unit (1 to 3 bytes).
u32 term_utf8(u8* out, u32 unit);
// Decimal digits of v; returns their count (at most 10).
u32 term_decimal(u8* out, u32 v);
// The cursor moves ESC [ row ; column H and ESC [ column G, both counted from 1;
// they return their length (at most 24 and 13).
u32 term_cursorto(u8* out, u32 row, u32 column);
u32 term_cursortocolumn(u8* out, u32 column);
// A cell size in pixels from the environment: decimal digits only, 1 to
// TERM_MAXCELLSIZE (256); anything else (empty, signed, too large) gives 0.
u32 term_parsecellsize(char const* text);

} // namespace kzv
