// Replies, errors and events of the X11 connection, and the key map. Key events
// read while the key map is asked for again wait for its reply. Event codes
// are taken with bit 7 masked, so an event another client sent (the window
// manager's WM_DELETE_WINDOW) is handled like the server's own. A window event
// may close the window (or more) inside the receiver's call, so nothing of the
// window is touched after an event has gone out unless it is still listed.
#include "x11.h"
#include "x11proto.h"
#include "../framework/os.h"
#include "../framework/printf.h"
#include "../gui/guidriver.h"

namespace kzv {

// ---- replies and errors ----

static void extensionreply(x11& x, x11pending const& e, u8 const* reply, u32 length)
{
    switch (e.parameter) {
    case x11ext_randr: case x11ext_bigrequests: case x11ext_dri2: case x11ext_dri3: case x11ext_present:
        if (length >= 12 && reply[8])
            x.opcode[e.parameter - x11ext_randr] = reply[9];
        break;
    case x11ext_screenresources:
        x11_decodescreenresources(reply, length, x.screenwidth, x.screenheight);
        break;
    case x11ext_bigreqenable: {
        u64 bytes = length >= 12 ? (u64)x11_get32(reply + 8) * 4 : 0;
        if (bytes < X11_DEFAULTMAXREQUEST)
            break;                  // no larger than the core limit: keep that
        x.bigrequests = 1;
        x.maxrequest = (u32)kzv_min(bytes, X11_MAXREQUESTCAP);
        break;
    }
    case x11ext_dri2connect: {
        char device[256];
        int fd = x11_decodedri2connect(reply, length, device, sizeof device) ? os_fopen(device, 4) : 0;
        if (fd)
            x.dri2fd = fd;
        else
            x.dri2state = x11dri2_done;
        break;
    }
    default:
        eprintf("xc %d\n", e.parameter);
        break;
    }
}

void x11::dispatchreply(u8 const* reply, u32 length)
{
    x11pending* p = findpending(x11_get16(reply + 2));
    if (!p)
        return;
    x11pending e = *p;
    p->inuse = 0;                   // freed first: a handler may send new requests
    switch (e.kind) {
    case x11pending_atom:
        if (length >= 12 && e.target)
            *(u32*)e.target = x11_get32(reply + 8);
        break;
    case x11pending_keymap:
        x11_decodekeymap(reply, length, e.parameter & 0xff, (e.parameter >> 8) & 0x1ff, keymap);
        break;
    case x11pending_extension:
        extensionreply(*this, e, reply, length);
        break;
    default:
        break;
    }
}

// An error answers its request: the entry goes and its target keeps its value.
// Every request of the set-up is one whose reply the set-up waits for, and
// without its atoms, key map or extensions no window would be what it should
// (a window without a title, say): an error then ends the run, even one for a
// request already answered, since that server's answers cannot be matched up.
void x11::dispatcherror(u8 const* e)
{
    u16 seq = x11_get16(e + 2);
    x11pending* p = findpending(seq);
    if (p)
        p->inuse = 0;
    if (connstate == x11state_setupreplies || connstate == x11state_screenreplies) {
        char reason[X11_ERRORTEXT];
        x11_describeerror(e, reason, sizeof reason);
        endrun("the X server failed a request of the connection set-up", reason);
        return;
    }
    eprintf("x11 code %x (%x): error %d on request %d.%d (sequence %d)\n", e[0], e[0] & 0x7f, e[1], e[10],
            x11_get16(e + 8), seq);
}

// ---- keys ----

const u32 X11_SHIFTEDF1 = 0x10024;      // F1 to F12 with Shift: 0x10024 to 0x1002F

static u32 shiftedkey(u32 base)
{
    switch (base) {
    case 0xff51: return guikey_left + guikey_shifted;
    case 0xff52: return guikey_up + guikey_shifted;
    case 0xff53: return guikey_right + guikey_shifted;
    case 0xff54: return guikey_down + guikey_shifted;
    default: break;
    }
    if (base >= 0xffbe && base <= 0xffc9)
        return X11_SHIFTEDF1 + (base - 0xffbe);
    return 0;
}

// Keys that give nothing of their own: Menu, the Shift, Control, Alt and Super
// keys, and no keysym at all.
static bool ismodifier(u32 sym)
{
    return sym == 0 || sym == 0xff67 || (sym >= 0xffe1 && sym <= 0xffe4) || (sym >= 0xffe9 && sym <= 0xffeb);
}

static u32 keyforsym(u32 sym)
{
    switch (sym) {
    case 0xff08: return guikey_backspace;
    case 0xff09: return 9;
    case 0xff0d: return guikey_enter;
    case 0xff1b: return guikey_escape;
    case 0xff50: return guikey_home;
    case 0xff51: return guikey_left;
    case 0xff52: return guikey_up;
    case 0xff53: return guikey_right;
    case 0xff54: return guikey_down;
    case 0xff55: return guikey_pageup;
    case 0xff56: return guikey_pagedown;
    case 0xff57: return guikey_end;
    case 0xffff: return guikey_delete;
    default: break;
    }
    if (sym >= 0xffbe && sym <= 0xffc9)
        return guikey_f1 + (sym - 0xffbe);
    return sym;                     // anything else passes as its keysym
}

u32 x11_keycode(u16 const (*map)[256], u32 keycode, u32 state)
{
    if (keycode > 255)
        return 0;
    bool shift = (state & xstate_shift) != 0;
    u32 sym = map[shift ? 1 : 0][keycode];
    u32 code = ismodifier(sym) ? (shift ? shiftedkey(map[0][keycode]) : 0) : keyforsym(sym);
    // Control with a letter is its control code, as a terminal sends it; Control+M
    // is CR, which every back-end reads as Enter.
    if (state & xstate_control) {
        if (code == 'm')
            return guikey_enter;
        return code >= 'a' && code <= 'z' ? code - 'a' + 1 : 0;
    }
    return code;
}

// ---- keyboard map changes ----

// Events and replies come in the order the server makes them. A keyboard change
// reported while the map's reply is still to come was made before that reply,
// which therefore holds it; otherwise the whole map is asked for again, as at
// set-up. Modifier and pointer changes need nothing: the server applies them to
// the state and button numbers it sends.
void x11::mappingchanged(u8 request)
{
    if (request == xmapping_keyboard && !keymappending())
        getkeymap();
}

// A full store lets the oldest keys go under the map as it stands, in order.
void x11::holdkey(u8 const* e)
{
    if (heldcount == X11_HELDKEYS)
        releaseheldkeys();
    memcpy(heldkeys[heldcount++], e, X11_EVENTBYTES);
}

// Taken out of the store first: a receiver may close windows, or more.
void x11::releaseheldkeys()
{
    u8 keys[X11_HELDKEYS][X11_EVENTBYTES];
    u32 count = heldcount;
    memcpy(keys, heldkeys, count * X11_EVENTBYTES);
    heldcount = 0;
    for (u32 i = 0; i < count && connstate != x11state_ended; i++) {
        x11event e;
        if (x11_decodeevent(keys[i], e))
            sendkey(e);
    }
}

// ---- events ----

static unsigned buttoncode(u32 button, bool press)
{
    switch (button) {
    case 1: return press ? ui_leftdown : ui_leftup;
    case 2: return press ? ui_middledown : ui_middleup;
    case 3: return press ? ui_rightdown : ui_rightup;
    case 4: return press ? ui_wheelup : 0;
    case 5: return press ? ui_wheeldown : 0;
    default: return 0;
    }
}

static void configure(x11& x, guiwindow* w, x11event const& e)
{
    if (e.width != w->width || e.height != w->height) {
        w->width = (u16)kzv_min(e.width, X11_MAXSIDE);
        w->height = (u16)kzv_min(e.height, X11_MAXSIDE);
        guiwindow_sendevent(w, ui_resized, w->width, w->height);
        if (!x.haswindow(w))
            return;
    }
    if (e.x != w->x || e.y != w->y) {
        w->x = e.x;
        w->y = e.y;
        guiwindow_sendevent(w, ui_moved, e.x, e.y);
    }
}

// Another client destroyed the window: the dialog is told as by its close box,
// and nothing more is drawn into it or sent for it.
static void destroyed(guiwindow* w)
{
    x11windowpart* p = x11::part(w);
    p->destroyed = 1;
    p->mapped = 0;
    w->flags &= (u8)~guiwindow_shown;
    guiwindow_sendevent(w, ui_closed, 0, 0);
}

void x11::sendkey(x11event const& e)
{
    guiwindow* w = findwindow(e.window);
    u32 k = w && w->eventpin ? x11_keycode(keymap, e.detail, e.state) : 0;
    if (k)
        guiwindow_sendevent(w, e.code == xev_keypress ? ui_keydown : ui_keyup, (int)k, 0);
}

bool x11::dispatchevent(u8 const* raw)
{
    x11event e;
    if (!x11_decodeevent(raw, e)) {
        eprintf("x11 code %x (%x)\n", raw[0], raw[0] & 0x7f);
        return false;
    }
    if (e.code == xev_mappingnotify) {
        mappingchanged(e.request);
        return true;
    }
    if (e.code == xev_keypress || e.code == xev_keyrelease) {
        if (heldcount || keymappending())
            holdkey(raw);
        else
            sendkey(e);
        return true;
    }
    guiwindow* w = findwindow(e.window);
    if (!w || !w->eventpin)
        return true;
    switch (e.code) {
    case xev_buttonpress:
    case xev_buttonrelease: {
        unsigned code = buttoncode(e.detail, e.code == xev_buttonpress);
        if (code)
            guiwindow_sendevent(w, code, e.x, e.y);
        break;
    }
    case xev_motionnotify:
        guiwindow_sendevent(w, ui_mousemoved, e.x, e.y);
        break;
    case xev_expose:
        part(w)->exposed = 1;
        if (part(w)->hasbackbuffer)
            update(w, 0, 0, true);
        break;
    case xev_mapnotify:
        w->flags |= guiwindow_shown;
        part(w)->mapped = 1;
        part(w)->mappedat = os_getms32();
        break;
    case xev_configurenotify:
        configure(*this, w, e);
        break;
    case xev_destroynotify:
        // Only the server's own: a sent one would not make the window go.
        if (!e.sent)
            destroyed(w);
        break;
    case xev_clientmessage:
        if (e.detail == 32 && atoms[x11atom_wmprotocols] && atoms[x11atom_wmdeletewindow] &&
            e.type == atoms[x11atom_wmprotocols] && e.value0 == atoms[x11atom_wmdeletewindow])
            guiwindow_sendevent(w, ui_closed, 0, 0);
        break;
    default:
        break;                      // no exposure, visibility and the structure events we do not use
    }
    return true;
}

} // namespace kzv
