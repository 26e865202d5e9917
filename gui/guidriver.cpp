// The portable part of the display driver selector: the record, its resets, the
// terminal path, the screen-size waits and the forwarding callback. The platform
// layers supply `guidriver::open` and `guidriver::open_x11`.
// Invariant: process->defaulthandler never points at a module this driver has
// released, since everything a driver forwards, and the 'P' at the end of the
// loop, goes there.
#include "guidriver.h"
#include "../drivers/terminalgui.h"
#include "../framework/mem.h"
#include "../framework/memprim.h"
#include "../framework/os.h"
#include "../framework/stdio.h"
#include "../framework/streamcodes.h"
#include "../framework/sysprocess.h"

namespace kzv {

static u32 waitnow() { return os_getms32(); }
static void waitpause(module* waiter, u32 ms) { process->sleep(waiter, ms); }

guiwaitclock guidriver_waitclock = {waitnow, waitpause};

void guidriver::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "guidriver", guidriver_concb, type_gui);
}

void guidriver::exit(bool keep)
{
    module_exit(*this, keep);
}

void guidriver::mexit()
{
    for (u32 slot = 0; slot < GUISLOT_COUNT; slot++) {
        module* m = owned[slot];
        if (!m)
            continue;
        if (process->defaulthandler == m)
            process->defaulthandler = nullptr;
        owned[slot] = nullptr;
        if (release[slot])
            release[slot](m);
        release[slot] = nullptr;
        pool->freemem(m);
    }
    backendkind = guikind_none;
}

void guidriver::reset()
{
    u32 request = formatrequest;
    module_resetkeepingpeers(*this);
    formatrequest = request;
}

void* guidriver::takebackend(u32 slot, u32 bytes, guirelease r)
{
    if (slot >= GUISLOT_COUNT || owned[slot])
        return nullptr;
    void* block = pool->getmem0(bytes);
    if (!block)
        return nullptr;
    owned[slot] = (module*)block;
    release[slot] = r;
    return block;
}

static void releaseterminal(module* m) { ((terminalgui*)m)->exit(true); }

const u32 GUIDRIVER_ENVCAPACITY = 1024;     // getenv copies up to 999 characters

bool guidriver::wantsterminal(u32 flags)
{
    if (flags & guiopen_noterminal)
        return false;
    char value[GUIDRIVER_ENVCAPACITY];
    return process->getenv("KZVTERM_CXS", value, sizeof value);
}

int guidriver::open_terminal(module* terminal)
{
    reset();
    terminalgui* t = (terminalgui*)takebackend(guislot_terminal, sizeof(terminalgui), releaseterminal);
    if (!t) {
        failure = "no memory for the terminal display";
        flags |= gui_failed;
        return 0;
    }
    t->init(pool);
    backendkind = guikind_terminal;
    bool ok = terminal ? t->openon(terminal, formatrequest) : t->open(formatrequest);
    datarequested();
    if (!ok) {
        failure = t->failure ? t->failure : "the terminal display could not be opened";
        flags |= gui_failed;
        return 0;
    }
    flags |= gui_ready;
    return 1;
}

module* guidriver::active() const
{
    switch (backendkind) {
    case guikind_x11: return owned[guislot_x11];
    case guikind_quartz: return owned[guislot_quartz];
    case guikind_gdi: return owned[guislot_gdi];
    case guikind_openglquartz: return owned[guislot_openglquartz];
    case guikind_terminal: return owned[guislot_terminal];
    case guikind_framebuffer: return owned[guislot_framebuffer];
    case guikind_openglthreaded: return owned[guislot_openglthreaded];
    default: return nullptr;
    }
}

// The packet's length, all of its kind words and the screen list pointer.
void guidriver::datarequested()
{
    module* b = active();
    if (!b)
        return;
    size = b->size;
    kind = b->kind;
    payload = b->payload;
}

// A back-end that failed, or none at all, answers 0 at once: only a back-end
// that is open but not yet ready is waited for.
u32 guidriver::screenside(bool height)
{
    u32 side = height ? kind.gui.height : kind.gui.width;
    if (side)
        return side;
    u32 start = guidriver_waitclock.now();
    while (!(flags & gui_ready) && guidriver_waitclock.now() - start < GUI_WAITMS) {
        module* b = active();
        if (!b || (flags & gui_failed) || (b->flags & gui_failed))
            break;
        if (b->flags & gui_ready) {
            datarequested();
            flags |= gui_ready;
            break;
        }
        guidriver_waitclock.pause(this, 1);
    }
    return height ? kind.gui.height : kind.gui.width;
}

u32 guidriver::getscreenxs() { return screenside(false); }

u32 guidriver::getscreenys() { return screenside(true); }

// Several opens may fail in one run (the application's, then the window's own);
// the user is told once.
void guidriver::endrun()
{
    flags |= gui_failed;
    if (process->exitcode == 2)
        return;
    eprint(process->getprogramname());
    eprint(": ");
    eputs(failure ? failure : "no display could be opened");
    process->exitcode = 2;
    process->exit("");
}

// The driver's own answers are the module defaults (codes 62 to 97), 'W' with
// the display information refreshed first; every other code, '?' and '@'
// included, goes unchanged to the active back-end.
static bool driverreply(guidriver* d, unsigned cmd, void const* p, sptr& reply)
{
    if (cmd == cmd_datarequested)
        d->datarequested();
    return module_defaultreply(cmd, p, reply);
}

sptr guidriver_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    guidriver* d = (guidriver*)self;
    sptr reply = 0;
    if (driverreply(d, cmd, p, reply))
        return reply;
    module* target = process->defaulthandler;
    if (!target || target == d || !target->callback)
        return 0;
    return target->callback(target, cmd, a, b, p);
}

} // namespace kzv
