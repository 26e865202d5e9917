// The emulator mode of the renderer: a terminal data stream interpreted into the
// cell grid. Facts it relies on: ESC ( 0 and ESC ) 0 select the line-drawing set
// for G0 and G1, SO (14) and SI (15) shift between them; a control sequence is
// ESC [, optional '?' or '>', parameters split by ';', and a final byte; an
// operating-system command ends at BEL or ST (ESC \). Invariants: the cursor row
// lies in 0..rows-1 and the column in 0..columns, where the column `columns` means
// "the next character wraps first"; every grid write is inside the grid. Lines
// about sequences we do not know go to standard error.
#include "ansiterminal.h"
#include "ansicodes.h"
#include "../framework/dumpmem.h"
#include "../framework/mem.h"
#include "../framework/printf.h"
#include "../framework/str.h"
#include "../framework/stream.h"

namespace kzv {

namespace {

const u32 EMU_FOREGROUND = 0x00FF00;
const u32 EMU_BACKGROUND = 0x000000;
const u32 NO_RGB = 0xFFFFFFFF;          // no RGB word equals it: the cache converts the next one
const u32 EMU_DUMPSEQUENCE = 32;        // bytes shown behind ESC [ <

// The line-drawing set: 'j' to 'x' as box pieces; 0 where the byte stays itself.
const u16 LINEDRAWING[15] = {
    0x2518, 0x2510, 0x250C, 0x2514, 0x253C, 0, 0, 0x2500, 0, 0, 0x251C, 0x2524, 0x2534, 0x252C, 0x2502,
};

enum : u32 {
    uchar_extendedpointer = 0xE400, uchar_savecolors = 0xE101, uchar_restorecolors = 0xE100,
};

s32 clampto(s32 v, s32 low, s32 high) { return v < low ? low : v > high ? high : v; }

} // namespace

bool ansiterminal::openemu(int c, int r, int extra0, int extra1)
{
    if (c <= 0 || r <= 0 || c > TERM_MAXSIDE || r > TERM_MAXSIDE)
        return false;
    module_resetkeepingpeers(*this);
    columns = (s16)c;
    rows = (s16)r;
    emu.extra[0] = extra0;
    emu.extra[1] = extra1;
    if (!allocategrid(false))
        return false;
    mode = termmode_emulator;
    fgrgb = EMU_FOREGROUND;
    fgcell = getcolorindex(fgrgb) << 16;
    bgrgb = EMU_BACKGROUND;
    bgcell = getcolorindex(bgrgb) << 24;
    fillcells(0, (u32)columns * (u32)rows, ' ' | fgcell | bgcell);
    emu.scrolltop = 0;
    emu.scrollbottom = (s16)(rows - 1);
    return true;
}

// --- Cells --------------------------------------------------------------------------

u32 ansiterminal::emuattributes() const
{
    if (modeflags & termflag_reverse)
        return cell_fg(fgcell) << 24 | cell_bg(bgcell) << 16;
    return fgcell | bgcell;
}

u32 ansiterminal::emulinedrawing(u32 ch) const
{
    bool active = linedrawing[0] || (linedrawing[1] && (modeflags & termflag_shiftedin));
    if (!active || ch < 'j' || ch > 'x' || !LINEDRAWING[ch - 'j'])
        return ch;
    return LINEDRAWING[ch - 'j'];
}

// The bottom of the scroll region scrolls it; elsewhere the cursor moves down
// unless it is on the last row.
void ansiterminal::emunewline()
{
    cursorx = 0;
    if (cursory == emu.scrollbottom)
        emuscrollup();
    else if (cursory < rows - 1)
        cursory++;
}

void ansiterminal::emuscrollup()
{
    u32 top = (u32)emu.scrolltop, bottom = (u32)emu.scrollbottom, w = (u32)columns;
    if (bottom > top)
        memmove(grid + top * w, grid + (top + 1) * w, (bottom - top) * w * 4);
    fillcells(bottom * w, w, ' ' | emuattributes());
}

// The shared deferred-wrap rule: a character goes in while the column is below
// the width; at the width it wraps first (auto-wrap on) or overwrites the last
// column (auto-wrap off).
void ansiterminal::emuwritecell(u32 ch)
{
    if (cursorx >= columns) {
        if (modeflags & termflag_nowrap)
            cursorx = (s16)(columns - 1);
        else
            emunewline();
    }
    grid[(u32)cursory * (u32)columns + (u32)cursorx] = (ch & 0xFFFF) | emuattributes();
    cursorx++;
}

void ansiterminal::emuinsertlines(s32 n)
{
    s32 top = emu.scrolltop, bottom = emu.scrollbottom;
    if (cursory < top || cursory > bottom)
        return;
    n = kzv_min(n, bottom - cursory + 1);
    u32 w = (u32)columns, y = (u32)cursory;
    u32 moved = (u32)(bottom - cursory + 1 - n);
    if (moved)
        memmove(grid + (y + (u32)n) * w, grid + y * w, moved * w * 4);
    fillcells(y * w, (u32)n * w, ' ' | emuattributes());
}

void ansiterminal::emureset()
{
    modeflags &= (u16)~termflag_appcursor;
    fillcells(0, (u32)columns * (u32)rows, ' ' | emuattributes());
    cursorx = 0;
    cursory = 0;
}

void ansiterminal::emurecolor(bool isbackground, u32 oldindex, u32 newindex)
{
    u32 n = (u32)columns * (u32)rows;
    for (u32 i = 0; i < n; i++) {
        u32 c = grid[i];
        if (isbackground && cell_bg(c) == oldindex)
            grid[i] = cell_make(c, cell_fg(c), newindex);
        else if (!isbackground && cell_fg(c) == oldindex)
            grid[i] = cell_make(c, newindex, cell_bg(c));
    }
}

void ansiterminal::putcharemu(u32 ch)
{
    if (mode != termmode_emulator)
        return;
    ch = emulinedrawing(ch & 0xFFFF);
    if (ch == 13)
        cursorx = 0;
    else if (ch == 10)
        emunewline();
    else if (ch >= 32)
        emuwritecell(ch);
}

void ansiterminal::emuanswer(char const* text)
{
    if (out.peer)
        out.call(stream_write, (int)strlen(text), 0, text);
}

void ansiterminal::emudebugdump(u8 const* rest, u32 restcount, u32 n)
{
    dumpmem(rest, kzv_min(n, restcount), EMU_DUMPBYTES);
}

// --- The byte loop -------------------------------------------------------------------

void ansiterminal::writeemu(u8 const* bytes, u32 count)
{
    if (mode != termmode_emulator || !bytes)
        return;
    for (u32 i = 0; i < count; i++) {
        u8 b = bytes[i];
        switch (emu.escape) {
        case emu_ground: emuground(b); break;
        case emu_escape: emuescape(b, bytes + i, count - i); break;
        case emu_charsetg0:
        case emu_charsetg1:
            linedrawing[emu.escape == emu_charsetg1 ? 1 : 0] = b == CHARSET_LINEDRAWING ? 1 : 0;
            emu.escape = emu_ground;
            break;
        case emu_csi: emucsibyte(b, bytes + i, count - i); break;
        case emu_csiskip: emu.escape = emu_ground; break;
        case emu_csidump:
            emudebugdump(bytes + i, count - i, EMU_DUMPSEQUENCE);
            emu.escape = emu_ground;
            break;
        case emu_csisoftreset:
            emureset();
            emu.escape = emu_ground;
            break;
        case emu_osc:
            if (b == ctl_bel || b == ctl_stx)
                emu.escape = emu_ground;
            else if (b == ctl_escape)
                emu.escape = emu_oscescape;
            break;
        case emu_oscescape:
            // ESC \ ends the command; ESC and anything else ends it and begins a new sequence.
            emu.escape = emu_ground;
            if (b != esc_stringterminator)
                emuescape(b, bytes + i, count - i);
            break;
        default: emu.escape = emu_ground; break;
        }
    }
}

void ansiterminal::emuground(u8 b)
{
    if (emu.utf8need) {
        emuutf8(b);
        return;
    }
    if (b >= 32 && b <= 127) {
        u32 ch = emulinedrawing(b);
        emuwritecell(ch);
        emu.lastchar = (u16)ch;
        return;
    }
    if (b >= 0xC0 && b <= 0xEF) {
        emu.utf8need = b < 0xE0 ? 2 : 3;
        emu.utf8have = 1;
        emu.utf8lead[0] = b;
        return;
    }
    switch (b) {
    case ctl_backspace: if (cursorx > 0) cursorx = (s16)kzv_min(cursorx - 1, columns - 1); break;
    case ctl_lf: emunewline(); break;
    case ctl_cr: cursorx = 0; break;
    case ctl_shiftout: modeflags |= termflag_shiftedin; break;
    case ctl_shiftin: modeflags &= (u16)~termflag_shiftedin; break;
    case ctl_escape: emu.escape = emu_escape; break;
    default: break;         // other control codes and stray UTF-8 bytes
    }
}

// A byte that does not continue the character leaves the bytes before it as one
// character each and is then read afresh.
void ansiterminal::emuutf8(u8 b)
{
    if ((b & 0xC0) != 0x80) {
        u8 held = emu.utf8have;
        emu.utf8need = 0;
        for (u8 i = 0; i < held; i++)
            emuwritecell(emu.utf8lead[i]);
        emuground(b);
        return;
    }
    if (emu.utf8have < emu.utf8need - 1) {
        emu.utf8lead[emu.utf8have++] = b;
        return;
    }
    u32 code;
    if (emu.utf8need == 2)
        code = ((u32)emu.utf8lead[0] << 6 & 0x7FF) | (b & 0x3F);
    else
        code = ((u32)(emu.utf8lead[0] & 0x0F) << 12) | ((u32)(emu.utf8lead[1] & 0x3F) << 6) | (b & 0x3F);
    emu.utf8need = 0;
    if (code == uchar_extendedpointer) {
        modeflags |= termflag_extendedpointer;
    } else if (code == uchar_savecolors) {
        emu.savedfg = fgcell;
        emu.savedbg = bgcell;
    } else if (code == uchar_restorecolors) {
        fgcell = emu.savedfg;
        bgcell = emu.savedbg;
        fgrgb = NO_RGB;
        bgrgb = NO_RGB;
    } else {
        emuwritecell(code);
    }
}

void ansiterminal::emuescape(u8 b, u8 const* rest, u32 restcount)
{
    emu.escape = emu_ground;
    switch (b) {
    case esc_charsetg0: emu.escape = emu_charsetg0; break;
    case esc_charsetg1: emu.escape = emu_charsetg1; break;
    case esc_savecursor:
        emu.savedcolumn = cursorx;
        emu.savedrow = cursory;
        break;
    case esc_restorecursor:
        cursorx = (s16)clampto(emu.savedcolumn, 0, columns);
        cursory = (s16)clampto(emu.savedrow, 0, rows - 1);
        break;
    case esc_keypadapplication: break;
    case esc_keypadnumeric: linedrawing[0] = 0; break;
    case esc_csi:
    case esc_osc:
        memset0(emu.params, sizeof(emu.params));
        emu.paramindex = 0;
        emu.digits = 0;
        emu.paramseen = 0;
        emu.csikind = 0;
        emu.escape = b == esc_csi ? emu_csi : emu_osc;
        break;
    case esc_reset: emureset(); break;
    default:
        eprintf("ansi: ESC %c (%x)\n", (u32)b, (u32)b);
        emudebugdump(rest, restcount, EMU_DUMPBYTES);
        break;
    }
}

void ansiterminal::emucsibyte(u8 b, u8 const* rest, u32 restcount)
{
    if (b >= '0' && b <= '9') {
        s32& v = emu.params[emu.paramindex];
        if (emu.digits < EMU_MAXDIGITS) {
            emu.digits++;
            v = kzv_min(v * 10 + (b - '0'), EMU_MAXVALUE);
        }
        emu.paramseen = 1;
        return;
    }
    switch (b) {
    case csi_separator:
        if (emu.paramindex < EMU_MAXPARAMS - 1)
            emu.paramindex++;
        emu.params[emu.paramindex] = 0;
        emu.digits = 0;
        emu.paramseen = 1;
        return;
    case csi_private:
    case csi_secondary:
        emu.csikind = b;
        return;
    case csi_unknownkind: emu.escape = emu_csidump; return;
    case csi_space:
    case csi_dollar: emu.escape = emu_csiskip; return;
    case csi_softreset: emu.escape = emu_csisoftreset; return;
    default: break;
    }
    emu.escape = emu_ground;
    if (emu.csikind == csi_private)
        emuprivate(b);
    else if (emu.csikind == csi_secondary)
        (b == csi_deviceattributes) ? emuanswer("\x1b[>0;100;0c") : (void)0;
    else
        emufinal(b, rest, restcount);
}

// The parameter as given (0 when absent).
s32 ansiterminal::emuparam(u32 i) const
{
    return i <= emu.paramindex ? emu.params[i] : 0;
}

// The parameter of a move or repeat: 0 and absent count as 1.
s32 ansiterminal::emucount(u32 i) const
{
    s32 v = emuparam(i);
    return v > 0 ? v : 1;
}

void ansiterminal::emufinal(u8 b, u8 const* rest, u32 restcount)
{
    s32 n = emucount(0);
    switch (b) {
    case csi_up: cursory = (s16)kzv_max(cursory - n, 0); break;
    case csi_down: cursory = (s16)kzv_min(cursory + n, rows - 1); break;
    case csi_right: cursorx = (s16)kzv_min(cursorx + n, columns - 1); break;
    case csi_column: cursorx = (s16)kzv_min(n - 1, columns - 1); break;
    case csi_position:
        cursory = (s16)kzv_min(n - 1, rows - 1);
        cursorx = (s16)kzv_min(emucount(1) - 1, columns - 1);
        break;
    case csi_positionclamped:
        cursory = (s16)(clampto(emuparam(0), 1, rows) - 1);
        cursorx = (s16)(clampto(emuparam(1), 1, columns) - 1);
        break;
    case csi_row: cursory = (s16)kzv_min(n - 1, rows - 1); break;
    case csi_eraseindisplay:
    case csi_eraseinline: emuerase(b); break;
    case csi_insertlines: emuinsertlines(n); break;
    case csi_deletechars: {
        // Cells from the cursor + n on move n places left; the row's end keeps its cells.
        s32 from = cursorx + n;
        if (cursorx < columns && from < columns) {
            u32* row = grid + (u32)cursory * (u32)columns;
            memmove(row + cursorx, row + from, (u32)(columns - from) * 4);
        }
        break;
    }
    case csi_erasechars: {
        s32 k = kzv_min(n, columns - cursorx);
        fillcells((u32)cursory * (u32)columns + (u32)cursorx, (u32)kzv_max(k, 0), ' ' | emuattributes());
        cursorx = (s16)(cursorx + kzv_max(k, 0));
        break;
    }
    case csi_repeat: {
        // A repeat stops at the row's end, as a terminal's own does, so it never
        // wraps or scrolls and costs at most one row.
        s32 k = kzv_min(n, columns - cursorx);
        for (s32 i = 0; emu.lastchar && i < k; i++)
            emuwritecell(emu.lastchar);
        break;
    }
    case csi_sgr: emusgr(); break;
    case csi_statusreport:
        if (emuparam(0) == CSI_STATUS_CURSORPOSITION) {
            char answer[32];
            vprinter_format(answer, sizeof(answer), sizeof(answer), "\x1b[%d;%dR", cursory + 1, cursorx + 1);
            emuanswer(answer);
        } else {
            eprintf("ansi: ESC [ %d n\n", emuparam(0));
        }
        break;
    case csi_scrollregion: {
        s32 top = clampto(emucount(0) - 1, 0, rows - 1);
        s32 bottom = emuparam(1) > 0 ? clampto(emuparam(1) - 1, 0, rows - 1) : rows - 1;
        if (top < bottom) {
            emu.scrolltop = (s16)top;
            emu.scrollbottom = (s16)bottom;
        }
        break;
    }
    case csi_setmode:
    case csi_resetmode:
    case csi_window:
        break;
    default:
        eprintf("ansi: ESC [ %c (%x) par: %d %d %d\n", (u32)b, (u32)b, emuparam(0), emuparam(1), emuparam(2));
        emudebugdump(rest, restcount, EMU_DUMPBYTES);
        break;
    }
}

// Erasing in the display (J) and in the line (K), with spaces in the current
// attributes.
void ansiterminal::emuerase(u8 b)
{
    u32 w = (u32)columns, y = (u32)cursory, x = (u32)kzv_min(cursorx, (s16)columns);
    u32 space = ' ' | emuattributes();
    s32 p = emuparam(0);
    if (b == csi_eraseindisplay) {
        if (p == 0) {
            fillcells(y * w, (u32)(rows - cursory) * w, space);
        } else if (p == 2 || p == 3) {
            fillcells(0, (u32)rows * w, space);
            cursorx = 0;
            cursory = 0;
        } else {
            eprintf("ansi: ESC [ %u J\n", p);
        }
        return;
    }
    if (p == 0)
        fillcells(y * w + x, w - x, space);
    else if (p == 1)
        fillcells(y * w, x, space);
    else if (p == 2)
        fillcells(y * w, w, space);
    else
        eprintf("ansi: ESC [ %u %u %u K\n", p, emuparam(1), emuparam(2));
}

void ansiterminal::emusgr()
{
    u32 count = emu.paramseen ? emu.paramindex + 1u : 1u;
    for (u32 i = 0; i < count; i++) {
        s32 v = emu.params[i];
        if (v == 0 || v == 27) {
            modeflags &= (u16)~termflag_reverse;
        } else if (v == 7) {
            modeflags |= termflag_reverse;
        } else if (v == 1 || v == 23 || v == 29 || v == 39 || v == 49) {
            // ignored
        } else if ((v >= 30 && v <= 37) || (v >= 90 && v <= 97)) {
            fgcell = (u32)(v >= 90 ? v - 82 : v - 30) << 16;
            fgrgb = NO_RGB;
        } else if ((v >= 40 && v <= 47) || (v >= 100 && v <= 107)) {
            bgcell = (u32)(v >= 100 ? v - 92 : v - 40) << 24;
            bgrgb = NO_RGB;
        } else if ((v == 38 || v == 48) && i + 2 < count && emu.params[i + 1] == 5 && emu.params[i + 2] <= 255) {
            if (v == 38) {
                fgcell = (u32)emu.params[i + 2] << 16;
                fgrgb = NO_RGB;
            } else {
                bgcell = (u32)emu.params[i + 2] << 24;
                bgrgb = NO_RGB;
            }
            return;
        } else {
            eprintf("ansi: ESC [ %u %u %u m\n", emuparam(0), emuparam(1), emuparam(2));
            if (v == 38 || v == 48)
                return;
        }
    }
}

void ansiterminal::emuprivate(u8 b)
{
    if (b == csi_restoremodes || b == csi_savemodes)
        return;
    if (b != csi_setmode && b != csi_resetmode) {
        eprintf("ansi: ESC [ ? %c (%x) par: %d %d %d\n", (u32)b, (u32)b, emuparam(0), emuparam(1), emuparam(2));
        return;
    }
    bool on = b == csi_setmode;
    switch (emuparam(0)) {
    case 1:
        modeflags = on ? (u16)(modeflags | termflag_appcursor) : (u16)(modeflags & ~termflag_appcursor);
        return;
    case 7:
        modeflags = on ? (u16)(modeflags & ~termflag_nowrap) : (u16)(modeflags | termflag_nowrap);
        return;
    case 12:
    case 25:
        options = on ? (u8)(options | termoption_cursorshown) : (u8)(options & ~termoption_cursorshown);
        return;
    case 47: case 1034: case 1049: case 2004: return;
    case 1000: pointerreports = on ? 4 : 0; return;
    case 1006: pointerreports = on ? 5 : 0; return;
    case 1007:
        if (!on) {
            pointerreports = 0;
            return;
        }
        break;
    case 1002: pointertracking = on ? 6 : 0; return;
    case 1003:
        pointertracking = on ? 7 : 0;
        if (!on) {
            pointerreports = 0;
            modeflags &= (u16)~termflag_extendedpointer;
        }
        return;
    case 1016:
        if (on) {
            modeflags |= termflag_extendedpointer;
            pointerreports = 5;
            pointertracking = 6;
            return;
        }
        break;
    default: break;
    }
    eprintf(on ? "ansi: ESC [ ? %u %u %u h\n" : "ansi: ESC [ ? %u %u %u l\n", emuparam(0), emuparam(1), emuparam(2));
}

} // namespace kzv
