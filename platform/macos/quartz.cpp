// The Quartz display back-ends; see quartz.h.
#include "quartz.h"
#include "opengl.h"
#include "../../framework/memprim.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"
#include "../../gui/pixelformat.h"
#include "../../gui/windowtable.h"

namespace kzv {

quartzops const quartz_ops = {
    os_quartzopenwindow, os_quartzcreatebackbuffer, os_quartzgetbackbuffer, os_quartzupdatewindow,
    os_quartzcreatebuffer, os_quartzsetbuffer, os_quartzclosewindow, false,
};

quartzops const opengl_quartz_ops = {
    os_quartzopenglopenwindow, os_quartzopenglcreatebackbuffer, os_quartzopenglgetbackbuffer,
    os_quartzopenglupdatewindow, os_quartzopenglcreatebuffer, os_quartzopenglsetbuffer, os_quartzopenglclosewindow,
    true,
};

void quartzdisplay::setup(mem* p, char const* modulename, modulecallback cb, quartzops const* o)
{
    memset0(this, sizeof(*this));
    initheader(p, modulename, cb, type_gui);
    store.init(pool);
    ops = o;
}

void quartz::init(mem* p) { setup(p, "quartz", quartz_concb, &quartz_ops); }

void opengl_quartz::init(mem* p) { setup(p, "opengl_quartz", quartz_concb, &opengl_quartz_ops); }

// The native windows go with the list: a window module's later 146 finds its
// window no longer listed and reaches nothing.
void quartzdisplay::exit(bool keep)
{
    unregister();
    closeall();
    windows = nullptr;
    capacity = 0;
    store.freemem();
    if (!keep)
        setup(pool, name, callback, ops);
}

bool quartzdisplay::describe(quartzscreen const* screens, u32 count)
{
    guiscreen* list = (guiscreen*)store.getmem0(count * (u32)sizeof(guiscreen));
    if (!list || !count)
        return false;
    for (u32 i = 0; i < count; i++)
        list[i] = {screens[i].x, screens[i].y, screens[i].width, screens[i].height, pixfmt_888};
    kind.gui.flags |= ops->opengl ? guicaps_realtime | guicaps_windowsystem : guicaps_windowsystem;
    kind.gui.screens = (u8)kzv_min<u32>(count, 255);
    kind.gui.width = (u16)kzv_min<s32>(kzv_max<s32>(screens[0].width, 0), 0xFFFF);
    kind.gui.height = (u16)kzv_min<s32>(kzv_max<s32>(screens[0].height, 0), 0xFFFF);
    kind.gui.format = pixfmt_888;
    payload = list;
    size = count * (u32)sizeof(guiscreen);
    return true;
}

int quartzdisplay::open()
{
    module_resetkeepingpeers(*this);
    process->defaulthandler = nullptr;
    quartzscreen const* screens = nullptr;
    u32 count = 0;
    bool bound = os_initquartz(screens, count) && (!ops->opengl || os_initquartzopengl());
    if (!bound || !describe(screens, count)) {
        flags |= gui_failed;
        return 0;
    }
    flags |= gui_ready;
    process->startthread(this, QUARTZ_STEPMS);
    state |= 1;
    process->defaulthandler = this;
    return 1;
}

bool quartzdisplay::addtowinlist(guiwindow* w) { return windowtable_add(windows, capacity, store, w); }

void quartzdisplay::dropfromwinlist(guiwindow* w) { windowtable_drop(windows, capacity, w); }

int quartzdisplay::closewindow(guiwindow* w)
{
    bool listed = false;
    for (u32 i = 0; i < capacity; i++)
        listed = listed || windows[i] == w;
    if (!listed)
        return 1;
    w->flags &= (u8)~guiwindow_shown;
    dropfromwinlist(w);
    ops->closewindow(w, pool);
    return 1;
}

void quartzdisplay::closeall()
{
    for (u32 i = 0; i < capacity; i++)
        if (windows[i])
            closewindow(windows[i]);
}

sptr quartzdisplay::command(unsigned code, int a, int b, guiwindow* w)
{
    if ((flags & gui_failed) || !w)
        return 0;
    switch (code) {
    case guicmd_openwindow: {
        if (!addtowinlist(w))
            return 0;
        int r = ops->openwindow(w);
        if (!r)
            dropfromwinlist(w);
        return r;
    }
    case guicmd_closewindow: return closewindow(w);
    case guicmd_createbackbuffer: return ops->createbackbuffer(w, (u32)a, pool);
    case guicmd_getbackbuffer: return ops->getbackbuffer(w);
    case guicmd_update: return a == 0 && b == 0 ? ops->update(w) : 1;
    case guicmd_createbuffer: return ops->createbuffer(w, (u32)a, (u32)b, pool);
    case guicmd_setbuffer: return ops->setbuffer((u32)a, (u32)b, w, pool);
    case guicmd_framedue: return 1;
    default: return 0;
    }
}

sptr quartz_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    return quartz_dispatch((quartzdisplay*)self, cmd, a, b, p);
}

} // namespace kzv
