// The terminal display back-end on a scripted terminal: the screen it makes, the
// window placement and frame of 145, the back-buffer pointer of 148 (whole pixels
// in, for every format), keys and xterm mouse reports turned into window events,
// the close box, the mouse and offset files, and the update handed to the renderer.
#include "guifakes.h"
#include "../../drivers/terminalgui.h"
#include "../../framework/os.h"
#include "../../framework/vprinter.h"

using namespace kzv;
using namespace kzvtest;

namespace {

struct tguifixture {
    useenvironment env;
    faketerminal* term;
    terminalgui* t;
    guiwindow* w;
    eventlog log;
    bool opened;

    tguifixture(char const** environment, u16 columns, u16 rows, u32 format = 0)
        : env(environment)
    {
        term = (faketerminal*)process->pool.getmem0(sizeof(faketerminal));
        term->setup(columns, rows);
        t = (terminalgui*)process->pool.getmem0(sizeof(terminalgui));
        t->init(nullptr);
        w = (guiwindow*)process->pool.getmem0(sizeof(guiwindow));
        log.setup();
        w->eventpin = &log.in;
        opened = t->openon(term, format);
    }
    ~tguifixture()
    {
        t->exit(true);
        process->pool.freemem(t);
        process->pool.freemem(w);
        process->pool.freemem(term);
    }
    // A window of that size opened and given its back buffer.
    bool openwindow(u16 width, u16 height, char const* title = "demo")
    {
        w->width = width;
        w->height = height;
        w->title = title;
        return terminalgui_concb(t, guicmd_openwindow, 0, 0, w) == 1 &&
               terminalgui_concb(t, guicmd_createbackbuffer, 0, 0, w) == 1 &&
               terminalgui_concb(t, guicmd_getbackbuffer, 0, 0, w) == 1;
    }
    void type(char const* bytes, u32 n)
    {
        term->typein(bytes, n);
        terminalgui_concb(t, cmd_cyclic, 0, 0, nullptr);
    }
};

char const* env8x16[] = {"KZVTERM_CXS=8", "KZVTERM_CYS=16", nullptr};
char const* env9x16[] = {"KZVTERM_CXS=9", "KZVTERM_CYS=16", nullptr};

} // namespace

TEST(terminalgui_open)
{
    tguifixture f(env8x16, 80, 24);
    CHECK(f.opened);
    terminalgui* t = f.t;
    CHECK_STR(t->name, "terminalgui");
    CHECK_EQ(t->type, type_gui);
    CHECK(t->flags & gui_ready);
    CHECK(!(t->flags & gui_failed));
    CHECK(process->defaulthandler == t);
    CHECK(t->state & 1);                                // stepped by the scheduler
    CHECK_EQ(t->kind.gui.width, 640);
    CHECK_EQ(t->kind.gui.height, 384);
    CHECK_EQ(t->kind.gui.screens, 1);
    CHECK_EQ(t->kind.gui.flags & guicaps_windowsystem, 0);
    CHECK_EQ(t->cellwidth, 8);
    CHECK_EQ(t->cellheight, 16);
    CHECK_EQ(t->screen.width, 640);
    CHECK_EQ(t->screen.getpixel(0, 0), TERMINALGUI_BACKGROUND);
    CHECK_EQ(t->screen.getpixel(639, 383), TERMINALGUI_BACKGROUND);
    CHECK(f.term->hasoutput("\x1b[?7l\x1b[?25l\x1b[?1003h"));
    CHECK(f.term->out.peer == &t->renderer.in);
    t->exit(true);
    CHECK(process->defaulthandler == nullptr);
    CHECK(!(t->state & 1));
}

TEST(terminalgui_screen_formats)
{
    static const struct { u32 asked, served; } rows[] = {
        {332, 332}, {565, 565}, {555, 565}, {888, 888}, {8888, 888}, {0, 888}, {1, 888}, {8, 888},
    };
    for (auto const& r : rows) {
        char name[32];
        vprinter_format(name, sizeof name, 24, "%u", r.asked);
        setrow(name);
        tguifixture f(env8x16, 80, 24, r.asked);
        CHECK(f.opened);
        CHECK_EQ(f.t->kind.gui.format, r.served);
        CHECK_EQ((u32)f.t->screen.format, r.served);
        CHECK(f.openwindow(100, 50));
        CHECK_EQ(f.w->format, r.served);
    }
}

// 81 columns of 9 pixels: the screen is 729 wide, so a 100-pixel window leaves an
// odd 629; its first pixel lies 314 whole pixels in, aligned for its format.
TEST(terminalgui_back_buffer_offset)
{
    static const struct { u32 format; u32 bytes; } rows[] = {{332, 1}, {565, 2}, {888, 4}};
    for (auto const& r : rows) {
        char name[32];
        vprinter_format(name, sizeof name, 24, "%u", r.format);
        setrow(name);
        tguifixture f(env9x16, 81, 24, r.format);
        CHECK(f.openwindow(100, 51));
        CHECK_EQ(f.w->x, 314);
        CHECK_EQ(f.w->y, 166);
        CHECK(f.w->flags & guiwindow_shown);
        image& s = f.t->screen;
        u32 rowbytes = 729 * r.bytes;
        CHECK_EQ(f.w->stride, rowbytes);
        CHECK_EQ((u64)(f.w->pixels - s.pixels), (u64)314 * r.bytes + (u64)rowbytes * 166);
        CHECK_EQ((uptr)f.w->pixels % r.bytes, 0);
        // Drawing through a window image lands on the screen at the window's place.
        image win;
        CHECK(win.open(f.w->pixels, f.w->width, f.w->height, f.w->format, f.w->stride));
        win.setpixel(0, 0, 0xFFFFFF);
        win.setpixel(99, 50, 0xFFFFFF);
        CHECK_EQ(s.getpixel_truecolor(314, 166) & 0xE0E0C0, 0xE0E0C0);
        CHECK_EQ(s.getpixel_truecolor(413, 216) & 0xE0E0C0, 0xE0E0C0);
        CHECK_EQ(s.getpixel(313, 166), s.getpixel(0, 0));
        win.exit(true);
    }
}

// A window as large as the screen in either direction gets no frame, and one as
// large as the screen starts at its first pixel.
TEST(terminalgui_full_window_has_no_frame)
{
    tguifixture f(env8x16, 80, 24);
    CHECK(f.openwindow(2000, 2000));
    CHECK_EQ(f.w->width, 640);
    CHECK_EQ(f.w->height, 384);
    CHECK_EQ(f.w->x, 0);
    CHECK(f.w->pixels == f.t->screen.pixels);
    f.t->screen.clear(TERMINALGUI_BACKGROUND);
    CHECK(f.openwindow(640, 100));
    CHECK_EQ(f.w->y, 142);
    CHECK_EQ(f.t->screen.getpixel(10, 141), TERMINALGUI_BACKGROUND);
    CHECK_EQ(f.t->screen.getpixel(10, 113), TERMINALGUI_BACKGROUND);
}

// Title bar, border and close box around a 200 x 100 window at (220, 142).
TEST(terminalgui_frame)
{
    tguifixture f(env8x16, 80, 24);
    CHECK(f.openwindow(200, 100, "Hi"));
    CHECK_EQ(f.w->x, 220);
    CHECK_EQ(f.w->y, 142);
    image& s = f.t->screen;
    static const struct { char const* name; int x, y; u32 colour; } pixels[] = {
        {"title bar", 221, 141, 0x000088},
        {"title bar top", 300, 114, 0x000088},
        {"border top", 300, 112, 0xCCCCFF},
        {"between border and title bar", 300, 113, TERMINALGUI_BACKGROUND},
        {"border left", 218, 200, 0xCCCCFF},
        {"border bottom", 300, 243, 0xCCCCFF},
        {"border right", 421, 200, 0xCCCCFF},
        {"inside the border", 219, 200, TERMINALGUI_BACKGROUND},
        {"client area", 300, 200, TERMINALGUI_BACKGROUND},
        {"close box outline", 395, 116, 0xFFFFFF},
        {"close box outer outline", 394, 115, 0xFFFFFF},
        {"close box fill", 396, 117, 0x000033},
        {"close box cross", 397, 118, 0xFFFFFF},
        {"close box cross centre", 406, 127, 0xFFFFFF},
        {"beside the cross", 400, 118, 0x000033},
    };
    for (auto const& p : pixels) {
        setrow(p.name);
        CHECK_EQ(s.getpixel(p.x, p.y), p.colour);
    }
    setrow("title text");
    u32 white = 0;
    for (int y = 118; y < 134; y++)
        for (int x = 223; x < 239; x++)
            white += s.getpixel(x, y) == 0xFFFFFF;
    CHECK(white > 10);
}

// A title longer than the title bar is cut before the close box, at a character
// boundary, and nothing is drawn beside the frame.
TEST(terminalgui_long_title)
{
    tguifixture f(env8x16, 80, 24);
    static char title[400];
    for (u32 i = 0; i + 1 < sizeof title; i += 2) {
        title[i] = (char)0xC3;          // U+00C9, two bytes
        title[i + 1] = (char)0x89;
    }
    CHECK(f.openwindow(200, 100, title));
    image& s = f.t->screen;
    u32 stray = 0;
    for (int y = 110; y < 142; y++)
        for (int x = 423; x < 640; x++)
            stray += s.getpixel(x, y) != TERMINALGUI_BACKGROUND;
    CHECK_EQ(stray, 0);
    f.t->screen.clear(TERMINALGUI_BACKGROUND);
    static char const broken[] = "\xC3\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80";
    CHECK(f.openwindow(200, 100, broken));
}

// Keys arrive as key down and key up with the key code; the decoder's codes are
// the window's key codes.
TEST(terminalgui_keys)
{
    tguifixture f(env8x16, 80, 24);
    CHECK(f.openwindow(200, 100));
    static char const typed[] = "a\x1b[A\r\x1b[B\x1b[C\x1b[D\x7f\t";
    f.type(typed, sizeof typed - 1);
    static const u32 keys[] = {'a', guikey_up, guikey_enter, guikey_down, guikey_right,
                               guikey_left, guikey_backspace, '\t'};
    CHECK_EQ(f.log.count, 2 * (sizeof keys / sizeof keys[0]));
    for (u32 i = 0; i < sizeof keys / sizeof keys[0] && 2 * i + 1 < f.log.count; i++) {
        CHECK_EQ(f.log.code[2 * i], ui_keydown);
        CHECK_EQ(f.log.code[2 * i + 1], ui_keyup);
        CHECK_EQ((u32)f.log.a[2 * i], keys[i]);
        CHECK_EQ((u32)f.log.a[2 * i + 1], keys[i]);
        CHECK(f.log.pinwasset[2 * i]);
    }
}

// Mouse reports: cell (column, row) becomes the cell's centre in window pixels.
// The window is 200 x 100 at (220, 142) on cells of 8 x 16.
TEST(terminalgui_mouse_reports)
{
    static const struct {
        char const* name;
        u8 button, column, row;
        u32 code;
        s32 a, b;
    } rows[] = {
        {"left press", 32, 30, 10, ui_leftdown, 30 * 8 + 4 - 220, 10 * 16 + 8 - 142},
        {"release", 35, 31, 11, ui_leftup, 31 * 8 + 4 - 220, 11 * 16 + 8 - 142},
        {"right press", 34, 28, 12, ui_rightdown, 28 * 8 + 4 - 220, 12 * 16 + 8 - 142},
        {"right release", 35, 28, 12, ui_rightup, 28 * 8 + 4 - 220, 12 * 16 + 8 - 142},
        {"middle press", 33, 40, 9, ui_middledown, 40 * 8 + 4 - 220, 9 * 16 + 8 - 142},
        {"middle release", 35, 40, 9, ui_middleup, 40 * 8 + 4 - 220, 9 * 16 + 8 - 142},
        {"wheel up", 96, 0, 0, ui_wheelup, 4 - 220, 8 - 142},
        {"wheel down", 97, 79, 23, ui_wheeldown, 79 * 8 + 4 - 220, 23 * 16 + 8 - 142},
        {"press with Ctrl", 32 + 16, 30, 10, ui_leftdown, 30 * 8 + 4 - 220, 10 * 16 + 8 - 142},
        {"release with Shift", 35 + 4, 30, 10, ui_leftup, 30 * 8 + 4 - 220, 10 * 16 + 8 - 142},
        {"press in the title bar", 32, 30, 8, ui_leftdown, 30 * 8 + 4 - 220, 8 * 16 + 8 - 142},
        {"release in the close box", 35, 49, 8, ui_leftup, 49 * 8 + 4 - 220, 8 * 16 + 8 - 142},
        {"press in the close box", 32, 49, 8, ui_closed, 0, 0},
        {"release after it", 35, 49, 8, ui_leftup, 49 * 8 + 4 - 220, 8 * 16 + 8 - 142},
        {"press left of the close box", 32, 46, 8, ui_leftdown, 46 * 8 + 4 - 220, 8 * 16 + 8 - 142},
        {"right press in the close box", 34, 49, 8, ui_rightdown, 49 * 8 + 4 - 220, 8 * 16 + 8 - 142},
        {"motion", 67, 30, 10, 0, 0, 0},
        {"motion with a button held", 64, 30, 10, 0, 0, 0},
    };
    tguifixture f(env8x16, 80, 24);
    CHECK(f.openwindow(200, 100));
    for (auto const& r : rows) {
        setrow(r.name);
        f.log.count = 0;
        char report[6] = {27, '[', 'M', (char)r.button, (char)(33 + r.column), (char)(33 + r.row)};
        f.type(report, 6);
        CHECK_EQ(f.log.count, r.code ? 1 : 0);
        if (r.code && f.log.count) {
            CHECK_EQ(f.log.code[0], r.code);
            CHECK_EQ(f.log.a[0], r.a);
            CHECK_EQ(f.log.b[0], r.b);
        }
    }
}

// After 146 the back-end forgets the window: nothing more reaches its pin.
TEST(terminalgui_closed_window_gets_no_events)
{
    tguifixture f(env8x16, 80, 24);
    CHECK(f.openwindow(200, 100));
    CHECK_EQ(terminalgui_concb(f.t, guicmd_closewindow, 0, 0, f.w), 1);
    CHECK_EQ(f.w->flags & guiwindow_shown, 0);
    CHECK(f.t->current == nullptr);
    f.type("xyz", 3);
    CHECK_EQ(f.log.count, 0);
}

TEST(terminalgui_commands)
{
    tguifixture f(env8x16, 80, 24);
    static const struct { unsigned cmd; sptr reply; } replies[] = {
        {'S', 1}, {'W', 1}, {'^', 1}, {'F', -1}, {'C', 0}, {'J', 0}, {150, 0}, {151, 0},
        {154, 0}, {155, 0}, {161, 0}, {300, 0},
    };
    for (auto const& r : replies)
        CHECK_EQ(terminalgui_concb(f.t, r.cmd, 0, 0, nullptr), r.reply);
    void* slot = f.t;
    CHECK_EQ(terminalgui_concb(f.t, 'E', 0, 0, &slot), 0);
    CHECK(slot == nullptr);
    CHECK_EQ(terminalgui_concb(f.t, guicmd_openwindow, 0, 0, nullptr), 0);
    // A back-end whose open failed answers 0 to every window command.
    f.t->flags |= gui_failed;
    f.w->width = 10;
    f.w->height = 10;
    for (unsigned cmd = guicmd_openwindow; cmd <= guicmd_update; cmd++)
        CHECK_EQ(terminalgui_concb(f.t, cmd, 0, 0, f.w), 0);
    CHECK_EQ(f.w->flags & guiwindow_shown, 0);
}

// Without a graphic terminal the screen goes out as half-block cells from the
// first column, a cell of one colour as a space on that colour (a row of them
// after one colour sequence); a second update with nothing drawn sends no cell.
TEST(terminalgui_update)
{
    char const* env[] = {"KZVTERM_CXS=1", "KZVTERM_CYS=2", nullptr};
    tguifixture f(env, 40, 12);
    CHECK(f.opened);
    CHECK_EQ(f.t->kind.gui.width, 40);
    CHECK_EQ(f.t->kind.gui.height, 24);
    CHECK(f.openwindow(40, 24));
    image win;
    CHECK(win.open(f.w->pixels, f.w->width, f.w->height, f.w->format, f.w->stride));
    win.clear(0xFF0000);
    win.setpixel(0, 1, 0x0000FF);
    f.term->clearoutput();
    CHECK_EQ(terminalgui_concb(f.t, guicmd_update, 0, 0, f.w), 1);
    // Blue below red in the first cell, then red alone to the row's end and on
    // the next row, with no colour sequence again.
    CHECK(f.term->hasoutput("\x1b[1;1H\x1b[34m\x1b[41m\xe2\x96\x84"
                            "                                       \x1b[2;1H     "));
    CHECK(f.t->renderer.grid != nullptr);
    CHECK_EQ(f.t->renderer.grid[0], cell_make(0x2584, 4, 1));
    CHECK_EQ(f.t->renderer.grid[39], cell_make(0x2584, 1, 1));
    u64 first = f.term->outputtotal;
    CHECK(first > 0);
    CHECK_EQ(terminalgui_concb(f.t, guicmd_update, 0, 0, f.w), 1);
    CHECK_EQ(f.term->outputtotal, first);
    win.exit(true);
}

namespace {

void writefile(char const* path, u8 const* bytes, u32 n)
{
    int fd = os_fopen(path, 3);
    if (fd) {
        os_write(fd, bytes, n);
        os_close(fd);
    }
}

void putrecord(u8* p, u32 x, u32 y)
{
    p[0] = (u8)x;
    p[1] = (u8)(x >> 8);
    p[2] = (u8)y;
    p[3] = (u8)(y >> 8);
}

} // namespace

// The mouse file in the shared directory (here the working directory): records
// from before the open are skipped, a partial record waits for its rest, only the
// last record of a step counts, and the offset file moves the pointer origin.
TEST(terminalgui_mouse_file)
{
    char const* env[] = {"KZVTERM_CXS=8", "KZVTERM_CYS=16", "KZVTERM_TMP=.", nullptr};
    char offsetname[64];
    vprinter_format(offsetname, sizeof offsetname, 56, "./tuimouseoffset_%x", (u32)os_getpid());
    os_unlink(offsetname);
    u8 bytes[64];
    putrecord(bytes, 1, 1);
    putrecord(bytes + 4, 2, 2);
    bytes[8] = 0x2C;                    // the first half of the record being written
    bytes[9] = 0x01;
    writefile("./tuimouse", bytes, 10);
    {
        tguifixture f(env, 80, 24);
        CHECK(f.opened);
        CHECK(f.openwindow(200, 100));
        terminalgui_concb(f.t, cmd_cyclic, 0, 0, nullptr);
        CHECK_EQ(f.log.count, 0);

        setrow("the partial record completed, and one more");
        bytes[10] = 0x96;               // x = 300, y = 150
        bytes[11] = 0x00;
        putrecord(bytes + 12, 320, 200);
        bytes[16] = 0x01;               // a new partial record
        writefile("./tuimouse", bytes, 17);
        terminalgui_concb(f.t, cmd_cyclic, 0, 0, nullptr);
        CHECK_EQ(f.log.count, 1);
        CHECK_EQ(f.log.code[0], ui_mousemoved);
        CHECK_EQ(f.log.a[0], 320 - 220);
        CHECK_EQ(f.log.b[0], 200 - 142);

        setrow("an offset file holding x 3 and y 5");
        u8 offset[4] = {3, 0, 5, 0};
        writefile(offsetname, offset, 4);
        f.log.count = 0;
        putrecord(bytes + 16, 257, 160);    // completes the partial byte 0x01 as x = 257
        writefile("./tuimouse", bytes, 20);
        terminalgui_concb(f.t, cmd_cyclic, 0, 0, nullptr);
        CHECK_EQ(f.log.count, 1);
        CHECK_EQ(f.log.a[0], 257 - 3 - 220);
        CHECK_EQ(f.log.b[0], 160 - 142 - 5);

        setrow("no new record, no event");
        f.log.count = 0;
        terminalgui_concb(f.t, cmd_cyclic, 0, 0, nullptr);
        CHECK_EQ(f.log.count, 0);

        setrow("an offset file holding 0 counts as read");
        u8 zero[4] = {0, 0, 0, 0};
        writefile(offsetname, zero, 4);
        CHECK(f.openwindow(200, 100));
        putrecord(bytes + 20, 230, 150);
        writefile("./tuimouse", bytes, 24);
        terminalgui_concb(f.t, cmd_cyclic, 0, 0, nullptr);
        CHECK_EQ(f.log.count, 1);
        CHECK_EQ(f.log.a[0], 230 - 1 - 220);
        CHECK_EQ(f.log.b[0], 150 - 142);
        terminalwindow* part = f.w->backendfields<terminalwindow>();
        CHECK_EQ(part->mouseoffsetx, 1);
        CHECK_EQ(part->mouseoffsety, 0);
    }
    os_unlink("./tuimouse");
    os_unlink(offsetname);
}

// A terminal that cannot tell its size (a Windows console program's standard
// output that is no console) is drawn at 80 x 24 cells; only no terminal at all
// is refused.
TEST(terminalgui_screen_from_the_terminal_size)
{
    static const struct {
        char const* name;
        bool isterminal, sizeknown;
        u16 columns, rows;
        bool opens;
        u16 width, height;
    } rows[] = {
        {"size told", true, true, 100, 30, true, 800, 480},
        {"size unknown, the default reported", true, false, 80, 24, true, 640, 384},
        {"size unknown, nothing reported", true, false, 0, 0, true, 640, 384},
        {"size told but not believed", true, true, 1000, 0, true, 640, 384},
        {"no terminal", false, false, 80, 24, false, 0, 0},
    };
    char const* env[] = {"KZVTERM_CXS=8", "KZVTERM_CYS=16", nullptr};
    useenvironment e(env);
    for (auto const& r : rows) {
        setrow(r.name);
        faketerminal* term = (faketerminal*)process->pool.getmem0(sizeof(faketerminal));
        terminalgui* t = (terminalgui*)process->pool.getmem0(sizeof(terminalgui));
        term->setup(r.columns, r.rows, r.isterminal, r.sizeknown);
        t->init(nullptr);
        CHECK_EQ(t->openon(term, 0), r.opens);
        CHECK_EQ(t->kind.gui.width, r.width);
        CHECK_EQ(t->kind.gui.height, r.height);
        CHECK_EQ(process->defaulthandler == t, r.opens);
        t->exit(true);
        process->pool.freemem(t);
        process->pool.freemem(term);
    }
}

// A peer that says it is no terminal, one that is no byte stream, and none at all
// fail the open.
TEST(terminalgui_refuses_what_it_cannot_draw_on)
{
    char const* env[] = {"KZVTERM_CXS=8", "KZVTERM_CYS=16", nullptr};
    useenvironment e(env);
    faketerminal* term = (faketerminal*)process->pool.getmem0(sizeof(faketerminal));
    terminalgui* t = (terminalgui*)process->pool.getmem0(sizeof(terminalgui));
    t->init(nullptr);
    term->setup(80, 24, false);
    CHECK(!t->openon(term, 0));
    CHECK(t->flags & gui_failed);
    CHECK(t->failure != nullptr);
    CHECK(process->defaulthandler == nullptr);
    t->exit(false);
    term->setup(80, 24, true);
    term->type = type_file;
    CHECK(!t->openon(term, 0));
    t->exit(false);
    CHECK(!t->openon(nullptr, 0));
    t->exit(true);
    process->pool.freemem(t);
    process->pool.freemem(term);
}
