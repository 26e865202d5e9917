// termdemo: a small application for the end-to-end tests of the display path.
// It opens a window on the display the driver selector finds (the terminal when
// KZVTERM_CXS is set), draws a fixed picture with text, and logs to LOGFILE, one
// line each:
//   ready X Y W H SW SH PID      the window's place and size, the screen, the process
//   event CODE A B               every window event, in arrival order
// The key 'q' ends the run with "termdemo done" on standard output, a close request
// with "termdemo closed". With --dump FILE the terminal's screen is written to FILE
// once drawn: width and height as two little-endian u32, then one 0x00RRGGBB word
// a pixel, row after row.
// Usage: termdemo LOGFILE [WIDTH HEIGHT] [--dump FILE]
#include "../../../drivers/terminalgui.h"
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

class demo : public module {
public:
    guidriver driver;
    window win;
    int logfd;
    char const* dumppath;

    bool start();
    void step();

private:
    void log(char const* format, s32 a, s32 b, s32 c);
    void draw();
    void dumpscreen();
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

// White ground with a black border, a red bar along the top, a green and a blue
// box, and the text "Hi" in black: colours that stay apart in every depth.
void demo::draw()
{
    image& im = win.backimage;
    int w = im.width, h = im.height;
    im.clear(0xFFFFFF);
    im.fillrect(0, 0, w, 4, 0xFF0000);
    im.fillrect(2, 6, 10, 8, 0x00FF00);
    im.fillrect(14, 6, 10, 8, 0x0000FF);
    im.drawrect(0, 0, w, h, 0x000000);
    im.print8x16(28, 6, 0x000000, "Hi");
}

void demo::dumpscreen()
{
    if (!dumppath || driver.backendkind != guikind_terminal)
        return;
    image& s = ((terminalgui*)driver.active())->screen;
    int fd = os_fopen(dumppath, 3);
    if (!fd)
        return;
    u8 word[4];
    u32 const head[2] = {(u32)s.width, (u32)s.height};
    for (u32 v : head) {
        for (u32 i = 0; i < 4; i++)
            word[i] = (u8)(v >> (8 * i));
        os_write(fd, word, 4);
    }
    for (int y = 0; y < s.height; y++)
        for (int x = 0; x < s.width; x++) {
            u32 v = s.getpixel_truecolor(x, y) & 0xFFFFFF;
            for (u32 i = 0; i < 4; i++)
                word[i] = (u8)(v >> (8 * i));
            os_write(fd, word, 4);
        }
    os_close(fd);
}

bool demo::start()
{
    logfd = os_fopen(process->getargv(0), 3);
    u32 w = (u32)atoi(process->getargv(1));
    u32 h = (u32)atoi(process->getargv(2));
    for (u32 i = 1; i + 1 < process->getargc(); i++)
        if (streq(process->getargv(i), "--dump"))
            dumppath = process->getargv(i + 1);
    driver.init(pool);
    win.init(pool);
    if (!driver.open())
        return false;
    u32 sw = driver.getscreenxs(), sh = driver.getscreenys();
    if (!w || !h) {
        w = sw;
        h = sh;
    }
    if (!win.open("termdemo", 0, 0, w, h, 0)) {
        eputs("termdemo: the window did not open");
        process->exitcode = 2;
        return false;
    }
    draw();
    win.command(guicmd_update, 0, 0, nullptr);
    dumpscreen();
    log("ready %d %d %d ", win.gwin.x, win.gwin.y, (s32)win.width);
    log("%d %d %d ", (s32)win.height, (s32)sw, (s32)sh);
    log("%d\n", os_getpid(), 0, 0);
    process->startthread(this, DEMO_STEPMS);
    return true;
}

void demo::step()
{
    data* d = nullptr;
    while (win.read(&d, 0)) {
        u32 code = win.kind.ui.code;
        s32 a = win.kind.ui.x, b = win.kind.ui.y;
        log("event %d %d %d\n", (s32)code, a, b);
        if (code == ui_keydown && a == 'q') {
            puts("termdemo done");
            process->exit("");
            return;
        }
        if (code == ui_closed) {
            puts("termdemo closed");
            process->exit("");
            return;
        }
    }
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    demo* d = (demo*)process->pool.getmem0(DEMO_RECORDBYTES);
    if (!d) {
        eputs("termdemo: no memory");
        process->exitcode = 2;
        return;
    }
    d->initheader(nullptr, "termdemo", demo_concb, type_uimessage);
    d->start();
}

} // namespace kzv
