// The driver's flag-4 open on the CPUs that carry the framebuffer back-end. A
// failed open gives its slot back at once, so nothing of it stays and a later
// flag-4 open may try again; an open framebuffer keeps its slot, and a second
// flag-4 open is refused while it is there.
#include "framebuffer.h"
#include "../../framework/mem.h"

namespace kzv {

static void releaseframebuffer(module* m) { ((framebuffer*)m)->exit(true); }

int framebuffer_openfor(guidriver& d)
{
    if (d.owned[guislot_framebuffer]) {
        d.failure = "a framebuffer display is open already";
        return 0;
    }
    framebuffer* fb = (framebuffer*)d.takebackend(guislot_framebuffer, sizeof(framebuffer), releaseframebuffer);
    if (!fb) {
        d.failure = "no memory for the framebuffer display";
        return 0;
    }
    fb->init(d.pool);
    if (!fb->open()) {
        d.failure = fb->failure;
        d.owned[guislot_framebuffer] = nullptr;
        d.release[guislot_framebuffer] = nullptr;
        fb->exit(true);
        d.pool->freemem(fb);
        return 0;
    }
    d.backendkind = guikind_framebuffer;
    d.datarequested();
    d.flags |= gui_ready;
    return 1;
}

} // namespace kzv
