// The widget container. Every walk over frames and widget tables re-reads the
// table and its capacity at each step, since a widget may add widgets while it is
// called; slots that are null and entries without a module are skipped everywhere.
#include "gui.h"
#include "../framework/resources.h"
#include "../framework/str.h"
#include "../framework/streamcodes.h"
#include "../framework/sysprocess.h"
#include "text.h"
#include "window.h"

namespace kzv {

namespace {

const u32 GUI_NAMESCRATCH = 1024;       // the pool's scratch buffer holds the font's name

const u32 defaultcolors[GUI_COLORCOUNT] = {
    0xE0E0E0, 0xBBBBBB, 0xEEEEEE, 0x808080, 0x000000, 0xA0A0A0, 0x6699C9, 0xE8E8E8,
    0x444444, 0x666666, 0x222222, 0xFFFFFF, 0xF0F0F0, 0xCC0000, 0x008800, 0xEE0000,
    0x000088, 0xBBBBBB, 0xD0D0D0, 0x888888, 0xFFFFFF, 0xDDDDFF,
};

bool isactive(guientry const* e) { return e && (e->flags & entry_inuse) && e->widget; }

bool framecontains(guiframe const* f, s64 x, s64 y)
{
    return x >= f->x && x < (s64)f->x + f->width && y >= f->y && y < (s64)f->y + f->height;
}

bool entrycontains(guiframe const* f, guientry const* e, s64 x, s64 y)
{
    s64 left = (s64)f->x + e->x, top = (s64)f->y + e->y;
    return x >= left && x < left + e->width && y >= top && y < top + e->height;
}

// Widget-relative coordinates, cut to the int range the callbacks take.
int relative(s64 v, s64 origin)
{
    s64 r = v - origin;
    return r > 0x7FFFFFFF ? 0x7FFFFFFF : r < -0x7FFFFFFF ? -0x7FFFFFFF : (int)r;
}

} // namespace

gui* gui_current()
{
    return process ? (gui*)process->slots[processslot_currentgui] : nullptr;
}

void gui::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "gui", gui_concb, type_uimessage);
    minit();
}

void gui::minit()
{
    events.init(pool);
    store.init(pool);
    overlay.init(pool);
    type = type_uimessage;
    fontsize = GUI_DEFAULTFONTSIZE;
}

void gui::exit(bool keep)
{
    module_exit(*this, keep);
}

void gui::mexit()
{
    // A window that is still there would otherwise keep calling a torn-down container.
    if (win && window_current() == win && win->out.peer == &in)
        connect(win->out, nullptr);
    events.exit(true);
    store.exit(true);
    overlay.exit(true);
    // Everything below lived in the store.
    frames = nullptr;
    framecount = 0;
    mainframe = nullptr;
    focus = nullptr;
    for (u32 i = 0; i < GUI_FONTSLOTS; i++)
        fonts[i] = nullptr;
    win = nullptr;
    target = nullptr;
    if (process && process->slots[processslot_currentgui] == this)
        process->slots[processslot_currentgui] = nullptr;
}

void gui::setcolors()
{
    for (u32 i = 0; i < GUI_COLORCOUNT; i++)
        look.colors[i] = defaultcolors[i];
}

bool gui::open()
{
    window* w = window_current();
    if (!w)
        return false;
    image* img = nullptr;
    w->call(windowcmd_getimage, 0, 0, &img);
    if (!img || !img->haspixels())
        return false;
    process->slots[processslot_currentgui] = this;
    win = w;
    connect(w->out, in);
    target = img;
    width = (u32)img->width;
    height = (u32)img->height;
    setcolors();
    look.style = 0;
    look.target = img;
    img->clear(look.colors[0]);
    if (font)
        img->setfont(font);
    // startthread sets the module's registered bit, so exit stops the entry.
    process->startthread(this, GUI_INTERVALMS);
    return makeframes();
}

bool gui::makeframes()
{
    guiframe** table = (guiframe**)store.getmem0(GUI_FRAMECOUNT * sizeof(guiframe*));
    guiframe* f = (guiframe*)store.getmem0(sizeof(guiframe));
    if (!table || !f)
        return false;
    f->img = target;
    f->flags = frame_visible;
    f->width = width;
    f->height = height;
    table[0] = f;
    frames = table;
    framecount = GUI_FRAMECOUNT;
    mainframe = f;
    focus = nullptr;
    return true;
}

// ---- widgets --------------------------------------------------------------------

guientry* gui::findentry(guiframe* f, module* widget)
{
    for (u32 i = 0; i < f->capacity; i++) {
        guientry* e = f->widgets[i];
        if (e && e->widget == widget)
            return e;
    }
    return nullptr;
}

bool gui::growtable(guiframe* f)
{
    u64 slots = (u64)f->capacity + GUI_TABLEGROWTH;
    guientry** table = (guientry**)store.getmem0((u32)(slots * sizeof(guientry*)));
    if (!table)
        return false;
    for (u32 i = 0; i < f->capacity; i++)
        table[i] = f->widgets[i];
    f->widgets = table;
    f->capacity = (u32)slots;
    return true;
}

// An entry for a new widget: one whose module is gone, else a new one in the first
// empty slot, growing the table when none is left.
guientry* gui::takeentry(guiframe* f)
{
    guientry* e = findentry(f, nullptr);
    if (e)
        return e;
    u32 slot = 0;
    while (slot < f->capacity && f->widgets[slot])
        slot++;
    if (slot == f->capacity && !growtable(f))
        return nullptr;
    e = (guientry*)store.getmem0(sizeof(guientry));
    if (e)
        f->widgets[slot] = e;
    return e;
}

bool gui::addwidget(module* widget, int x, int y, int w, int h)
{
    if (!mainframe || !widget)
        return false;
    guientry* e = findentry(mainframe, widget);
    if (!e)
        e = takeentry(mainframe);
    if (!e)
        return false;
    bool hadfocus = focus == e;     // a widget added again keeps the focus it holds
    memset0(e, sizeof(*e));
    e->x = x;
    e->y = y;
    e->width = w;
    e->height = h;
    e->widget = widget;
    e->flags = (u8)(entry_inuse | (hadfocus ? entry_focus : 0));
    requestredraw();
    return true;
}

guientry* gui::getwidgetfrompos(int x, int y, guiframe** frameout)
{
    for (u32 i = framecount; i-- > 0;) {
        guiframe* f = frames[i];
        if (!f || (f->flags & (frame_visible | frame_excluded)) != frame_visible)
            continue;
        if (!f->widgets || !framecontains(f, x, y))
            continue;
        for (u32 j = 0; j < f->capacity; j++) {
            guientry* e = f->widgets[j];
            if (isactive(e) && entrycontains(f, e, x, y)) {
                if (frameout)
                    *frameout = f;
                return e;
            }
        }
    }
    return nullptr;
}

void gui::setfocus(module* widget)
{
    focus = nullptr;
    for (u32 i = 0; i < framecount; i++) {
        guiframe* f = frames[i];
        if (!f || !(f->flags & frame_visible))
            continue;
        for (u32 j = 0; j < f->capacity; j++) {
            guientry* e = f->widgets[j];
            if (!isactive(e))
                continue;
            if (e->widget == widget) {
                focus = e;
                e->flags |= entry_focus;
            } else if (e->flags & entry_focus) {
                e->flags &= (u8)~entry_focus;
                e->widget->call(widget_focuslost, 0, 0, nullptr);
            }
        }
    }
}

// A click gives no focus: every focused widget but the one hit loses it.
void gui::defocusothers(guientry const* keep)
{
    for (u32 i = 0; i < framecount; i++) {
        guiframe* f = frames[i];
        for (u32 j = 0; f && j < f->capacity; j++) {
            guientry* e = f->widgets[j];
            if (!isactive(e) || e == keep || !(e->flags & entry_focus))
                continue;
            e->flags &= (u8)~entry_focus;
            if (focus == e)
                focus = nullptr;
            e->widget->call(widget_focuslost, 0, 0, nullptr);
        }
    }
}

void gui::leaveall(bool skipexcluded)
{
    for (u32 i = 0; i < framecount; i++) {
        guiframe* f = frames[i];
        if (!f || !(f->flags & frame_visible) || (skipexcluded && (f->flags & frame_excluded)))
            continue;
        for (u32 j = 0; j < f->capacity; j++) {
            guientry* e = f->widgets[j];
            if (isactive(e) && (e->flags & entry_hover)) {
                e->flags &= (u8)~entry_hover;
                e->widget->call(widget_pointerleft, 0, 0, nullptr);
            }
        }
    }
}

// ---- events ---------------------------------------------------------------------

void gui::buttondown(unsigned code, int x, int y)
{
    guiframe* f = nullptr;
    guientry* e = getwidgetfrompos(x, y, &f);
    if (e)
        e->widget->call(code, relative(x, (s64)f->x + e->x), relative(y, (s64)f->y + e->y), nullptr);
    defocusothers(e);
}

void gui::topointer(unsigned code, int x, int y)
{
    guiframe* f = nullptr;
    guientry* e = getwidgetfrompos(x, y, &f);
    if (e)
        e->widget->call(code, relative(x, (s64)f->x + e->x), relative(y, (s64)f->y + e->y), nullptr);
}

void gui::mousemoved(int x, int y)
{
    guiframe* f = nullptr;
    guientry* e = getwidgetfrompos(x, y, &f);
    if (!e) {
        leaveall(false);
        return;
    }
    if (!(e->flags & entry_hover)) {
        leaveall(true);
        e->flags |= entry_hover;
    }
    e->widget->call(ui_mousemoved, relative(x, (s64)f->x + e->x), relative(y, (s64)f->y + e->y), nullptr);
}

void gui::tofocus(unsigned code, int key)
{
    if (isactive(focus))
        focus->widget->call(code, key, 0, nullptr);
    else
        queue(code, key, 0);
}

sptr gui::closerequested(int a, int b)
{
    if (out.peer)
        return module_callthrough(out.peer->owner, out.peer, ui_closed, a, b, nullptr);
    queue(ui_closed, a, b);
    return 1;
}

void gui::showframe(u32 id, bool show)
{
    requestredraw();
    for (u32 i = 1; i < framecount; i++) {
        guiframe* f = frames[i];
        if (!f || f->id != id)
            continue;
        if (!show) {
            f->flags &= (u8)~frame_visible;
            return;
        }
        f->flags = (u8)((f->flags | frame_visible) & ~frame_excluded);
        for (u32 j = 0; j < f->capacity; j++)
            if (isactive(f->widgets[j]))
                f->widgets[j]->widget->call(widget_frameshown, 0, 0, nullptr);
        return;
    }
}

// Three ints an event, or none: a reader takes events three at a time, so an event
// that could only partly be stored is taken back. A queue that could not take even
// the first has nothing to take back (and may have no ring at all).
void gui::queue(unsigned code, int a, int b)
{
    uievent_queue(events, code, a, b);
}

int gui::read(data** p, unsigned max)
{
    if (p)
        *p = this;
    if (!uievent_take(events, *this))
        return 0;
    type = type_uimessage;
    return 1;
}

sptr gui::command(unsigned code, int a, int b)
{
    switch (code) {
    case guicmd_showframe: showframe((u32)a, b != 0); return 0;
    case ui_closed: return closerequested(a, b);
    case ui_leftdown:
    case ui_rightdown: buttondown(code, a, b); return 1;
    case ui_leftup:
    case ui_rightup:
    case ui_wheelup:
    case ui_wheeldown: topointer(code, a, b); return 1;
    case ui_mousemoved: mousemoved(a, b); return 1;
    case ui_keydown:
    case ui_keyup: tofocus(code, a); return 0;
    case ui_paint: requestredraw(); return 1;
    default: return 0;
    }
}

// ---- drawing --------------------------------------------------------------------

void gui::cyclic()
{
    if (!(drawflags & guidraw_requested))
        return;
    drawflags &= (u8)~guidraw_requested;
    for (u32 i = 0; i < framecount; i++) {
        guiframe* f = frames[i];
        if (!f)
            continue;
        if (f->handler)
            f->handler->call(widget_draw, 0, 0, nullptr);
        for (u32 j = 0; j < f->capacity; j++)
            if (isactive(f->widgets[j]))
                f->widgets[j]->widget->call(widget_draw, 0, 0, nullptr);
    }
    if (drawflags & guidraw_frames)
        drawframes();
    if (win && window_current() == win)
        win->call(guicmd_update, 0, 0, nullptr);
}

void gui::drawframes()
{
    if (!target)
        return;
    for (u32 i = 1; i < framecount; i++) {
        guiframe* f = frames[i];
        if (f && f->img && (f->flags & frame_visible))
            target->copy(f->img, f->x, f->y, 0, 0, 0, 0);
    }
    if (!overlay.haspixels())
        return;
    target->copy(&overlay, 0, 0, 0, 0, 0, 0);
    for (u32 i = 1; i < framecount; i++) {
        guiframe* f = frames[i];
        if (f && f->img && (f->flags & (frame_visible | frame_excluded)) == frame_visible)
            target->copy(f->img, f->x, f->y, 0, 0, 0, 0);
    }
}

// ---- fonts ----------------------------------------------------------------------

int gui::findfontslot(char const* fontname, u32 sizecode, u8 styles) const
{
    for (u32 i = 0; i < GUI_FONTSLOTS; i++) {
        guifontslot const* s = fonts[i];
        if (s && s->size == sizecode && s->flags == styles && streq(s->name, fontname))
            return (int)i;
    }
    return -1;
}

// The first empty slot, or the one after the slot used last when all are taken.
int gui::storefont(char const* fontname, u32 sizecode, u8 styles, u8 const* fontdata)
{
    u32 i = 0;
    while (i < GUI_FONTSLOTS && fonts[i])
        i++;
    if (i == GUI_FONTSLOTS)
        i = (fontslot + 1) % GUI_FONTSLOTS;
    guifontslot* s = fonts[i] ? fonts[i] : (guifontslot*)store.getmem0(sizeof(guifontslot));
    char* copy = store.setstr(fontname);
    if (!s || !copy)
        return -1;
    s->flags = styles;
    s->size = sizecode;
    s->name = copy;
    s->font = fontdata;
    fonts[i] = s;
    return (int)i;
}

void gui::usefont(int slot)
{
    guifontslot const* s = fonts[slot];
    font = s->font;
    fontsize = s->size;
    fontslot = (u32)slot;
    for (u32 i = 0; i < framecount; i++)
        if (frames[i] && frames[i]->img)
            frames[i]->img->setfont(font);
}

bool gui::setfontint(char const* fontname, u32 sizecode, bool bold, bool italic)
{
    if (!fontname)
        return false;
    u8 styles = (u8)((bold ? fontslot_bold : 0) | (italic ? fontslot_italic : 0));
    int slot = findfontslot(fontname, sizecode, styles);
    if (slot >= 0) {
        usefont(slot);
        return true;
    }
    char* name = (char*)pool->gettmp1k();
    if (!name)
        return false;
    bool fits = text_fontresourcename(name, GUI_NAMESCRATCH, fontname, sizecode, bold, italic);
    u8 const* fontdata = fits ? getresourcepointer(name) : nullptr;
    pool->freetmp1k();
    if (!fontdata)
        return false;
    slot = storefont(fontname, sizecode, styles, fontdata);
    if (slot < 0)
        return false;
    usefont(slot);
    return true;
}

bool gui::setfont(char const* fontname, u32 sizecode, bool bold, bool italic)
{
    // The bold face is recorded only when it was found.
    if (setfontint(fontname, sizecode, true, false) && font)
        boldfont = font;
    return setfontint(fontname, sizecode, bold, italic);
}

sptr gui_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    gui* g = (gui*)self;
    switch (cmd) {
    case cmd_cyclic: g->cyclic(); return 1;
    case stream_readrecord: return g->read((data**)const_cast<void*>(p), (unsigned)a);
    case stream_getrecord: {
        data* d = nullptr;
        int r = g->read(&d, (unsigned)a);
        if (p)
            *(data**)const_cast<void*>(p) = r ? g : nullptr;
        return r;
    }
    default: break;
    }
    sptr reply;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return g->command(cmd, a, b);
}

} // namespace kzv
