// x11demo: a small application for the end-to-end tests of the X11 back-end. It
// opens a window with a title, centred on the screen the driver selector finds,
// draws a checkerboard that the tests recompute pixel by pixel from a screenshot,
// and logs to LOGFILE, one line each:
//   ready X Y W H SW SH FORMAT   the window's place and size, the screen, the pixel format
//   event CODE A B               every window event, in arrival order
// The key 'q' ends the run with "x11demo done" on standard output, a close request
// with "x11demo closed"; 'r' draws the board again shifted by one cell and updates.
// Usage: x11demo LOGFILE WIDTH HEIGHT [TITLE]
// The board: cells of 8 x 8 pixels, colour (x / 8 + y / 8 + shift) % 4 of white,
// red, green and blue, framed by a 1-pixel black border.
#include "../../../framework/mem.h"
#include "../../../framework/memprim.h"
#include "../../../framework/os.h"
#include "../../../framework/stdio.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"
#include "../../../framework/vprinter.h"
#include "../../../gui/guidriver.h"
#include "../../../gui/window.h"

namespace kzv {

namespace {

const u32 DEMO_STEPMS = 20;
const u32 DEMO_RECORDBYTES = 4096;      // the application record: at least a page
const u32 DEMO_CELL = 8;

class demo : public module {
public:
    guidriver driver;
    window win;
    int logfd;
    u32 shift;

    bool start();
    void step();

private:
    void log(char const* format, s32 a, s32 b, s32 c);
    void draw();
    bool handle(u32 code, s32 a, s32 b);
};

static_assert(sizeof(demo) <= DEMO_RECORDBYTES, "the demo record fits its block");

sptr demo_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    if (cmd == cmd_cyclic)
        ((demo*)self)->step();
    return cmd == cmd_cyclic ? 1 : 0;
}

void demo::log(char const* format, s32 a, s32 b, s32 c)
{
    char line[128];
    u32 n = vprinter_format(line, sizeof line, 100, format, a, b, c);
    if (logfd)
        os_write(logfd, line, n);
}

void demo::draw()
{
    static u32 const colours[4] = {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF};
    image& im = win.backimage;
    for (int y = 0; y < im.height; y += DEMO_CELL)
        for (int x = 0; x < im.width; x += DEMO_CELL)
            im.fillrect(x, y, DEMO_CELL, DEMO_CELL, colours[(x / DEMO_CELL + y / DEMO_CELL + shift) % 4]);
    im.drawrect(0, 0, im.width, im.height, 0x000000);
}

bool demo::start()
{
    logfd = os_fopen(process->getargv(0), 3);
    u32 w = (u32)atoi(process->getargv(1));
    u32 h = (u32)atoi(process->getargv(2));
    char const* title = process->getargc() > 3 ? process->getargv(3) : "x11demo";
    driver.init(pool);
    win.init(pool);
    if (!driver.open())
        return false;
    u32 sw = driver.getscreenxs(), sh = driver.getscreenys();
    u32 x = sw > w ? (sw - w) / 2 : 0;
    u32 y = sh > h ? (sh - h) / 2 : 0;
    if (!win.open(title, x, y, w, h, 0)) {
        if (process->exitcode != 2)
            eputs("x11demo: the window did not open");
        process->exitcode = 2;
        process->exit("");
        return false;
    }
    draw();
    win.command(guicmd_update, 0, 0, nullptr);
    log("ready %d %d %d ", win.gwin.x, win.gwin.y, (s32)win.width);
    log("%d %d %d ", (s32)win.height, (s32)sw, (s32)sh);
    log("%d\n", (s32)win.format, 0, 0);
    process->startthread(this, DEMO_STEPMS);
    return true;
}

// False once the run ends.
bool demo::handle(u32 code, s32 a, s32 b)
{
    log("event %d %d %d\n", (s32)code, a, b);
    if (code == ui_keydown && a == 'q') {
        puts("x11demo done");
        process->exit("");
        return false;
    }
    if (code == ui_keydown && a == 'r') {
        shift++;
        draw();
        win.command(guicmd_update, 0, 0, nullptr);
    }
    if (code == ui_closed) {
        puts("x11demo closed");
        process->exit("");
        return false;
    }
    return true;
}

void demo::step()
{
    data* d = nullptr;
    while (win.read(&d, 0)) {
        if (!handle(win.kind.ui.code, win.kind.ui.x, win.kind.ui.y))
            return;
    }
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    demo* d = (demo*)process->pool.getmem0(DEMO_RECORDBYTES);
    if (!d) {
        eputs("x11demo: no memory");
        process->exitcode = 2;
        return;
    }
    d->initheader(nullptr, "x11demo", demo_concb, type_uimessage);
    d->start();
}

} // namespace kzv
