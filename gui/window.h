// The top-level window: asks the active display back-end for a native window and
// its back buffer, wraps the back buffer in an image that the widgets draw into,
// passes the back-end's input events to its OUT pin's peer (or queues them, three
// integers an event) and forwards update requests. Opening waits at most 10 s for
// the back-end and 10 s for the window to be shown; any failure on the way closes
// what the back-end made and answers 0. The back buffer stays the back-end's.
#pragma once
#include "../framework/fifoint.h"
#include "guidriver.h"

namespace kzv {

// Commands of the window module beyond the back-end set.
enum : unsigned {
    windowcmd_getimage = 153,       // stores the address of the window's image at p
};

// The event queues of the window and the container hold three integers an event:
// the code, a and b. Queuing keeps all three or none; taking one fills a record's
// ui-message view and is false while no whole event waits.
void uievent_queue(fifoint& q, unsigned code, int a, int b);
bool uievent_take(fifoint& q, data& d);

class window : public module {
public:
    u32 width;              // requested; after open the image's
    u32 height;
    u32 format;             // after open the image's pixel format
    u32 screenwidth;        // from the back-end's display information; 0 unknown
    u32 screenheight;
    guiwindow gwin;         // the back-end's record of this window
    image backimage;        // over the back buffer
    module* backend;        // the module that made the window
    fifoint events;         // code, a, b

    void init(mem* p);
    void exit(bool keep);
    void mexit();

    // 1 once the window is shown with its image open, else 0.
    int open(char const* title, u32 x, u32 y, u32 w, u32 h, u32 openflags);
    // Stores the window at *p; 1 with the next queued event in the data view
    // (kind.ui: code, x, y), 0 when none is queued.
    int read(data** p, int max);
    sptr command(unsigned code, int a, int b, void const* p);
    bool isready() const { return (flags & gui_ready) != 0; }

private:
    module* findbackend();
    bool waitbackend(u32 start);
    void place(char const* title, u32 x, u32 y, u32 w, u32 h);
    bool waitshown();
    bool takebackbuffer();
    sptr tobackend(unsigned code, int a = 0, int b = 0);
    sptr event(unsigned code, int a, int b);
};

sptr window_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The window opened last and not yet released, as the widget container finds it.
window* window_current();

} // namespace kzv
