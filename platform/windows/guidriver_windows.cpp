// The Windows display selection: the terminal when KZVTERM_CXS is set (and the
// caller does not forbid it), else the GDI back-end. Flag 4 (the framebuffer)
// finds nothing on Windows. A failed open ends the run with one line on standard
// error and exit status 2 instead of waiting.
#include "gdi.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"

namespace kzv {

static void releasegdi(module* m) { ((gdi*)m)->exit(true); }

static int opengdi(guidriver& d)
{
    gdi* g = (gdi*)d.takebackend(guislot_gdi, sizeof(gdi), releasegdi);
    if (!g) {
        d.failure = "no memory for the GDI display";
        return 0;
    }
    g->init(d.pool);
    int r = g->open(d.formatrequest);
    d.backendkind = guikind_gdi;
    d.datarequested();
    d.flags |= gui_ready;
    if (!r)
        d.failure = "no monitor to show a window on";
    return r;
}

int guidriver::open(u32 f0, u32 f1, u32 f2, u32 f3, u32 f4, u32 f5)
{
    u32 f = f0 | f1 | f2 | f3 | f4 | f5;
    if (f & guiopen_framebuffer) {
        failure = "no framebuffer display in this build";
        return 0;
    }
    reset();
    int r = wantsterminal(f) ? open_terminal() : opengdi(*this);
    if (!r)
        endrun();
    return r;
}

} // namespace kzv
