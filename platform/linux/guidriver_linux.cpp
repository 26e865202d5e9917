// The Linux display selection: the DRM framebuffer when the caller passes flag 4
// (only the x86-64 and i386 programs carry it), else the terminal when
// KZVTERM_CXS is set (and the caller does not forbid it), else the X server named
// by DISPLAY. A failed flag-4 open answers 0 and the run goes on; any other failed
// open ends the run with one line on standard error and exit status 2.
#include "framebuffer.h"
#include "../../gui/guidriver.h"
#include "../../drivers/x11display.h"

namespace kzv {

int guidriver::open(u32 f0, u32 f1, u32 f2, u32 f3, u32 f4, u32 f5)
{
    u32 f = f0 | f1 | f2 | f3 | f4 | f5;
    // A caller that asks for the framebuffer picks its own fallback; a back-end
    // opened earlier stays.
    if (f & guiopen_framebuffer)
        return framebuffer_openfor(*this);
    reset();
    int r = wantsterminal(f) ? open_terminal() : open_x11();
    if (!r)
        endrun();
    return r;
}

int guidriver::open_x11()
{
    reset();
    int r = x11_opendisplay(*this);
    if (!r)
        flags |= gui_failed;
    return r;
}

} // namespace kzv
