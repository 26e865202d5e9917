// The threaded OpenGL back-end (kind 8, chosen only by driver flag 1, off every
// dialog path): a thread of its own opens the display and then the windows the
// scheduler's thread hands it, one at a time, while the event pump stays in the
// scheduler step. The two threads share one block, never the module record: the
// thread's state, the stop request, the pending window and the result, all
// atomics with acquire and release. Every wait is bounded (QUARTZTHREAD_WAITMS,
// then failed), and exit stops the thread and waits for its end before the
// module goes; a thread that does not end keeps its block, which is then never
// freed. Only window creation is served: the window gets no pixels. macOS 10.15
// and later refuse to create windows off the main thread.
#pragma once
#include "quartz.h"

namespace kzv {

const u32 QUARTZTHREAD_WAITMS = 10000;
const u32 QUARTZTHREAD_ROOTBYTES = 0x1000000;   // the module's own memory root

enum : u32 { quartzthread_starting = 0, quartzthread_ready = 1, quartzthread_failed = 2 };

struct quartzthreadshared {
    u32 state;              // quartzthread_, set by the thread (or failed by a timed-out wait)
    u32 stop;               // set by exit
    u32 stopped;            // the thread's last word
    guiwindow* pending;     // handed over by the scheduler's thread, taken by the back-end's
    u32 done;               // the pending window's open has finished, with `result`
    s32 result;
    quartzscreen const* screens;    // the display, as the thread found it
    u32 count;
};

class opengl_quartz_threaded : public quartzdisplay {
public:
    smem threadstore;       // a second small-block pool, on the module's own root
    quartzthreadshared* shared;
    bool threadstarted;     // the thread exists and has not been seen to end

    void init(mem* p);
    void minit();
    void exit(bool keep);
    sptr command(unsigned code, int a, int b, guiwindow* w);

private:
    bool waitstate();
    void stopthread();
    sptr openwindow(guiwindow* w);
};

sptr opengl_quartz_threaded_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The thread: opens the display, then every pending window until told to stop.
void opengl_quartz_thread(void* shared);

} // namespace kzv
