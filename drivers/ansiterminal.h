// The terminal renderer `ansiterminal`: a module that drives a text terminal with
// ANSI escape sequences through the peer of its IN pin (a byte stream: 'I', 'J'
// and 'Q' out, 'F' and 'C' in). Modes: line terminal (text passes through, the
// cursor is tracked), text UI (a cell grid drawn by commands; `termupdate` sends
// only the runs that changed) and emulator (terminal output interpreted into the
// grid). A terminal side of 0 or above TERM_MAXSIDE cells counts as unknown (80 x
// 24). The grid and a looked-up directory belong to the module's pool and go with
// its exit; a directory given by `setgraphicinfo` stays the caller's.
#pragma once
#include "../framework/module.h"
#include "../framework/os.h"
#include "ansiemulator.h"
#include "terminalinput.h"
#include "terminalrender.h"

namespace kzv {

class image;

// The argument record of the draw commands and of `termgetgraphicinfo`.
struct comstruct {
    u32 v[3];
    void const* pointer;    // text, cell array or directory
};

const s32 TERM_MAXSIDE = 999;           // cells a side; larger sizes are not believed
// A size the terminal could not tell, or one we do not believe: the platform's own default.
const s16 TERM_DEFAULTCOLUMNS = (s16)TERMINAL_DEFAULTCOLUMNS;
const s16 TERM_DEFAULTROWS = (s16)TERMINAL_DEFAULTROWS;
const u32 TERM_MAXSTRING = 999;         // UTF-16 units a UTF-8 string is drawn with
const u32 TERM_ENVCAPACITY = 1000;      // an environment value: 999 characters and the end
const u32 TERM_PATHCAPACITY = TERM_ENVCAPACITY + 64;   // the directory and an image name
const u32 TERM_SIZETRIES = 1000;        // 1 ms waits for the reply to the size query
const u32 TERM_KEYBYTES = 1024;         // bytes one termgetkey takes at most

// Options byte.
enum : u8 {
    termoption_utf8boxes = 1, termoption_smallshadows = 2, termoption_unicodearrows = 4,
    termoption_cursorshown = 8,
};

// Mode flags.
enum : u16 {
    termflag_reverse = 0x001, termflag_sizefromstdio = 0x002, termflag_nowrap = 0x004,
    termflag_appcursor = 0x008, termflag_shiftedin = 0x020, termflag_graphiclookedup = 0x040,
    termflag_graphicavailable = 0x080, termflag_extendedpointer = 0x100,
};

enum : u32 { termmode_closed = 0, termmode_line = 1, termmode_tui = 2, termmode_emulator = 3 };

// Commands of the module callback; a, b are its two integers and p a comstruct.
enum : unsigned {
    termcmd_open = 88, termcmd_tabwidth = 110, termcmd_getkey = 111, termcmd_waitkey = 112,
    termcmd_putchar = 113, termcmd_setcursor = 114, termcmd_setcursorx = 115,
    termcmd_cursorup = 116, termcmd_cursordown = 117, termcmd_deleteline = 118,
    termcmd_deletetoend = 119, termcmd_clear = 120, termcmd_textcolor = 121,
    termcmd_backcolor = 122, termcmd_string16 = 123, termcmd_string8 = 124, termcmd_line = 125,
    termcmd_rect = 126, termcmd_fillrect = 127, termcmd_update = 128, termcmd_setcolors = 129,
    termcmd_utf8boxes = 130, termcmd_smallshadows = 131, termcmd_unicodearrows = 132,
    termcmd_setclipping = 133, termcmd_shrinkclipping = 134, termcmd_shadow = 135,
    termcmd_smallshadow = 136, termcmd_arrowup = 138, termcmd_arrowdown = 139,
    termcmd_putcells = 140, termcmd_invertchar = 142, termcmd_drawimage = 143,
    termcmd_getgraphicinfo = 144,
};

// The clipping rectangle, inclusive. "No limit" is a state of its own: an empty
// rectangle (x1 < x0 or y1 < y0) lets nothing be drawn.
struct termclip {
    bool limited;
    s32 x0, x1, y0, y1;
};

class ansiterminal : public module {
public:
    u8 options;             // termoption_ bits
    u8 colordepth;          // depth_ value
    u8 tabwidth;            // 1 to 8
    s16 columns, rows;      // 1 to TERM_MAXSIDE once open
    s16 cursorx, cursory;   // the column may equal `columns`: the next character wraps first
    u16 modeflags;          // termflag_ bits
    u8 linedrawing[2];      // G0 and G1 select the line-drawing set
    u8 pointerreports;      // emulator: pointer report mode and tracking mode
    u8 pointertracking;
    u32 mode;               // termmode_
    keydecoder keys;
    u32 fgcell, fgrgb;      // current foreground (index << 16) and the RGB it came from
    u32 bgcell, bgrgb;      // current background (index << 24) and its RGB
    termclip clip;
    u32 cellwidth, cellheight;      // pixels, 0 when unknown
    char const* directory;          // the shared image directory, or null
    char* owneddirectory;           // the pool copy when it was looked up
    emulatorstate emu;
    u32* grid;              // current cells, row after row
    u32* shadow;            // what the terminal shows (text UI)
    u8* linebuf;            // output of one run (text UI)
    u32 linecapacity;
    u32 linelength;
    bool savefailed;        // an image file could not be written (reported once)

    ansiterminal() { init(nullptr); }
    explicit ansiterminal(mem* p) { init(p); }
    ~ansiterminal() { exit(true); }
    ansiterminal(ansiterminal const&) = delete;
    ansiterminal& operator=(ansiterminal const&) = delete;

    void init(mem* p);
    void exit(bool keep);
    void mexit();
    void datarequested();   // the kind words mirror options, depth, tab width, size and cursor

    // Columns and rows both nonzero: the emulator of that size; else the text UI.
    bool open(int c, int r, int extra0, int extra1);
    bool opentui();
    bool openterm();
    bool openemu(int c, int r, int extra0, int extra1);
    sptr command(unsigned cmd, int a, int b, void const* p);

    // Text output: through the line terminal, into the emulator, or nothing (text UI).
    sptr write(void const* bytes, u32 count);
    sptr putbyte(u8 byte);
    sptr putline(char const* text);
    void termputchar(u32 ch);

    // Cursor and lines (line terminal and emulator).
    void termsetcursor(int x, int y);
    void termsetcursorx(int x);
    void termcursorup();
    void termcursordown();
    void termdeleteline();
    void termdeletetoend();
    void termclear();
    void settextcolor(u32 rgb);
    void setbackcolor(u32 rgb);

    // Text-UI drawing (terminalrender.cpp). Colours are RGB words.
    u32 getcolorindex(u32 rgb) const;
    void termsetcolors(int n);
    void termsetclipping(int x, int y, int w, int h);
    void termshrinkclipping(int a);
    void termnoclipping();
    bool canwrite(s64 x, s64 y) const;
    void termputchar(int x, int y, u32 rgb, u32 ch);
    void termputstring(int x, int y, u32 rgb, u16 const* text);
    void termputstring8(int x, int y, u32 rgb, char const* text);
    void termfillrect(int x, int y, int w, int h, u32 rgb);
    void termdrawline(int x1, int y1, int x2, int y2, u32 rgb);
    void termdrawrect(int x, int y, int w, int h, u32 rgb);
    void termdrawshadow(int x, int y, int w, int h);
    void termdrawsmallshadow(int x, int y, int w, int h);
    void terminvertchar(int x, int y);
    void termputcells(int x, int y, u32 const* cells, u32 count);
    void termdrawimage(int x, int y, image* im);
    void termdrawimagenographic(int x, int y, image* im);
    bool termgetgraphicinfo(comstruct* p);
    void setgraphicinfo(u32 width, u32 height, char const* dir);
    void termupdate(bool full);

    // Keys through the key decoder: 0 when no complete key is there.
    u32 termgetkey();
    u32 termwaitkey();

    // The emulator (ansiemulator.cpp).
    void writeemu(u8 const* bytes, u32 count);
    void putcharemu(u32 ch);

private:
    bool ensureopen();
    void send(void const* bytes, u32 count);
    void sendtext(char const* text);
    void passsequence(char const* sequence, bool intui);
    void setcolor(u32 rgb, bool isbackground);
    void sendsgrline(u32 index, bool background);
    void eraseall();
    bool looksalike(u32 a, u32 b) const;
    void linewrite(u8 const* bytes, u32 count);
    void nextrow();
    void askterminalsize();
    void takestdiosize(module* peer);
    bool allocategrid(bool withshadow);
    void sendrun(s32 row, s32 first, s32 last, s32& lastfg, s32& lastbg);
    void flushline();
    void appendline(u8 const* bytes, u32 count);
    u32 foreground(u32 rgb);
    u32 background(u32 rgb);
    u32 cachedindex(u32 rgb, u32& cachedrgb, u32& cell, u32 shift);
    void setcellchar(s64 x, s64 y, u32 fg, u32 ch);
    void drawimagemarks(int y, image* im);
    void saveframe(image* im);
    void lookupgraphicinfo();
    void fillcells(u32 from, u32 count, u32 cell);

    u32 emuattributes() const;
    void emuwritecell(u32 ch);
    void emunewline();
    void emuscrollup();
    void emuinsertlines(s32 n);
    void emureset();
    void emurecolor(bool background, u32 oldindex, u32 newindex);
    u32 emulinedrawing(u32 ch) const;
    void emuground(u8 byte);
    void emuutf8(u8 byte);
    void emuescape(u8 byte, u8 const* rest, u32 restcount);
    void emucsibyte(u8 byte, u8 const* rest, u32 restcount);
    void emufinal(u8 byte, u8 const* rest, u32 restcount);
    void emuprivate(u8 byte);
    void emusgr();
    void emuerase(u8 byte);
    void emuanswer(char const* text);
    s32 emuparam(u32 i) const;
    s32 emucount(u32 i) const;
    void emudebugdump(u8 const* rest, u32 restcount, u32 n);
};

sptr ansiterminal_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
