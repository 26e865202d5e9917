// The terminal display back-end. The screen image is the terminal's cells times
// the cell size, capped at TERMINALGUI_MAXSCREEN a side; a window is centred on it
// and draws straight into it, so the back buffer of a window is a sub-rectangle of
// the screen whose first pixel lies a whole number of pixels in (aligned for the
// 16- and 32-bit formats). Every update hands the whole screen to the renderer,
// which sends only the cells that changed.
// The mouse file of a graphic terminal holds 4-byte records, two little-endian
// u16 (x, y in terminal pixels); it is read byte by byte and only whole records
// count, the last one of a step winning. The offset file holds one u32: the low
// half is the x offset, the high half the y offset of the pointer origin.
#include "terminalgui.h"
#include "../framework/memprim.h"
#include "../framework/os.h"
#include "../framework/str.h"
#include "../framework/sysprocess.h"
#include "../framework/vprinter.h"
#include "../gui/text.h"

namespace kzv {

// The close box: an X of 19 by 19 pixels, two pixels beside each diagonal set.
static char const terminalgui_closebutton[] =
    "19,19,"
    "**---------------**"
    "***-------------***"
    "-***-----------***-"
    "--***---------***--"
    "---***-------***---"
    "----***-----***----"
    "-----***---***-----"
    "------***-***------"
    "-------*****-------"
    "--------***--------"
    "-------*****-------"
    "------***-***------"
    "-----***---***-----"
    "----***-----***----"
    "---***-------***---"
    "--***---------***--"
    "-***-----------***-"
    "***-------------***"
    "**---------------**";
static_assert(sizeof(terminalgui_closebutton) == 6 + 19 * 19 + 1, "close box pattern");

// Window frame geometry, in pixels from the client area's top left.
const int FRAME_TITLEHEIGHT = 28;
const int FRAME_BORDER = 2;
const int CLOSEBOX_SIDE = 23;
const u32 FRAME_TITLECOLOR = 0x000088;
const u32 FRAME_BORDERCOLOR = 0xCCCCFF;
const u32 CLOSEBOX_COLOR = 0x000033;
const u32 FRAME_WHITE = 0xFFFFFF;
const u32 TITLE_CAPACITY = 256;          // bytes of title drawn at most

const u32 MOUSERECORD_BYTES = 4;
const u32 MOUSEREAD_CHUNK = 1024;
const u32 MOUSEREAD_ROUNDS = 64;        // 64 KiB of records a step; the rest waits
const u32 KEYCODE_LASTEVENT = 0x18FFFF; // above: pointer motion reports, not used here

static_assert(sizeof(terminalwindow) <= GUIWINDOW_BACKENDPART, "terminal window fields");

void terminalgui::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "terminalgui", terminalgui_concb, type_gui);
    minit();
}

// The console is initialised only when the display is opened: that is where the
// terminal goes raw, and a record that is never opened leaves the terminal alone.
void terminalgui::minit()
{
    type = type_gui;
    renderer.init(pool);
    screen.init(pool);
    mousefile.init(pool);
}

void terminalgui::exit(bool keep)
{
    module_exit(*this, keep);
}

// The renderer's goodbye sequence goes out through the console, so the renderer
// ends first. What the terminal has not taken yet goes out before the console is
// released: an application that prints its answer after closing the display
// then finds no escape sequence cut in half in front of it.
void terminalgui::mexit()
{
    if (process->defaulthandler == this)
        process->defaulthandler = nullptr;
    renderer.exit(true);
    flushconsole();
    if (consoleopen)
        console.exit(true);
    consoleopen = 0;
    screen.exit(true);
    mousefile.exit(true);
    current = nullptr;
    terminal = nullptr;
}

bool terminalgui::fail(char const* why)
{
    failure = why;
    flags |= gui_failed;
    flags &= (u8)~gui_ready;
    return false;
}

bool terminalgui::readsettings()
{
    char value[TERMINALGUI_ENVCAPACITY];
    if (!process->getenv("KZVTERM_CXS", value, sizeof value))
        return fail("KZVTERM_CXS is not set");
    cellwidth = term_parsecellsize(value);
    if (!process->getenv("KZVTERM_CYS", value, sizeof value))
        value[0] = 0;
    cellheight = term_parsecellsize(value);
    if (!cellwidth || !cellheight)
        return fail("KZVTERM_CXS and KZVTERM_CYS must be cell sizes of 1 to 256 pixels");
    directory[0] = 0;
    if (!process->getenv("KZVTERM_TMP", value, sizeof value))
        return true;
    // A cut directory would name another place, so it is refused whole.
    if (strlen(value) >= TERMINALGUI_DIRCAPACITY)
        return fail("KZVTERM_TMP is longer than 259 bytes");
    strcpy(directory, value, TERMINALGUI_DIRCAPACITY - 1);
    return true;
}

// The start of every open: the field of the default handler is cleared (it is
// set again on success), and the settings are read before the terminal is touched.
bool terminalgui::beginopen()
{
    flags &= (u8)~(gui_failed | gui_ready);
    process->defaulthandler = nullptr;
    return readsettings();
}

bool terminalgui::open(u32 format)
{
    if (!beginopen())
        return false;
    if (!consoleopen) {
        console.init(pool);
        consoleopen = 1;
    }
    return attach(&console, format);
}

bool terminalgui::openon(module* peer, u32 format)
{
    return beginopen() && attach(peer, format);
}

// The peer must be a terminal of the standard-I/O kind: the renderer then takes
// the size from it and sends no query (80 x 24 where the terminal cannot tell its
// size), and with no terminal at all (no controlling terminal behind a captured
// standard output) there is nothing to draw on. A terminal that refused raw mode
// would echo keys and hold them back for whole lines, so the UI cannot run on it
// either.
bool terminalgui::attach(module* peer, u32 format)
{
    if (!peer)
        return fail("no terminal to draw on");
    peer->call(cmd_datarequested, 0, 0, nullptr);
    if (peer->type != type_bytestream || peer->kind.stream.sourcekind != source_stdio)
        return fail("no terminal to draw on");
    if (peer->kind.stream.source.stdio.rawrefused)
        return fail("the terminal refused raw mode");
    if (!peer->kind.stream.source.stdio.isterminal)
        return fail("no terminal to draw on");
    terminal = peer;
    connect(peer->out, renderer.in);
    if (!renderer.open(0, 0, 1, 1))
        return fail("the terminal could not be set up");
    renderer.setgraphicinfo(cellwidth, cellheight, directory);
    if (!openscreen(format))
        return false;
    // The renderer's opening has set the modes the screen needs (no auto-wrap, no
    // cursor, every pointer motion reported) and erased the terminal.
    if (peer == &console)
        os_setterminalchanged();
    process->startthread(this, TERMINALGUI_STEPMS);
    openmousefile();
    flags |= gui_ready;
    process->defaulthandler = this;
    return true;
}

// 555 is served as 565, and every format the screen cannot take as 888.
static u32 screenformat(u32 requested)
{
    if (requested == pixfmt_332 || requested == pixfmt_565)
        return requested;
    if (requested == pixfmt_555)
        return pixfmt_565;
    return pixfmt_888;
}

bool terminalgui::openscreen(u32 format)
{
    if (renderer.columns <= 0 || renderer.rows <= 0)
        return fail("the terminal has no size");
    u64 w = kzv_min((u64)renderer.columns * cellwidth, (u64)TERMINALGUI_MAXSCREEN);
    u64 h = kzv_min((u64)renderer.rows * cellheight, (u64)TERMINALGUI_MAXSCREEN);
    u32 f = screenformat(format);
    kind.gui.flags &= (u8)~guicaps_windowsystem;
    kind.gui.screens = 1;
    kind.gui.width = (u16)w;
    kind.gui.height = (u16)h;
    kind.gui.format = f;
    size = 0;
    payload = nullptr;
    if (!screen.open((u32)w, (u32)h, f))
        return fail("no memory for the terminal's screen image");
    screen.clear(TERMINALGUI_BACKGROUND);
    screen.serial = image::nextserial();
    return true;
}

// Only records written after the open count: the file is taken from its end, cut
// down to a whole record. It is held open at its end so that growth is seen. The
// shared directory may be writable by others, so the mouse and offset files are
// read only as regular files, never through a link (a fifo would block the open).
void terminalgui::openmousefile()
{
    if (!directory[0])
        return;
    char path[TERMINALGUI_PATHCAPACITY];
    if (!str_combine(path, sizeof path, directory, "/tuimouse"))
        return;
    if (!mousefile.opennolink(path))
        return;
    mousefile.control |= control_hold;
    mousefile.setposition(mousefile.filesize() & ~(u64)(MOUSERECORD_BYTES - 1));
}

// The last whole record that arrived since the previous step; a partial record
// stays for the next one.
bool terminalgui::readmouse(u32& x, u32& y)
{
    if (!mousefile.fd)
        return false;
    mousefile.checksize();
    bool got = false;
    for (u32 round = 0; round < MOUSEREAD_ROUNDS; round++) {
        u8* p = nullptr;
        sptr n = mousefile.read(&p, MOUSEREAD_CHUNK);
        if (n <= 0 || !p)
            break;
        u32 whole = (u32)n & ~(MOUSERECORD_BYTES - 1);
        for (u32 i = 0; i < whole; i += MOUSERECORD_BYTES) {
            x = (u32)p[i] | (u32)p[i + 1] << 8;
            y = (u32)p[i + 2] | (u32)p[i + 3] << 8;
            got = true;
        }
        if ((u32)n != whole) {
            mousefile.giveback((int)((u32)n - whole));
            break;
        }
    }
    return got;
}

// Read once a window: a value of 0 still counts as read (x offset 1).
void terminalgui::readoffset(terminalwindow* part)
{
    char path[TERMINALGUI_PATHCAPACITY];
    char pid[12];
    vprinter_hex32tostring((u32)os_getpid(), pid, false);
    if (!str_combine(path, sizeof path, directory, "/tuimouseoffset_", pid))
        return;
    int fd = os_fopennolink(path);
    if (!fd)
        return;
    u8 b[4] = {0, 0, 0, 0};
    int n = os_read(fd, b, sizeof b);
    os_close(fd);
    if (n != (int)sizeof b)
        return;
    u32 v = (u32)b[0] | (u32)b[1] << 8 | (u32)b[2] << 16 | (u32)b[3] << 24;
    if (v == 0)
        v = 1;
    part->mouseoffsetx = (s32)(v & 0xFFFF);
    part->mouseoffsety = (s32)(v >> 16);
}

void terminalgui::mousestep()
{
    u32 x = 0, y = 0;
    if (!readmouse(x, y) || !current || !current->eventpin)
        return;
    terminalwindow* part = current->backendfields<terminalwindow>();
    if (part->mouseoffsetx == 0 && part->mouseoffsety == 0)
        readoffset(part);
    guiwindow_sendevent(current, ui_mousemoved, (int)x - part->mouseoffsetx - current->x,
                        (int)y - current->y - part->mouseoffsety);
}

// The window event of each mouse report kind, from left press (0x11) to wheel down.
static u8 const mouseevents[8] = {
    ui_leftdown, ui_leftup, ui_rightdown, ui_rightup, ui_middledown, ui_middleup,
    ui_wheelup, ui_wheeldown,
};

// The close box lies in the title bar, in the rightmost 27 pixels of the window.
static bool inclosebox(guiwindow const* w, s32 a, s32 b)
{
    return b >= -(FRAME_TITLEHEIGHT - 1) && b <= -1 && a > (s32)w->width - FRAME_TITLEHEIGHT &&
           a < (s32)w->width;
}

void terminalgui::sendkey(u32 code)
{
    guiwindow* w = current;
    if (code > KEYCODE_LASTEVENT || !w || !w->eventpin)
        return;
    u32 k = key_kind(code);
    if (k <= 1) {
        guiwindow_sendevent(w, ui_keydown, (int)code, 0);
        if (current == w)       // the key may have closed the window
            guiwindow_sendevent(w, ui_keyup, (int)code, 0);
        return;
    }
    if (k < mouse_leftdown || k > mouse_wheeldown)
        return;
    s32 a = (s32)(key_column(code) * cellwidth + cellwidth / 2) - w->x;
    s32 b = (s32)(key_row(code) * cellheight + cellheight / 2) - w->y;
    if (k == mouse_leftdown && inclosebox(w, a, b)) {
        guiwindow_sendevent(w, ui_closed, 0, 0);
        return;
    }
    guiwindow_sendevent(w, mouseevents[k - mouse_leftdown], a, b);
}

void terminalgui::keystep()
{
    for (u32 i = 0; i < TERMINALGUI_KEYSPERSTEP; i++) {
        u32 code = renderer.termgetkey();
        if (!code)
            return;
        sendkey(code);
    }
}

void terminalgui::cyclic()
{
    if (!(flags & gui_ready))
        return;
    mousestep();
    keystep();
}

// The title in the 8 x 16 built-in font, cut at a character boundary where the
// close box begins.
static void drawtitle(image& im, int x, int y, int room, char const* title)
{
    if (!title || room < TEXT_ADVANCE8X16)
        return;
    char fitted[TITLE_CAPACITY];
    str_copycharacters(fitted, sizeof fitted, title, (u32)(room / TEXT_ADVANCE8X16));
    im.print8x16(x, y, FRAME_WHITE, fitted);
}

void terminalgui::drawframe(guiwindow* w)
{
    int x = w->x, y = w->y, wd = w->width, ht = w->height;
    int boxx = x + wd - CLOSEBOX_SIDE - FRAME_BORDER;
    int boxy = y - CLOSEBOX_SIDE - 3;
    screen.fillrect(x, y - FRAME_TITLEHEIGHT, wd, FRAME_TITLEHEIGHT, FRAME_TITLECOLOR);
    drawtitle(screen, x + 3, y - 24, boxx - 1 - (x + 3), w->title);
    screen.drawrect(x - FRAME_BORDER, y - FRAME_TITLEHEIGHT - FRAME_BORDER, wd + 2 * FRAME_BORDER,
                    ht + FRAME_TITLEHEIGHT + 2 * FRAME_BORDER, FRAME_BORDERCOLOR);
    screen.fillrect(boxx, boxy, CLOSEBOX_SIDE, CLOSEBOX_SIDE, CLOSEBOX_COLOR);
    screen.drawrect(boxx, boxy, CLOSEBOX_SIDE, CLOSEBOX_SIDE, FRAME_WHITE);
    screen.drawrect(boxx - 1, boxy - 1, CLOSEBOX_SIDE + 2, CLOSEBOX_SIDE + 2, FRAME_WHITE);
    screen.drawbitmap(boxx + 2, boxy + 2, FRAME_WHITE, terminalgui_closebutton);
}

// Centred and cut to the screen; a window that fills the screen in either
// direction gets no frame.
sptr terminalgui::openwindow(guiwindow* w)
{
    u32 sw = kind.gui.width, sh = kind.gui.height;
    if (w->width > sw)
        w->width = (u16)sw;
    if (w->height > sh)
        w->height = (u16)sh;
    w->x = (s32)((sw - w->width) / 2);
    w->y = (s32)((sh - w->height) / 2);
    w->format = kind.gui.format;
    w->flags |= guiwindow_shown;
    terminalwindow* part = w->backendfields<terminalwindow>();
    part->mouseoffsetx = 0;
    part->mouseoffsety = 0;
    if (w->width < sw && w->height < sh)
        drawframe(w);
    return 1;
}

// The offset is the window's position in whole pixels, the same centring as 145.
sptr terminalgui::getbackbuffer(guiwindow* w)
{
    if (!screen.haspixels())
        return 0;
    u32 sw = (u32)screen.width, sh = (u32)screen.height;
    if (w->width > sw || w->height > sh)
        return 0;
    u32 bpp = pixel_bytes((u32)screen.format);
    u64 rowbytes = (u64)screen.stride * bpp;
    current = w;
    w->stride = (u32)rowbytes;
    w->pixels = screen.pixels + (uptr)((sw - w->width) / 2) * bpp +
                (uptr)(rowbytes * ((sh - w->height) / 2));
    return 1;
}

// A closed window gets no more events.
sptr terminalgui::closewindow(guiwindow* w)
{
    if (current == w)
        current = nullptr;
    w->flags &= (u8)~guiwindow_shown;
    return 1;
}

// The picture starts in the first column: without a graphic terminal, a screen of
// one pixel a column then fills the terminal's width.
sptr terminalgui::update()
{
    screen.status |= imagestatus_changed;
    renderer.termdrawimage(0, 0, &screen);
    renderer.termupdate(false);
    return 1;
}

sptr terminalgui::command(unsigned code, int a, int b, guiwindow* w)
{
    if ((flags & gui_failed) || !(flags & gui_ready))
        return 0;
    switch (code) {
    case guicmd_openwindow: return w ? openwindow(w) : 0;
    case guicmd_closewindow: return w ? closewindow(w) : 0;
    case guicmd_createbackbuffer: return 1;
    case guicmd_getbackbuffer: return w ? getbackbuffer(w) : 0;
    case guicmd_update: return update();
    default: return 0;
    }
}

// At the end of the loop, what the terminal has not taken yet goes out before the
// platform restores it, so no escape sequence is left half-written.
void terminalgui::flushconsole()
{
    for (u32 ms = 0; consoleopen && console.writecount > 0 && ms < TERMINALGUI_FLUSHMS; ms++) {
        console.checkwrite();
        if (console.writecount > 0)
            os_sleep(1);
    }
}

sptr terminalgui_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    terminalgui* t = (terminalgui*)self;
    if (cmd == cmd_cyclic) {
        t->cyclic();
        return 1;
    }
    if (cmd == cmd_endofloop) {
        t->flushconsole();
        return 1;
    }
    sptr reply = 0;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return t->command(cmd, a, b, (guiwindow*)const_cast<void*>(p));
}

} // namespace kzv
