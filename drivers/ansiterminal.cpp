// The renderer module: record, callback, opening, the line terminal, cursor and
// line commands, and key reading. Facts the opening relies on: the standard-I/O
// stream (kind byte 47) knows the terminal's size, so no query is sent to it; any
// other byte stream may be a Telnet client, which is asked to send characters at
// once and not to echo, and whose size comes from the cursor position report
// (ESC [ rows ; columns R) after a move to row and column 999.
#include "ansiterminal.h"
#include "ansicodes.h"
#include "../framework/mem.h"
#include "../framework/os.h"
#include "../framework/str.h"
#include "../framework/stream.h"
#include "../framework/sysprocess.h"

namespace kzv {

namespace {

// IAC DO LINEMODE, IAC SB LINEMODE MODE 0 IAC SE, IAC WILL ECHO.
const u8 TELNET_CHARACTERMODE[13] = {0xFF, 0xFD, 0x22, 0xFF, 0xFA, 0x22, 0x01, 0x00, 0xFF, 0xF0, 0xFF, 0xFB, 0x01};
const char SIZE_QUERY[] = "\x1b[s\x1b[999;999f\x1b[6n\x1b[u\x1b[1G";
const char TUI_START[] = "\x1b[?7l\x1b[?25l\x1b[?1003h";
const char TUI_END[] = "\x1b[32m\x1b[999;1f";
const u32 SIZE_REPLYCAPACITY = 64;

bool sidefits(s64 v) { return v > 0 && v <= TERM_MAXSIDE; }

// A digit run, saturated far above any side we believe.
s64 readnumber(u8 const* p, u32 n, u32& i)
{
    s64 v = 0;
    for (; i < n && p[i] >= '0' && p[i] <= '9'; i++)
        if (v < 1000000)
            v = v * 10 + (p[i] - '0');
    return v;
}

// The reply to the size query: the first digit run is the row count, the next one
// after the following ';' the column count. Either stays 0 when missing.
void parsesizereply(u8 const* p, u32 n, s64& rowcount, s64& columncount)
{
    u32 i = 0;
    while (i < n && (p[i] < '0' || p[i] > '9'))
        i++;
    rowcount = readnumber(p, n, i);
    while (i < n && p[i] != csi_separator)
        i++;
    while (i < n && (p[i] < '0' || p[i] > '9'))
        i++;
    columncount = readnumber(p, n, i);
}

} // namespace

void ansiterminal::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "ansiterminal", ansiterminal_concb, type_terminal);
    options = termoption_utf8boxes | termoption_unicodearrows | termoption_cursorshown;
    colordepth = depth_256;
    tabwidth = 4;
    keys.reset();
}

void ansiterminal::exit(bool keep)
{
    module_exit(*this, keep);
}

void ansiterminal::mexit()
{
    if (mode == termmode_tui && grid)
        sendtext(TUI_END);
    if (grid)
        pool->free_int(grid);
    if (owneddirectory)
        pool->free_int(owneddirectory);
    grid = nullptr;
    shadow = nullptr;
    linebuf = nullptr;
    linecapacity = 0;
    owneddirectory = nullptr;
    directory = nullptr;
    mode = termmode_closed;
}

void ansiterminal::datarequested()
{
    kind.terminal.linedrawing = options;
    kind.terminal.colours = colordepth;
    kind.terminal.tabwidth = tabwidth;
    kind.terminal.columns = columns;
    kind.terminal.rows = rows;
    kind.terminal.cursorcolumn = cursorx;
    kind.terminal.cursorrow = cursory;
}

bool ansiterminal::open(int c, int r, int extra0, int extra1)
{
    if (c != 0 && r != 0)
        return openemu(c, r, extra0, extra1);
    return opentui();
}

// Every open starts from a fresh record that is still wired to the same peers.
bool ansiterminal::opentui()
{
    module_resetkeepingpeers(*this);
    if (!openterm())
        return false;
    if (modeflags & termflag_sizefromstdio)
        os_setterminalchanged();
    if (!allocategrid(true))
        return false;
    mode = termmode_tui;
    sendtext(TUI_START);
    eraseall();
    return true;
}

// The terminal is erased to colour 0 (where colours are sent), which is how the
// grid starts: a cleared cell then already shows what the terminal shows, and the
// first update sends only the cells that differ from it. The erase fills with the
// colour selected before it (background colour erase).
void ansiterminal::eraseall()
{
    if (colordepth >= depth_8)
        sendsgrline(0, true);
    sendtext("\x1b[2J");
}

bool ansiterminal::openterm()
{
    module* peer = in.peer ? in.peer->owner : nullptr;
    if (!peer)
        return false;
    in.call(cmd_datarequested, 0, 0, nullptr);
    if (peer->type != type_bytestream)
        return false;
    if (peer->kind.stream.sourcekind == source_stdio)
        takestdiosize(peer);
    else
        askterminalsize();
    if (!sidefits(columns))
        columns = TERM_DEFAULTCOLUMNS;
    if (!sidefits(rows))
        rows = TERM_DEFAULTROWS;
    mode = termmode_line;
    return true;
}

// The standard-I/O stream read the size from the terminal itself; a size it could
// not read, or one we do not believe, is 80 x 24.
void ansiterminal::takestdiosize(module* peer)
{
    u16 c = peer->kind.stream.source.stdio.columns;
    u16 r = peer->kind.stream.source.stdio.rows;
    columns = sidefits(c) ? (s16)c : TERM_DEFAULTCOLUMNS;
    rows = sidefits(r) ? (s16)r : TERM_DEFAULTROWS;
    if (peer->kind.stream.source.stdio.isterminal)
        modeflags |= termflag_sizefromstdio;
}

void ansiterminal::askterminalsize()
{
    send(TELNET_CHARACTERMODE, sizeof(TELNET_CHARACTERMODE));
    sendtext(SIZE_QUERY);
    u8 reply[SIZE_REPLYCAPACITY];
    u32 length = 0;
    for (u32 t = 0; t < TERM_SIZETRIES; t++) {
        u8* got = nullptr;
        sptr n = in.call(stream_read, (int)SIZE_REPLYCAPACITY, 0, &got);
        bool complete = false;
        for (sptr i = 0; got && i < n && i < (sptr)SIZE_REPLYCAPACITY; i++) {
            if (length == SIZE_REPLYCAPACITY) {         // keep the latest bytes
                memmove(reply, reply + 1, SIZE_REPLYCAPACITY - 1);
                length--;
            }
            reply[length++] = got[i];
            complete = complete || got[i] == csi_positionreport;
        }
        if (complete) {
            s64 r = 0, c = 0;
            parsesizereply(reply, length, r, c);
            columns = sidefits(c) ? (s16)c : 0;
            rows = sidefits(r) ? (s16)r : 0;
            return;
        }
        process->sleep(this, 1);
    }
}

bool ansiterminal::allocategrid(bool withshadow)
{
    u64 cells = (u64)columns * (u64)rows;
    u64 line = withshadow ? 2 * (u64)columns + 64 : 0;
    u64 bytes = cells * 4 * (withshadow ? 2 : 1) + line;
    grid = (u32*)pool->getmem0(bytes);
    if (!grid)
        return false;
    shadow = withshadow ? grid + cells : nullptr;
    linebuf = withshadow ? (u8*)(grid + 2 * cells) : nullptr;
    linecapacity = (u32)line;
    linelength = 0;
    return true;
}

bool ansiterminal::ensureopen()
{
    if (mode == termmode_closed)
        openterm();
    return mode != termmode_closed;
}

void ansiterminal::send(void const* bytes, u32 count)
{
    if (count)
        in.call(stream_write, (int)count, 0, bytes);
}

void ansiterminal::sendtext(char const* text) { send(text, strlen(text)); }

// --- Text output --------------------------------------------------------------

sptr ansiterminal::write(void const* bytes, u32 count)
{
    if (!bytes || !ensureopen())
        return 0;
    if (mode == termmode_line) {
        linewrite((u8 const*)bytes, count);
        return count;
    }
    if (mode == termmode_emulator) {
        writeemu((u8 const*)bytes, count);
        return count;
    }
    return 0;
}

sptr ansiterminal::putbyte(u8 byte) { return write(&byte, 1); }

sptr ansiterminal::putline(char const* text)
{
    if (!text)
        return 0;
    sptr n = write(text, strlen(text));
    return n + write("\r\n", 2);
}

void ansiterminal::termputchar(u32 ch)
{
    if (!ensureopen())
        return;
    if (mode == termmode_emulator) {
        putcharemu(ch);
        return;
    }
    u8 bytes[4];
    write(bytes, term_utf8(bytes, ch));
}

void ansiterminal::nextrow()
{
    if (cursory < rows - 1)
        cursory++;
}

// Bytes pass through in runs. A tab becomes spaces up to the next tab stop, LF
// becomes CR LF, and CR is not sent (the LF that follows brings its own).
void ansiterminal::linewrite(u8 const* bytes, u32 count)
{
    u8 out[256];
    u32 n = 0;
    u32 width = tabwidth >= 1 && tabwidth <= 8 ? tabwidth : 4;
    for (u32 i = 0; i < count; i++) {
        if (n + 8 > sizeof(out)) {
            send(out, n);
            n = 0;
        }
        u8 b = bytes[i];
        if (b == '\t') {
            u32 spaces = width - (u32)cursorx % width;
            memset(out + n, ' ', spaces);
            n += spaces;
            cursorx = (s16)(cursorx + spaces);
            if (cursorx >= columns) {         // a tab may pass a narrow screen's width
                cursorx = (s16)(cursorx % columns);
                nextrow();
            }
        } else if (b == '\n') {
            out[n++] = '\r';
            out[n++] = '\n';
            cursorx = 0;
            nextrow();
        } else if (b == '\r') {
            cursorx = 0;
        } else {
            out[n++] = b;
            if ((b & 0xC0) != 0x80 && ++cursorx >= columns) {     // a UTF-8 character counts once
                cursorx = 0;
                nextrow();
            }
        }
    }
    send(out, n);
}

// --- Cursor, lines and colours -----------------------------------------------

void ansiterminal::termsetcursor(int x, int y)
{
    if (!ensureopen())
        return;
    cursorx = (s16)kzv_max(0, kzv_min(x, columns - 1));
    cursory = (s16)kzv_max(0, kzv_min(y, rows - 1));
    if (mode == termmode_emulator)
        return;
    u8 seq[24];
    send(seq, term_cursorto(seq, (u32)cursory + 1, (u32)cursorx + 1));
}

void ansiterminal::termsetcursorx(int x)
{
    if (!ensureopen() || mode != termmode_line)
        return;
    cursorx = (s16)kzv_max(0, kzv_min(x, columns - 1));
    u8 seq[16];
    send(seq, term_cursortocolumn(seq, (u32)cursorx + 1));
}

// A cursor or erase sequence: the emulator interprets it, the line terminal sends
// it, and so does the text UI where `intui` says so.
void ansiterminal::passsequence(char const* sequence, bool intui)
{
    if (mode == termmode_emulator)
        writeemu((u8 const*)sequence, strlen(sequence));
    else if (mode == termmode_line || intui)
        sendtext(sequence);
}

void ansiterminal::termcursorup()
{
    if (!ensureopen())
        return;
    if (mode != termmode_emulator && cursory > 0)
        cursory--;
    passsequence("\x1b[1A", true);
}

void ansiterminal::termcursordown()
{
    if (!ensureopen())
        return;
    if (mode != termmode_emulator)
        nextrow();
    passsequence("\x1b[1B", true);
}

void ansiterminal::termdeleteline()
{
    if (ensureopen())
        passsequence("\x1b[2K", false);
}

void ansiterminal::termdeletetoend()
{
    if (ensureopen())
        passsequence("\x1b[0K", false);
}

void ansiterminal::termclear()
{
    if (!ensureopen())
        return;
    if (mode == termmode_line) {
        cursorx = 0;
        cursory = 0;
        sendtext("\x1b[3J\x1b[2J\x1b[1;1H");
        return;
    }
    if (!grid)
        return;
    fillcells(0, (u32)columns * (u32)rows, ' ' | fgcell | bgcell);
    if (mode == termmode_emulator) {
        cursorx = 0;
        cursory = 0;
    }
}

void ansiterminal::fillcells(u32 from, u32 count, u32 cell)
{
    for (u32 i = 0; i < count; i++)
        grid[from + i] = cell;
}

void ansiterminal::sendsgrline(u32 index, bool isbackground)
{
    u8 seq[TERM_MAXSGRBYTES];
    send(seq, term_sgr(seq, index, isbackground));
}

// The emulator repaints the cells of the old colour; the text UI only takes the
// colour as current; the line terminal sends it at depth 16.
void ansiterminal::setcolor(u32 rgb, bool isbackground)
{
    if (!ensureopen())
        return;
    rgb &= 0xFFFFFF;
    u32& cachedrgb = isbackground ? bgrgb : fgrgb;
    u32& cell = isbackground ? bgcell : fgcell;
    u32 shift = isbackground ? 24 : 16;
    if (mode == termmode_emulator) {
        if (rgb == cachedrgb)
            return;
        u32 index = getcolorindex(rgb);
        emurecolor(isbackground, (cell >> shift) & 0xFF, index);
        cell = index << shift;
        cachedrgb = rgb;
    } else if (mode == termmode_tui) {
        cachedindex(rgb, cachedrgb, cell, shift);
    } else if (colordepth == depth_16) {
        sendsgrline(getcolorindex(rgb), isbackground);
    }
}

void ansiterminal::settextcolor(u32 rgb) { setcolor(rgb, false); }

void ansiterminal::setbackcolor(u32 rgb) { setcolor(rgb, true); }

// --- Keys -------------------------------------------------------------------

// Bytes come from the peer until one completes a key; a pushed-back byte is taken
// first. The bound keeps a flood of input from holding the scheduler.
u32 ansiterminal::termgetkey()
{
    for (u32 i = 0; i < TERM_KEYBYTES; i++) {
        u8 byte;
        if (keys.haspushback()) {
            byte = keys.takepushback();
        } else {
            sptr r = in.call(stream_getbyte, 0, 0, nullptr);
            if (r <= 0)
                return keys.idle(process->msnow);
            byte = (u8)r;
        }
        u32 key = keys.feed(byte, process->msnow);
        if (key)
            return key;
    }
    return 0;
}

u32 ansiterminal::termwaitkey()
{
    while (!process->exitrequested) {
        u32 key = termgetkey();
        if (key)
            return key;
        process->sleep(this, 100);
    }
    return 0;
}

// --- Commands ------------------------------------------------------------------

static sptr drawcommand(ansiterminal& t, unsigned cmd, int a, int b, comstruct const* c)
{
    int w = (int)c->v[0], h = (int)c->v[1];
    switch (cmd) {
    case termcmd_putchar: t.termputchar(a, b, c->v[0], c->v[1] & 0xFFFF); break;
    case termcmd_string16: t.termputstring(a, b, c->v[0], (u16 const*)c->pointer); break;
    case termcmd_string8: t.termputstring8(a, b, c->v[0], (char const*)c->pointer); break;
    case termcmd_line: t.termdrawline(a, b, w, h, c->v[2]); break;
    case termcmd_rect: t.termdrawrect(a, b, w, h, c->v[2]); break;
    case termcmd_fillrect: t.termfillrect(a, b, w, h, c->v[2]); break;
    case termcmd_setclipping: t.termsetclipping(a, b, w, h); break;
    case termcmd_shadow: t.termdrawshadow(a, b, w, h); break;
    case termcmd_smallshadow: t.termdrawsmallshadow(a, b, w, h); break;
    case termcmd_arrowup:
        t.termputchar(a, b, c->v[0], (t.options & termoption_unicodearrows) ? uchar_arrowup : '^');
        break;
    case termcmd_arrowdown:
        t.termputchar(a, b, c->v[0], (t.options & termoption_unicodearrows) ? uchar_arrowdown : 'v');
        break;
    case termcmd_putcells: t.termputcells(a, b, (u32 const*)c->pointer, c->v[0]); break;
    default: return 0;
    }
    return 1;
}

static sptr setoption(ansiterminal& t, u8 bit, int a)
{
    if (a)
        t.options |= bit;
    else
        t.options &= (u8)~bit;
    return 1;
}

sptr ansiterminal::command(unsigned cmd, int a, int b, void const* p)
{
    switch (cmd) {
    case termcmd_open: return open(a, b, 1, 1) ? 1 : 0;
    case termcmd_tabwidth: tabwidth = (u8)kzv_max(1, kzv_min(a, 8)); return 1;
    case termcmd_getkey: return (sptr)termgetkey();
    case termcmd_waitkey: return (sptr)termwaitkey();
    case termcmd_putchar:
        if (mode != termmode_tui) {
            termputchar((u32)a);
            return 1;
        }
        break;
    case termcmd_setcursor: termsetcursor(a, b); return 1;
    case termcmd_setcursorx: termsetcursorx(a); return 1;
    case termcmd_cursorup: termcursorup(); return 1;
    case termcmd_cursordown: termcursordown(); return 1;
    case termcmd_deleteline: termdeleteline(); return 1;
    case termcmd_deletetoend: termdeletetoend(); return 1;
    case termcmd_clear: termclear(); return 1;
    case termcmd_textcolor: settextcolor((u32)a); return 1;
    case termcmd_backcolor: setbackcolor((u32)a); return 1;
    case termcmd_update: termupdate(a != 0); return 1;
    case termcmd_setcolors: termsetcolors(a); return 1;
    case termcmd_utf8boxes: return setoption(*this, termoption_utf8boxes, a);
    case termcmd_smallshadows: return setoption(*this, termoption_smallshadows, a);
    case termcmd_unicodearrows: return setoption(*this, termoption_unicodearrows, a);
    case termcmd_shrinkclipping: termshrinkclipping(a); return 1;
    case termcmd_invertchar: terminvertchar(a, b); return 1;
    case termcmd_drawimage: termdrawimage(a, b, (image*)const_cast<void*>(p)); return 1;
    case termcmd_getgraphicinfo: return p && termgetgraphicinfo((comstruct*)const_cast<void*>(p)) ? 1 : 0;
    default: break;
    }
    if (!p)
        return 0;
    return drawcommand(*this, cmd, a, b, (comstruct const*)p);
}

sptr ansiterminal_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    ansiterminal* t = (ansiterminal*)self;
    switch (cmd) {
    case stream_writetext: return p ? t->write(p, strlen((char const*)p)) : 0;
    case stream_write: return p && a > 0 ? t->write(p, (u32)a) : 0;
    case stream_writerecord: {
        data const* d = (data const*)p;
        return d && d->type == type_bytestream ? t->write(d->payload, d->size) : 0;
    }
    case stream_writebyte: return t->putbyte((u8)a);
    case stream_writeline: return t->putline((char const*)p);
    case cmd_datarequested: t->datarequested(); return 1;
    default: break;
    }
    sptr reply = 0;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return t->command(cmd, a, b, p);
}

} // namespace kzv
