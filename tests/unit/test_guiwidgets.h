// A window with a widget container for the widget tests: the window opens on the
// scripted back-end (fake clock, no waits) in the pixel format the test asks for,
// the container attaches to it with the dialogs' font, and events are sent as the
// back-end sends them, through the window's callback, so they take the whole road
// window -> container -> widget.
#pragma once
#include "guifakes.h"
#include "../../gui/gui.h"
#include "../../gui/window.h"

namespace kzvtest {

using namespace kzv;

struct widgetscreen {
    usefakeclock clock;
    fakebackend backend;
    window* win;
    gui* g;
    bool opened;

    explicit widgetscreen(u32 w = 400, u32 h = 300, u32 format = 888, bool withfont = true)
    {
        backend.setup(1920, 1080);
        backend.flags |= gui_ready;
        backend.format = format;
        process->defaulthandler = &backend;
        win = (window*)process->pool.getmem(sizeof(window));
        win->init(nullptr);
        g = (gui*)process->pool.getmem(sizeof(gui));
        g->init(nullptr);
        opened = win->open("widgets", 0, 0, w, h, 0) == 1 && g->open();
        if (opened && withfont)
            opened = g->setfont("droidmono", 960, false, false);
    }
    ~widgetscreen()
    {
        g->exit(true);
        process->pool.freemem(g);
        win->exit(true);
        process->pool.freemem(win);
        backend.release();
        process->defaulthandler = nullptr;
        forgetrunend();
    }
    image& screen() { return win->backimage; }
    u32 pixel(int x, int y) { return win->backimage.getpixel_truecolor(x, y) & 0xFFFFFF; }
    sptr event(unsigned code, int a, int b) { return win->call(code, a, b, nullptr); }
    sptr click(int a, int b)
    {
        event(ui_leftdown, a, b);
        return event(ui_leftup, a, b);
    }
    sptr key(u32 code) { return event(ui_keydown, (int)code, 0); }
};

// Registered blocks of a pool, to see that a widget gives back what it takes.
inline u32 poolblocks(mem& m = process->pool)
{
    u32 n = 0;
    for (u32 i = 0; i < m.blockcapacity; i++)
        n += m.blocktable[i].address != nullptr;
    return n;
}

// The number of pixels of `colour` in a rectangle of the window's image.
inline u32 countcolour(image& img, int x, int y, int w, int h, u32 colour)
{
    u32 n = 0;
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++)
            if ((img.getpixel_truecolor(i, j) & 0xFFFFFF) == (colour & 0xFFFFFF))
                n++;
    return n;
}

// The bounding box of the pixels in a rectangle that differ from `background`;
// false when there are none.
struct inkbox {
    int left, top, right, bottom;
};
inline bool findink(image& img, int x, int y, int w, int h, u32 background, inkbox& box)
{
    bool any = false;
    box = {0, 0, -1, -1};
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++) {
            if ((img.getpixel_truecolor(i, j) & 0xFFFFFF) == (background & 0xFFFFFF))
                continue;
            if (!any)
                box = {i, j, i, j};
            any = true;
            box.left = kzv_min(box.left, i);
            box.right = kzv_max(box.right, i);
            box.top = kzv_min(box.top, j);
            box.bottom = kzv_max(box.bottom, j);
        }
    return any;
}

} // namespace kzvtest
