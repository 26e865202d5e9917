// The Quartz display back-ends: `quartz` (Quartz 2D drawing of a bitmap, kind 2)
// and `opengl_quartz` (an OpenGL texture per window, kind 4, preferred), one
// record shape with a table of window operations each (cocoa.h, opengl.h). The
// back-end keeps a list of the windows it opened (null slots are free), runs the
// Cocoa event pump in its 20 ms scheduler step and closes every listed window
// when it ends; a window closed once is dropped from the list, so a second close
// does nothing. The list, the screen list and the back buffers come from the
// module's pool.
#pragma once
#include "cocoa.h"
#include "../../framework/mem.h"
#include "../../framework/module.h"

namespace kzv {

const u32 QUARTZ_STEPMS = 20;

// The window operations of one back-end kind.
struct quartzops {
    int (*openwindow)(guiwindow* w);
    int (*createbackbuffer)(guiwindow* w, u32 count, mem* pool);
    int (*getbackbuffer)(guiwindow* w);
    int (*update)(guiwindow* w);
    int (*createbuffer)(guiwindow* w, u32 width, u32 height, mem* pool);
    int (*setbuffer)(u32 x, u32 y, guiwindow* w, mem* pool);
    void (*closewindow)(guiwindow* w, mem* pool);
    bool opengl;            // needs the OpenGL framework; capability bits 0 and 1
};
extern quartzops const quartz_ops;
extern quartzops const opengl_quartz_ops;

// The window list grows by 4 up to 16 slots, then by 16.

class quartzdisplay : public module {
public:
    u32 modifiers;          // written by the event pump
    u32 capacity;           // slots of the window list
    guiwindow** windows;
    smem store;
    quartzops const* ops;

    void setup(mem* p, char const* modulename, modulecallback cb, quartzops const* o);
    void exit(bool keep);
    // Tears the old state down, binds the frameworks and registers: 1, or 0 with
    // the failed flag set.
    int open();
    bool describe(quartzscreen const* screens, u32 count);
    bool addtowinlist(guiwindow* w);
    void dropfromwinlist(guiwindow* w);
    int closewindow(guiwindow* w);
    void closeall();
    sptr command(unsigned code, int a, int b, guiwindow* w);
};

class quartz : public quartzdisplay {
public:
    void init(mem* p);
};

class opengl_quartz : public quartzdisplay {
public:
    void init(mem* p);
};

// The callback of every Quartz back-end: '>' runs the event pump; the module
// defaults; everything else is the back-end's own command.
template <class D> sptr quartz_dispatch(D* d, unsigned cmd, int a, int b, void const* p)
{
    if (cmd == cmd_cyclic) {
        os_quartzgetmessages(d->windows, d->capacity, d->modifiers);
        return 1;
    }
    sptr reply = 0;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return d->command(cmd, a, b, (guiwindow*)const_cast<void*>(p));
}

sptr quartz_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
