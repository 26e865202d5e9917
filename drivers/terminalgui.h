// The terminal display back-end: a pixel screen the size of the terminal (its
// cells times the cell size from KZVTERM_CXS and KZVTERM_CYS), drawn into by the
// window module and handed to the terminal renderer on every update. Keys and
// xterm mouse reports come from the terminal through the renderer's key decoder;
// pointer positions from the mouse file that a graphic terminal writes into the
// KZVTERM_TMP directory. Cell sizes outside 1..256 and a directory that does not
// fit its field are refused, never cut. All buffers belong to the module's pool.
#pragma once
#include "ansiterminal.h"
#include "../framework/filestream.h"
#include "../framework/stdio.h"
#include "../gui/guidriver.h"
#include "../gui/image.h"

namespace kzv {

const u32 TERMINALGUI_DIRCAPACITY = 260;    // the shared directory and its terminator
const u32 TERMINALGUI_ENVCAPACITY = 1024;   // any variable: getenv copies 999 characters
const u32 TERMINALGUI_PATHCAPACITY = TERMINALGUI_DIRCAPACITY + 32;   // directory + file name
const u32 TERMINALGUI_MAXSCREEN = GUIWINDOW_MAXSIDE;   // pixels a screen side
const u32 TERMINALGUI_STEPMS = 20;
const u32 TERMINALGUI_FLUSHMS = 2000;       // longest wait for the terminal at the end
const u32 TERMINALGUI_KEYSPERSTEP = 256;    // the rest waits for the next step
const u32 TERMINALGUI_BACKGROUND = 0x000022;

// What the terminal back-end keeps in a window's record.
struct terminalwindow {
    s32 mouseoffsetx;       // where the terminal's pointer origin lies; 0, 0 not read yet
    s32 mouseoffsety;
};

class terminalgui : public module {
public:
    u32 cellwidth;          // pixels
    u32 cellheight;
    char directory[TERMINALGUI_DIRCAPACITY];    // KZVTERM_TMP, "" without one
    stdio console;          // opened with the display: raw mode starts then
    ansiterminal renderer;
    image screen;
    file mousefile;
    guiwindow* current;     // the window last given with 148
    module* terminal;       // the byte stream the renderer talks to
    char const* failure;    // why the open failed
    u8 consoleopen;

    void init(mem* p);
    void minit();
    void exit(bool keep);
    void mexit();

    // On the process's console; false when KZVTERM_CXS is not set or the display
    // cannot be made (the failed flag and `failure` then tell why).
    bool open(u32 format);
    // The same on another byte stream of the standard-I/O kind (tests).
    bool openon(module* peer, u32 format);
    sptr command(unsigned code, int a, int b, guiwindow* w);
    void cyclic();
    void flushconsole();        // bounded: a terminal that takes nothing is given up

private:
    bool fail(char const* why);
    bool beginopen();
    bool readsettings();
    bool attach(module* peer, u32 format);
    bool openscreen(u32 format);
    void openmousefile();
    sptr openwindow(guiwindow* w);
    void drawframe(guiwindow* w);
    sptr getbackbuffer(guiwindow* w);
    sptr closewindow(guiwindow* w);
    sptr update();
    bool readmouse(u32& x, u32& y);
    void readoffset(terminalwindow* part);
    void mousestep();
    void keystep();
    void sendkey(u32 code);
};

sptr terminalgui_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
