// The widget container, driven with synthetic window events: attaching to the
// window and its scheduler entry, hit tests and click routing, focus and hover
// with their notifications, the queue of "ui message" packets for the
// application, redraw steps, frames, the widget table and the font slots.
#include "test_guiwidgets.h"
#include "../../framework/resources.h"

using namespace kzv;
using namespace kzvtest;

namespace {

// Recording widgets placed side by side: A at (10, 10) 100 x 50, B at (200, 10).
struct twowidgets {
    widgetscreen s;
    eventlog a, b;

    twowidgets()
    {
        a.setup();
        b.setup();
        s.g->addwidget(&a, 10, 10, 100, 50);
        s.g->addwidget(&b, 200, 10, 100, 50);
    }
    void forget() { a.count = b.count = 0; }
};

bool registered(module* m)
{
    for (u32 i = 0; i < process->slotcount; i++) {
        threadentry* t = process->threadtable[i];
        if (t && t->owner == m)
            return true;
    }
    return false;
}

u32 countcode(eventlog const& log, u32 code)
{
    u32 n = 0;
    for (u32 i = 0; i < log.count; i++)
        n += log.code[i] == code;
    return n;
}

} // namespace

TEST(gui_open_needs_a_window)
{
    gui* g = (gui*)process->pool.getmem(sizeof(gui));
    g->init(nullptr);
    CHECK(!g->open());
    CHECK(gui_current() == nullptr);
    CHECK_EQ(g->type, type_uimessage);
    CHECK_EQ(g->fontsize, GUI_DEFAULTFONTSIZE);
    g->exit(true);
    process->pool.freemem(g);
}

TEST(gui_open_attaches_and_exit_detaches)
{
    widgetscreen s(320, 200);
    CHECK(s.opened);
    gui* g = s.g;
    CHECK(gui_current() == g);
    CHECK(g->target == &s.win->backimage);
    CHECK(g->look.target == g->target);
    CHECK_EQ(g->width, 320);
    CHECK_EQ(g->height, 200);
    CHECK(s.win->out.peer == &g->in);
    CHECK_EQ(s.pixel(0, 0), 0xE0E0E0);
    CHECK_EQ(s.pixel(319, 199), 0xE0E0E0);
    CHECK_EQ(g->look.colors[6], 0x6699C9);
    CHECK_EQ(g->look.colors[21], 0xDDDDFF);
    // Registered with the scheduler, and the flag says so, so exit stops the entry.
    CHECK(g->state & 1);
    CHECK(registered(g));
    CHECK(g->mainframe && g->frames && g->frames[0] == g->mainframe);
    CHECK_EQ(g->framecount, GUI_FRAMECOUNT);
    CHECK_EQ(g->mainframe->flags, frame_visible);
    g->exit(false);
    CHECK(!registered(g));
    CHECK(!(g->state & 1));
    CHECK(gui_current() == nullptr);
    CHECK(s.win->out.peer == nullptr);
    // Events that still reach the torn-down container are queued, not routed.
    CHECK_EQ(g->command(ui_leftdown, 5, 5), 1);
    CHECK_EQ(g->command(ui_keydown, 'x', 0), 0);
    data* d = nullptr;
    CHECK_EQ(g->read(&d, 0), 1);
    CHECK_EQ(d->kind.ui.x, 'x');
}

TEST(gui_click_routing_relative_to_the_widget)
{
    twowidgets t;
    CHECK_EQ(t.s.event(ui_leftdown, 15, 22), 1);
    CHECK_EQ(t.a.count, 1);
    CHECK_EQ(t.a.code[0], ui_leftdown);
    CHECK_EQ(t.a.a[0], 5);
    CHECK_EQ(t.a.b[0], 12);
    CHECK_EQ(t.b.count, 0);
    static const struct { char const* name; u32 code; int x, y; } rows[] = {
        {"left up", ui_leftup, 299, 59},
        {"right down", ui_rightdown, 200, 10},
        {"right up", ui_rightup, 250, 30},
        {"wheel up", ui_wheelup, 201, 11},
        {"wheel down", ui_wheeldown, 202, 12},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        t.forget();
        CHECK_EQ(t.s.event(r.code, r.x, r.y), 1);
        CHECK_EQ(t.b.count, 1);
        CHECK_EQ(t.b.code[0], r.code);
        CHECK_EQ(t.b.a[0], r.x - 200);
        CHECK_EQ(t.b.b[0], r.y - 10);
        CHECK_EQ(t.a.count, 0);
    }
    setrow("");
    // The edges are half-open; the background takes nothing and nothing is queued.
    t.forget();
    t.s.event(ui_leftdown, 110, 10);
    t.s.event(ui_leftdown, 10, 60);
    t.s.event(ui_leftup, 150, 150);
    t.s.event(ui_wheelup, 9, 9);
    t.s.event(ui_middledown, 15, 15);
    CHECK_EQ(t.a.count + t.b.count, 0);
    data* d;
    CHECK_EQ(t.s.g->read(&d, 0), 0);
    CHECK(d == t.s.g);
}

TEST(gui_keys_go_to_the_focus_else_to_the_application)
{
    twowidgets t;
    gui* g = t.s.g;
    // No focus: queued for the application, and the command answers 0.
    CHECK_EQ(t.s.key(27), 0);
    CHECK_EQ(t.s.event(ui_keyup, 27, 0), 0);
    data* d = nullptr;
    CHECK_EQ(g->call('D', 0, 0, &d), 1);
    CHECK(d == g);
    CHECK_EQ(d->type, type_uimessage);
    CHECK_EQ(d->kind.ui.code, ui_keydown);
    CHECK_EQ(d->kind.ui.x, 27);
    CHECK_EQ(d->kind.ui.y, 0);
    CHECK_EQ(g->call('E', 0, 0, &d), 1);
    CHECK(d == g);
    CHECK_EQ(d->kind.ui.code, ui_keyup);
    CHECK_EQ(g->call('E', 0, 0, &d), 0);
    CHECK(d == nullptr);

    g->setfocus(&t.a);
    CHECK(g->focus && g->focus->widget == &t.a);
    CHECK_EQ(t.s.key(guikey_down), 0);
    CHECK_EQ(t.a.count, 1);
    CHECK_EQ(t.a.code[0], ui_keydown);
    CHECK_EQ(t.a.a[0], (s32)guikey_down);
    CHECK_EQ(g->read(&d, 0), 0);

    // Moving the focus tells the widget that had it.
    t.forget();
    g->setfocus(&t.b);
    CHECK_EQ(countcode(t.a, widget_focuslost), 1);
    CHECK_EQ(t.b.count, 0);
    CHECK(g->focus->widget == &t.b);
}

TEST(gui_a_click_takes_the_focus_away_but_never_gives_it)
{
    static const struct { char const* name; int x, y; bool staysonb; } rows[] = {
        {"click on the focused widget keeps it", 250, 30, true},
        {"click on another widget", 20, 20, false},
        {"click on the background", 150, 150, false},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        twowidgets t;
        gui* g = t.s.g;
        g->setfocus(&t.b);
        t.forget();
        t.s.event(ui_leftdown, r.x, r.y);
        CHECK_EQ(countcode(t.b, widget_focuslost), r.staysonb ? 0 : 1);
        CHECK_EQ(countcode(t.a, widget_focuslost), 0);
        CHECK(r.staysonb ? g->focus && g->focus->widget == &t.b : g->focus == nullptr);
        CHECK_EQ((g->mainframe->widgets[0]->flags & entry_focus) != 0, false);
        // After losing it, keys are the application's.
        t.s.key('q');
        data* d;
        CHECK_EQ(g->read(&d, 0), r.staysonb ? 0 : 1);
    }
}

TEST(gui_hover_enter_and_leave)
{
    twowidgets t;
    CHECK_EQ(t.s.event(ui_mousemoved, 20, 30), 1);
    CHECK_EQ(t.a.count, 1);
    CHECK_EQ(t.a.code[0], ui_mousemoved);
    CHECK_EQ(t.a.a[0], 10);
    CHECK_EQ(t.a.b[0], 20);
    CHECK(t.s.g->mainframe->widgets[0]->flags & entry_hover);
    t.s.event(ui_mousemoved, 21, 30);
    CHECK_EQ(countcode(t.a, widget_pointerleft), 0);
    CHECK_EQ(countcode(t.a, ui_mousemoved), 2);
    t.forget();
    t.s.event(ui_mousemoved, 210, 30);
    CHECK_EQ(t.a.count, 1);
    CHECK_EQ(t.a.code[0], widget_pointerleft);
    CHECK_EQ(t.b.count, 1);
    CHECK_EQ(t.b.code[0], ui_mousemoved);
    CHECK(!(t.s.g->mainframe->widgets[0]->flags & entry_hover));
    t.forget();
    t.s.event(ui_mousemoved, 390, 290);
    CHECK_EQ(t.b.count, 1);
    CHECK_EQ(t.b.code[0], widget_pointerleft);
    t.s.event(ui_mousemoved, 391, 290);
    CHECK_EQ(t.a.count + t.b.count, 1);
}

TEST(gui_close_request_goes_to_the_out_peer_or_the_queue)
{
    twowidgets t;
    gui* g = t.s.g;
    CHECK_EQ(t.s.event(ui_closed, 0, 0), 1);
    data* d;
    CHECK_EQ(g->read(&d, 0), 1);
    CHECK_EQ(d->kind.ui.code, ui_closed);
    eventlog app;
    app.setup();
    connect(g->out, app.in);
    app.count = 0;
    CHECK_EQ(t.s.event(ui_closed, 0, 0), 7);
    CHECK_EQ(app.count, 1);
    CHECK_EQ(app.code[0], ui_closed);
    CHECK(app.pinwasset[0]);
    CHECK_EQ(g->read(&d, 0), 0);
    connect(g->out, nullptr);
}

static void* nosystemmemory(int) { return nullptr; }

// Events queued while the pool refuses: whole events or none, and no ring at all
// when the first one is refused.
TEST(gui_queue_when_the_pool_refuses)
{
    mem* pool = mem::getnewroot(0x2000, 0x2000);      // lives as long as the process
    if (!CHECK(pool != nullptr))
        return;
    memsystemsource saved = mem_systemsource;
    mem_systemsource = nosystemmemory;                  // no second area for it
    gui* g = (gui*)process->pool.getmem(sizeof(gui));
    g->init(pool);
    data* d = nullptr;
    void* ballast[64];
    u32 taken = 0;
    while (taken < 64 && (ballast[taken] = pool->getmem(256)) != nullptr)
        taken++;
    while (pool->sgetmem(16))
        ;
    // Nothing left: the first value is refused, and nothing is queued.
    CHECK_EQ(g->command(ui_keydown, 'x', 0), 0);
    CHECK_EQ(g->events.capacity, 0);
    CHECK_EQ(g->read(&d, 0), 0);
    // Room for one ring of 64 values: 21 events fit, the 22nd is taken back.
    pool->freemem(ballast[--taken]);
    for (int i = 0; i < 22; i++)
        g->command(ui_keydown, 'a' + i, 0);
    CHECK_EQ(g->events.count, 63);
    int seen = 0;
    bool inorder = true;
    while (g->read(&d, 0) == 1) {
        inorder = inorder && d->kind.ui.code == ui_keydown && d->kind.ui.x == 'a' + seen;
        seen++;
    }
    CHECK_EQ(seen, 21);
    CHECK(inorder);
    g->exit(true);
    process->pool.freemem(g);
    mem_systemsource = saved;
}

TEST(gui_redraw_step)
{
    twowidgets t;
    gui* g = t.s.g;
    t.s.g->cyclic();          // the adds asked for a redraw
    CHECK_EQ(countcode(t.a, widget_draw), 1);
    CHECK_EQ(countcode(t.b, widget_draw), 1);
    u32 updates = t.s.backend.calls149;
    t.forget();
    g->cyclic();
    CHECK_EQ(t.a.count + t.b.count, 0);
    CHECK_EQ(t.s.backend.calls149, updates);
    // The window answers a repaint itself; the container's own 180 asks for a redraw.
    CHECK_EQ(t.s.event(ui_paint, 0, 0), 1);
    g->cyclic();
    CHECK_EQ(t.a.count, 0);
    updates = t.s.backend.calls149;
    CHECK_EQ(g->call(ui_paint, 0, 0, nullptr), 1);
    CHECK_EQ(g->call('>', 0, 0, nullptr), 1);
    CHECK_EQ(countcode(t.a, widget_draw), 1);
    CHECK_EQ(t.s.backend.calls149, updates + 1);
    CHECK(!(g->drawflags & guidraw_requested));
}

TEST(gui_empty_slots_and_entries_without_a_module_are_skipped)
{
    twowidgets t;
    gui* g = t.s.g;
    guiframe* f = g->mainframe;
    CHECK_EQ(f->capacity, GUI_TABLEGROWTH);
    // A hole in the table and an entry in use whose module is gone.
    guientry* second = f->widgets[1];
    f->widgets[1] = nullptr;
    f->widgets[3] = (guientry*)g->store.getmem0(sizeof(guientry));
    f->widgets[3]->flags = entry_inuse | entry_focus | entry_hover;
    f->widgets[3]->width = f->widgets[3]->height = 1000;
    g->requestredraw();
    g->cyclic();
    CHECK_EQ(countcode(t.a, widget_draw), 1);
    t.s.event(ui_leftdown, 250, 30);      // only the module-less entry is there
    t.s.event(ui_mousemoved, 250, 30);
    t.s.event(ui_mousemoved, 20, 20);
    g->setfocus(&t.a);
    t.s.event(ui_leftdown, 20, 20);
    t.s.key('k');
    CHECK_EQ(countcode(t.a, ui_keydown), 1);
    // The module-less entry is reused for the next widget.
    eventlog c;
    c.setup();
    CHECK(g->addwidget(&c, 0, 200, 10, 10));
    CHECK(f->widgets[3]->widget == &c);
    CHECK_EQ(f->widgets[3]->flags, entry_inuse);
    f->widgets[1] = second;
}

TEST(gui_widget_table)
{
    widgetscreen s;
    gui* g = s.g;
    eventlog logs[17];
    for (u32 i = 0; i < 17; i++) {
        logs[i].setup();
        CHECK(g->addwidget(&logs[i], (int)i * 20, 0, 20, 20));
    }
    guiframe* f = g->mainframe;
    CHECK_EQ(f->capacity, 32);
    guientry* first = f->widgets[0];
    CHECK(f->widgets[16] && f->widgets[16]->widget == &logs[16]);
    CHECK(!f->widgets[17]);
    // The same module again: one entry, the new rectangle, the same place.
    g->requestredraw();
    g->cyclic();
    g->drawflags = 0;
    CHECK(g->addwidget(&logs[0], 100, 100, 5, 5));
    CHECK(f->widgets[0] == first);
    CHECK_EQ(first->x, 100);
    CHECK_EQ(first->width, 5);
    CHECK(g->drawflags & guidraw_requested);
    u32 inuse = 0;
    for (u32 i = 0; i < f->capacity; i++)
        inuse += f->widgets[i] && f->widgets[i]->widget == &logs[0];
    CHECK_EQ(inuse, 1);
    // A focused widget added again keeps the focus.
    g->setfocus(&logs[0]);
    CHECK(g->addwidget(&logs[0], 100, 100, 6, 6));
    CHECK(first->flags & entry_focus);
    CHECK(g->focus == first);
    CHECK(!g->addwidget(nullptr, 0, 0, 1, 1));
}

TEST(gui_frames_show_hide_and_draw)
{
    twowidgets t;
    gui* g = t.s.g;
    // A second layer as a widget set would build it: its own image and table.
    image* layer = (image*)g->store.getmem0(sizeof(image));
    new (layer) image(nullptr);
    CHECK(layer->open(40, 30, 888));
    layer->clear(0x123456);
    guiframe* f = (guiframe*)g->store.getmem0(sizeof(guiframe));
    f->id = 5;
    f->x = 20;
    f->y = 15;
    f->width = 40;
    f->height = 30;
    f->img = layer;
    eventlog top;
    top.setup();
    guientry* e = (guientry*)g->store.getmem0(sizeof(guientry));
    e->flags = entry_inuse;
    e->width = 40;
    e->height = 30;
    e->widget = &top;
    f->widgets = (guientry**)g->store.getmem0(sizeof(guientry*));
    f->widgets[0] = e;
    f->capacity = 1;
    g->frames[1] = f;

    // Hidden: the click goes to the main frame's widget below.
    t.s.event(ui_leftdown, 25, 20);
    CHECK_EQ(t.a.count, 1);
    CHECK_EQ(g->command(guicmd_showframe, 5, 1), 0);
    CHECK_EQ(f->flags, frame_visible);
    CHECK_EQ(countcode(top, widget_frameshown), 1);
    t.forget();
    t.s.event(ui_leftdown, 25, 20);
    CHECK_EQ(t.a.count, 0);
    CHECK_EQ(top.code[top.count - 1], ui_leftdown);
    CHECK_EQ(top.a[top.count - 1], 5);
    CHECK_EQ(top.b[top.count - 1], 5);
    // Excluded frames are not hit.
    f->flags |= frame_excluded;
    t.s.event(ui_leftdown, 25, 20);
    CHECK_EQ(t.a.count, 1);
    f->flags = frame_visible;

    g->drawflags |= guidraw_frames;
    g->requestredraw();
    g->cyclic();
    CHECK_EQ(t.s.pixel(20, 15), 0x123456);
    CHECK_EQ(t.s.pixel(59, 44), 0x123456);
    CHECK_EQ(t.s.pixel(60, 44), 0xE0E0E0);
    CHECK_EQ(countcode(top, widget_draw), 1);

    CHECK_EQ(g->command(guicmd_showframe, 5, 0), 0);
    CHECK_EQ(f->flags & frame_visible, 0);
    CHECK_EQ(g->command(guicmd_showframe, 99, 1), 0);     // no such frame
    g->frames[1] = nullptr;
    layer->~image();
}

TEST(gui_fonts)
{
    widgetscreen s(400, 300, 888, false);
    gui* g = s.g;
    u8 const* droid = getresourcepointer("fnt/droidmono#_960");
    CHECK(droid != nullptr);
    CHECK(g->setfont("droidmono", 960, false, false));
    CHECK(g->font == droid);
    CHECK_EQ(g->fontsize, 960);
    CHECK(g->boldfont == nullptr);      // no bold face among the resources
    CHECK(s.screen().font == droid);
    CHECK(g->fonts[0] && streq(g->fonts[0]->name, "droidmono"));
    CHECK(!g->setfont("droidmono", 961, false, false));
    CHECK(!g->setfont("droidmono", 960, true, false));
    CHECK(!g->setfontint("nosuchfont", 960, false, false));
    CHECK(!g->setfontint(nullptr, 960, false, false));
    CHECK_EQ(g->fontsize, 960);
    CHECK(g->font == droid);
    // Names are compared exactly in the slots but looked up lower-cased, so every
    // spelling below is a distinct slot of the same face.
    static char const* const spellings[] = {
        "Droidmono", "dRoidmono", "drOidmono", "droIdmono", "droiDmono", "droidMono", "droidmOno", "droidmoNo",
    };
    for (char const* name : spellings)
        CHECK(g->setfontint(name, 960, false, false));
    CHECK(streq(g->fonts[0]->name, "droidmoNo"));     // the ninth took the slot after the 8th
    CHECK_EQ(g->fontslot, 0);
    CHECK(streq(g->fonts[7]->name, "droidmOno"));
    CHECK(g->setfontint("droidmonO", 960, false, false));
    CHECK_EQ(g->fontslot, 1);
    CHECK(streq(g->fonts[1]->name, "droidmonO"));
    // Finding a loaded one again makes it current without a new slot.
    CHECK(g->setfontint("droidmOno", 960, false, false));
    CHECK_EQ(g->fontslot, 7);
    // A name too long for the lookup buffer finds nothing.
    char longname[1100];
    for (u32 i = 0; i < 1050; i++)
        longname[i] = 'a';
    longname[1050] = 0;
    CHECK(!g->setfontint(longname, 960, false, false));
}
