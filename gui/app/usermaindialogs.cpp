// The four dialogs: their options, their layout and the chooser's step. Options
// that name a path or patterns are taken whole or refused; display texts are cut
// where they are shown. The message text is measured and printed line by line, so
// that every line of a long text gets a line of the window.
#include "usermain.h"
#include "../../framework/fileinformation.h"
#include "../../framework/filepacket.h"
#include "../../framework/fileload.h"
#include "../../framework/options.h"
#include "../../framework/os.h"
#include "../../framework/printf.h"
#include "../../framework/resources.h"
#include "../../framework/stdio.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../font.h"
#include "../kzvcodec.h"
#include "../text.h"

namespace kzv {

const u32 USERMAIN_TEXTCOLOUR = PIXEL_OPAQUE;   // opaque black
const u32 USERMAIN_FRAMECOLOUR = 0x888888;
const u32 USERMAIN_WORKDIRCAPACITY = 512;
const s32 USERMAIN_ICONX = 5, USERMAIN_ICONY = 5;
// The chooser stands this far in from the window's left, top and right edges and
// is this much shorter than the window: below it go the status line, this far
// under its bottom edge, and the buttons.
const s32 USERMAIN_CHOOSERINSET = 10;
const s32 USERMAIN_CHOOSERSHORTFALL = 80;
const s32 USERMAIN_STATUSGAP = 4;

static s32 chooserheight(u32 windowheight) { return (s32)windowheight - USERMAIN_CHOOSERSHORTFALL; }
static s32 statuslinetop(u32 windowheight)
{
    return USERMAIN_CHOOSERINSET + chooserheight(windowheight) + USERMAIN_STATUSGAP;
}

// The kind of the path's target (a link counts as what it points to); false, with
// '=', when the path cannot be examined.
static bool examine(char const* path, u8& kind)
{
    fileinformation fi;
    fi.init(nullptr);
    bool found = fi.open(path);
    kind = found ? file_kind(fi) : (u8)filekind_other;
    fi.exit(true);
    return found;
}

static u8 pathkind(char const* path)
{
    u8 k = filekind_other;
    examine(path, k);
    return k;
}

// Why a text file cannot be shown, or null when it can be read.
static char const* textfileproblem(char const* name)
{
    u8 k = filekind_other;
    if (!examine(name, k))
        return "no such file";
    if (k == filekind_directory)
        return "a folder, not a file";
    if (k != filekind_file)
        return "not a regular file";
    int fd = os_fopen(name, 1);
    if (!fd)
        return "not readable";
    os_close(fd);
    return nullptr;
}

// The dialog goes on without what could not be read; the script's log learns why.
void usermain::tellunread(char const* option, char const* path, char const* why)
{
    eprint(process->getprogramname());
    eprint(": ");
    eprint(option);
    if (path[0]) {
        eprint(" ");
        eprint(path);
    }
    eprint(": ");
    eputs(why);
}

// A path or pattern option taken whole into out (at most max characters): absent,
// taken, or refused (the run is then ended) when it is longer.
optiontake usermain::takeoption(char const* name, char* out, u32 max, char const* refusal)
{
    u32 length = 0;
    bool present = arggetstring(name, out, max, &length);
    if (length > max) {
        refuse(refusal, nullptr);
        return option_refused;
    }
    return present ? option_taken : option_absent;
}

// -folder, or "." for the working directory. A folder the chooser could not hold
// whole, or one that is not a folder, ends the run: accepting in an empty list
// would otherwise answer a folder that does not exist.
bool usermain::readfolder()
{
    char* path = text.path;
    if (takeoption("folder", path, USERMAIN_FOLDERMAX, "-folder is longer than 511 bytes") == option_refused)
        return false;
    if (!path[0])
        strcpy(path, ".", USERMAIN_PATHCAPACITY - 1);
    if (streq(path, ".")) {
        char wd[USERMAIN_WORKDIRCAPACITY];
        if (!os_getwd(wd)) {
            refuse("the working directory cannot be read or is longer than 511 bytes", nullptr);
            return false;
        }
    }
    if (pathkind(path) != filekind_directory) {
        refuse("not a folder: ", path);
        return false;
    }
    return true;
}

// -filter, "*" when absent; the chooser takes ';'-separated patterns.
bool usermain::readfilter()
{
    char* filter = text.filter;
    if (takeoption("filter", filter, USERMAIN_FILTERMAX, "-filter is longer than 511 bytes") == option_refused)
        return false;
    if (!filter[0])
        strcpy(filter, "*", USERMAIN_FILTERCAPACITY - 1);
    str_changechars(filter, ',', ';');
    return true;
}

bool usermain::filedialog(bool folders)
{
    if (!readfolder() || !readfilter())
        return false;
    dirmode = (folders || arggetbool("dirmode")) ? 1 : 0;
    showhidden = arggetbool("showhidden") ? 1 : 0;
    // Below this the chooser's lists have no room for a row.
    if (width && width < USERMAIN_CHOOSERMINWIDTH)
        width = USERMAIN_CHOOSERMINWIDTH;
    if (height && height < USERMAIN_CHOOSERMINHEIGHT)
        height = USERMAIN_CHOOSERMINHEIGHT;
    return guiopen(USERMAIN_CHOOSERWIDTH, USERMAIN_CHOOSERHEIGHT, "choose file") && buildchooser();
}

bool usermain::buildchooser()
{
    s32 w = (s32)width, h = (s32)height;
    win.backimage.drawroundedrect(4, 4, w - 8, h - 6, 4, 1, USERMAIN_FRAMECOLOUR);
    s32 inset = USERMAIN_CHOOSERINSET;
    if (!chooser.open(inset, inset, w - 2 * inset, chooserheight(height), text.path, text.filter,
                      showhidden != 0)) {
        refuse("the file chooser could not be opened on ", text.path);
        return false;
    }
    if (chooser.islistfailed())
        tellunread("-folder", text.path, "the folder cannot be listed");
    button1.open("OK", w - 260, h - 35, 250, 28);
    button2.open("Cancel", 10, h - 35, 250, 28);
    chooser.setfocus();
    // The first frame already shows the status line of the first file.
    if (chooser.ischanged())
        drawstatusline();
    return true;
}

bool usermain::infodialog() { return messagedialog(false); }

bool usermain::yesnodialog() { return messagedialog(true); }

// The text buffer with -text, replaced by the text file when one is named. Only a
// regular file is read: a folder, a device or a pipe leaves the text empty
// instead of waiting for input that may never come, and a line on standard
// error names the file and the reason. Null when the run was ended.
char* usermain::loadtext()
{
    char* t = (char*)pool->getmem(USERMAIN_TEXTCAPACITY);
    if (!t) {
        refuse("no memory for the text", nullptr);
        return nullptr;
    }
    arggetstring("text", t, USERMAIN_TEXTMAX);
    char* name = text.path;
    optiontake named = takeoption("textfile", name, USERMAIN_TEXTFILEMAX, "-textfile is longer than 767 bytes");
    if (named == option_refused) {
        pool->free_int(t);
        return nullptr;
    }
    if (named == option_absent)
        return t;
    t[0] = 0;
    char const* why = name[0] ? textfileproblem(name) : "no file is named";
    if (why)
        tellunread("-textfile", name, why);
    else
        loadfile(name, t, USERMAIN_TEXTMAX);
    return t;
}

// Width: the widest line + 52; height: 50 + 16 a line (52 and 50 without a line).
void usermain::measuretext(char const* t, u32& w, u32& h)
{
    image scratch(pool);
    scratch.setfont(USERMAIN_FONT, USERMAIN_FONTSIZE, false, false);
    char* line = linebuffer();
    getstringline lines;
    u32 count = 0;
    int widest = 0;
    while (lines.getline(t, line, (int)USERMAIN_LINEMAX, 0)) {
        count++;
        widest = kzv_max(widest, scratch.textlen(line));
    }
    w = 52;
    h = 50;
    if (count) {
        w = (u32)widest + 52;
        h = (u32)kzv_min((u64)50 + 16 * (u64)count, (u64)USERMAIN_MAXSIDE);
    }
}

// Line after line at (42, 10), one line height of the window's font apart, until
// the window's bottom.
void usermain::printtext(char const* t)
{
    image& im = win.backimage;
    int step = im.fontheader ? (int)font_lineheight(im.fontheader) : TEXT_LINE6X13;
    if (step <= 0)
        step = TEXT_LINE6X13;
    char* line = linebuffer();
    getstringline lines;
    int top = 10;
    while (top < im.height && lines.getline(t, line, (int)USERMAIN_LINEMAX, 0)) {
        im.print(42, top, USERMAIN_TEXTCOLOUR, line);
        top += step;
    }
}

bool usermain::messagedialog(bool question)
{
    char* t = loadtext();
    if (!t)
        return false;
    if (!t[0])
        strcpy(t, question ? "Are you sure?" : "Info", USERMAIN_TEXTMAX);
    u32 mw = 0, mh = 0;
    measuretext(t, mw, mh);
    if (!width)
        width = mw;
    if (!height)
        height = mh;
    width = kzv_max(width, USERMAIN_MESSAGEMINWIDTH);
    height = kzv_max(height, USERMAIN_MESSAGEMINHEIGHT);
    bool opened = guiopen(width, height, question ? "question" : "info");
    if (opened)
        buildmessage(question, t);
    pool->free_int(t);
    return opened;
}

// The icon is drawn only where the window holds its width: the rows of a cut one
// would each be refused with a diagnostic. One that is no embedded image is left
// to drawimage, which reports it.
static bool iconfits(char const* name, s32 windowwidth)
{
    resourceentry entry;
    kzvheader header;
    if (!resource_find(name, entry) || kzv_readheader(entry.bytes, entry.size, header) != kzv_ok)
        return true;
    return (s64)USERMAIN_ICONX + header.width <= windowwidth;
}

void usermain::buildmessage(bool question, char const* t)
{
    s32 w = (s32)width, h = (s32)height;
    char const* icon = question ? "img/question.kzv" : "img/info.kzv";
    if (iconfits(icon, w))
        win.backimage.drawimage(USERMAIN_ICONX, USERMAIN_ICONY, icon);
    if (question) {
        button1.open("Yes", 30, h - 35, 100, 28);
        button2.open("No", w - 130, h - 35, 100, 28);
    } else {
        button1.open("OK", (w - 250) >> 1, h - 35, 250, 28);
    }
    printtext(t);
}

// Accept: the selected file; in folder mode its folder, or the folder shown when
// no file is selected. A file chooser with nothing selected stays open. True when
// the run was ended with an answer.
bool usermain::answerchooser()
{
    char* path = text.path;
    bool selected = chooser.get(path, USERMAIN_PATHCAPACITY);
    if (!dirmode) {
        if (!selected || !path[0])
            return false;
        finish(path);
        return true;
    }
    if (selected && path[0]) {
        char* slash = strrchr(path, '/');
        if (slash)
            *slash = 0;
        if (!path[0])
            strcpy(path, "/", USERMAIN_PATHCAPACITY - 1);
    } else if (!chooser.getfolder(path, USERMAIN_PATHCAPACITY) || !path[0]) {
        return false;
    }
    finish(path);
    return true;
}

// Time, size and name of the selected file under the lists; empty when nothing
// is selected.
void usermain::drawstatusline()
{
    char* path = text.path;
    char* status = text.statusline;
    status[0] = 0;
    if (chooser.get(path, USERMAIN_PATHCAPACITY) && path[0]) {
        fileinformation fi;
        fi.init(nullptr);
        fi.open(path);
        char const* slash = strrchr(path, '/');
        char const* name = slash ? slash + 1 : path;
        printsink sink = printsink_memory(status, USERMAIN_STATUSCAPACITY);
        printto(sink, "%D %m %s", file_mtime(fi), file_size(fi), name);
        fi.exit(true);
    }
    s32 top = statuslinetop(height);
    image& im = win.backimage;
    im.fillrect(8, top, (s32)width - 16, 25, container.look.colors[0]);
    im.print(8, top, pixel_opaque(container.look.colors[10]), status);
    container.requestredraw();
}

void usermain::checkfiledialog()
{
    // Both are collected: an accept that is ignored must not leave a click of OK
    // behind that would answer a later selection by itself.
    bool accepted = chooser.isclicked();
    accepted = button1.isclicked() || accepted;
    if (accepted && answerchooser())
        return;
    if (button2.isclicked() || chooser.isescaped() || cancel) {
        finish(nullptr);
        return;
    }
    if (chooser.ischanged())
        drawstatusline();
}

} // namespace kzv
