// fbdemo: the program the guest test runs inside a virtual machine. It opens the
// display driver with flag 4 (the DRM framebuffer), makes one window with an
// extra buffer of four coloured quarters (red, green, blue, white from the top
// left, clockwise from red to green, then blue below red), and places it in every
// frame that is due, resubmitting the placement and the flip each time. Lines on
// standard error tell the test where it is:
//   fbdemo open W H               the mode, in pixels
//   fbdemo credits A B C          the answers of 154 right after the open
//   fbdemo shown FRAMES FLIPS     once 30 frames were handed over
//   fbdemo closed                 after the close (the console is back)
//   fbdemo failed REASON          the open failed (exit status 2)
// A 'q' on standard input closes the display; after 120 s it closes by itself.
// Usage: fbdemo FORMAT ZOOM X Y WIDTH HEIGHT   (FORMAT 888 or 8888, ZOOM 1 or 2)
#include "../../framework/mem.h"
#include "../../framework/memprim.h"
#include "../../framework/os.h"
#include "../../framework/printf.h"
#include "../../framework/stdio.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"
#include "../../gui/pixelformat.h"
#include "../../platform/linux/framebuffer.h"

namespace kzv {

namespace {

const u32 DEMO_STEPMS = 1;
const u32 DEMO_SHOWNAFTER = 30;         // frames before the window counts as shown
const u32 DEMO_LIFEMS = 120000;
const u32 DEMO_OPAQUE = 0xFF000000;
const u32 DEMO_QUARTERS[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};

class demo : public module {
public:
    guidriver driver;
    guiwindow* win;
    s32 x, y;
    u32 frames;
    u32 started;
    u8 closed;

    bool start();
    void step();

private:
    sptr send(unsigned code, int a = 0, int b = 0) { return guidriver_concb(&driver, code, a, b, win); }
    void paint();
    void finish(char const* why);
};

sptr demo_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    if (cmd == cmd_cyclic)
        ((demo*)self)->step();
    return cmd == cmd_cyclic ? 1 : 0;
}

void demo::paint()
{
    fbbuffer const& b = framebuffer::part(win)->buffer;
    for (u32 row = 0; row < b.height; row++)
        for (u32 col = 0; col < b.width; col++) {
            u32 quarter = (row >= b.height / 2 ? 2 : 0) + (col >= b.width / 2 ? 1 : 0);
            b.pixels[(uptr)row * b.width + col] = DEMO_OPAQUE | DEMO_QUARTERS[quarter];
        }
}

bool demo::start()
{
    if (process->getargc() < 6) {
        eputs("usage: fbdemo FORMAT ZOOM X Y WIDTH HEIGHT");
        return false;
    }
    driver.init(pool);
    if (!driver.open(guiopen_framebuffer)) {
        eprintf("fbdemo failed %s\n", driver.failure ? driver.failure : "(no reason)");
        return false;
    }
    eprintf("fbdemo open %u %u\n", driver.getscreenxs(), driver.getscreenys());
    u32 c1 = (u32)send(guicmd_framedue), c2 = (u32)send(guicmd_framedue), c3 = (u32)send(guicmd_framedue);
    eprintf("fbdemo credits %u %u %u\n", c1, c2, c3);
    win = (guiwindow*)pool->getmem0(sizeof(guiwindow));
    if (!win)
        return false;
    win->format = (u32)atoi(process->getargv(0));
    win->zoom = (u32)atoi(process->getargv(1));
    x = atoi(process->getargv(2));
    y = atoi(process->getargv(3));
    int width = atoi(process->getargv(4)), height = atoi(process->getargv(5));
    if (send(guicmd_openwindow) != 1 || send(guicmd_createbuffer, width, height) != 1 ||
        send(guicmd_getbufferimage) != 1) {
        eputs("fbdemo failed the window's buffer was refused");
        return false;
    }
    paint();
    os_setfilenonblock(0);
    started = os_getms32();
    process->startthread(this, DEMO_STEPMS);
    return true;
}

void demo::finish(char const* why)
{
    guidriver_concb(&driver, cmd_endofloop, 1, 0, nullptr);
    closed = 1;
    eprintf("fbdemo closed %s\n", why);
    process->exit("");
}

void demo::step()
{
    if (closed)
        return;
    // The terminal hands over whole lines: the line with the 'q' is read up, so
    // that none of it is left for the shell that started this program.
    char keys[64];
    int n = os_read(0, keys, sizeof keys);
    for (int i = 0; i < n; i++)
        if (keys[i] == 'q')
            return finish("on request");
    if (os_getms32() - started > DEMO_LIFEMS)
        return finish("after its time");
    if (!send(guicmd_framedue))
        return;
    send(guicmd_setbuffer, x, y);
    if (send(guicmd_updatewhole) && ++frames == DEMO_SHOWNAFTER) {
        framebuffer* fb = (framebuffer*)driver.owned[guislot_framebuffer];
        u32 flips = fb && fb->shared ? fbload(fb->shared->flips) : 0;
        eprintf("fbdemo shown %u %u\n", frames, flips);
    }
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    demo* d = (demo*)process->pool.getmem0(sizeof(demo));
    if (!d) {
        eputs("fbdemo: no memory");
        process->exitcode = 2;
        return;
    }
    d->initheader(nullptr, "fbdemo", demo_concb, type_uimessage);
    if (!d->start()) {
        process->exitcode = 2;
        process->exit("");
    }
}

} // namespace kzv
