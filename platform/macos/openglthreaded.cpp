// The threaded OpenGL back-end; see openglthreaded.h. The waits on the scheduler's
// side pause the whole scheduler (no other module runs meanwhile), so the process
// pool and the Cocoa binding are never used by both threads at once; the bindings
// are built on the scheduler's thread before the back-end's thread starts.
#include "openglthreaded.h"
#include "opengl.h"
#include "../../framework/memprim.h"
#include "../../framework/os.h"
#include "../../framework/printf.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"

namespace kzv {

template <class T> static T loadacquire(T const& v) { return __atomic_load_n(&v, __ATOMIC_ACQUIRE); }
template <class T> static void storerelease(T& v, T x) { __atomic_store_n(&v, x, __ATOMIC_RELEASE); }

// ---- the back-end's thread ----------------------------------------------------

static bool runquit() { return __atomic_load_n(&process->exitrequested, __ATOMIC_ACQUIRE) != 0; }

void opengl_quartz_thread(void* argument)
{
    quartzthreadshared* s = (quartzthreadshared*)argument;
    quartzscreen const* screens = nullptr;
    u32 count = 0;
    bool open = os_initquartz(screens, count) && os_initquartzopengl();
    s->screens = screens;
    s->count = count;
    u32 expected = quartzthread_starting;
    u32 next = open ? quartzthread_ready : quartzthread_failed;
    // A wait that gave up first has failed the module already.
    bool ready = __atomic_compare_exchange_n(&s->state, &expected, next, false, __ATOMIC_ACQ_REL,
                                             __ATOMIC_ACQUIRE) && open;
    while (ready && !loadacquire(s->stop) && !runquit()) {
        guiwindow* w = __atomic_exchange_n(&s->pending, (guiwindow*)nullptr, __ATOMIC_ACQ_REL);
        if (w) {
            s->result = os_quartzopenglopenwindow(w);
            storerelease(s->done, 1u);
        }
        os_sleep(1);
    }
    storerelease(s->stopped, 1u);
}

// ---- the module ---------------------------------------------------------------

void opengl_quartz_threaded::init(mem* p)
{
    setup(p, "opengl_quartz_threaded", opengl_quartz_threaded_concb, &opengl_quartz_ops);
    type = type_bytestream;
    minit();
}

// Until the thread has opened the display or failed; a thread that never
// answers fails the module.
bool opengl_quartz_threaded::waitstate()
{
    u32 start = os_getms32();
    while (loadacquire(shared->state) == quartzthread_starting && os_getms32() - start < QUARTZTHREAD_WAITMS)
        os_sleep(1);
    u32 expected = quartzthread_starting;
    __atomic_compare_exchange_n(&shared->state, &expected, (u32)quartzthread_failed, false, __ATOMIC_ACQ_REL,
                                __ATOMIC_ACQUIRE);
    return loadacquire(shared->state) == quartzthread_ready;
}

void opengl_quartz_threaded::minit()
{
    mem* root = mem::getnewroot(QUARTZTHREAD_ROOTBYTES, QUARTZTHREAD_ROOTBYTES);
    shared = (quartzthreadshared*)process->pool.getmem0(sizeof(quartzthreadshared));
    type = type_gui;
    kind.gui.flags = 4;         // capability bit 2: a display of its own thread
    if (root) {
        pool = root;
        threadstore.init(root);
    }
    quartzscreen const* screens = nullptr;
    u32 count = 0;
    bool bound = os_initobjc() && os_initquartz(screens, count) && os_initquartzopengl();
    threadstarted = root && shared && bound && os_startthread((void*)opengl_quartz_thread, shared, 0);
    if (!threadstarted || !waitstate() || !describe(shared->screens, shared->count)) {
        flags |= gui_failed;
        return;
    }
    flags |= gui_ready;
    process->defaulthandler = this;
    process->startthread(this, QUARTZ_STEPMS);
    state |= 1;
}

// Waits for the thread's last word; without it the shared block stays alive.
void opengl_quartz_threaded::stopthread()
{
    if (!shared)
        return;
    storerelease(shared->stop, 1u);
    u32 start = os_getms32();
    while (threadstarted && !loadacquire(shared->stopped) && os_getms32() - start < QUARTZTHREAD_WAITMS)
        os_sleep(1);
    if (!threadstarted || loadacquire(shared->stopped))
        process->pool.freemem(shared);
    shared = nullptr;
    threadstarted = false;
}

// Re-initialised empty: a new thread starts only through init.
void opengl_quartz_threaded::exit(bool keep)
{
    unregister();
    stopthread();
    closeall();
    windows = nullptr;
    capacity = 0;
    store.freemem();
    threadstore.freemem();
    if (!keep) {
        mem* p = pool;
        setup(p, "opengl_quartz_threaded", opengl_quartz_threaded_concb, &opengl_quartz_ops);
    }
}

// Handed over and waited for; a window the thread never took is taken back.
sptr opengl_quartz_threaded::openwindow(guiwindow* w)
{
    if (!addtowinlist(w))
        return 0;
    shared->done = 0;
    storerelease(shared->pending, w);
    u32 start = os_getms32();
    while (!loadacquire(shared->done) && os_getms32() - start < QUARTZTHREAD_WAITMS)
        os_sleep(1);
    if (loadacquire(shared->done) && shared->result)
        return shared->result;
    guiwindow* expected = w;
    bool takenback = __atomic_compare_exchange_n(&shared->pending, &expected, (guiwindow*)nullptr, false,
                                                 __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    if (!takenback && !loadacquire(shared->done))
        flags |= gui_failed;    // the thread is still at it: nothing more is sent there
    dropfromwinlist(w);
    return 0;
}

sptr opengl_quartz_threaded::command(unsigned code, int a, int b, guiwindow* w)
{
    if ((flags & gui_failed) || !shared)
        return 0;
    if (code == guicmd_openwindow && w)
        return openwindow(w);
    eprintf("gui cmd %u\n", code);
    return 0;
}

sptr opengl_quartz_threaded_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    return quartz_dispatch((opengl_quartz_threaded*)self, cmd, a, b, p);
}

} // namespace kzv
