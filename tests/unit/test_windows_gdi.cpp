// The GDI back-end on wine's USER32 and GDI32: a captioned window's client area
// is exactly its size, its class has the program's icon, a window as wide as the
// monitor becomes a captionless pop-up at 0, 0, the back buffer's rows are padded
// to 4 bytes, and messages posted to the window come out of the pump as the window
// events (Ctrl+V and Insert as the paste code, Enter as 10, a double click as down
// and up, the wheel at the last pointer position, the right button as 169 and
// 170). A closed window is gone from the system and from the list. A long title
// cut as the application cuts it is the caption, whole characters only.
#include "../harness/harness.h"
#include "../../framework/data.h"
#include "../../framework/memprim.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../gui/app/usermain.h"
#include "../../gui/guidriver.h"
#include "../../platform/windows/gdi.h"

using namespace kzv;
using namespace kzvtest;

extern "C" {
__declspec(dllimport) s32 PostMessageW(winhandle window, u32 message, uptr wparam, sptr lparam);
__declspec(dllimport) s32 IsWindow(winhandle window);
__declspec(dllimport) s32 GetWindowTextW(winhandle window, u16* text, s32 capacity);
__declspec(dllimport) uptr GetClassLongPtrW(winhandle window, s32 index);
}
const s32 GCLP_HICON = -14;

namespace {

struct recorder : module {
    u32 count;
    u32 codes[32];
    s32 as[32], bs[32];
};

sptr recorder_concb(void* self, unsigned cmd, int a, int b, void const*)
{
    recorder* r = (recorder*)self;
    if (cmd >= ui_resized && cmd <= ui_paint && r->count < 32) {
        r->codes[r->count] = cmd;
        r->as[r->count] = a;
        r->bs[r->count] = b;
        r->count++;
    }
    return 1;
}

struct gdifixture {
    gdi* g;
    recorder rec;
    guiwindow w;

    gdifixture()
    {
        g = (gdi*)process->pool.getmem0(sizeof(gdi));
        g->init(nullptr);
        rec = {};
        rec.initheader(nullptr, "recorder", recorder_concb, type_uimessage);
        w = {};
        w.eventpin = &rec.in;
    }
    ~gdifixture()
    {
        g->exit(true);
        process->pool.freemem(g);
    }
    bool open(u32 width, u32 height, char const* title)
    {
        w.width = (u16)width;
        w.height = (u16)height;
        w.x = w.y = 10;
        w.title = title;
        return g->open(0) && gdi_concb(g, guicmd_openwindow, 0, 0, &w) == 1;
    }
};

sptr lparamof(int x, int y) { return (sptr)(((u32)(u16)y << 16) | (u16)x); }

} // namespace

TEST(captioned_window_has_exactly_its_client_area)
{
    gdifixture f;
    if (!CHECK(f.open(750, 550, "choose file")))
        return;
    CHECK_EQ(f.g->kind.gui.format, 888);
    CHECK(f.g->kind.gui.screens >= 1);
    CHECK(f.w.flags & guiwindow_shown);
    gdiwindowpart* p = gdi::part(&f.w);
    CHECK(p->style & WIN_WSCAPTION);
    winrect client = {};
    CHECK(GetClientRect(p->window, &client));
    CHECK_EQ(client.right - client.left, 750);
    CHECK_EQ(client.bottom - client.top, 550);
    CHECK_EQ(gdi_concb(f.g, guicmd_getbackbuffer, 0, 0, &f.w), 0);   // none yet
    CHECK_EQ(gdi_concb(f.g, guicmd_createbackbuffer, 0, 0, &f.w), 1);
    CHECK_EQ(gdi_concb(f.g, guicmd_getbackbuffer, 0, 0, &f.w), 1);
    CHECK_EQ(f.w.stride, 750 * 4);
    CHECK(f.w.pixels != nullptr);
    f.w.pixels[0] = 1;                                  // the buffer is ours to write
    CHECK_EQ(gdi_concb(f.g, guicmd_update, 0, 0, &f.w), 1);
    CHECK_EQ(p->shown, 1);
    winhandle window = p->window;
    CHECK_EQ(gdi_concb(f.g, guicmd_closewindow, 0, 0, &f.w), 1);
    CHECK(!IsWindow(window));
    CHECK(!f.g->haswindow(&f.w));
    CHECK_EQ(f.w.flags & guiwindow_shown, 0);
}

// Titles cut as the application cuts -title (its first 120 characters) reach the
// caption whole: no sequence is split into a stray unit, and a character beyond
// the first plane is its surrogate pair.
TEST(cut_titles_keep_whole_characters)
{
    struct { char const* name; u32 lead; char const* tail; u32 units; u16 last[2]; } const rows[] = {
        {"119 letters and e-acute", 119, "\xC3\xA9", 120, {'a', 0xE9}},
        {"120 letters and e-acute", 120, "\xC3\xA9", 120, {'a', 'a'}},
        {"118 letters, emoji, letters", 118, "\xF0\x9F\x98\x80" "bc", 121, {0xDE00, 'b'}},
        {"121 euro signs", 0, nullptr, 120, {0x20AC, 0x20AC}},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        char given[700], title[USERMAIN_TITLECAPACITY];
        memset(given, 'a', r.lead);
        given[r.lead] = 0;
        for (u32 i = 0; !r.tail && i < 121; i++)
            strcat(given, "\xE2\x82\xAC", sizeof given - 1);
        strcat(given, r.tail, sizeof given - 1);
        str_copycharacters(title, sizeof title, given, USERMAIN_TITLEMAX);
        gdifixture f;
        if (!CHECK(f.open(400, 100, title)))
            continue;
        u16 caption[600];
        s32 n = GetWindowTextW(gdi::part(&f.w)->window, caption, 600);
        CHECK_EQ(n, (s32)r.units);
        if (n >= 2) {
            CHECK_EQ(caption[n - 2], r.last[0]);
            CHECK_EQ(caption[n - 1], r.last[1]);
        }
        gdi_concb(f.g, guicmd_closewindow, 0, 0, &f.w);
    }
    setrow(nullptr);
}

// The class loads icon 2 from the program's own resources, which every Windows
// program of this build carries; a program without it gets no icon at all.
TEST(window_class_has_the_program_icon)
{
    gdifixture f;
    if (!CHECK(f.open(300, 100, "question")))
        return;
    CHECK(GetClassLongPtrW(gdi::part(&f.w)->window, GCLP_HICON) != 0);
    CHECK_EQ(gdi_concb(f.g, guicmd_closewindow, 0, 0, &f.w), 1);
}

TEST(sixteen_bit_buffers_pad_their_rows)
{
    gdifixture f;
    f.w.openflags = 565;
    if (!CHECK(f.open(301, 20, "")))
        return;
    CHECK_EQ(f.w.format, 555);
    CHECK((gdi::part(&f.w)->style & WIN_WSCAPTION) != WIN_WSCAPTION);   // no title, no caption
    CHECK_EQ(gdi_concb(f.g, guicmd_createbackbuffer, 0, 0, &f.w), 1);
    CHECK_EQ(gdi_concb(f.g, guicmd_getbackbuffer, 0, 0, &f.w), 1);
    CHECK_EQ(f.w.stride, 604);                          // 602 bytes padded to 4
}

TEST(window_as_wide_as_the_monitor_is_full_screen)
{
    gdifixture f;
    if (!CHECK(f.g->open(0)))
        return;
    u32 width = f.g->kind.gui.width;
    f.w.width = (u16)width;
    f.w.height = 100;
    f.w.x = f.w.y = 40;
    f.w.title = "wide";
    CHECK_EQ(gdi_concb(f.g, guicmd_openwindow, 0, 0, &f.w), 1);
    gdiwindowpart* p = gdi::part(&f.w);
    CHECK_EQ(p->style, WIN_WSPOPUP);
    CHECK_EQ(f.w.x, 0);
    CHECK_EQ(f.w.y, 0);
    CHECK_EQ(f.w.height, f.g->kind.gui.height);
    winrect r = {};
    CHECK(GetWindowRect(p->window, &r));
    CHECK_EQ(r.left, 0);
    CHECK_EQ((u32)(r.right - r.left), width);
}

TEST(messages_become_window_events)
{
    gdifixture f;
    if (!CHECK(f.open(200, 100, "events")))
        return;
    winhandle h = gdi::part(&f.w)->window;
    struct { u32 message; uptr wparam; sptr lparam; } const posted[] = {
        {WM_CHAR, 22, 0},                       // Ctrl+V
        {WM_KEYDOWN, 45, 0},                    // Insert
        {WM_KEYUP, 37, 0},                      // left, released
        {WM_KEYDOWN, 112, 0},                   // F1 types nothing and is no special key
        {WM_CHAR, 13, 0},
        {WM_CHAR, 'x', 0},
        {WM_MOUSEMOVE, 0, lparamof(30, 40)},
        {WM_LBUTTONDBLCLK, 0, lparamof(31, 41)},
        {WM_MOUSEWHEEL, (uptr)(u16)-120 << 16, lparamof(900, 900)},
        {WM_RBUTTONDOWN, 0, lparamof(-2, 5)},
        {WM_RBUTTONUP, 0, lparamof(3, 5)},
        {WM_CLOSE, 0, 0},
    };
    for (auto const& m : posted)
        CHECK(PostMessageW(h, m.message, m.wparam, m.lparam));
    f.rec.count = 0;
    f.g->pump();
    struct { u32 code; s32 a, b; } const expected[] = {
        {ui_keydown, (s32)guikey_paste, 0}, {ui_keydown, (s32)guikey_paste, 0}, {ui_keyup, (s32)guikey_left, 0},
        {ui_keydown, 10, 0}, {ui_keydown, 'x', 0}, {ui_mousemoved, 30, 40}, {ui_leftdown, 31, 41},
        {ui_leftup, 31, 41}, {ui_wheeldown, 30, 40}, {ui_rightdown, -2, 5}, {ui_rightup, 3, 5},
        {ui_closed, 0, 0},
    };
    u32 n = sizeof expected / sizeof expected[0];
    CHECK_EQ(f.rec.count, n);
    for (u32 i = 0; i < n && i < f.rec.count; i++) {
        CHECK_EQ(f.rec.codes[i], expected[i].code);
        CHECK_EQ(f.rec.as[i], (u64)(s64)expected[i].a);
        CHECK_EQ(f.rec.bs[i], (u64)(s64)expected[i].b);
    }
    CHECK(IsWindow(h));                                 // a close request closes nothing
}

// The procedure before any list was stored, and for a window it does not know.
TEST(unknown_windows_go_to_the_default_procedure)
{
    gdifixture f;
    if (!CHECK(f.open(100, 60, "x")))
        return;
    f.rec.count = 0;
    CHECK_EQ(gdi_windowproc(nullptr, WM_CHAR, 'a', 0), DefWindowProcW(nullptr, WM_CHAR, 'a', 0));
    f.w.eventpin = nullptr;
    gdi_windowproc(gdi::part(&f.w)->window, WM_CHAR, 'a', 0);
    CHECK_EQ(f.rec.count, 0);
    f.w.eventpin = &f.rec.in;
}

TEST(clipboard_command_with_no_room)
{
    u16 text[4] = {0xBEEF, 0xBEEF, 0xBEEF, 0xBEEF};
    CHECK_EQ(gdi_clipboardtext(text, 0), 0);
    CHECK_EQ(text[0], 0xBEEF);
    // Whatever an earlier test left on the clipboard, the copy ends inside the
    // four units it was given.
    u32 n = gdi_clipboardtext(text, 4);
    if (CHECK(n <= 3))
        CHECK_EQ(text[n], 0);
}
