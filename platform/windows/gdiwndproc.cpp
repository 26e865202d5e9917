// The window procedure: messages of our windows become window events, sent
// through the window's event pin. A message can come before the pump has stored
// any list (CreateWindowExW sends some at once) or for a window being destroyed;
// those, and every message not translated here, go to DefWindowProcW. Mouse
// positions are the signed low and high words of the message's position.
#include "gdi.h"
#include "../../framework/data.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"

namespace kzv {

const u32 KEY_CTRLV = 22;       // the character Ctrl+V types
const u32 KEY_RETURN = 13;      // the character Enter types (CR)

static guiwindow* findwindow(winhandle window)
{
    gdibinding* b = process ? (gdibinding*)process->slots[processslot_windowsystem] : nullptr;
    if (!b || !b->windows || !window)
        return nullptr;
    for (u32 i = 0; i < b->windowcount; i++) {
        guiwindow* w = b->windows[i];
        if (w && gdi::part(w)->window == window)
            return w;
    }
    return nullptr;
}

// Virtual keys that become key codes; 0 for the others.
static u32 specialkey(uptr vk)
{
    switch (vk) {
    case 8: return guikey_backspace;
    case 33: return guikey_pageup;
    case 34: return guikey_pagedown;
    case 35: return guikey_end;
    case 36: return guikey_home;
    case 37: return guikey_left;
    case 38: return guikey_up;
    case 39: return guikey_right;
    case 40: return guikey_down;
    case 46: return guikey_delete;
    case 45: case 22: return guikey_paste;     // Insert
    default: return 0;
    }
}

static s32 lowword(sptr v) { return (s16)(v & 0xffff); }
static s32 highword(sptr v) { return (s16)((v >> 16) & 0xffff); }

// The window's contents from the back buffer; without one only the paint cycle runs.
static void paint(winhandle window, guiwindow* w)
{
    winpaintstruct ps;
    BeginPaint(window, &ps);
    EndPaint(window, &ps);
    gdiwindowpart* p = gdi::part(w);
    if (!p->memorydc)
        return;
    winhandle dc = GetDC(window);
    BitBlt(dc, 0, 0, w->width, w->height, p->memorydc, 0, 0, WIN_SRCCOPY);
    ReleaseDC(window, dc);
}

// 1 when the message was turned into an event, 0 when the system's default
// handling should take it.
static bool translate(guiwindow* w, u32 message, uptr wparam, sptr lparam)
{
    gdiwindowpart* p = gdi::part(w);
    s32 x = lowword(lparam), y = highword(lparam);
    switch (message) {
    case WM_CLOSE: guiwindow_sendevent(w, ui_closed, 0, 0); return true;
    case WM_KEYDOWN:
    case WM_KEYUP: {
        u32 code = specialkey(wparam);
        if (!code)
            return false;
        guiwindow_sendevent(w, message == WM_KEYDOWN ? ui_keydown : ui_keyup, (int)code, 0);
        return true;
    }
    case WM_CHAR:
        if (wparam == 0)
            return false;
        guiwindow_sendevent(w, ui_keydown, wparam == KEY_RETURN ? (int)guikey_enter : wparam == KEY_CTRLV ? (int)guikey_paste
                                                                                                  : (int)wparam, 0);
        return true;
    case WM_MOUSEMOVE:
        p->lastx = x;
        p->lasty = y;
        guiwindow_sendevent(w, ui_mousemoved, x, y);
        return true;
    case WM_LBUTTONDOWN: guiwindow_sendevent(w, ui_leftdown, x, y); return true;
    case WM_LBUTTONUP: guiwindow_sendevent(w, ui_leftup, x, y); return true;
    case WM_LBUTTONDBLCLK:
        guiwindow_sendevent(w, ui_leftdown, x, y);
        guiwindow_sendevent(w, ui_leftup, x, y);
        return true;
    case WM_RBUTTONDOWN: guiwindow_sendevent(w, ui_rightdown, x, y); return true;
    case WM_RBUTTONUP: guiwindow_sendevent(w, ui_rightup, x, y); return true;
    case WM_MOUSEWHEEL:
        guiwindow_sendevent(w, (s16)((wparam >> 16) & 0xffff) < 0 ? ui_wheeldown : ui_wheelup, p->lastx, p->lasty);
        return true;
    default: return false;
    }
}

sptr gdi_windowproc(winhandle window, u32 message, uptr wparam, sptr lparam)
{
    guiwindow* w = findwindow(window);
    if (!w || !w->eventpin)
        return DefWindowProcW(window, message, wparam, lparam);
    if (message == WM_PAINT) {
        paint(window, w);
        return 0;
    }
    return translate(w, message, wparam, lparam) ? 0 : DefWindowProcW(window, message, wparam, lparam);
}

} // namespace kzv
