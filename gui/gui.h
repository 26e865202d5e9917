// The widget container: turns the current window into a widget surface. It draws
// into the window's image, keeps the widgets' rectangles in frames, routes the
// window's events to the widget under the pointer or to the focused one, tracks
// hover and focus, queues what no widget takes as "ui message" packets (type 21)
// for the application, holds the colour scheme and the loaded fonts, and pushes
// the image to the screen after a redraw. Frames, entries and font slots live in
// the container's small-block store and go with its exit; widgets stay their
// owners'. Empty table slots and entries without a module are never called.
#pragma once
#include "../framework/fifoint.h"
#include "../framework/mem.h"
#include "../framework/module.h"
#include "image.h"

namespace kzv {

const u32 GUI_FRAMECOUNT = 8;           // drawing layers; frame 0 is the window's image
const u32 GUI_TABLEGROWTH = 16;         // widget slots added when a frame's table is full
const u32 GUI_FONTSLOTS = 8;
const u32 GUI_COLORCOUNT = 22;
const u32 GUI_INTERVALMS = 20;          // the redraw step
const u32 GUI_DEFAULTFONTSIZE = 832;    // size code; / 64 is the line height in pixels

// Codes the container sends to its widgets (p is null); the pointer, button, key
// and wheel codes are the window events of data.h with widget-relative x and y.
enum : unsigned {
    widget_focuslost = 158,
    widget_lookchanged = 159,   // part of the widget protocol; the container never sends it
    widget_draw = 160,
    widget_pointerleft = 172,
    widget_frameshown = 180,
};

// Commands of the container beyond the window events.
enum : unsigned {
    guicmd_showframe = 157,     // a = frame id, b = 0 hide, else show
};

// The module flag a widget sets once it is open (the same bit as a back-end's ready).
enum : u8 { widget_ready = 0x40 };

enum : u8 { frame_visible = 1, frame_excluded = 2 };        // frame flags
enum : u8 { entry_inuse = 1, entry_hover = 2, entry_focus = 4 };
enum : u8 { guidraw_requested = 1, guidraw_frames = 2 };    // the container's draw flags
enum : u8 { fontslot_bold = 1, fontslot_italic = 2 };

struct guientry {
    u8 flags;
    s32 x, y, width, height;    // relative to the frame
    module* widget;
};

struct guiframe {
    u8 flags;
    u32 id;                     // what guicmd_showframe looks for
    s32 x, y;
    u32 width, height;
    u32 capacity;               // slots of the widget table
    image* img;                 // frame 0: the window's image
    guientry** widgets;         // capacity slots, any of them null
    module* handler;            // gets widget_draw before the frame's widgets
};

// What widgets copy at open: the style (0 in this program), the window's image and
// the colour slots (0xRRGGBB).
struct guilook {
    u32 style;
    image* target;
    u32 colors[GUI_COLORCOUNT];
};

struct guifontslot {
    u8 flags;                   // fontslot_ bits
    u32 size;                   // size code
    char* name;                 // copy of the name it was asked for
    u8 const* font;             // the resource
};

class gui : public module {
public:
    guiframe** frames;          // GUI_FRAMECOUNT slots once open
    u32 framecount;
    guiframe* mainframe;
    u8 drawflags;
    u32 widgetcounter;          // each widget takes the counter + 1 as its id
    u32 fontsize;
    u32 fontslot;               // the slot used last
    u32 width, height;          // of the window image
    module* win;
    image* target;
    fifoint events;             // code, a, b
    guilook look;
    guifontslot* fonts[GUI_FONTSLOTS];
    u8 const* font;             // current font data
    u8 const* boldfont;
    smem store;
    guientry* focus;
    image overlay;              // drawn under the other frames while it has pixels

    void init(mem* p);
    void minit();
    void exit(bool keep);
    void mexit();

    void setcolors();
    bool open();                // false without a current window
    bool addwidget(module* widget, int x, int y, int w, int h);
    void setfocus(module* widget);
    bool setfont(char const* fontname, u32 sizecode, bool bold, bool italic);
    bool setfontint(char const* fontname, u32 sizecode, bool bold, bool italic);
    void requestredraw() { drawflags |= guidraw_requested; }

    // *p = the container; 1 with the next queued event in the data view (type 21,
    // kind.ui: code, x, y), 0 when none is queued.
    int read(data** p, unsigned max);
    void cyclic();
    void drawframes();
    void mousemoved(int x, int y);
    guientry* getwidgetfrompos(int x, int y, guiframe** frameout);
    sptr command(unsigned code, int a, int b);

private:
    bool makeframes();
    guientry* findentry(guiframe* f, module* widget);
    guientry* takeentry(guiframe* f);
    bool growtable(guiframe* f);
    void buttondown(unsigned code, int x, int y);
    void topointer(unsigned code, int x, int y);
    void tofocus(unsigned code, int key);
    sptr closerequested(int a, int b);
    void showframe(u32 id, bool show);
    void defocusothers(guientry const* keep);
    void leaveall(bool skipexcluded);
    int findfontslot(char const* fontname, u32 sizecode, u8 styles) const;
    int storefont(char const* fontname, u32 sizecode, u8 styles, u8 const* fontdata);
    void usefont(int slot);
    void queue(unsigned code, int a, int b);
};

sptr gui_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The container opened last and not yet released, as widgets find it; null when none.
gui* gui_current();

} // namespace kzv
