// The macOS display selection; see displayselect.h.
#include "displayselect.h"
#include "openglthreaded.h"
#include "../../framework/sysprocess.h"

namespace kzv {

static void releasequartz(module* m) { ((quartz*)m)->exit(true); }
static void releaseopengl(module* m) { ((opengl_quartz*)m)->exit(true); }
static void releasethreaded(module* m) { ((opengl_quartz_threaded*)m)->exit(true); }

static int openthreaded(guidriver& d)
{
    auto* m = (opengl_quartz_threaded*)d.takebackend(guislot_openglthreaded, sizeof(opengl_quartz_threaded),
                                                       releasethreaded);
    if (!m)
        return 0;
    m->init(d.pool);
    d.backendkind = guikind_openglthreaded;
    return (m->flags & gui_failed) ? 0 : 1;
}

static int openopengl(guidriver& d)
{
    auto* m = (opengl_quartz*)d.takebackend(guislot_openglquartz, sizeof(opengl_quartz), releaseopengl);
    if (!m)
        return 0;
    m->init(d.pool);
    if (!m->open())
        return 0;
    d.backendkind = guikind_openglquartz;
    return 1;
}

static int openquartz(guidriver& d)
{
    auto* m = (quartz*)d.takebackend(guislot_quartz, sizeof(quartz), releasequartz);
    if (!m)
        return 0;
    m->init(d.pool);
    d.backendkind = guikind_quartz;
    return m->open();
}

int macos_opendisplay(guidriver& d, u32 flags)
{
    // A caller that asks for the framebuffer picks its own fallback; a back-end
    // opened earlier stays.
    if (flags & guiopen_framebuffer) {
        d.failure = "no framebuffer display on macOS";
        return 0;
    }
    d.reset();
    if (guidriver::wantsterminal(flags)) {
        int r = d.open_terminal();
        if (!r)
            d.endrun();
        return r;
    }
    int r = (flags & guiopen_threaded) ? openthreaded(d) : openopengl(d);
    if (!r && !(flags & guiopen_threaded))
        r = openquartz(d);
    d.datarequested();
    d.flags |= gui_ready;
    if (!r) {
        d.failure = "no window system: Cocoa and CoreGraphics could not be bound";
        d.endrun();
    }
    return r;
}

} // namespace kzv
