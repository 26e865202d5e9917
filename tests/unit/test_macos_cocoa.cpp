// The Cocoa and Quartz binding against the fake runtime: what it binds (and that
// it needs nothing it does not call), the screen list and the placement flip, the
// messages of opening a window with their argument types, the back buffer and the
// update, the close (only what was alloc'd or Create'd is released), and the
// event pump: every event type of the table, null windows, empty characters, the
// title-bar click, the autorelease pool of each pass, nothing on standard output.
#include "macosfake.h"
#include "guifakes.h"
#include "../../platform/linux/syscalls.h"
#include "../../platform/macos/cocoatables.h"

using namespace kzv;
using namespace kzvtest;
using namespace fakemac;

namespace {

// A window record as the window module fills it.
struct testwindow {
    guiwindow g;
    eventlog events;
    void setup(u16 width, u16 height, s32 x, s32 y, char const* title)
    {
        memset0(&g, sizeof g);
        events.setup();
        g.width = width;
        g.height = height;
        g.x = x;
        g.y = y;
        g.title = title;
        if (title)
            g.flags |= guiwindow_titlebar;
        g.eventpin = &events.in;
    }
    object* nswindow() { return (object*)quartz_part(&g)->window; }
};

bool bound()
{
    quartzscreen const* screens;
    u32 count;
    return os_initquartz(screens, count);
}

// What descriptors 1 and 2 receive while `run` runs, each cut to `capacity`.
struct capture {
    char out[512], err[512];
    void take(int fd, int pipefd, char* into)
    {
        sys_close(fd);
        long n = sys_read(pipefd, into, 511);
        into[n > 0 ? n : 0] = 0;
    }
    void run(void (*f)())
    {
        int outpipe[2], errpipe[2];
        sys_pipe(outpipe);
        sys_pipe(errpipe);
        long savedout = sys_dup(1), savederr = sys_dup(2);
        sys_dup2(outpipe[1], 1);
        sys_dup2(errpipe[1], 2);
        f();
        sys_dup2((int)savedout, 1);
        sys_dup2((int)savederr, 2);
        take(outpipe[1], outpipe[0], out);
        take(errpipe[1], errpipe[0], err);
        sys_close(outpipe[0]);
        sys_close(errpipe[0]);
        sys_close((int)savedout);
        sys_close((int)savederr);
    }
};

} // namespace

TEST(runtime_binds_only_what_it_calls_and_starts_the_application)
{
    reset();
    CHECK(os_initobjc());
    // The fake runtime has no objc_addClass, class_getName or any other name the
    // binding never calls: binding succeeds all the same.
    static char const* const start[] = {
        "dlopen", "dlopen", "alloc", "init", "mainRunLoop", "sharedApplication", "setActivationPolicy:",
        "activateIgnoringOtherApps:", "finishLaunching", nullptr,
    };
    CHECK(callsare(0, start));
    CHECK_EQ(findcall("setActivationPolicy:")->a[0], 0);
    CHECK_EQ(findcall("activateIgnoringOtherApps:")->a[0], 1);
    CHECK(objc_binding()->defaultmode == defaultmodevariable());
    u32 calls = w().logcount;
    CHECK(os_initobjc());               // built once
    CHECK_EQ(w().logcount, calls);
    CHECK_EQ(w().faults, 0);
}

TEST(runtime_without_a_resolver_or_libobjc_is_unusable)
{
    reset();
    cocoa_useresolver(nullptr);
    CHECK(!os_initobjc());
    CHECK(!os_initobjc());              // and stays so, without another try
    reset();
    static const frameworkresolver nolibobjc = {
        [](char const* path) -> void* { return streq(path, "/usr/lib/libobjc.dylib") ? nullptr : openlibrary(path); },
        findsymbol};
    cocoa_useresolver(&nolibobjc);
    CHECK(!os_initobjc());
    CHECK(!bound());
}

TEST(coregraphics_screens_and_its_second_path)
{
    reset(2);
    quartzscreen const* screens = nullptr;
    u32 count = 0;
    CHECK(os_initquartz(screens, count));
    CHECK_EQ(count, 2);
    CHECK_EQ(findcall("CGGetActiveDisplayList")->a[0], 8);
    CHECK_EQ(screens[1].x, 1440);
    CHECK_EQ(screens[1].y, (u64)(s64)-300);
    CHECK_EQ(screens[1].width, 1920);
    CHECK_EQ(screens[1].height, 1200);
    CHECK_EQ(screens[1].display, 101);
    CHECK_EQ(cg_binding()->mainheight, 900);     // the main display's, not the tallest

    reset();
    w().legacycgpath = true;
    CHECK(bound());
    reset();
    w().nocoregraphics = true;
    CHECK(!bound());
    reset(0);                           // no display at all
    CHECK(!bound());
}

TEST(opening_a_titled_window_sends_these_messages)
{
    reset();
    CHECK(bound());
    testwindow t;
    t.setup(750, 550, 100, 50, "choose file");
    u32 from = w().logcount;
    CHECK_EQ(os_quartzopenwindow(&t.g), 1);
    static char const* const open[] = {
        "alloc", "initWithContentRect:styleMask:backing:defer:", "setReleasedWhenClosed:", "setOpaque:",
        "stringWithUTF8String:", "setTitle:", "makeFirstResponder:", "makeKeyAndOrderFront:",
        "standardWindowButton:", "setTarget:", "setAction:", "setAcceptsMouseMovedEvents:",
        "graphicsContextWithWindow:", "graphicsPort", nullptr,
    };
    CHECK(callsare(from, open));
    call* init = findcall("initWithContentRect:styleMask:backing:defer:", from);
    CHECK(init->d[0] == 100 && init->d[1] == 900 - 550 - 50 && init->d[2] == 750 && init->d[3] == 550);
    CHECK_EQ(init->a[0], 3);            // titled and closable
    CHECK_EQ(init->a[1], 2);            // buffered
    CHECK_EQ(init->a[2], 1);            // deferred
    CHECK_EQ(findcall("setReleasedWhenClosed:", from)->a[0], 0);
    CHECK_EQ(findcall("setOpaque:", from)->a[0], 1);
    CHECK_EQ(findcall("makeFirstResponder:", from)->a[0], (u64)t.nswindow());
    CHECK_EQ(findcall("makeKeyAndOrderFront:", from)->a[0], 0);
    CHECK_EQ(findcall("standardWindowButton:", from)->a[0], 0);
    CHECK_EQ(findcall("setTarget:", from)->a[0], 0);
    CHECK_EQ(findcall("setAction:", from)->a[0], 0);
    CHECK_EQ(findcall("setAcceptsMouseMovedEvents:", from)->a[0], 1);
    CHECK_EQ(t.g.format, 888);
    CHECK(!(t.g.flags & guiwindow_shown));      // until Cocoa's first AppKit-defined event
    CHECK(cg_binding()->opening == &t.g);
    CHECK_EQ(countcalls("release", from), 0);   // the title string is not ours
    os_quartzclosewindow(&t.g, &process->pool);
    CHECK_EQ(w().faults, 0);
}

TEST(full_screen_and_untitled_windows)
{
    reset();
    CHECK(bound());
    testwindow t;
    t.setup(1440, 900, 0, 0, "big");
    u32 from = w().logcount;
    CHECK_EQ(os_quartzopenwindow(&t.g), 1);
    CHECK_EQ(findcall("initWithContentRect:styleMask:backing:defer:", from)->a[0], 0x4000);
    CHECK_EQ(findcall("setLevel:", from)->a[0], 25);
    CHECK_EQ(findcall("setHidesOnDeactivate:", from)->a[0], 1);
    CHECK(!findcall("setTitle:", from) && !findcall("standardWindowButton:", from));
    CHECK_EQ(t.g.flags & (guiwindow_fullscreen | guiwindow_titlebar), guiwindow_fullscreen);
    os_quartzclosewindow(&t.g, &process->pool);

    t.setup(2000, 1000, 0, 0, nullptr);     // cut to the screen
    CHECK_EQ(os_quartzopenwindow(&t.g), 1);
    CHECK_EQ(t.g.width, 1440);
    CHECK_EQ(t.g.height, 900);
    os_quartzclosewindow(&t.g, &process->pool);

    t.setup(300, 200, 10, 10, nullptr);
    from = w().logcount;
    CHECK_EQ(os_quartzopenwindow(&t.g), 1);
    CHECK_EQ(findcall("initWithContentRect:styleMask:backing:defer:", from)->a[0], 0);
    CHECK(!findcall("setLevel:", from));
    os_quartzclosewindow(&t.g, &process->pool);
    CHECK_EQ(w().faults, 0);
}

TEST(placement_flips_with_the_main_display_height)
{
    reset(2);                           // main 900 high, a 1200-high one beside it
    CHECK(bound());
    testwindow t;
    t.setup(400, 300, 50, 100, "x");
    u32 from = w().logcount;
    CHECK_EQ(os_quartzopenwindow(&t.g), 1);
    CHECK(findcall("initWithContentRect:styleMask:backing:defer:", from)->d[1] == 900 - 300 - 100);
    os_quartzclosewindow(&t.g, &process->pool);

    reset(2);
    w().maindisplay = 1;                // the tall one is the main display
    CHECK(bound());
    from = w().logcount;
    t.setup(400, 300, 50, 100, "x");
    CHECK_EQ(os_quartzopenwindow(&t.g), 1);
    CHECK(findcall("initWithContentRect:styleMask:backing:defer:", from)->d[1] == 1200 - 300 - 100);
    os_quartzclosewindow(&t.g, &process->pool);
}

TEST(back_buffer_update_and_close_release_only_what_was_made_here)
{
    reset();
    CHECK(bound());
    testwindow t;
    t.setup(750, 550, 0, 0, "x");
    CHECK_EQ(os_quartzopenwindow(&t.g), 1);
    u32 from = w().logcount;
    CHECK_EQ(os_quartzcreatebackbuffer(&t.g, 0, &process->pool), 1);
    static char const* const create[] = {"CGColorSpaceCreateDeviceRGB", "CGBitmapContextCreate",
                                         "CGColorSpaceRelease", nullptr};
    CHECK(callsare(from, create));
    call* bitmap = findcall("CGBitmapContextCreate", from);
    CHECK_EQ(bitmap->a[1], 750);
    CHECK_EQ(bitmap->a[2], 550);
    CHECK_EQ(bitmap->a[3], 8);
    CHECK_EQ(bitmap->a[4], 3000);
    CHECK_EQ(bitmap->a[6], 8198);
    CHECK_EQ(os_quartzgetbackbuffer(&t.g), 1);
    CHECK_EQ(t.g.stride, 3000);
    CHECK_EQ((u64)t.g.pixels, bitmap->a[0]);
    t.g.pixels[750 * 550 * 4 - 1] = 1;  // the whole buffer is there

    from = w().logcount;
    CHECK_EQ(os_quartzupdatewindow(&t.g), 0);   // not shown yet: nothing drawn
    CHECK_EQ(w().logcount, from);
    t.g.flags |= guiwindow_shown;
    CHECK_EQ(os_quartzupdatewindow(&t.g), 1);
    static char const* const update[] = {"CGBitmapContextCreateImage", "CGContextDrawImage", "CGContextFlush",
                                         "CGImageRelease", nullptr};
    CHECK(callsare(from, update));
    call* draw = findcall("CGContextDrawImage", from);
    CHECK_EQ(draw->a[0], (u64)w().port);
    CHECK(draw->d[0] == 0 && draw->d[1] == 0 && draw->d[2] == 750 && draw->d[3] == 550);
    CHECK_EQ(findcall("CGContextFlush", from)->a[0], (u64)w().port);
    CHECK_EQ(os_quartzupdatewindow(&t.g, 0, 0, 10, 10), 1);   // a rectangle: nothing
    CHECK_EQ(w().logcount, from + 4);

    object* nswindow = t.nswindow();
    void* bitmapcontext = quartz_part(&t.g)->bitmapcontext;
    from = w().logcount;
    os_quartzclosewindow(&t.g, &process->pool);
    static char const* const close[] = {"CGContextRelease", "close", "release", nullptr};
    CHECK(callsare(from, close));
    CHECK_EQ(findcall("CGContextRelease", from)->a[0], (u64)bitmapcontext);     // never the window's port
    CHECK(nswindow->closed && nswindow->releases == 1);
    CHECK(!t.g.pixels && !(t.g.flags & guiwindow_shown));
    from = w().logcount;
    os_quartzclosewindow(&t.g, &process->pool);         // closed already: nothing
    CHECK_EQ(w().logcount, from);
    CHECK_EQ(w().faults, 0);
}

TEST(a_window_closed_before_it_was_shown_is_forgotten)
{
    reset();
    CHECK(bound());
    testwindow t;
    t.setup(300, 200, 0, 0, "x");
    CHECK_EQ(os_quartzopenwindow(&t.g), 1);
    os_quartzclosewindow(&t.g, &process->pool);
    CHECK(cg_binding()->opening == nullptr);
    guiwindow* list[1] = {nullptr};
    u32 modifiers = 0;
    script({13, nullptr, 0, 0, -1, 0, 0, 0, false});
    os_quartzgetmessages(list, 1, modifiers);
    CHECK(!(t.g.flags & guiwindow_shown));
    CHECK_EQ(t.events.count, 0);
    CHECK_EQ(w().faults, 0);
}

namespace {

testwindow pumpwindow;
guiwindow* pumplist[4];
u32 pumpmodifiers;

void pumponce() { os_quartzgetmessages(pumplist, 4, pumpmodifiers); }

void openpumpwindow()
{
    reset();
    CHECK(bound());
    pumpwindow.setup(200, 100, 0, 0, "x");
    CHECK_EQ(os_quartzopenwindow(&pumpwindow.g), 1);
    memset0(pumplist, sizeof pumplist);
    pumplist[2] = &pumpwindow.g;        // null slots before it are skipped
    pumpmodifiers = 0;
}

} // namespace

TEST(event_table_turns_cocoa_events_into_window_events)
{
    openpumpwindow();
    object* win = pumpwindow.nswindow();
    // Cocoa's y is from the bottom of the content: a window 100 high has its top row at y = 100.
    static const struct { u64 type; double x, y; s32 keys; u32 key; u32 code; s32 a, b; } cases[] = {
        {13, 0, 0, -1, 0, 0, 0, 0},                     // shown: nothing sent
        {13, 0, 0, -1, 0, ui_paint, 0, 0},              // later ones repaint
        {1, 10.7, 90, -1, 0, ui_leftdown, 10, 11},
        {2, 10, 90, -1, 0, ui_leftup, 10, 11},
        {3, 5, 1, -1, 0, ui_rightdown, 5, 100},
        {4, 5, 1, -1, 0, ui_rightup, 5, 100},
        {25, 7, 50, -1, 0, ui_middledown, 7, 51},
        {26, 7, 50, -1, 0, ui_middleup, 7, 51},
        {5, 199, 0, -1, 0, ui_mousemoved, 199, 101},
        {6, 20, 30, -1, 0, ui_mousemoved, 20, 71},
        {10, 0, 0, 1, 'a', ui_keydown, 'a', 0},
        {11, 0, 0, 1, 'a', ui_keyup, 'a', 0},
        {10, 0, 0, 1, 13, ui_keydown, 10, 0},
        {10, 0, 0, 1, 0xF700, ui_keydown, 0x10002, 0},
        {10, 0, 0, 0, 0, 0, 0, 0},                      // a dead key: "" gives no key
        {10, 0, 0, -1, 0, 0, 0, 0},                     // no string at all
        {7, 1, 1, -1, 0, 0, 0, 0}, {8, 1, 1, -1, 0, 0, 0, 0}, {9, 1, 1, -1, 0, 0, 0, 0},
        {14, 1, 1, -1, 0, 0, 0, 0}, {19, 1, 1, -1, 0, 0, 0, 0}, {20, 1, 1, -1, 0, 0, 0, 0},
    };
    u32 expected = 0, tococoa = 0;
    for (auto const& c : cases) {
        script({c.type, win, c.x, c.y, c.keys, c.key, 0, 0, false});
        expected += c.code ? 1 : 0;
        tococoa += (c.type == 10 || c.type == 11) ? 0 : 1;
    }
    u32 from = w().logcount;
    pumponce();
    CHECK(pumpwindow.g.flags & guiwindow_shown);
    CHECK_EQ(pumpwindow.events.count, expected);
    u32 n = 0;
    for (auto const& c : cases) {
        if (!c.code)
            continue;
        CHECK_EQ(pumpwindow.events.code[n], c.code);
        CHECK_EQ(pumpwindow.events.a[n], (u64)(s64)c.a);
        CHECK_EQ(pumpwindow.events.b[n], (u64)(s64)c.b);
        CHECK(pumpwindow.events.pinwasset[n]);
        n++;
    }
    CHECK_EQ(countcalls("sendEvent:", from), tococoa);     // keys are not passed on
    CHECK_EQ(countcalls("drain", from), 1);
    CHECK_EQ(w().faults, 0);                               // no range exception, nothing released
    call* run = findcall("runMode:beforeDate:", from);
    CHECK_EQ(run->a[0], (u64)defaultmodevariable());
    call* next = findcall("nextEventMatchingMask:untilDate:inMode:dequeue:", from);
    CHECK_EQ(next->a[0], ~(u64)0);
    CHECK_EQ(next->a[1], 0);                               // no wait
    CHECK_EQ(next->a[2], (u64)defaultmodevariable());
    CHECK_EQ(next->a[3], 1);
    os_quartzclosewindow(&pumpwindow.g, &process->pool);
}

TEST(shift_from_flags_changed_selects_the_modified_keys)
{
    openpumpwindow();
    object* win = pumpwindow.nswindow();
    script({12, win, 0, 0, -1, 0, 1ul << 17, 0, false});      // Shift held
    script({10, win, 0, 0, 1, 0xF702, 0, 0, false});           // left
    script({10, win, 0, 0, 1, 0xF705, 0, 0, false});           // F2
    script({12, win, 0, 0, -1, 0, 1ul << 18, 0, false});      // Control only
    script({10, win, 0, 0, 1, 0xF702, 0, 0, false});
    pumponce();
    CHECK_EQ(pumpwindow.events.count, 3);
    CHECK_EQ(pumpwindow.events.a[0], 0x10020);
    CHECK_EQ(pumpwindow.events.a[1], 0x10025);
    CHECK_EQ(pumpwindow.events.a[2], 0x10000);
    CHECK_EQ(pumpmodifiers, 0);
    os_quartzclosewindow(&pumpwindow.g, &process->pool);
}

TEST(wheel_title_bar_and_events_without_a_window)
{
    openpumpwindow();
    object* win = pumpwindow.nswindow();
    pumpwindow.g.flags |= guiwindow_shown;
    cg_binding()->opening = nullptr;
    script({22, win, 3, 90, -1, 0, 0, 1.5, false});
    script({22, win, 3, 90, -1, 0, 0, -0.25, false});
    script({22, win, 3, 90, -1, 0, 0, 0, false});
    script({1, win, 50, 110, -1, 0, 0, 0, false});             // a drag of the title bar
    script({1, win, 190, 110, -1, 0, 0, 0, true});             // the close button
    static const u64 windowless[] = {1, 5, 10, 13, 22};       // no window: nothing sent
    for (u64 type : windowless)
        script({type, nullptr, 1, 1, 1, 'x', 0, 1, false});
    u32 from = w().logcount;
    pumponce();
    CHECK_EQ(pumpwindow.events.count, 3);
    CHECK_EQ(pumpwindow.events.code[0], ui_wheelup);
    CHECK_EQ(pumpwindow.events.a[0], 3);
    CHECK_EQ(pumpwindow.events.b[0], 11);
    CHECK_EQ(pumpwindow.events.code[1], ui_wheeldown);
    CHECK_EQ(pumpwindow.events.code[2], ui_closed);
    // Every event but the key goes to Cocoa once; the title-bar clicks before the test.
    CHECK_EQ(countcalls("sendEvent:", from), 9);
    CHECK_EQ(countcalls("state", from), 2);
    CHECK_EQ(w().faults, 0);
    os_quartzclosewindow(&pumpwindow.g, &process->pool);
}

TEST(a_window_not_in_the_list_gets_nothing)
{
    openpumpwindow();
    testwindow other;
    other.setup(50, 50, 0, 0, nullptr);
    CHECK_EQ(os_quartzopenwindow(&other.g), 1);
    script({1, other.nswindow(), 5, 5, -1, 0, 0, 0, false});
    script({10, other.nswindow(), 0, 0, 1, 'q', 0, 0, false});
    pumponce();
    CHECK_EQ(other.events.count, 0);
    CHECK_EQ(pumpwindow.events.count, 0);
    CHECK(os_getwin(nullptr, pumplist, 4) == nullptr);
    os_quartzclosewindow(&other.g, &process->pool);
    os_quartzclosewindow(&pumpwindow.g, &process->pool);
}

namespace {
void unknownevents()
{
    static const u64 types[] = {17, 27, 15, 16, 18, 29, 34};
    for (u64 type : types)
        script({type, pumpwindow.nswindow(), 1, 1, -1, 0, 0, 0, false});
    pumponce();
}
} // namespace

TEST(unknown_event_types_are_reported_on_standard_error_only)
{
    openpumpwindow();
    capture c;
    c.run(unknownevents);
    CHECK_STR(c.out, "");
    CHECK_STR(c.err, "osgui msg=17\nosgui msg=27\nosgui msg=15\nosgui msg=16\nosgui msg=18\nosgui msg=29\n"
                     "osgui msg=34\n");
    CHECK_EQ(pumpwindow.events.count, 0);
    os_quartzclosewindow(&pumpwindow.g, &process->pool);
}

TEST(each_pass_drains_its_own_pool_and_the_window_outlives_it)
{
    openpumpwindow();
    for (int pass = 0; pass < 3; pass++) {
        script({5, pumpwindow.nswindow(), 1, 1, -1, 0, 0, 0, false});
        pumponce();
    }
    CHECK_EQ(countcalls("drain"), 3);
    CHECK_EQ(w().pooldepth, 1);         // the outer pool made at start-up stays
    pumpwindow.g.flags |= guiwindow_shown;
    CHECK_EQ(os_quartzcreatebackbuffer(&pumpwindow.g, 0, &process->pool), 1);
    CHECK_EQ(os_quartzupdatewindow(&pumpwindow.g), 1);     // its context and port are alive
    os_quartzclosewindow(&pumpwindow.g, &process->pool);
    CHECK_EQ(w().faults, 0);
}

TEST(key_table)
{
    static const struct { u32 character, modifiers, code; } cases[] = {
        {'a', 0, 'a'}, {'A', COCOA_SHIFTBIT, 'A'}, {13, 0, 10}, {27, 0, 27}, {9, 0, 9}, {127, 0, 0x10007},
        {0xF700, 0, 0x10002}, {0xF701, 0, 0x10003}, {0xF702, 0, 0x10000}, {0xF703, 0, 0x10001},
        {0xF700, COCOA_SHIFTBIT, 0x10022}, {0xF703, COCOA_SHIFTBIT, 0x10021},
        {0xF704, 0, 0x1000A}, {0xF70F, 0, 0x10015}, {0xF704, COCOA_SHIFTBIT, 0x10024},
        {0xF70F, COCOA_SHIFTBIT, 0x1002F}, {0xF710, 0, 0xF710},   // F13 passes through
        {0xF728, 0, 0x10006}, {0xF729, 0, 0x10004}, {0xF72B, 0, 0x10005}, {0xF72C, 0, 0x10008},
        {0xF72D, 0, 0x10009}, {0xF728, COCOA_SHIFTBIT, 0x10006}, {0x00E9, 0, 0xE9},
    };
    for (auto const& c : cases)
        CHECK_EQ(os_quartzconvertch(c.character, c.modifiers), c.code);
    CHECK_EQ(cocoa_modifiers(1ul << 17), COCOA_SHIFTBIT);
    CHECK_EQ(cocoa_modifiers((1ul << 18) | (1ul << 19) | (1ul << 20)), 0);
}

TEST(style_masks_and_coordinate_flips)
{
    CHECK_EQ(cocoa_stylemask(true, false), 3);
    CHECK_EQ(cocoa_stylemask(false, false), 0);
    CHECK_EQ(cocoa_stylemask(true, true), 0x4000);
    CHECK_EQ(cocoa_stylemask(false, true), 0x4000);
    CHECK_EQ(cocoa_eventy(100, 100), 1);
    CHECK_EQ(cocoa_eventy(100, 0), 101);
    CHECK_EQ((u64)(s64)cocoa_eventy(100, 130), (u64)(s64)-29);   // the title bar
    CHECK(cocoa_windowy(900, 50, 550) == 300);
    CHECK_EQ((u64)(s64)cocoa_pixels(1e300), 1000000);
    CHECK_EQ((u64)(s64)cocoa_pixels(-1e300), (u64)(s64)-1000000);
    double nan = __builtin_nan("");
    CHECK_EQ((u64)(s64)cocoa_pixels(nan), (u64)(s64)-1000000);
}
