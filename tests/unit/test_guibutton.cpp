// The push button in a container, driven with synthetic window events: its three
// looks and when each is shown, press/release and the click it leaves, the label
// placement (also for a label wider than the button), conversion into a 565
// window, the bevelled style and a change of the look.
#include "test_guiwidgets.h"
#include "../../gui/guibutton.h"

using namespace kzv;
using namespace kzvtest;

namespace {

const int BX = 50, BY = 100, BW = 250, BH = 28;
const int PROBEX = BX + 5, PROBEY = BY + 14;     // inside the face, left of the label

struct onebutton {
    widgetscreen s;
    guibutton* button;
    u32 id;

    explicit onebutton(char const* label = "OK", int w = BW, u32 format = 888)
        : s(400, 300, format)
    {
        button = (guibutton*)process->pool.getmem(sizeof(guibutton));
        button->init(nullptr);
        id = button->open(label, BX, BY, w, BH);
    }
    ~onebutton()
    {
        button->exit(true);
        process->pool.freemem(button);
    }
    u32 probe() { return s.pixel(PROBEX, PROBEY); }
};

// The ink of the label: pixels inside the face that are not the face's colour.
bool labelink(onebutton& b, u32 face, inkbox& box)
{
    return findink(b.s.screen(), BX + 6, BY + 2, BW - 12, BH - 4, face, box);   // clear of the corners
}

} // namespace

TEST(button_needs_a_container)
{
    guibutton* b = (guibutton*)process->pool.getmem(sizeof(guibutton));
    b->init(nullptr);
    CHECK_EQ(b->open("OK", 0, 0, 100, 28), 0);
    CHECK_EQ(b->type, type_bytestream);
    CHECK(streq(b->name, "guibutton"));
    CHECK_EQ(b->call('F', 0, 0, nullptr), -1);
    CHECK_EQ(b->call(ui_leftdown, 1, 1, nullptr), 0);
    CHECK(!b->isclicked());
    b->exit(true);
    process->pool.freemem(b);
}

TEST(button_opens_as_a_widget)
{
    onebutton b;
    CHECK(b.s.opened);
    CHECK_EQ(b.id, 1);
    CHECK_EQ(b.s.g->widgetcounter, 1);
    CHECK(b.button->flags & widget_ready);
    guientry* e = b.s.g->mainframe->widgets[0];
    CHECK(e && e->widget == b.button);
    CHECK_EQ(e->x, BX);
    CHECK_EQ(e->width, BW);
    CHECK(b.button->font == b.s.g->font);
    CHECK_EQ(b.button->fontsize, 960);
    guibutton* second = (guibutton*)process->pool.getmem(sizeof(guibutton));
    second->init(nullptr);
    CHECK_EQ(second->open("Cancel", 10, 10, 100, 28), 2);
    second->exit(true);
    process->pool.freemem(second);
    // Border in slot 9, face in slot 7, the background around it untouched.
    CHECK_EQ(b.s.pixel(BX + BW / 2, BY), 0x666666);
    CHECK_EQ(b.s.pixel(BX + BW / 2, BY + BH - 1), 0x666666);
    CHECK_EQ(b.probe(), 0xE8E8E8);
    CHECK_EQ(b.s.pixel(BX - 1, PROBEY), 0xE0E0E0);
    CHECK_EQ(b.s.pixel(BX + BW, PROBEY), 0xE0E0E0);
}

TEST(button_looks_follow_the_pointer_and_the_press)
{
    onebutton b;
    static const struct { char const* name; u32 code; int x, y; u32 face; bool click; } steps[] = {
        {"pointer over it", ui_mousemoved, PROBEX, PROBEY, 0xFFFFFF, false},
        {"pressed", ui_leftdown, PROBEX, PROBEY, 0xBABABA, false},
        {"moved while pressed", ui_mousemoved, PROBEX + 1, PROBEY, 0xBABABA, false},
        {"released over it", ui_leftup, PROBEX, PROBEY, 0xFFFFFF, true},
        {"pointer left", ui_mousemoved, 5, 5, 0xE8E8E8, false},
        {"pointer back", ui_mousemoved, PROBEX, PROBEY, 0xFFFFFF, false},
        {"pressed again", ui_leftdown, PROBEX, PROBEY, 0xBABABA, false},
        {"dragged off", ui_mousemoved, 5, 5, 0xE8E8E8, false},
        {"released elsewhere", ui_leftup, 5, 5, 0xE8E8E8, false},
        {"a press and release", ui_leftdown, PROBEX, PROBEY, 0xBABABA, false},
        {"give one click", ui_leftup, PROBEX, PROBEY, 0xFFFFFF, true},
    };
    for (auto const& st : steps) {
        setrow(st.name);
        b.s.g->drawflags = 0;
        u32 hadflags = b.button->buttonflags;
        b.s.event(st.code, st.x, st.y);
        CHECK_EQ(b.probe(), st.face);
        CHECK_EQ(b.button->isclicked(), st.click);
        CHECK(!b.button->isclicked());      // collected once
        if (b.button->buttonflags != (hadflags & ~button_clicked))
            CHECK(b.s.g->drawflags & guidraw_requested);
    }
}

TEST(button_click_is_collected_once_and_keys_are_ignored)
{
    onebutton b;
    b.s.click(PROBEX, PROBEY);
    b.s.click(PROBEX, PROBEY);      // a second click before collection is the same click
    CHECK(b.button->isclicked());
    CHECK(!b.button->isclicked());
    // Given the focus, the button still does nothing with keys.
    b.s.g->setfocus(b.button);
    CHECK_EQ(b.s.key(10), 0);
    CHECK_EQ(b.s.key(' '), 0);
    CHECK_EQ(b.button->command(ui_keyup, 10, 0), 0);
    CHECK_EQ(b.button->command(widget_focuslost, 0, 0), 0);
    CHECK_EQ(b.button->command(ui_wheelup, 1, 1), 0);
    CHECK(!b.button->isclicked());
    // A release without a press gives nothing.
    b.s.event(ui_leftup, PROBEX, PROBEY);
    CHECK(!b.button->isclicked());
}

TEST(button_label_is_centred_and_shifts_when_pressed)
{
    onebutton b("Cancel");
    inkbox normal, pressed;
    CHECK(labelink(b, 0xE8E8E8, normal));
    int centre = (normal.left + normal.right) / 2;
    CHECK(centre >= BX + BW / 2 - 3 && centre <= BX + BW / 2 + 3);
    int middle = (normal.top + normal.bottom) / 2;
    CHECK(middle >= BY + BH / 2 - 4 && middle <= BY + BH / 2 + 4);
    b.s.event(ui_leftdown, PROBEX, PROBEY);
    CHECK(labelink(b, 0xBABABA, pressed));
    CHECK_EQ(pressed.left, normal.left + 1);
    CHECK_EQ(pressed.top, normal.top + 1);
    CHECK_EQ(pressed.right, normal.right + 1);
}

TEST(button_label_wider_than_the_button_starts_at_its_left_edge)
{
    CHECK_EQ(button_centred(250, 20), 115);
    CHECK_EQ(button_centred(40, 90), 0);
    CHECK_EQ(button_centred(40, 41), 0);
    CHECK_EQ(button_centred(41, 40), 0);
    CHECK_EQ(button_centred(-5, 10), 0);
    onebutton b("WWWWWWWWWWWW", 40);
    inkbox box;
    // Ink in the first glyph cell of the button, as a left-aligned label has it.
    CHECK(findink(b.s.screen(), BX + 2, BY + 2, 9, BH - 4, 0xE8E8E8, box));
}

TEST(button_in_a_565_window)
{
    image expect;
    CHECK(expect.open(3, 1, 565));
    expect.setpixel(0, 0, 0xE8E8E8);
    expect.setpixel(1, 0, 0x666666);
    expect.setpixel(2, 0, 0xBABABA);
    onebutton b("OK", BW, 565);
    CHECK_EQ(b.s.win->format, 565);
    CHECK_EQ(b.probe(), expect.getpixel_truecolor(0, 0) & 0xFFFFFF);
    CHECK_EQ(b.s.pixel(BX + BW / 2, BY), expect.getpixel_truecolor(1, 0) & 0xFFFFFF);
    b.s.event(ui_leftdown, PROBEX, PROBEY);
    CHECK_EQ(b.probe(), expect.getpixel_truecolor(2, 0) & 0xFFFFFF);
}

TEST(button_bevelled_style)
{
    widgetscreen s;
    s.g->look.style = 1;
    guibutton* b = (guibutton*)process->pool.getmem(sizeof(guibutton));
    b->init(nullptr);
    CHECK_EQ(b->open("Yes", BX, BY, 100, BH), 1);
    int tw = s.screen().textlen("Yes");
    CHECK_EQ(b->faces[0].width, tw + 20);
    CHECK_EQ(b->faces[0].height, BH - 8);
    CHECK_EQ(b->faces[0].format, 8888);
    CHECK_EQ(s.pixel(BX + 50, BY), 0xEEEEEE);                // top edge, slot 2
    CHECK_EQ(s.pixel(BX + 50, BY + BH - 1), 0x000000);       // bottom edge, slot 4
    CHECK_EQ(s.pixel(BX + 50, BY + BH - 2), 0x808080);       // inner bottom line, slot 3
    CHECK_EQ(s.pixel(BX + 3, BY + 5), 0xE8E8E8);             // face, slot 7
    inkbox up, down;
    CHECK(findink(s.screen(), BX + 3, BY + 3, 94, BH - 6, 0xE8E8E8, up));
    s.event(ui_leftdown, BX + 3, BY + 5);
    CHECK_EQ(s.pixel(BX + 50, BY), 0x808080);                // pressed: top edge slot 3
    CHECK_EQ(s.pixel(BX + 50, BY + 1), 0x000000);            // inner top line slot 4
    CHECK_EQ(s.pixel(BX + 50, BY + BH - 1), 0xEEEEEE);
    CHECK(findink(s.screen(), BX + 3, BY + 3, 94, BH - 6, 0xE8E8E8, down));
    CHECK_EQ(down.left, up.left + 2);
    CHECK_EQ(down.top, up.top + 2);
    b->exit(true);
    process->pool.freemem(b);
}

TEST(button_look_changed)
{
    onebutton b;
    b.s.g->look.colors[7] = 0x326496;
    CHECK_EQ(b.button->command(widget_lookchanged, 0, 0), 1);
    CHECK_EQ(b.probe(), 0x326496);
    b.s.event(ui_mousemoved, PROBEX, PROBEY);
    CHECK_EQ(b.probe(), 0x3C78B4);     // each channel + 1/5
    b.s.event(ui_leftdown, PROBEX, PROBEY);
    CHECK_EQ(b.probe(), 0x285078);     // each channel - 1/5
    // Drawn again on request, and cleared to the background once closed.
    b.s.screen().fillrect(BX, BY, BW, BH, 0x010203);
    CHECK_EQ(b.button->call(widget_draw, 0, 0, nullptr), 1);
    CHECK_EQ(b.probe(), 0x285078);
    b.button->buttonflags &= (u8)~button_open;
    b.button->draw();
    CHECK_EQ(b.probe(), 0xE0E0E0);
    CHECK_EQ(b.button->command(widget_draw, 0, 0), 0);
}
