// The top-level window against a scripted back-end and a fake clock: placement
// on the screen, the image over the back buffer, the waits and every failure
// path (each one closes what the back-end made and answers 0), the event queue
// and the OUT pin, and the commands it forwards.
#include "guifakes.h"
#include "../../gui/window.h"

using namespace kzv;
using namespace kzvtest;

namespace {

struct fixture {
    usefakeclock clock;
    fakebackend backend;
    window* win;

    fixture(u16 sw, u16 sh)
    {
        backend.setup(sw, sh);
        backend.flags |= gui_ready;
        process->defaulthandler = &backend;
        win = (window*)process->pool.getmem(sizeof(window));
        win->init(nullptr);
    }
    ~fixture()
    {
        win->exit(true);
        process->pool.freemem(win);
        backend.release();
        process->defaulthandler = nullptr;
        forgetrunend();
    }
};

fakebackend* scriptedbackend;
void showontick(u32 now) { scriptedbackend->showif(now); }

} // namespace

TEST(window_cut_to_the_screen_is_full_screen)
{
    fixture f(1920, 1080);
    CHECK_EQ(f.win->open("big", 0, 0, 10000, 10000, 0), 1);
    guiwindow& g = f.win->gwin;
    CHECK_EQ(g.width, 1920);
    CHECK_EQ(g.height, 1080);
    CHECK_EQ(g.x, 0);
    CHECK_EQ(g.y, 0);
    CHECK_EQ(g.flags & (guiwindow_fullscreen | guiwindow_titlebar), guiwindow_fullscreen);
    CHECK_EQ(f.win->width, 1920);
    CHECK_EQ(f.win->height, 1080);
    CHECK_EQ(f.win->format, 8888);
    CHECK_EQ(f.win->screenwidth, 1920);
    CHECK(f.win->isready());
    CHECK(window_current() == f.win);
    CHECK(g.eventpin == &f.win->in);
    CHECK(f.win->backimage.pixels == f.backend.buffer);
    CHECK_EQ(f.win->backimage.stride, 1920);
    CHECK_EQ(theclock().pauses, 0);
}

TEST(window_placement)
{
    static const struct {
        char const* name;
        u32 x, y, w, h;
        s32 expectx, expecty;
        u8 expectflags;
    } rows[] = {
        {"moved left to stay on the screen", 1800, 10, 300, 200, 1620, 10, guiwindow_titlebar},
        {"moved up", 10, 1000, 300, 200, 10, 880, guiwindow_titlebar},
        {"a centring below 0 comes back", (u32)-60, (u32)-40, 300, 200, 1620, 880, guiwindow_titlebar},
        {"fits as it is", 100, 100, 300, 200, 100, 100, guiwindow_titlebar},
        {"as wide but lower: not full screen", 0, 0, 1920, 200, 0, 0, guiwindow_titlebar},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        fixture f(1920, 1080);
        CHECK_EQ(f.win->open("title", r.x, r.y, r.w, r.h, 0), 1);
        CHECK_EQ(f.win->gwin.x, r.expectx);
        CHECK_EQ(f.win->gwin.y, r.expecty);
        CHECK_EQ(f.win->gwin.flags & (guiwindow_titlebar | guiwindow_fullscreen), r.expectflags);
        CHECK_STR(f.win->gwin.title, "title");
    }
}

TEST(window_without_title_has_no_title_bar)
{
    fixture f(800, 600);
    CHECK_EQ(f.win->open("", 0, 0, 100, 100, 3), 1);
    CHECK_EQ(f.win->gwin.flags & guiwindow_titlebar, 0);
    CHECK(f.win->gwin.title == nullptr);
    CHECK_EQ(f.win->gwin.openflags, 3);
}

// A ready back-end that knows no screen size: nothing is cut or moved, and the
// window is not taken for full screen.
TEST(window_on_unknown_screen_size)
{
    fixture f(0, 0);
    CHECK_EQ(f.win->open("t", 5000, 7000, 800, 600, 0), 1);
    CHECK_EQ(f.win->gwin.width, 800);
    CHECK_EQ(f.win->gwin.height, 600);
    CHECK_EQ(f.win->gwin.x, 5000);
    CHECK_EQ(f.win->gwin.y, 7000);
    CHECK_EQ(f.win->gwin.flags & guiwindow_fullscreen, 0);
    CHECK_EQ(f.win->width, 800);
}

// A window the back-end cut at 145 gets an image of the cut size.
TEST(window_image_takes_the_backend_size)
{
    fixture f(1920, 1080);
    f.backend.cutwidth = 640;
    f.backend.cutheight = 480;
    f.backend.format = 565;
    CHECK_EQ(f.win->open("t", 0, 0, 1000, 900, 0), 1);
    CHECK_EQ(f.win->width, 640);
    CHECK_EQ(f.win->height, 480);
    CHECK_EQ(f.win->format, 565);
    CHECK_EQ(f.win->backimage.width, 640);
    CHECK_EQ(f.win->backimage.format, 565);
}

// Each failure answers 0; once 145 was answered, the window is closed again.
TEST(window_failures)
{
    enum : u8 { failed_open, never_ready, refuses_145, never_shown, refuses_147, refuses_148,
                null_pixels, misaligned_pixels, unknown_format };
    static const struct {
        char const* name;
        u8 kind;
        u32 closes;             // 146 sent
        u32 minwait, maxwait;   // fake milliseconds spent
    } rows[] = {
        {"back-end failed", failed_open, 0, 0, 0},
        {"back-end never ready", never_ready, 0, GUI_WAITMS, GUI_WAITMS + 2},
        {"145 answers 0", refuses_145, 0, 0, 0},
        {"window never shown", never_shown, 1, GUI_WAITMS, GUI_WAITMS + 2},
        {"147 answers 0", refuses_147, 1, 0, 0},
        {"148 answers 0", refuses_148, 1, 0, 0},
        {"148 gives no pixels", null_pixels, 1, 0, 0},
        {"pixels not aligned for their format", misaligned_pixels, 1, 0, 0},
        {"pixel format unknown", unknown_format, 1, 0, 0},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        fixture f(800, 600);
        fakebackend& b = f.backend;
        switch (r.kind) {
        case failed_open: b.flags = gui_failed; break;
        case never_ready: b.flags = 0; b.readyat = NEVER; break;
        case refuses_145: b.answer145 = false; break;
        case never_shown: b.shownat = NEVER; break;
        case refuses_147: b.answer147 = false; break;
        case refuses_148: b.answer148 = false; break;
        case null_pixels: b.nullpixels = true; break;
        case misaligned_pixels: b.bufferoffset = 2; break;
        case unknown_format: b.format = 1234; break;
        }
        u32 start = theclock().now;
        CHECK_EQ(f.win->open("t", 0, 0, 100, 100, 0), 0);
        CHECK_EQ(b.calls146, r.closes);
        u32 spent = theclock().now - start;
        CHECK(spent >= r.minwait && spent <= r.maxwait);
        CHECK(!f.win->isready());
        CHECK(window_current() != f.win);
        CHECK(f.win->backimage.pixels == nullptr);
        // An update of a window that did not open reaches nobody, and still answers 1.
        CHECK_EQ(window_concb(f.win, guicmd_update, 0, 0, nullptr), 1);
        CHECK_EQ(b.calls149, 0);
    }
}

// One timer bounds both waits, reset once before the second: a back-end ready
// after 9 s still leaves the window its full 10 s to be shown.
TEST(window_waits)
{
    {
        setrow("ready after 500 ms, shown after 300 more");
        fixture f(800, 600);
        f.backend.flags = 0;
        f.backend.readyat = theclock().now + 500;
        f.backend.shownat = theclock().now + 800;
        scriptedbackend = &f.backend;
        theclock().tick = showontick;
        u32 start = theclock().now;
        CHECK_EQ(f.win->open("t", 0, 0, 100, 100, 0), 1);
        CHECK(theclock().now - start >= 800 && theclock().now - start <= 802);
        CHECK(f.backend.calls87 >= 500);
    }
    {
        setrow("ready after 9 s, shown after 9 s more");
        fixture f(800, 600);
        f.backend.flags = 0;
        f.backend.readyat = theclock().now + 9000;
        f.backend.shownat = theclock().now + 18000;
        scriptedbackend = &f.backend;
        theclock().tick = showontick;
        CHECK_EQ(f.win->open("t", 0, 0, 100, 100, 0), 1);
    }
}

TEST(window_events_are_queued_in_order)
{
    fixture f(800, 600);
    CHECK_EQ(f.win->open("t", 0, 0, 100, 100, 0), 1);
    guiwindow* g = &f.win->gwin;
    CHECK_EQ(guiwindow_sendevent(g, ui_keydown, 'a', 0), 1);
    CHECK_EQ(guiwindow_sendevent(g, ui_leftdown, 10, -20), 1);
    CHECK_EQ(guiwindow_sendevent(g, ui_keyup, 0x10002, 0), 1);
    // Not an input event: the repaint request goes to the back-end and is not queued.
    CHECK_EQ(guiwindow_sendevent(g, ui_paint, 0, 0), 1);
    CHECK_EQ(f.backend.calls149, 1);
    CHECK_EQ(guiwindow_sendevent(g, 171, 1, 2), 0);
    static const struct { u8 code; s32 x, y; } expect[] = {
        {ui_keydown, 'a', 0}, {ui_leftdown, 10, -20}, {ui_keyup, 0x10002, 0},
    };
    for (auto const& e : expect) {
        data* d = nullptr;
        CHECK_EQ(window_concb(f.win, 'D', 128, 0, &d), 1);
        CHECK(d == f.win);
        CHECK_EQ(f.win->kind.ui.code, e.code);
        CHECK_EQ(f.win->kind.ui.x, e.x);
        CHECK_EQ(f.win->kind.ui.y, e.y);
        CHECK_EQ(f.win->type, type_uimessage);
    }
    data* d = (data*)f.win;
    CHECK_EQ(window_concb(f.win, 'E', 0, 0, &d), 0);
    CHECK(d == nullptr);
    guiwindow_sendevent(g, ui_wheelup, 3, 4);
    CHECK_EQ(window_concb(f.win, 'E', 0, 0, &d), 1);
    CHECK(d == f.win);
    CHECK_EQ(f.win->kind.ui.code, ui_wheelup);
}

// Many events: the queue grows and keeps them in step, three integers each.
TEST(window_queue_grows)
{
    fixture f(800, 600);
    CHECK_EQ(f.win->open("t", 0, 0, 100, 100, 0), 1);
    for (int i = 0; i < 500; i++)
        guiwindow_sendevent(&f.win->gwin, ui_mousemoved, i, -i);
    bool inorder = true;
    for (int i = 0; i < 500; i++) {
        data* d = nullptr;
        inorder = inorder && f.win->read(&d, 0) == 1 && f.win->kind.ui.code == ui_mousemoved &&
                  f.win->kind.ui.x == i && f.win->kind.ui.y == -i;
    }
    CHECK(inorder);
    data* d = nullptr;
    CHECK_EQ(f.win->read(&d, 0), 0);
}

TEST(window_events_go_to_the_out_peer)
{
    fixture f(800, 600);
    eventlog log;
    log.setup();
    connect(f.win->out, log.in);
    log.count = 0;                          // the '@' of the connection
    CHECK_EQ(f.win->open("t", 0, 0, 100, 100, 0), 1);
    CHECK(f.win->out.peer == &log.in);      // the open keeps the connections
    CHECK_EQ(guiwindow_sendevent(&f.win->gwin, ui_rightdown, 5, 6), 7);
    CHECK_EQ(log.count, 1);
    CHECK_EQ(log.code[0], ui_rightdown);
    CHECK_EQ(log.a[0], 5);
    CHECK_EQ(log.b[0], 6);
    CHECK(log.pinwasset[0]);
    CHECK(log.currentpin == nullptr);
    data* d = nullptr;
    CHECK_EQ(f.win->read(&d, 0), 0);
}

TEST(window_commands)
{
    fixture f(800, 600);
    image* im = nullptr;
    CHECK_EQ(window_concb(f.win, windowcmd_getimage, 0, 0, &im), 1);
    CHECK(im == &f.win->backimage);
    CHECK_EQ(window_concb(f.win, guicmd_update, 0, 0, nullptr), 1);
    CHECK_EQ(f.backend.calls149, 0);                    // not open yet
    CHECK_EQ(f.win->open("t", 0, 0, 100, 100, 0), 1);
    CHECK_EQ(window_concb(f.win, guicmd_update, 5, 5, nullptr), 1);
    CHECK_EQ(window_concb(f.win, ui_paint, 0, 0, nullptr), 1);
    CHECK_EQ(f.backend.calls149, 2);
    static const struct { unsigned cmd; sptr reply; } replies[] = {
        {'F', -1}, {'I', 0}, {'B', 0}, {'C', 0}, {'G', 0}, {'H', 0}, {'J', 0}, {'M', 0},
        {'_', 0}, {'`', 0}, {'a', 0}, {'>', 1}, {'S', 1}, {'W', 1}, {'^', 1}, {200, 0},
        {guicmd_clipboardtext, 0},
    };
    for (auto const& r : replies)
        CHECK_EQ(window_concb(f.win, r.cmd, 0, 0, nullptr), r.reply);
}

// Closing sends 146 once and forgets the current window; a second open tears the
// first window down before it makes the new one.
TEST(window_close_and_reopen)
{
    fixture f(800, 600);
    CHECK_EQ(f.win->open("t", 0, 0, 100, 100, 0), 1);
    CHECK_EQ(f.win->open("t", 0, 0, 200, 100, 0), 1);
    CHECK_EQ(f.backend.calls146, 1);
    CHECK_EQ(f.win->width, 200);
    CHECK(window_current() == f.win);
    CHECK_EQ(window_concb(f.win, 'N', 0, 0, nullptr), 1);
    CHECK_EQ(f.backend.calls146, 2);
    CHECK(window_current() == nullptr);
    CHECK(!f.win->isready());
    f.win->exit(false);
    CHECK_EQ(f.backend.calls146, 2);
}

// Without an active back-end the window opens a driver of its own; with no display
// at all that ends the run (status 2) and the window answers 0 at once.
TEST(window_without_any_display)
{
    if (KZV_TESTS_DISPLAY_ALWAYS)
        return;                 // the window system of Windows is always there
    usefakeclock clock;
    char const* env[] = {"HOME=/nowhere", "DISPLAY=:1999", nullptr};
    useenvironment e(env);
    process->defaulthandler = nullptr;
    window* win = (window*)process->pool.getmem(sizeof(window));
    win->init(nullptr);
    CHECK_EQ(win->open("t", 0, 0, 100, 100, 0), 0);
    CHECK_EQ(process->exitcode, 2);
    CHECK(process->exitrequested);
    CHECK_EQ(theclock().pauses, 0);
    CHECK(process->defaulthandler == nullptr);
    win->exit(true);
    process->pool.freemem(win);
    forgetrunend();
}
