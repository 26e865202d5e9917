// The framebuffer back-end's three threads. They share memory with the process
// but are not in its thread group, so they must end by themselves: each polls
// the stop request every millisecond and, as its very last access to shared
// memory, sets its own stopped flag; close waits for those flags before it
// releases anything. Shared words are 32-bit and go through __atomic builtins,
// which are lock-free on i386 and x86-64 alike.
// The flip thread keeps one page flip in flight: on its flip-complete event (type
// 2) the displayed and drawing indices advance, the next framebuffer is flipped
// to and the module side gets one frame credit. Events are walked by their own
// length field; a length below 8, or one that runs past the bytes read, ends
// the walk. A page flip that fails ends the flips and marks the back-end failed.
// A drawing thread takes the ring slot at its read index once a frame; a list
// there is drawn only while the thread's holder bit is set, and the bit is
// cleared (release) when the thread is done with it, which hands the list back.
#include "framebuffer.h"
#include "../../framework/memprim.h"
#include "syscalls.h"

namespace kzv {


static bool stoprequested(fbshared* s) { return (fbload(s->stop) & 1) != 0; }

static void pause(fbshared* s, u32 thread) { s->device->pause(s->device, thread, 1); }

static bool pageflip(fbshared* s, u32 index)
{
    memset0(&s->flip, sizeof s->flip);
    s->flip.crtcid = s->crtcid;
    s->flip.fbid = s->fbids[index];
    s->flip.flags = drmflip_event;
    return !sys_failed(s->device->ioctl(s->device, s->fd, drmioctl_pageflip, &s->flip));
}

// One completed flip: the next framebuffer goes up, and one more frame may come.
static bool flipcompleted(fbshared* s)
{
    u32 displayed = (fbload(s->displayed) + 1) % FB_BUFFERS;
    fbstore(s->displayed, displayed);
    fbstore(s->drawing, (fbload(s->drawing) + 1) % FB_BUFFERS);
    __atomic_add_fetch(&s->flips, 1, __ATOMIC_RELEASE);
    if (!pageflip(s, displayed))
        return false;
    __atomic_add_fetch(&s->credits, 1, __ATOMIC_RELEASE);
    return true;
}

// The flip-complete events among `n` bytes; false when a flip failed.
static bool takeevents(fbshared* s, u8 const* bytes, u32 n)
{
    u32 at = 0;
    while (n - at >= sizeof(drmevent)) {
        drmevent e;
        memcpy(&e, bytes + at, sizeof e);
        if (e.length < sizeof(drmevent) || e.length > n - at)
            break;
        if (e.type == drmevent_flipcomplete && !flipcompleted(s))
            return false;
        at += e.length;
    }
    return true;
}

void fbthread_flipmain(void* state)
{
    fbthreadstate* t = (fbthreadstate*)state;
    fbshared* s = t->shared;
    alignas(8) u8 events[FB_EVENTBYTES];
    bool flipping = pageflip(s, 0);
    while (flipping && !stoprequested(s)) {
        long n = s->device->read(s->device, s->fd, events, sizeof events);
        if (n > 0 && !sys_failed(n))
            flipping = takeevents(s, events, (u32)(n < (long)sizeof events ? n : (long)sizeof events));
        if (flipping)
            pause(s, fbthread_flip);
    }
    if (!flipping)
        fbstore(s->failed, 1);
    fbstore(t->stopped, 1);
}

static void drawlist(fbshared* s, fbpendinglist const& list, u32 target, u32 half)
{
    u32* pixels = s->pixels[target];
    u32 stride = s->pitches[target] / 4;
    u32 factor = fbload(s->factor);
    for (u32 i = 0; i < list.count; i++)
        fbcompose(pixels, stride, s->width, s->height, factor, half, list.entries[i]);
}

// Draws the list in the slot at this thread's read index, if it still holds it.
static void drawslot(fbshared* s, u32 half, u32 target)
{
    u32 r = s->readindex[half];
    s->readindex[half] = (r + 1) % FB_BUFFERS;
    u32 slot = fbload(s->ring[r]);
    if (!slot || slot > FB_LISTS)
        return;
    fbpendinglist& list = s->lists[slot - 1];
    u32 bit = 1u << half;
    if (!(fbload(list.holders) & bit))
        return;
    drawlist(s, list, target, half);
    __atomic_and_fetch(&list.holders, ~bit, __ATOMIC_RELEASE);
}

void fbthread_drawmain(void* state)
{
    fbthreadstate* t = (fbthreadstate*)state;
    fbshared* s = t->shared;
    u32 half = t->number == fbthread_top ? 0 : 1;
    while (!stoprequested(s) && !fbload(s->ring[0]))
        pause(s, t->number);
    while (!stoprequested(s)) {
        u32 target = fbload(s->drawing);
        drawslot(s, half, target);
        while (!stoprequested(s) && fbload(s->drawing) == target)
            pause(s, t->number);
    }
    fbstore(t->stopped, 1);
}

} // namespace kzv
