// The file chooser widget: a path line with a "dir up" icon, the current folder's
// subfolders on the left (a third of the width) and its files that match the
// filter patterns on the right, each list with its own scrollbar. Mouse, wheel and
// keys move through folders and pick a file; Enter or a double click accepts it.
// Paths are kept whole: a folder whose path would not fit is not entered, and a
// name longer than 255 bytes is not listed. The path buffers are part of the
// record; the name lists are blocks of the widget's own pool, freed at its exit.
#pragma once
#include "../framework/timers.h"
#include "gui.h"
#include "guifilelist.h"

namespace kzv {

const u32 GUIFILEDIALOG_PATHCAPACITY = 512;        // the folder shown, with its terminator
const u32 GUIFILEDIALOG_SELECTEDCAPACITY = 768;    // folder + '/' + a 255-byte name + terminator
const u32 GUIFILEDIALOG_FILTERCAPACITY = 512;      // ';'-separated patterns
const u32 GUIFILEDIALOG_DOUBLECLICKMS = 299;
const s32 GUIFILEDIALOG_ICONSIZE = 30;             // the "dir up" icon's hit box and the path line
const s32 GUIFILEDIALOG_TRACKWIDTH = 13;

static_assert(GUIFILEDIALOG_SELECTEDCAPACITY >= GUIFILEDIALOG_PATHCAPACITY + NAMELIST_NAMECAPACITY,
              "a selected path always fits: folder, '/', name");

enum : u16 {                // the chooser's own flags
    chooser_open = 1,
    chooser_drawpending = 2,    // draw clears it; nothing in the widget sets it
    chooser_changed = 4,        // collected by ischanged
    chooser_accepted = 8,       // collected by isclicked
    chooser_showhidden = 16,
    chooser_armed = 32,         // the first click of a double click
    chooser_folderkeys = 64,    // the keyboard is in the folder list
    chooser_iconhover = 128,
    chooser_dragleft = 256,
    chooser_dragright = 512,
    chooser_escape = 1024,      // collected by isescaped
    chooser_listfailed = 2048,  // the folder shown could not be listed
};

class guifiledialog : public module {
public:
    u16 dialogflags;
    u32 id;
    u32 fontsize;
    s32 x, y, width, height;
    s32 leftwidth;          // the folder list's width
    s32 headerheight;       // the path line area above the lists
    s32 listheight;         // never below 0
    gui* container;
    guilook look;
    smem* store;
    u8 const* font;
    char filter[GUIFILEDIALOG_FILTERCAPACITY];
    timer clicktimer;
    u32 rows;               // rows that fit in a list, at least 1
    u32 rowpitch;           // at least 1
    u32 iconwidth;
    u32 pathlineheight;
    u32 foldercursor;       // 1-based; 0 for none
    char path[GUIFILEDIALOG_PATHCAPACITY];
    u32 selected;
    char selectedpath[GUIFILEDIALOG_SELECTEDCAPACITY];
    chooserlist folders;    // the left list
    chooserlist files;      // the right list

    void init(mem* p);
    void exit(bool keep);
    void mexit();

    // The widget id; 0 when there is no current container, or the folder or the
    // patterns do not fit their buffers.
    u32 open(int cx, int cy, int cw, int ch, char const* folder, char const* patterns, bool showhidden);
    void opendirlist();
    void setfocus();
    void getselectedfile();
    bool isclicked();
    bool ischanged();
    bool isescaped();
    bool islistfailed() const { return (dialogflags & chooser_listfailed) != 0; }
    // The selected path ("//x" given as "/x" unless the system takes "//x" for a
    // network or device name); false, out empty, when nothing is selected or it
    // does not fit `capacity`.
    bool get(char* out, u32 capacity) const;
    // The folder shown; false, out empty, when it does not fit.
    bool getfolder(char* out, u32 capacity) const;

    void draw();
    void printtext(int tx, int ty, u32 colour, char const* text, int maxwidth);
    void drawsb(s32 trackx, s32 tracky, s32 trackw, s32 trackh, u32 total, u32 visible, u32 first,
                s32& thumbtop, s32& thumbbottom);

    sptr command(unsigned code, int a, int b);
    void key(u32 code);
    void checkleftsbdwn(int b);
    void checkrightsbdwn(int b);

private:
    void layout();
    bool enterfolder(char const* name);
    void goup();
    void select(u32 index);
    void keepselectionvisible();
    s32 rowat(int b) const;
    bool infolderarea(int a, int b) const;
    bool infilearea(int a, int b) const;
    void leftdown(int a, int b);
    void folderclick(int b);
    void fileclick(int b);
    void mousemoved(int a, int b);
    bool dragthumb(chooserlist& list, int b);
    void hoverfolders(int a, int b);
    void wheel(bool down, int a, int b);
    void pageclick(chooserlist& list, int b);
    void redraw();
    bool isshown(char const* name) const;
    void addentry(char const* name, u8 kind);
    void placebar(chooserlist& list, s32 fillx, s32 barx);
    void drawfolders();
    void drawfiles();
};

sptr guifiledialog_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
