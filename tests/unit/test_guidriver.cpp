// The display driver selector: its own answers and the forwarding of every other
// code to the active back-end, the release of the back-ends it owns (the default
// handler never left pointing at freed memory), the screen-size waits with a fake
// clock, the terminal path's checks of KZVTERM_CXS, KZVTERM_CYS and KZVTERM_TMP
// on a scripted terminal, and the end of the run when no display is found.
#include "guifakes.h"
#include "../../drivers/terminalgui.h"

using namespace kzv;
using namespace kzvtest;

namespace {

struct recorder : public module {
    void* self;
    unsigned cmd;
    int a, b;
    void const* p;
    u32 calls;

    void setup()
    {
        memset0(this, sizeof(*this));
        initheader(nullptr, "recorder", concb, type_gui);
    }
    static sptr concb(void* s, unsigned cmd, int a, int b, void const* p)
    {
        recorder* r = (recorder*)s;
        r->self = s;
        r->cmd = cmd;
        r->a = a;
        r->b = b;
        r->p = p;
        r->calls++;
        return 1000 + (sptr)cmd;
    }
};

u32 releases;
module* releasedmodule;
void countrelease(module* m)
{
    releases++;
    releasedmodule = m;
}

struct driverfixture {
    usefakeclock clock;
    guidriver* d;
    driverfixture()
    {
        d = (guidriver*)process->pool.getmem(sizeof(guidriver));
        d->init(nullptr);
        process->defaulthandler = nullptr;
    }
    ~driverfixture()
    {
        d->exit(true);
        process->pool.freemem(d);
        process->defaulthandler = nullptr;
        forgetrunend();
    }
};

// The answers the driver gives itself; 0x7FFF: the code is passed on.
const sptr FORWARDED = 0x7FFF;
sptr ownreply(unsigned cmd)
{
    switch (cmd) {
    case '>': case 'S': case '^': case 'W': return 1;
    case 'F': return -1;
    case 'E': case 'I': case 'B': case 'C': case 'D': case 'G': case 'H': case 'J': case 'K':
    case 'L': case 'M': case 'N': case '_': case '`': case 'a':
        return 0;
    default: return FORWARDED;
    }
}

} // namespace

TEST(guidriver_record)
{
    driverfixture f;
    CHECK_STR(f.d->name, "guidriver");
    CHECK_EQ(f.d->type, type_gui);
    CHECK_EQ(f.d->backendkind, guikind_none);
    CHECK(f.d->in.owner == f.d && f.d->out.owner == f.d);
    CHECK(f.d->callback == guidriver_concb);
    CHECK(f.d->active() == nullptr);
}

// Every code from 0 to 299: the driver's own answer, or exactly what the back-end
// was given and answered; with no back-end the forwarded codes answer 0.
TEST(guidriver_answers_and_forwards)
{
    driverfixture f;
    recorder r;
    r.setup();
    int marker = 0;
    bool own = true, passed = true, none = true;
    for (unsigned cmd = 0; cmd < 300; cmd++) {
        sptr expect = ownreply(cmd);
        process->defaulthandler = &r;
        r.calls = 0;
        void* slot = &marker;
        void const* p = expect == FORWARDED ? (void const*)&marker : (void const*)&slot;
        sptr got = guidriver_concb(f.d, cmd, 11, -12, p);
        if (expect != FORWARDED) {
            own = own && got == expect && r.calls == 0;
            if (cmd == 'E')
                own = own && slot == nullptr;
            continue;
        }
        passed = passed && got == 1000 + (sptr)cmd && r.calls == 1 && r.self == &r &&
                 r.cmd == cmd && r.a == 11 && r.b == -12 && r.p == &marker;
        process->defaulthandler = nullptr;
        none = none && guidriver_concb(f.d, cmd, 11, -12, p) == 0;
    }
    CHECK(own);
    CHECK(passed);
    CHECK(none);
    // A driver that is itself the default handler does not call itself forever.
    process->defaulthandler = f.d;
    CHECK_EQ(guidriver_concb(f.d, '?', 0, 0, nullptr), 0);
}

// The back-end goes, and the default handler pointing at it is cleared first;
// a default handler that is not the driver's stays.
TEST(guidriver_release_clears_default_handler)
{
    driverfixture f;
    releases = 0;
    fakebackend* b = (fakebackend*)f.d->takebackend(guislot_terminal, sizeof(fakebackend), countrelease);
    CHECK(b != nullptr);
    CHECK(f.d->takebackend(guislot_terminal, 64, countrelease) == nullptr);   // taken
    CHECK(f.d->takebackend(GUISLOT_COUNT, 64, countrelease) == nullptr);
    b->setup(640, 480);
    f.d->backendkind = guikind_terminal;
    process->defaulthandler = b;
    CHECK(f.d->active() == b);
    f.d->exit(false);
    CHECK(process->defaulthandler == nullptr);
    CHECK_EQ(releases, 1);
    CHECK(releasedmodule == b);
    CHECK(f.d->active() == nullptr);
    CHECK(f.d->owned[guislot_terminal] == nullptr);

    recorder other;
    other.setup();
    f.d->takebackend(guislot_x11, 64, countrelease);
    process->defaulthandler = &other;
    f.d->exit(false);
    CHECK(process->defaulthandler == &other);
    CHECK_EQ(releases, 2);
}

namespace {
module* releaseorder[GUISLOT_COUNT];
u32 released;
void recordrelease(module* m) { releaseorder[released++] = m; }
u32 releasedat(module* m)
{
    for (u32 i = 0; i < released; i++) {
        if (releaseorder[i] == m)
            return i;
    }
    return GUISLOT_COUNT;
}
} // namespace

// The back-ends go while the streams they write through on their way out still
// exist; the framebuffer goes last.
TEST(guidriver_release_order)
{
    driverfixture f;
    released = 0;
    module* fb = (module*)f.d->takebackend(guislot_framebuffer, 64, recordrelease);
    module* pipe = (module*)f.d->takebackend(guislot_pipe, 64, recordrelease);
    module* tcp = (module*)f.d->takebackend(guislot_tcp, 64, recordrelease);
    module* terminal = (module*)f.d->takebackend(guislot_terminal, 64, recordrelease);
    module* x11 = (module*)f.d->takebackend(guislot_x11, 64, recordrelease);
    f.d->exit(false);
    CHECK_EQ(released, 5);
    CHECK(releasedat(x11) < releasedat(pipe) && releasedat(x11) < releasedat(tcp));
    CHECK(releasedat(terminal) < releasedat(pipe) && releasedat(terminal) < releasedat(tcp));
    CHECK_EQ(releasedat(fb), 4);
}

TEST(guidriver_reset_keeps_pins_and_format_request)
{
    driverfixture f;
    pin a = {nullptr, nullptr}, b = {nullptr, nullptr};
    f.d->in.peer = &a;
    f.d->out.peer = &b;
    f.d->formatrequest = 565;
    f.d->takebackend(guislot_pipe, 64, countrelease);
    f.d->backendkind = guikind_x11;
    f.d->flags |= gui_ready | gui_failed;
    f.d->reset();
    CHECK(f.d->in.peer == &a);
    CHECK(f.d->out.peer == &b);
    CHECK_EQ(f.d->formatrequest, 565);
    CHECK_EQ(f.d->backendkind, guikind_none);
    CHECK(f.d->owned[guislot_pipe] == nullptr);
    CHECK_EQ(f.d->flags & (gui_ready | gui_failed), 0);
    CHECK(f.d->in.owner == f.d);
}

TEST(guidriver_copies_display_information)
{
    driverfixture f;
    fakebackend* b = (fakebackend*)f.d->takebackend(guislot_x11, sizeof(fakebackend), nullptr);
    b->setup(1920, 1080);
    guiscreen screens[2] = {{0, 0, 1920, 1080, 888}, {-1280, 0, 1280, 1024, 888}};
    b->kind.gui.screens = 2;
    b->kind.gui.flags = guicaps_windowsystem;
    b->size = sizeof screens;
    b->payload = screens;
    f.d->backendkind = guikind_x11;
    CHECK_EQ(guidriver_concb(f.d, 'W', 0, 0, nullptr), 1);
    CHECK_EQ(f.d->kind.gui.width, 1920);
    CHECK_EQ(f.d->kind.gui.height, 1080);
    CHECK_EQ(f.d->kind.gui.screens, 2);
    CHECK_EQ(f.d->kind.gui.format, 8888);
    CHECK_EQ(f.d->kind.gui.flags, guicaps_windowsystem);
    CHECK_EQ(f.d->size, sizeof screens);
    CHECK(f.d->payload == screens);
    CHECK_EQ(f.d->type, type_gui);
}

namespace {
fakebackend* latebackend;
u32 readyclock;
void becomeready(u32 now)
{
    if (now >= readyclock)
        latebackend->flags |= gui_ready;
}
} // namespace

// Known sizes answer at once; no back-end or a failed one answers 0 at once; only
// a back-end that is open but not ready is waited for, at most 10 s.
TEST(guidriver_screen_size_waits)
{
    {
        setrow("known");
        driverfixture f;
        f.d->kind.gui.width = 1024;
        f.d->kind.gui.height = 768;
        CHECK_EQ(f.d->getscreenxs(), 1024);
        CHECK_EQ(f.d->getscreenys(), 768);
        CHECK_EQ(theclock().pauses, 0);
    }
    {
        setrow("no back-end");
        driverfixture f;
        CHECK_EQ(f.d->getscreenxs(), 0);
        CHECK_EQ(f.d->getscreenys(), 0);
        CHECK_EQ(theclock().pauses, 0);
    }
    {
        setrow("back-end failed");
        driverfixture f;
        fakebackend* b = (fakebackend*)f.d->takebackend(guislot_terminal, sizeof(fakebackend), nullptr);
        b->setup(0, 0);
        b->flags |= gui_failed;
        f.d->backendkind = guikind_terminal;
        CHECK_EQ(f.d->getscreenxs(), 0);
        CHECK_EQ(f.d->getscreenys(), 0);
        CHECK_EQ(theclock().pauses, 0);
    }
    {
        setrow("never ready");
        driverfixture f;
        fakebackend* b = (fakebackend*)f.d->takebackend(guislot_x11, sizeof(fakebackend), nullptr);
        b->setup(0, 0);
        f.d->backendkind = guikind_x11;
        u32 start = theclock().now;
        CHECK_EQ(f.d->getscreenxs(), 0);
        CHECK(theclock().now - start >= GUI_WAITMS && theclock().now - start <= GUI_WAITMS + 1);
    }
    {
        setrow("ready after 300 ms");
        driverfixture f;
        fakebackend* b = (fakebackend*)f.d->takebackend(guislot_x11, sizeof(fakebackend), nullptr);
        b->setup(1280, 800);
        f.d->backendkind = guikind_x11;
        latebackend = b;
        readyclock = theclock().now + 300;
        theclock().tick = becomeready;
        u32 start = theclock().now;
        CHECK_EQ(f.d->getscreenys(), 800);
        CHECK_EQ(theclock().now - start, 300);
        CHECK(f.d->flags & gui_ready);
        CHECK_EQ(f.d->getscreenxs(), 1280);
        CHECK_EQ(theclock().now - start, 300);
    }
}

// The terminal path on a scripted 80 x 24 terminal, with the environment of each
// row. A refused setting fails the open at once, with the reason kept and the
// failed flag set; nothing becomes the default handler.
TEST(guidriver_terminal_settings)
{
    static char longdir[1100];
    static char dir259[300];
    static char dir260[300];
    for (u32 i = 0; i < 1099; i++)
        longdir[i] = 'd';
    static char const prefix[] = "KZVTERM_TMP=";
    u32 p = 0;
    for (; prefix[p]; p++)
        longdir[p] = dir259[p] = dir260[p] = prefix[p];
    for (u32 i = 0; i < 259; i++)
        dir259[p + i] = dir260[p + i] = 'd';
    dir260[p + 259] = 'd';
    static const struct {
        char const* name;
        char const* cxs;
        char const* cys;
        char const* tmp;
        bool ok;
        u32 width, height;
    } rows[] = {
        {"cell sizes 8 x 16", "KZVTERM_CXS=8", "KZVTERM_CYS=16", nullptr, true, 640, 384},
        {"smallest cells", "KZVTERM_CXS=1", "KZVTERM_CYS=1", nullptr, true, 80, 24},
        {"widest cells: the width capped", "KZVTERM_CXS=256", "KZVTERM_CYS=1", nullptr, true, 16383, 24},
        {"highest cells", "KZVTERM_CXS=1", "KZVTERM_CYS=256", nullptr, true, 80, 6144},
        {"leading zeros", "KZVTERM_CXS=009", "KZVTERM_CYS=0018", nullptr, true, 720, 432},
        {"CYS unset", "KZVTERM_CXS=8", nullptr, nullptr, false, 0, 0},
        {"CYS empty", "KZVTERM_CXS=8", "KZVTERM_CYS=", nullptr, false, 0, 0},
        {"CYS zero", "KZVTERM_CXS=8", "KZVTERM_CYS=0", nullptr, false, 0, 0},
        {"CYS not a number", "KZVTERM_CXS=8", "KZVTERM_CYS=abc", nullptr, false, 0, 0},
        {"CYS negative", "KZVTERM_CXS=8", "KZVTERM_CYS=-16", nullptr, false, 0, 0},
        {"CYS 257", "KZVTERM_CXS=8", "KZVTERM_CYS=257", nullptr, false, 0, 0},
        {"CYS huge", "KZVTERM_CXS=8", "KZVTERM_CYS=99999999999999999999", nullptr, false, 0, 0},
        {"CYS with a unit", "KZVTERM_CXS=8", "KZVTERM_CYS=16px", nullptr, false, 0, 0},
        {"CXS empty", "KZVTERM_CXS=", "KZVTERM_CYS=16", nullptr, false, 0, 0},
        {"CXS unset", nullptr, "KZVTERM_CYS=16", nullptr, false, 0, 0},
        {"directory of 259 bytes", "KZVTERM_CXS=8", "KZVTERM_CYS=16", dir259, true, 640, 384},
        {"directory of 260 bytes", "KZVTERM_CXS=8", "KZVTERM_CYS=16", dir260, false, 0, 0},
        {"directory of 1087 bytes", "KZVTERM_CXS=8", "KZVTERM_CYS=16", longdir, false, 0, 0},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        char const* env[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
        u32 n = 0;
        char const* const settings[3] = {r.cxs, r.cys, r.tmp};
        for (char const* v : settings)
            if (v)
                env[n++] = v;
        useenvironment e(env);
        driverfixture f;
        faketerminal* term = (faketerminal*)process->pool.getmem(sizeof(faketerminal));
        term->setup(80, 24);
        int got = f.d->open_terminal(term);
        CHECK_EQ(got, r.ok ? 1 : 0);
        CHECK_EQ(f.d->backendkind, guikind_terminal);
        module* t = f.d->active();
        CHECK(t != nullptr);
        if (r.ok) {
            CHECK(f.d->flags & gui_ready);
            CHECK(process->defaulthandler == t);
            CHECK_EQ(f.d->getscreenxs(), r.width);
            CHECK_EQ(f.d->getscreenys(), r.height);
            CHECK_EQ(f.d->kind.gui.screens, 1);
            CHECK_EQ(f.d->kind.gui.format, 888);
            CHECK(f.d->failure == nullptr);
        } else {
            CHECK(f.d->flags & gui_failed);
            CHECK(!(f.d->flags & gui_ready));
            CHECK(t && (t->flags & gui_failed));
            CHECK(f.d->failure != nullptr);
            CHECK(process->defaulthandler == nullptr);
            CHECK_EQ(f.d->getscreenxs(), 0);
            CHECK_EQ(theclock().pauses, 0);
            CHECK_EQ(term->outputtotal, 0);     // nothing reached the terminal
        }
        f.d->exit(true);
        CHECK(process->defaulthandler == nullptr);
        process->pool.freemem(term);
    }
}

// The screen takes the format asked for where it can, and sizes that cannot be
// allocated fail the open instead of making a smaller screen.
TEST(guidriver_terminal_screen)
{
    char const* env[] = {"KZVTERM_CXS=256", "KZVTERM_CYS=256", nullptr};
    useenvironment e(env);
    static const struct { char const* name; u16 columns, rows; bool ok; } rows[] = {
        {"999 x 1 cells of 256: one capped row", 999, 1, true},
        {"999 x 999 cells of 256: too large for an image", 999, 999, false},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        driverfixture f;
        faketerminal* term = (faketerminal*)process->pool.getmem(sizeof(faketerminal));
        term->setup(r.columns, r.rows);
        CHECK_EQ(f.d->open_terminal(term), r.ok ? 1 : 0);
        if (r.ok) {
            CHECK_EQ(f.d->kind.gui.width, 16383);
            CHECK_EQ(f.d->kind.gui.height, 256);
        }
        f.d->exit(true);
        process->pool.freemem(term);
    }
}

TEST(guidriver_terminal_needs_a_terminal)
{
    char const* env[] = {"KZVTERM_CXS=8", "KZVTERM_CYS=16", nullptr};
    useenvironment e(env);
    driverfixture f;
    faketerminal* term = (faketerminal*)process->pool.getmem(sizeof(faketerminal));
    term->setup(80, 24, false);
    CHECK_EQ(f.d->open_terminal(term), 0);
    CHECK(f.d->failure != nullptr);
    CHECK_EQ(f.d->getscreenxs(), 0);
    CHECK_EQ(theclock().pauses, 0);
    f.d->exit(true);
    process->pool.freemem(term);
}

// No display at all, or a terminal refused: one line on standard error, status 2,
// the run told to end, no wait; a second failure in the same run prints nothing.
TEST(guidriver_open_without_display_ends_the_run)
{
    static const struct { char const* name; char const* cxs; char const* cys; u32 flags; } rows[] = {
        {"no terminal asked for, no X server", nullptr, nullptr, 0},
        {"bad cell height", "KZVTERM_CXS=8", "KZVTERM_CYS=0", 0},
        {"terminal forbidden", "KZVTERM_CXS=8", "KZVTERM_CYS=16", guiopen_noterminal},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        // The window system of Windows opens whatever the environment says.
        if (KZV_TESTS_DISPLAY_ALWAYS && (!r.cxs || (r.flags & guiopen_noterminal)))
            continue;
        // No X server can answer on a display number without a socket.
        char const* env[4] = {"DISPLAY=:1999", r.cxs, r.cys, nullptr};
        useenvironment e(env);
        driverfixture f;
        CHECK_EQ(f.d->open(r.flags), 0);
        CHECK_EQ(process->exitcode, 2);
        CHECK(process->exitrequested);
        CHECK(f.d->flags & gui_failed);
        CHECK(process->defaulthandler == nullptr);
        CHECK_EQ(theclock().pauses, 0);
        CHECK_EQ(f.d->open(r.flags), 0);
        CHECK_EQ(process->exitcode, 2);
    }
#if !KZV_TESTS_FRAMEBUFFER
    // Where the back-end is built, its own tests open it through the driver
    // against a fake card: this machine's real one must not be taken over.
    {
        setrow("framebuffer asked for");
        driverfixture f;
        CHECK_EQ(f.d->open(guiopen_framebuffer), 0);
        CHECK(f.d->failure != nullptr);
        CHECK_EQ(process->exitcode, 0);
    }
#endif
}
