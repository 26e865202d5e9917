// The framebuffer back-end's module side: open and close, the command set and the
// hand-over of pending lists to the drawing threads. All of it runs on the
// scheduler's thread; what it shares with the threads is in `fbshared`, written
// with release stores and read with acquire loads. The current pending list is
// never held by a thread (155 moves on only to a list both threads have handed
// back), so 152 may grow it; a buffer named in the current list or a held one is
// neither freed nor replaced.
#include "framebuffer.h"
#include "../../framework/mem.h"
#include "../../framework/memprim.h"
#include "../../framework/os.h"
#include "../../framework/printf.h"
#include "../../framework/stdio.h"
#include "../../framework/sysprocess.h"
#include "../../gui/pixelformat.h"

namespace kzv {

drmdevice* framebuffer_drm = &drmdevice_kernel;

// Bit 2 of the capability byte: the display is shown in whole page-flipped frames.
const u8 fbcaps_pageflipped = 4;
const u32 FB_ALLDRAWERS = (1u << FB_DRAWTHREADS) - 1;


void framebuffer::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "framebuffer", framebuffer_concb, type_gui);
}

void framebuffer::exit(bool keep)
{
    unregister();
    mexit();
    if (!keep)
        init(pool);
}

void framebuffer::mexit()
{
    if (process->defaulthandler == this)
        process->defaulthandler = nullptr;
    close();
}

bool framebuffer::fail(char const* why)
{
    failure = why;
    flags |= gui_failed;
    return false;
}

bool framebuffer::open()
{
    if (shared)
        return (flags & gui_ready) != 0;
    // A display opened earlier keeps its place when this open fails.
    module* previous = process->defaulthandler;
    process->defaulthandler = nullptr;
    bool ok = opendevice();
    process->defaulthandler = ok ? this : previous;
    return ok;
}

bool framebuffer::opendevice()
{
    fbshared* s = (fbshared*)pool->getmem0(sizeof(fbshared));
    if (!s)
        return fail("no memory for the framebuffer display");
    s->device = framebuffer_drm;
    s->fd = -1;
    s->factor = 1;
    for (u32 t = 0; t < FB_THREADS; t++) {
        s->threads[t].shared = s;
        s->threads[t].number = t;
    }
    shared = s;
    char const* why = nullptr;
    if (!fbdevice_open(s, why)) {
        close();
        return fail(why);
    }
    kind.gui.flags = (u8)((kind.gui.flags | guicaps_realtime | fbcaps_pageflipped) & ~guicaps_windowsystem);
    kind.gui.screens = 0;
    kind.gui.width = (u16)s->width;
    kind.gui.height = (u16)s->height;
    kind.gui.format = pixfmt_888;
    size = 0;
    payload = nullptr;
    // Set before any thread runs, so the first two frames are due at once.
    s->credits = 2;
    s->displayed = 0;
    s->drawing = 1;
    current = 0;
    if (!startthreads(s)) {
        close();
        return fail("the framebuffer threads could not be started");
    }
    flags |= gui_ready;
    return true;
}

bool framebuffer::startthreads(fbshared* s)
{
    for (u32 t = 0; t < FB_THREADS; t++) {
        void* main = t == fbthread_flip ? (void*)fbthread_flipmain : (void*)fbthread_drawmain;
        fbstore(s->threads[t].started, 1);
        if (!os_startthread(main, &s->threads[t], 0)) {
            fbstore(s->threads[t].started, 0);
            return false;
        }
    }
    return true;
}

// Asks every thread to end and waits, bounded, until each one started has said so.
bool framebuffer::stopthreads(fbshared* s)
{
    fbstore(s->stop, 1);
    u32 start = os_getms32();
    for (;;) {
        bool all = true;
        for (fbthreadstate& t : s->threads)
            all = all && (!fbload(t.started) || fbload(t.stopped));
        if (all)
            return true;
        if (os_getms32() - start >= FB_STOPWAITMS)
            return false;
        os_sleep(1);
    }
}

void framebuffer::close()
{
    fbshared* s = shared;
    if (!s)
        return;
    shared = nullptr;
    flags &= (u8)~gui_ready;
    if (!stopthreads(s)) {
        // The thread may still write its framebuffer and read the lists and the
        // buffers they name: all of it stays, and only the record forgets it.
        eputs("framebuffer: a display thread did not stop; its memory is kept");
        if (windows)
            pool->freemem(windows);
        windows = nullptr;
        windowcount = windowcapacity = 0;
        return;
    }
    fbdevice_release(s);
    for (fbpendinglist& l : s->lists)
        if (l.entries)
            pool->freemem(l.entries);
    releasewindows();
    pool->freemem(s);
}

void framebuffer::releasewindows()
{
    for (u32 i = 0; i < windowcount; i++) {
        fbwindowpart* p = part(windows[i]);
        p->bufferimage.exit(true);
        if (p->buffer.pixels)
            pool->freemem(p->buffer.pixels);
        memset0(&p->buffer, sizeof p->buffer);
    }
    if (windows)
        pool->freemem(windows);
    windows = nullptr;
    windowcount = windowcapacity = 0;
}

bool framebuffer::haswindow(guiwindow* w) const
{
    for (u32 i = 0; i < windowcount; i++)
        if (windows[i] == w)
            return true;
    return false;
}

// A window gets its back-end part cleared and its image initialised once, when
// it first makes an extra buffer.
bool framebuffer::listwindow(guiwindow* w)
{
    if (haswindow(w))
        return true;
    if (windowcount == windowcapacity) {
        u32 capacity = windowcapacity + 8;
        guiwindow** grown = (guiwindow**)pool->resize(windows, (u64)capacity * sizeof(guiwindow*));
        if (!grown)
            return false;
        windows = grown;
        windowcapacity = capacity;
    }
    windows[windowcount++] = w;
    fbwindowpart* p = part(w);
    memset0(p, sizeof *p);
    p->bufferimage.init(pool);
    return true;
}

// Whether a list the threads may still read, or the one being filled, names the pixels.
bool framebuffer::isheld(u32 const* pixels) const
{
    for (u32 l = 0; l < FB_LISTS; l++) {
        fbpendinglist const& list = shared->lists[l];
        if (l != current && !fbload(list.holders))
            continue;
        for (u32 i = 0; i < list.count; i++)
            if (list.entries[i].buffer.pixels == pixels)
                return true;
    }
    return false;
}

sptr framebuffer::createbuffer(guiwindow* w, u32 width, u32 height)
{
    if ((s32)width <= 0 || (s32)height <= 0 || width > FB_MAXSIDE || height > FB_MAXSIDE)
        return 0;
    u64 bytes = (u64)width * height * 4;
    if (bytes > FB_MAXBUFFERBYTES)
        return 0;
    bool known = haswindow(w);
    if (known && part(w)->buffer.pixels && isheld(part(w)->buffer.pixels))
        return 0;
    u32* pixels = (u32*)pool->getmem0(bytes);
    if (!pixels)
        return 0;
    if (!listwindow(w)) {
        pool->freemem(pixels);
        return 0;
    }
    fbwindowpart* p = part(w);
    p->bufferimage.exit(true);
    if (p->buffer.pixels)
        pool->freemem(p->buffer.pixels);
    p->buffer.width = width;
    p->buffer.height = height;
    p->buffer.format = w->format == pixfmt_888 ? pixfmt_888 : pixfmt_8888;
    p->buffer.pixels = pixels;
    fbstore(shared->factor, w->zoom == 2 ? 2 : 1);
    return 1;
}

sptr framebuffer::getbufferimage(guiwindow* w)
{
    if (!haswindow(w))
        return 0;
    fbwindowpart* p = part(w);
    if (!p->buffer.pixels)
        return 0;
    if (p->bufferimage.haspixels())
        return 1;
    fbbuffer const& b = p->buffer;
    return p->bufferimage.open(b.pixels, b.width, b.height, b.format, b.width * 4) ? 1 : 0;
}

sptr framebuffer::setbuffer(guiwindow* w, s32 x, s32 y)
{
    if (!haswindow(w) || !part(w)->buffer.pixels)
        return 0;
    fbpendinglist& list = shared->lists[current];
    if (list.count == list.capacity) {
        u32 capacity = list.capacity + FB_LISTGROWTH;
        if (capacity > FB_MAXENTRIES)
            return 0;
        fbentry* grown = (fbentry*)pool->resize(list.entries, (u64)capacity * sizeof(fbentry));
        if (!grown)
            return 0;
        list.entries = grown;
        list.capacity = capacity;
    }
    fbentry& e = list.entries[list.count++];
    e.x = x;
    e.y = y;
    e.buffer = part(w)->buffer;
    return 1;
}

sptr framebuffer::framedue()
{
    u32 c = fbload(shared->credits);
    while (c > 0)
        if (__atomic_compare_exchange_n(&shared->credits, &c, c - 1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
            return 1;
    return 0;
}

// Hands the current list to both drawing threads through the ring and moves on
// to the next list, which must be back from both threads first.
sptr framebuffer::flip()
{
    fbshared* s = shared;
    u32 next = (current + 1) % FB_LISTS;
    if (fbload(s->lists[next].holders))
        return 0;
    fbstore(s->lists[current].holders, FB_ALLDRAWERS);
    fbstore(s->ring[s->writeindex], current + 1);
    s->writeindex = (s->writeindex + 1) % FB_BUFFERS;
    current = next;
    s->lists[next].count = 0;
    return 1;
}

sptr framebuffer::command(unsigned code, int a, int b, guiwindow* w)
{
    if (!shared)
        return 0;
    if (fbload(shared->failed))
        flags |= gui_failed;
    if (flags & gui_failed)
        return 0;
    if (code == cmd_endofloop) {
        close();
        return 1;
    }
    bool needswindow = code == guicmd_openwindow || code == guicmd_createbuffer ||
                       code == guicmd_getbufferimage || code == guicmd_setbuffer;
    if (needswindow && !w)
        return 0;
    switch (code) {
    case guicmd_openwindow:
        w->flags |= guiwindow_shown;
        return 1;
    case guicmd_createbuffer: return createbuffer(w, (u32)a, (u32)b);
    case guicmd_getbufferimage: return getbufferimage(w);
    case guicmd_setbuffer: return setbuffer(w, a, b);
    case guicmd_framedue: return framedue();
    case guicmd_updatewhole: return flip();
    default:
        eprintf("fb ll cmd %u (x=%u cb=%u)\n", code, (u32)cmd_endofloop, (u32)guicmd_createbuffer);
        return 0;
    }
}

sptr framebuffer_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    sptr reply = 0;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return ((framebuffer*)self)->command(cmd, a, b, (guiwindow*)const_cast<void*>(p));
}

} // namespace kzv
