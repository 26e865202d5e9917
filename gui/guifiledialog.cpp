// The file chooser: opening, reading a folder into the two lists, moving through
// folders, and the mouse, wheel and key handling. Every change of the selected
// file goes through `select`, which rebuilds the selected path and sets the
// changed bit, so the highlighted row is always the answer. Coordinates of the
// commands are relative to the widget.
#include "guifiledialog.h"
#include "../framework/dir.h"
#include "../framework/filepacket.h"
#include "../framework/os.h"
#include "../framework/str.h"
#include "guidriver.h"

namespace kzv {

namespace {

bool isroot(char const* path) { return path[0] == '/' && path[1] == 0; }

bool copywhole(char* out, u32 capacity, char const* text)
{
    if (!capacity)
        return false;
    out[0] = 0;
    u32 n = strlen(text);
    if (!n || n + 1 > capacity)
        return false;
    memcpy(out, text, n + 1);
    return true;
}

} // namespace

void guifiledialog::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "guifiledialog", guifiledialog_concb, type_bytestream);
    folders.init(pool, chooser_dragleft);
    files.init(pool, chooser_dragright);
    clicktimer.reset();
}

void guifiledialog::exit(bool keep)
{
    module_exit(*this, keep);
}

void guifiledialog::mexit()
{
    folders.release();
    files.release();
    container = nullptr;
    store = nullptr;
    dialogflags = 0;
    flags &= (u8)~widget_ready;
}

u32 guifiledialog::open(int cx, int cy, int cw, int ch, char const* folder, char const* patterns, bool showhidden)
{
    gui* g = gui_current();
    if (!folder)
        folder = ".";
    bool here = streq(folder, ".");
    // A folder or patterns that do not fit are refused whole rather than cut and used.
    if (!g || (!here && strlen(folder) + 1 > GUIFILEDIALOG_PATHCAPACITY) ||
        (patterns && strlen(patterns) + 1 > GUIFILEDIALOG_FILTERCAPACITY))
        return 0;
    container = g;
    look = g->look;
    store = &g->store;
    x = cx;
    y = cy;
    width = cw;
    height = ch;
    dialogflags = (u16)((dialogflags & ~(chooser_open | chooser_showhidden)) |
                        (showhidden ? chooser_showhidden : 0) | chooser_open);
    font = g->font;
    fontsize = g->fontsize;
    leftwidth = kzv_max(0, width) / 3;
    g->addwidget(this, x, y, width, height);
    id = ++g->widgetcounter;
    strcpy(filter, patterns ? patterns : "", GUIFILEDIALOG_FILTERCAPACITY - 1);
    if (here)
        os_getwd(path);     // "/" when the working directory cannot be read
    else
        strcpy(path, folder, GUIFILEDIALOG_PATHCAPACITY - 1);
    opendirlist();
    layout();
    dialogflags &= (u16)~(chooser_dragleft | chooser_dragright);
    foldercursor = 0;
    draw();
    setfocus();
    flags |= widget_ready;
    return id;
}

// Rows and row pitch are at least 1 and the list height never below 0, so that a
// chooser too small for its font still has one row to hit and draw.
void guifiledialog::layout()
{
    iconwidth = GUIFILEDIALOG_ICONSIZE;
    pathlineheight = GUIFILEDIALOG_ICONSIZE;
    headerheight = (s32)(fontsize / 64) + GUIFILEDIALOG_ICONSIZE;
    listheight = kzv_max<s32>(0, height - headerheight);
    s64 unit = kzv_max<s64>(1, (s64)fontsize + fontsize / 5);
    rows = (u32)kzv_max<s64>(1, ((s64)listheight * 64 - 256) / unit);
    rowpitch = (u32)kzv_max<s64>(1, ((s64)listheight - 4) / rows);
}

// An empty name, and a hidden one unless hidden names are shown, is left out
// before anything is looked up about it.
bool guifiledialog::isshown(char const* name) const
{
    return name[0] && !(name[0] == '.' && !(dialogflags & chooser_showhidden));
}

void guifiledialog::addentry(char const* name, u8 kind)
{
    if (kind == filekind_directory)
        folders.append(name);
    else if (kind == filekind_file && str_patterncaseeq(filter, name))
        files.append(name);
}

// The kind comes from the listing where it tells it; links and entries it does not
// know are looked up, so a link shows as what it points to.
void guifiledialog::opendirlist()
{
    {
        dir listing;
        listing.init(pool);
        listing.open(path);
        if (listing.unreadable)
            dialogflags |= chooser_listfailed;
        else
            dialogflags &= (u16)~chooser_listfailed;
        folders.clear();
        files.clear();
        char const* name = nullptr;
        u8 kind = 0;
        while (listing.nextname(name, kind))
            if (isshown(name))
                addentry(name, kind ? kind : listing.examine());
    }
    folders.first = files.first = 0;
    select(0);
}

// Inside "/" the name follows the slash directly, so that no "//" is made
// that a system could read as a network name.
void guifiledialog::getselectedfile()
{
    selectedpath[0] = 0;
    if (selected < files.count)
        str_combine(selectedpath, GUIFILEDIALOG_SELECTEDCAPACITY, path, isroot(path) ? "" : "/", files.get(selected));
}

void guifiledialog::select(u32 index)
{
    selected = index;
    getselectedfile();
    dialogflags |= chooser_changed;
}

// The path gets '/' and the name, unless the result would not fit: then nothing
// changes and the caller does not read the folder.
bool guifiledialog::enterfolder(char const* name)
{
    u32 length = strlen(path);
    bool slash = !isroot(path);
    if ((u64)length + (slash ? 1 : 0) + strlen(name) + 1 > GUIFILEDIALOG_PATHCAPACITY)
        return false;
    char joined[GUIFILEDIALOG_PATHCAPACITY];
    if (!str_combine(joined, sizeof joined, path, slash ? "/" : "", name))
        return false;
    memcpy(path, joined, strlen(joined) + 1);
    return true;
}

void guifiledialog::goup()
{
    char* slash = strrchr(path, '/');
    if (slash)
        *slash = 0;
    if (!path[0]) {
        path[0] = '/';
        path[1] = 0;
    }
    opendirlist();
}

void guifiledialog::setfocus()
{
    if (container)
        container->setfocus(this);
}

bool guifiledialog::isclicked()
{
    bool r = (dialogflags & chooser_accepted) != 0;
    dialogflags &= (u16)~chooser_accepted;
    return r;
}

bool guifiledialog::ischanged()
{
    bool r = (dialogflags & chooser_changed) != 0;
    dialogflags &= (u16)~chooser_changed;
    return r;
}

bool guifiledialog::isescaped()
{
    bool r = (dialogflags & chooser_escape) != 0;
    dialogflags &= (u16)~chooser_escape;
    return r;
}

// A folder given as "//x" is "/x" where the system takes a run of leading slashes
// as the root, and is answered so; where "//" begins a network or device name,
// both slashes belong to the answer.
bool guifiledialog::get(char* out, u32 capacity) const
{
    char const* p = selectedpath;
    if (p[0] == '/' && p[1] == '/' && !os_isnetworkpath(p))
        p++;
    return copywhole(out, capacity, p);
}

bool guifiledialog::getfolder(char* out, u32 capacity) const
{
    return copywhole(out, capacity, path);
}

void guifiledialog::redraw()
{
    draw();
    if (container)
        container->requestredraw();
}

// ---- rows and scrolling ------------------------------------------------------------

// The visible row under y, or -1.
s32 guifiledialog::rowat(int b) const
{
    if (b < headerheight || b >= (s64)headerheight + listheight)
        return -1;
    u32 row = (u32)(b - headerheight) / rowpitch;
    return row < rows ? (s32)row : -1;
}

bool guifiledialog::infolderarea(int a, int b) const { return a < leftwidth && b > GUIFILEDIALOG_ICONSIZE; }

bool guifiledialog::infilearea(int a, int b) const
{
    return a > (s64)leftwidth + 10 && b > GUIFILEDIALOG_ICONSIZE;
}

void guifiledialog::keepselectionvisible()
{
    if (!files.count)
        return;
    if (selected < files.first)
        select(files.first);
    else if (selected >= files.first + rows)
        select(kzv_min(files.first + rows - 1, files.count - 1));
}

// ---- commands -----------------------------------------------------------------------

void guifiledialog::folderclick(int b)
{
    s32 row = rowat(b);
    if (row < 0 || !foldercursor)
        return;
    u32 index = folders.first + (u32)row;
    if (index >= folders.count || !enterfolder(folders.get(index)))
        return;
    foldercursor = 0;
    opendirlist();
    redraw();
}

void guifiledialog::fileclick(int b)
{
    s32 row = rowat(b);
    if (row < 0)
        return;
    u32 index = files.first + (u32)row;
    if (index >= files.count)
        return;
    if (index == selected) {
        if ((dialogflags & chooser_armed) && clicktimer.msec() <= GUIFILEDIALOG_DOUBLECLICKMS) {
            dialogflags = (u16)((dialogflags | chooser_accepted) & ~chooser_armed);
        } else {
            clicktimer.reset();
            dialogflags |= chooser_armed;
        }
        return;
    }
    clicktimer.reset();
    select(index);
    dialogflags = (u16)((dialogflags & ~chooser_folderkeys) | chooser_armed);
    redraw();
}

void guifiledialog::leftdown(int a, int b)
{
    if (a <= GUIFILEDIALOG_ICONSIZE && b < GUIFILEDIALOG_ICONSIZE) {
        goup();
        redraw();
        dialogflags &= (u16)~chooser_armed;
        return;
    }
    if (infolderarea(a, b)) {
        if (folders.bar.x > 0 && a >= folders.bar.x)
            checkleftsbdwn(b);
        else
            folderclick(b);
        dialogflags &= (u16)~chooser_armed;
        clicktimer.reset();
        return;
    }
    if (!infilearea(a, b))
        return;
    if (files.bar.x > 0 && a >= files.bar.x)
        checkrightsbdwn(b);
    else
        fileclick(b);
    if (dialogflags & chooser_folderkeys) {
        dialogflags &= (u16)~chooser_folderkeys;
        redraw();
    }
}

// A thumb drag moves the list so that the thumb follows the pointer; drag y then
// advances by what the thumb really moved, so the thumb keeps its grip point.
bool guifiledialog::dragthumb(chooserlist& list, int b)
{
    u32 count = list.count;
    u32& first = list.first;
    scrollbar const& bar = list.bar;
    s64 diff = (s64)b - list.dragy;
    if (diff == 0)
        return false;
    if ((diff < 0 && first == 0) || (diff > 0 && list.atend(rows)) || bar.height <= 0) {
        list.dragy = b;
        return false;
    }
    s64 f = (diff + bar.thumbtop - bar.y) * (s64)count / bar.height;
    u32 before = first;
    if (diff > 0 && f > (s64)first)
        first = (u32)kzv_min<s64>(f, (s64)count - rows);
    else if (diff < 0 && f < (s64)first)
        first = (u32)kzv_max<s64>(f, 0);
    if (first == before)
        return false;
    s32 oldtop = bar.thumbtop;
    if (&list == &files)
        keepselectionvisible();
    redraw();
    list.dragy += bar.thumbtop - oldtop;
    return true;
}

void guifiledialog::hoverfolders(int a, int b)
{
    u16 clearbits = chooser_iconhover | chooser_dragleft | chooser_dragright;
    if (!infolderarea(a, b)) {
        if (foldercursor) {
            foldercursor = 0;
            dialogflags &= (u16)~clearbits;
            redraw();
        }
        return;
    }
    s32 row = rowat(b);
    u32 cursor = row >= 0 && folders.first + (u32)row < folders.count ? folders.first + (u32)row + 1 : 0;
    if (cursor != foldercursor) {
        foldercursor = cursor;
        dialogflags &= (u16)~clearbits;
        redraw();
    }
    dialogflags &= (u16)~chooser_armed;
    clicktimer.reset();
    if (dialogflags & chooser_iconhover) {
        dialogflags &= (u16)~chooser_iconhover;
        redraw();
    }
}

void guifiledialog::mousemoved(int a, int b)
{
    if (dialogflags & folders.dragflag)
        dragthumb(folders, b);
    else if (dialogflags & files.dragflag)
        dragthumb(files, b);
    else
        hoverfolders(a, b);
    bool onicon = a <= GUIFILEDIALOG_ICONSIZE && b <= GUIFILEDIALOG_ICONSIZE;
    if (onicon != ((dialogflags & chooser_iconhover) != 0)) {
        dialogflags ^= chooser_iconhover;
        redraw();
    }
}

void guifiledialog::wheel(bool down, int a, int b)
{
    if (infolderarea(a, b)) {
        u32 count = folders.count;
        if (!down && folders.first > 0) {
            folders.first--;
            if (foldercursor > 1)
                foldercursor--;
            redraw();
        } else if (down && !folders.atend(rows)) {
            folders.first++;
            if (foldercursor && foldercursor < count)
                foldercursor++;
            redraw();
        }
        return;
    }
    if (a <= leftwidth || b <= GUIFILEDIALOG_ICONSIZE)
        return;
    if (!down && selected > 0 && selected < files.count)
        select(selected - 1);
    else if (down && selected + 1 < files.count)
        select(selected + 1);
    else
        return;
    files.scrollto(selected, rows);
    redraw();
}

// A click on a track: above the thumb pages up, below it pages down, on it starts
// a drag.
void guifiledialog::pageclick(chooserlist& list, int b)
{
    u32 count = list.count;
    u32& first = list.first;
    scrollbar const& bar = list.bar;
    foldercursor = 0;
    dialogflags &= (u16)~chooser_folderkeys;
    if (b >= bar.thumbtop && b < bar.thumbbottom) {
        dialogflags |= list.dragflag;
        list.dragy = b;
        redraw();
        return;
    }
    if (b < bar.thumbtop)
        first = first > rows ? first - rows : 0;
    else if (count > rows)
        first = kzv_min(first + rows, count - rows);
    if (&list == &files)
        keepselectionvisible();
    redraw();
}

void guifiledialog::checkleftsbdwn(int b) { pageclick(folders, b); }

void guifiledialog::checkrightsbdwn(int b) { pageclick(files, b); }

void guifiledialog::key(u32 code)
{
    bool infolders = (dialogflags & chooser_folderkeys) != 0;
    switch (code) {
    case guikey_enter:
        if (!infolders) {
            dialogflags |= chooser_accepted;
        } else if (folders.count && foldercursor && foldercursor <= folders.count &&
                   enterfolder(folders.get(foldercursor - 1))) {
            opendirlist();
            foldercursor = 1;
            redraw();
        }
        return;
    case guikey_escape: dialogflags |= chooser_escape; return;
    case guikey_left:
        if (infolders)
            return;
        dialogflags |= chooser_folderkeys;
        foldercursor = 1;
        folders.first = 0;
        break;
    case guikey_right:
        if (!infolders)
            return;
        dialogflags &= (u16)~chooser_folderkeys;
        foldercursor = 0;
        break;
    case guikey_up:
        if (infolders && foldercursor >= 2) {
            foldercursor--;
            folders.scrollto(foldercursor - 1, rows);
        } else if (!infolders && selected > 0 && selected < files.count) {
            select(selected - 1);
            files.scrollto(selected, rows);
        } else {
            return;
        }
        break;
    case guikey_down:
        if (infolders && foldercursor < folders.count) {
            foldercursor++;
            folders.scrollto(foldercursor - 1, rows);
        } else if (!infolders && selected + 1 < files.count) {
            select(selected + 1);
            files.scrollto(selected, rows);
        } else {
            return;
        }
        break;
    case guikey_backspace:
        goup();
        foldercursor = infolders ? 1 : 0;
        break;
    default: return;
    }
    redraw();
}

sptr guifiledialog::command(unsigned code, int a, int b)
{
    if (!(dialogflags & chooser_open))
        return 0;
    switch (code) {
    case widget_draw:
        if (dialogflags & chooser_drawpending)
            draw();
        return 1;
    case ui_leftdown: leftdown(a, b); return 1;
    case ui_leftup: dialogflags &= (u16)~(chooser_dragleft | chooser_dragright); return 0;
    case widget_pointerleft:
        if (dialogflags & chooser_iconhover) {
            dialogflags &= (u16)~chooser_iconhover;
            redraw();
        }
        dialogflags &= (u16)~(chooser_dragleft | chooser_dragright);
        return 0;
    case ui_mousemoved: mousemoved(a, b); return 0;
    case ui_keydown: key((u32)a); return 1;
    case ui_wheelup: wheel(false, a, b); return 0;
    case ui_wheeldown: wheel(true, a, b); return 0;
    case widget_frameshown: redraw(); return 1;
    default: return 0;
    }
}

sptr guifiledialog_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    sptr reply;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return ((guifiledialog*)self)->command(cmd, a, b);
}

} // namespace kzv
