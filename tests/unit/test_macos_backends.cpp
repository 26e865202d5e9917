// The Quartz display back-ends and the macOS display selection against the fake
// runtime: display information, the command table, window-list growth with slot
// reuse, a second open and the end closing the windows they leave (a later close
// reaching nothing), the pump in the scheduler step, the fall-back from OpenGL to
// Quartz 2D and the end of the run without either, and the threaded back-end on a
// real second thread: the window is made there, and exit stops the thread.
#include "macosfake.h"
#include "guifakes.h"
#include "../../platform/linux/syscalls.h"
#include "../../platform/macos/displayselect.h"
#include "../../platform/macos/openglthreaded.h"
#include "../../gui/windowtable.h"

using namespace kzv;
using namespace kzvtest;
using namespace fakemac;

namespace {

struct testwindow {
    guiwindow g;
    eventlog events;
    void setup(u16 width = 320, u16 height = 200)
    {
        memset0(&g, sizeof g);
        events.setup();
        g.width = width;
        g.height = height;
        g.title = "t";
        g.flags = guiwindow_titlebar;
        g.eventpin = &events.in;
    }
};

template <class T> T* newbackend()
{
    T* m = (T*)process->pool.getmem0(sizeof(T));
    m->init(nullptr);
    return m;
}

template <class T> void endbackend(T* m)
{
    m->exit(true);
    if (process->defaulthandler == m)
        process->defaulthandler = nullptr;
    process->pool.freemem(m);
}

sptr send(module* m, unsigned code, int a = 0, int b = 0, void const* p = nullptr)
{
    return m->callback(m, code, a, b, p);
}

long threadid() { return systrap(186); }    // gettid

} // namespace

TEST(display_information_of_both_kinds)
{
    reset(2);
    quartz* q = newbackend<quartz>();
    CHECK_EQ(q->open(), 1);
    CHECK_EQ(q->type, type_gui);
    CHECK_STR(q->name, "quartz");
    CHECK_EQ(q->kind.gui.flags, 2);
    CHECK_EQ(q->kind.gui.screens, 2);
    CHECK_EQ(q->kind.gui.width, 1440);
    CHECK_EQ(q->kind.gui.height, 900);
    CHECK_EQ(q->kind.gui.format, 888);
    CHECK_EQ(q->size, 40);
    guiscreen const* list = (guiscreen const*)q->payload;
    CHECK(list[1].x == 1440 && list[1].y == -300 && list[1].width == 1920 && list[1].height == 1200);
    CHECK_EQ(list[1].format, 888);
    CHECK(q->flags & gui_ready);
    CHECK(q->state & 1);
    CHECK(process->defaulthandler == q);
    endbackend(q);

    opengl_quartz* o = newbackend<opengl_quartz>();
    CHECK_EQ(o->open(), 1);
    CHECK_STR(o->name, "opengl_quartz");
    CHECK_EQ(o->kind.gui.flags, 3);
    endbackend(o);
}

TEST(a_back_end_that_could_not_bind_answers_nothing)
{
    reset();
    w().nocoregraphics = true;
    quartz* q = newbackend<quartz>();
    CHECK_EQ(q->open(), 0);
    CHECK(q->flags & gui_failed);
    CHECK(!(q->state & 1));
    testwindow t;
    t.setup();
    CHECK_EQ(send(q, guicmd_openwindow, 0, 0, &t.g), 0);
    CHECK_EQ(send(q, guicmd_framedue, 0, 0, &t.g), 0);
    endbackend(q);
    reset();
    w().noopengl = true;
    opengl_quartz* o = newbackend<opengl_quartz>();
    CHECK_EQ(o->open(), 0);
    endbackend(o);
}

TEST(command_table_of_the_quartz_back_end)
{
    reset();
    quartz* q = newbackend<quartz>();
    CHECK_EQ(q->open(), 1);
    testwindow t;
    t.setup();
    CHECK_EQ(send(q, guicmd_openwindow, 0, 0, &t.g), 1);
    CHECK(q->windows[0] == &t.g);
    CHECK_EQ(send(q, guicmd_createbackbuffer, 0, 0, &t.g), 1);
    CHECK_EQ(send(q, guicmd_getbackbuffer, 0, 0, &t.g), 1);
    CHECK(t.g.pixels != nullptr);
    CHECK_EQ(send(q, guicmd_update, 0, 0, &t.g), 0);       // not shown yet
    t.g.flags |= guiwindow_shown;
    u32 from = w().logcount;
    CHECK_EQ(send(q, guicmd_update, 0, 0, &t.g), 1);
    CHECK_EQ(countcalls("CGContextDrawImage", from), 1);
    CHECK_EQ(send(q, guicmd_update, 5 | 6 << 16, 7 | 8 << 16, &t.g), 1);
    CHECK_EQ(countcalls("CGContextDrawImage", from), 1);   // a rectangle shows nothing
    CHECK_EQ(send(q, guicmd_createbuffer, 10, 10, &t.g), 1);
    CHECK_EQ(send(q, guicmd_setbuffer, 1, 1, &t.g), 1);
    CHECK_EQ(send(q, guicmd_framedue, 0, 0, &t.g), 1);
    CHECK_EQ(send(q, guicmd_getbufferimage, 0, 0, &t.g), 0);
    CHECK_EQ(send(q, guicmd_updatewhole, 0, 0, &t.g), 0);
    CHECK_EQ(send(q, guicmd_clipboardtext, 0, 0, &t.g), 0);
    void* stored = &t;
    CHECK_EQ(send(q, 'E', 0, 0, &stored), 0);
    CHECK(stored == nullptr);
    CHECK_EQ(send(q, 'F'), -1);
    CHECK_EQ(send(q, 'W'), 1);
    CHECK_EQ(send(q, 'I'), 0);
    CHECK_EQ(send(q, guicmd_closewindow, 0, 0, &t.g), 1);
    CHECK(!q->windows[0] && !(t.g.flags & guiwindow_shown));
    from = w().logcount;
    CHECK_EQ(send(q, guicmd_closewindow, 0, 0, &t.g), 1);  // once more: nothing reaches Cocoa
    CHECK_EQ(w().logcount, from);
    endbackend(q);
    CHECK_EQ(w().faults, 0);
}

TEST(window_list_grows_by_4_to_16_then_by_16_and_reuses_slots)
{
    static const struct { u32 capacity, next; } steps[] = {{0, 4}, {4, 8}, {8, 12}, {12, 16}, {16, 32}, {32, 48}};
    for (auto const& s : steps)
        CHECK_EQ(windowtable_nextcapacity(s.capacity), s.next);
    reset();
    quartz* q = newbackend<quartz>();
    guiwindow records[20];
    static const u32 capacities[20] = {4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 16, 16, 16, 16, 32, 32, 32, 32};
    for (u32 i = 0; i < 20; i++) {
        CHECK(q->addtowinlist(&records[i]));
        CHECK_EQ(q->capacity, capacities[i]);
        CHECK(q->windows[i] == &records[i]);
    }
    CHECK(q->addtowinlist(&records[3]));        // listed already: left alone
    CHECK_EQ(q->capacity, 32);
    q->dropfromwinlist(&records[5]);
    guiwindow late;
    CHECK(q->addtowinlist(&late));
    CHECK(q->windows[5] == &late);              // the first free slot
    for (u32 i = 0; i < 20; i++)
        if (i != 5)
            CHECK(q->windows[i] == &records[i]);
    q->windows = nullptr;                       // fake records: nothing to close
    q->capacity = 0;
    endbackend(q);
}

TEST(a_second_open_and_the_end_close_what_is_still_listed)
{
    reset();
    opengl_quartz* o = newbackend<opengl_quartz>();
    CHECK_EQ(o->open(), 1);
    testwindow a, b;
    a.setup();
    b.setup();
    CHECK_EQ(send(o, guicmd_openwindow, 0, 0, &a.g), 1);
    CHECK_EQ(send(o, guicmd_openwindow, 0, 0, &b.g), 1);
    object* wa = (object*)quartz_part(&a.g)->window;
    object* wb = (object*)quartz_part(&b.g)->window;
    CHECK_EQ(o->open(), 1);
    CHECK(wa->closed && wa->releases == 1 && wb->closed && wb->releases == 1);
    CHECK_EQ(o->capacity, 0);
    CHECK(o->state & 1);
    CHECK(process->defaulthandler == o);
    u32 from = w().logcount;
    CHECK_EQ(send(o, guicmd_closewindow, 0, 0, &a.g), 1);  // the window module's late close
    CHECK_EQ(w().logcount, from);
    testwindow c;
    c.setup();
    CHECK_EQ(send(o, guicmd_openwindow, 0, 0, &c.g), 1);
    object* wc = (object*)quartz_part(&c.g)->window;
    o->exit(true);
    CHECK(wc->closed && wc->releases == 1);
    CHECK(!(o->state & 1));
    endbackend(o);
    CHECK_EQ(w().faults, 0);
}

TEST(the_scheduler_step_runs_the_pump)
{
    reset();
    quartz* q = newbackend<quartz>();
    CHECK_EQ(q->open(), 1);
    testwindow t;
    t.setup(100, 50);
    CHECK_EQ(send(q, guicmd_openwindow, 0, 0, &t.g), 1);
    object* window = (object*)quartz_part(&t.g)->window;
    script({13, window, 0, 0, -1, 0, 0, 0, false});
    script({1, window, 4, 40, -1, 0, 0, 0, false});
    CHECK_EQ(send(q, '>'), 1);
    CHECK(t.g.flags & guiwindow_shown);
    CHECK_EQ(t.events.count, 1);
    CHECK_EQ(t.events.code[0], ui_leftdown);
    CHECK_EQ(t.events.b[0], 11);
    endbackend(q);
}

namespace {

struct selection {
    guidriver* d;
    selection()
    {
        d = (guidriver*)process->pool.getmem(sizeof(guidriver));
        d->init(nullptr);
        process->defaulthandler = nullptr;
    }
    ~selection()
    {
        d->exit(true);
        process->pool.freemem(d);
        process->defaulthandler = nullptr;
        forgetrunend();
    }
};

} // namespace

TEST(selection_prefers_opengl_then_quartz)
{
    reset();
    {
        selection s;
        CHECK_EQ(macos_opendisplay(*s.d, 0), 1);
        CHECK_EQ(s.d->backendkind, guikind_openglquartz);
        CHECK(process->defaulthandler == s.d->active());
        CHECK_EQ(s.d->kind.gui.width, 1440);
        CHECK(s.d->flags & gui_ready);
    }
    reset();
    w().noopengl = true;
    {
        selection s;
        CHECK_EQ(macos_opendisplay(*s.d, 0), 1);
        CHECK_EQ(s.d->backendkind, guikind_quartz);
        CHECK_EQ(s.d->kind.gui.flags, 2);
    }
    reset();
    {
        static char const* env[] = {"KZVTERM_CXS=8", nullptr};
        useenvironment e(env);
        selection s;
        CHECK_EQ(macos_opendisplay(*s.d, guiopen_noterminal), 1);  // the variable is ignored
        CHECK_EQ(s.d->backendkind, guikind_openglquartz);
    }
    {
        selection s;
        CHECK_EQ(macos_opendisplay(*s.d, guiopen_framebuffer), 0);  // no display, nothing reset
        CHECK_EQ(process->exitcode, 0);
    }
}

namespace {
guidriver* nodisplaydriver;
void opennothing() { macos_opendisplay(*nodisplaydriver, 0); }
} // namespace

TEST(without_a_window_system_the_run_ends_with_status_2)
{
    reset();
    w().nocoregraphics = true;
    selection s;
    nodisplaydriver = s.d;
    int outpipe[2];
    sys_pipe(outpipe);
    long savederr = sys_dup(2);
    sys_dup2(outpipe[1], 2);
    opennothing();
    sys_dup2((int)savederr, 2);
    sys_close(outpipe[1]);
    sys_close((int)savederr);
    char line[256];
    long n = sys_read(outpipe[0], line, sizeof line - 1);
    line[n > 0 ? n : 0] = 0;
    sys_close(outpipe[0]);
    CHECK_EQ(process->exitcode, 2);
    CHECK(process->exitrequested);
    CHECK(strstr(line, "no window system") != nullptr);
    CHECK_EQ(s.d->backendkind, guikind_quartz);
    CHECK(process->defaulthandler == nullptr);
}

TEST(threaded_back_end_opens_windows_on_its_own_thread)
{
    if (KZV_TESTS_UNDER_EMULATOR)
        return;                 // qemu-user starts no shared-memory clone
    reset();
    w().threadof = threadid;
    selection s;
    CHECK_EQ(macos_opendisplay(*s.d, guiopen_threaded), 1);
    CHECK_EQ(s.d->backendkind, guikind_openglthreaded);
    opengl_quartz_threaded* m = (opengl_quartz_threaded*)s.d->active();
    CHECK(m->flags & gui_ready);
    CHECK_EQ(m->kind.gui.flags, 7);             // its own thread, real time, window system
    CHECK(process->defaulthandler == m);
    CHECK(m->state & 1);
    quartzthreadshared* shared = m->shared;
    CHECK(__atomic_load_n(&shared->state, __ATOMIC_ACQUIRE) == quartzthread_ready);

    testwindow t;
    t.setup();
    CHECK_EQ(send(m, guicmd_openwindow, 0, 0, &t.g), 1);
    object* window = (object*)quartz_part(&t.g)->window;
    CHECK(window != nullptr && window->data[0] != 0);
    CHECK((long)window->data[0] != threadid());  // made on the back-end's thread
    CHECK(t.g.flags & guiwindow_shown);
    CHECK(shared->pending == nullptr);
    CHECK_EQ(send(m, guicmd_createbackbuffer, 0, 0, &t.g), 0);     // only window creation is served
    m->exit(true);
    CHECK(m->shared == nullptr);                 // the thread ended and its block went
    CHECK(window->closed && window->releases == 1);
    w().threadof = nullptr;
    CHECK_EQ(w().faults, 0);
}
