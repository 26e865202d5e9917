// The file chooser under the mouse: a long folder with both scrollbars (paging,
// thumb drags, the wheel), the selection kept on the visible rows and the answer
// rebuilt with it, double clicks, folder clicks under the cursor, the icon's
// hover and tooltip, what is drawn where, and text shortened to its space.
#include "test_guifiledialog.h"

using namespace kzv;
using namespace kzvtest;

namespace {

dirfixture fx;
bulkfolder bulk;

const u32 BULKFILES = 1100;     // past the table's 1024-slot step
const u32 BULKFOLDERS = 30;

bool makebulk()
{
    return fx.make("chooserbulk") && bulk.make(fx, "bulk", BULKFILES, BULKFOLDERS);
}

void cleanbulk()
{
    bulk.clean();
    fx.clean();
}

// Window coordinates of a point in the right or left scrollbar track.
int rightbarx(chooserscreen& c) { return CX + c.fd->files.bar.x + 5; }
int leftbarx(chooserscreen& c) { return CX + c.fd->folders.bar.x + 5; }
int widgety(int rel) { return CY + rel; }

// The answer names file `index` of the bulk folder.
bool selects(chooserscreen& c, u32 index)
{
    char expect[FIXTURE_PATHCAPACITY];
    numberedname(expect, bulk.root, "f", index, ".txt");
    return c.fd->selected == index && streq(c.selected(), expect);
}

// The chooser open on the bulk folder with the filter "*.txt"; the folder goes
// with it.
struct bulkscreen : chooserscreen {
    u32 id;

    explicit bulkscreen(u32 format = 888) : chooserscreen(format)
    {
        id = makebulk() ? open(bulk.root, "*.txt") : 0;
    }
    ~bulkscreen() { cleanbulk(); }
};

} // namespace

TEST(chooser_long_folder_scrollbars)
{
    bulkscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    CHECK_EQ(fd->files.count, BULKFILES);
    CHECK_EQ(fd->files.capacity, 2048);
    CHECK_EQ(fd->folders.count, BULKFOLDERS);
    CHECK_EQ(fd->files.bar.x, CW - 15);
    CHECK_EQ(fd->folders.bar.x, 243 - 15);
    CHECK_EQ(fd->files.bar.y, 47);
    CHECK_EQ(fd->files.bar.height, 421);
    CHECK_EQ(fd->files.bar.thumbtop, 47);
    CHECK_EQ(fd->files.bar.thumbbottom - fd->files.bar.thumbtop, 20);     // never shorter
    CHECK_EQ(fd->folders.bar.thumbbottom - fd->folders.bar.thumbtop, 421 * 23 / 30);
    // Track and thumb colours.
    CHECK_EQ(c.s.pixel(CX + CW - 10, widgety(300)), 0xE5E5E5);
    CHECK_EQ(c.s.pixel(CX + CW - 9, widgety(57)), 0xC6C7C8);

    // Keys scroll the list with the selection.
    for (u32 i = 0; i < 30; i++)
        c.s.key(guikey_down);
    CHECK(selects(c, 30));
    CHECK_EQ(fd->files.first, 8);
    CHECK(fd->ischanged());

    // Page down below the thumb: the list moves a page and the selection with it.
    c.s.click(rightbarx(c), widgety(300));
    CHECK_EQ(fd->files.first, 31);
    CHECK(fd->ischanged());
    CHECK(selects(c, 31));
    // Page up above the thumb: the selection stays on the last visible row.
    c.s.click(rightbarx(c), widgety(48));
    CHECK_EQ(fd->files.first, 8);
    CHECK(selects(c, 30));
    CHECK(fd->ischanged());
    // Paging stops at the ends. Near the end the thumb sits at the bottom of the
    // track before the list does, so the last pages are asked for directly.
    for (u32 i = 0; i < 60; i++)
        fd->checkrightsbdwn(10000);
    CHECK_EQ(fd->files.first, BULKFILES - 23);
    CHECK(selects(c, BULKFILES - 23));
    for (u32 i = 0; i < 60; i++)
        c.s.click(rightbarx(c), widgety(48));
    CHECK_EQ(fd->files.first, 0);
    CHECK(selects(c, 22));
}

TEST(chooser_thumb_drags)
{
    bulkscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    for (u32 i = 0; i < 30; i++)
        c.s.key(guikey_down);
    CHECK_EQ(fd->files.first, 8);
    CHECK(fd->ischanged());
    s32 grip = fd->files.bar.thumbtop + 5;
    c.s.event(ui_leftdown, rightbarx(c), widgety(grip));
    CHECK(fd->dialogflags & chooser_dragright);
    CHECK(!fd->ischanged());                // starting a drag moves nothing
    c.s.event(ui_mousemoved, rightbarx(c), widgety(grip + 100));
    // first = (100 + thumb top - track y) x count / track height, the selection
    // pulled into view, and the grip kept where the thumb went.
    s64 expectfirst = (s64)(100 + 50 - 47) * BULKFILES / 421;
    CHECK_EQ(fd->files.first, expectfirst);
    CHECK(selects(c, (u32)expectfirst));
    CHECK(fd->ischanged());
    CHECK_EQ(fd->files.dragy, grip + (fd->files.bar.thumbtop - 50));
    // To the top of the widget: the list starts at 0 and the selection is the
    // last visible row.
    c.s.event(ui_mousemoved, rightbarx(c), widgety(0));
    CHECK_EQ(fd->files.first, 0);
    CHECK(selects(c, 22));
    CHECK(fd->files.dragy > 0);
    c.s.event(ui_mousemoved, rightbarx(c), widgety(0));     // further up at the start: only the grip moves
    CHECK_EQ(fd->files.first, 0);
    CHECK_EQ(fd->files.dragy, 0);
    // To its bottom: the last page.
    c.s.event(ui_mousemoved, rightbarx(c), widgety(CH - 1));
    CHECK_EQ(fd->files.first, BULKFILES - 23);
    CHECK(selects(c, BULKFILES - 23));
    c.s.event(ui_leftup, rightbarx(c), widgety(CH - 1));
    CHECK_EQ(fd->dialogflags & chooser_dragright, 0);
    c.s.event(ui_mousemoved, rightbarx(c), widgety(100));
    CHECK_EQ(fd->files.first, BULKFILES - 23);

    // The folder list's thumb.
    grip = fd->folders.bar.thumbtop + 10;
    c.s.event(ui_leftdown, leftbarx(c), widgety(grip));
    CHECK(fd->dialogflags & chooser_dragleft);
    c.s.event(ui_mousemoved, leftbarx(c), widgety(grip + 200));
    CHECK_EQ(fd->folders.first, BULKFOLDERS - 23);
    c.s.event(ui_mousemoved, leftbarx(c), widgety(0));
    CHECK_EQ(fd->folders.first, 0);
    // Leaving the widget ends a drag too.
    c.s.event(ui_mousemoved, leftbarx(c), widgety(200));
    CHECK_EQ(fd->folders.first, 7);
    c.s.event(ui_mousemoved, leftbarx(c), widgety(-20));
    CHECK_EQ(fd->dialogflags & chooser_dragleft, 0);
    c.s.event(ui_mousemoved, leftbarx(c), widgety(10));
    CHECK_EQ(fd->folders.first, 7);
}

TEST(chooser_wheel)
{
    bulkscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    c.s.event(ui_wheelup, c.filex(), c.rowy(3));      // already the first file
    CHECK(selects(c, 0));
    CHECK(fd->ischanged());                           // from the open
    c.s.event(ui_wheelup, c.filex(), c.rowy(3));
    CHECK(!fd->ischanged());
    for (u32 i = 0; i < 25; i++)
        c.s.event(ui_wheeldown, c.filex(), c.rowy(3));
    CHECK(selects(c, 25));
    CHECK_EQ(fd->files.first, 3);
    CHECK(fd->ischanged());
    // Over the folder list the list scrolls, and a cursor moves with it.
    c.s.event(ui_mousemoved, c.folderx(), c.rowy(2));
    CHECK_EQ(fd->foldercursor, 3);
    c.s.event(ui_wheeldown, c.folderx(), c.rowy(2));
    CHECK_EQ(fd->folders.first, 1);
    CHECK_EQ(fd->foldercursor, 4);
    for (u32 i = 0; i < 20; i++)
        c.s.event(ui_wheeldown, c.folderx(), c.rowy(2));
    CHECK_EQ(fd->folders.first, BULKFOLDERS - 23);
    for (u32 i = 0; i < 20; i++)
        c.s.event(ui_wheelup, c.folderx(), c.rowy(2));
    CHECK_EQ(fd->folders.first, 0);
    CHECK(selects(c, 25));
}

TEST(chooser_double_click)
{
    bulkscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    u32 start = process->msnow;
    static const struct { char const* name; u32 row; u32 waitms; bool accepted; } clicks[] = {
        {"select a file", 1, 0, false},
        {"the second click accepts it", 1, 0, true},
        {"select another", 2, 0, false},
        {"too late for a double click", 2, 300, false},
        {"quick enough after that", 2, 299, true},
        {"select one", 3, 0, false},
        {"another in between re-arms", 4, 0, false},
        {"and the same again accepts", 4, 0, true},
        {"after an accept the next click arms", 4, 0, false},
    };
    for (auto const& k : clicks) {
        setrow(k.name);
        process->msnow += k.waitms;
        c.s.click(c.filex(), c.rowy(k.row));
        CHECK_EQ(fd->selected, k.row);
        CHECK_EQ(fd->isclicked(), k.accepted);
    }
    // Pointing into the folder list between the clicks disarms.
    setrow("");
    c.s.click(c.filex(), c.rowy(6));
    c.s.event(ui_mousemoved, c.folderx(), c.rowy(1));
    c.s.click(c.filex(), c.rowy(6));
    CHECK(!fd->isclicked());
    // A click below the last row or in the gap between the lists selects nothing.
    c.s.click(CX + 248, c.rowy(2));
    c.s.click(c.filex(), widgety(44));
    CHECK_EQ(fd->selected, 6);
    process->msnow = start;
}

TEST(chooser_folder_clicks_need_the_cursor)
{
    bulkscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    c.s.click(c.folderx(), c.rowy(1));          // no cursor yet: nothing
    CHECK_STR(fd->path, bulk.root);
    c.s.event(ui_mousemoved, c.folderx(), c.rowy(1));
    CHECK_EQ(fd->foldercursor, 2);
    c.s.event(ui_mousemoved, c.filex(), c.rowy(1));     // leaving the folder list clears it
    CHECK_EQ(fd->foldercursor, 0);
    c.clickfolder(1);
    char expect[FIXTURE_PATHCAPACITY];
    CHECK_STR(fd->path, numberedname(expect, bulk.root, "d", 1, ""));
    CHECK_EQ(fd->foldercursor, 0);
    CHECK_EQ(fd->files.count, 0);
    CHECK_EQ(fd->files.bar.x, 0);
    CHECK_EQ(fd->folders.bar.x, 0);
    c.s.click(CX + 5, CY + 5);                  // up again
    CHECK_STR(fd->path, bulk.root);
    // A row past the last folder has no cursor.
    CHECK_EQ(c.open(fx.root, "*"), 2);
    c.s.event(ui_mousemoved, c.folderx(), c.rowy(5));
    CHECK_EQ(fd->foldercursor, 0);
    c.s.click(c.folderx(), c.rowy(5));
    CHECK_STR(fd->path, fx.root);
}

TEST(chooser_drawing)
{
    bulkscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    int listy = widgety(45 + 200);
    CHECK_EQ(c.s.pixel(CX, listy), 0x888888);                   // folder list frame
    CHECK_EQ(c.s.pixel(CX + 1, listy), 0xE0E0E0);
    CHECK_EQ(c.s.pixel(CX + 253, listy), 0x888888);             // file list frame
    CHECK_EQ(c.s.pixel(CX + CW - 1, listy), 0x888888);
    CHECK_EQ(c.s.pixel(CX + CW - 14 - 4, c.rowy(0)), 0x000088); // selected row, beside the scrollbar
    CHECK_EQ(c.s.pixel(CX + CW - 14 - 4, c.rowy(1)), 0xE0E0E0);
    inkbox icon;
    CHECK(findink(c.s.screen(), CX, CY, 32, 30, 0xE0E0E0, icon));
    inkbox pathline;
    CHECK(findink(c.s.screen(), CX + 40, CY, CW - 40, 30, 0xE0E0E0, pathline));
    // The folder cursor bar and the keyboard's frame of the folder list.
    c.s.event(ui_mousemoved, c.folderx(), c.rowy(1));
    CHECK_EQ(c.s.pixel(CX + 243 - 8 - 13 + 4 - 1, c.rowy(1)), 0xD0D0D0);
    c.s.key(guikey_left);
    CHECK_EQ(c.s.pixel(CX, listy), 0x6699C9);
    CHECK_EQ(c.s.pixel(CX + 1, listy), 0x6699C9);
    CHECK_EQ(c.s.pixel(CX + 243 - 8 - 13 + 4 - 1, c.rowy(0)), 0xD0D0D0);
    // A click in the file list takes the keyboard back.
    c.s.click(c.filex(), c.rowy(0));
    CHECK_EQ(c.s.pixel(CX, listy), 0x888888);
    // The icon's hover frame and tooltip come and go with the pointer.
    c.s.g->drawflags = 0;
    u32 framepixels = countcolour(c.s.screen(), CX, CY, 32, 28, 0x6699C9);
    c.s.event(ui_mousemoved, CX + 10, CY + 10);
    CHECK(fd->dialogflags & chooser_iconhover);
    CHECK(c.s.g->drawflags & guidraw_requested);
    CHECK_EQ(c.s.pixel(CX + 40, CY + 42), 0xFFFF00);
    CHECK_EQ(c.s.pixel(CX + 42, CY + 42), 0x000000);
    CHECK(countcolour(c.s.screen(), CX, CY, 32, 28, 0x6699C9) >= framepixels + 10);
    inkbox tip;
    CHECK(findink(c.s.screen(), CX + 2, CY + 30, 39, 12, 0xFFFF00, tip));    // "dir up"
    c.s.event(ui_mousemoved, c.filex(), c.rowy(3));
    CHECK_EQ(fd->dialogflags & chooser_iconhover, 0);
    CHECK_EQ(c.s.pixel(CX + 40, CY + 42), 0xE0E0E0);
    c.s.event(ui_mousemoved, CX + 10, CY + 10);
    CHECK_EQ(fd->command(widget_pointerleft, 0, 0), 0);
    CHECK_EQ(c.s.pixel(CX + 40, CY + 42), 0xE0E0E0);
    // The redraw step pushes the picture out.
    u32 updates = c.s.backend.calls149;
    c.s.g->cyclic();
    CHECK_EQ(c.s.backend.calls149, updates + 1);
}

TEST(chooser_drawing_in_a_565_window)
{
    bulkscreen c(565);
    CHECK_EQ(c.id, 1);
    image expect;
    CHECK(expect.open(2, 1, 565));
    expect.setpixel(0, 0, 0x000088);
    expect.setpixel(1, 0, 0x888888);
    CHECK_EQ(c.s.pixel(CX + CW - 18, c.rowy(0)), expect.getpixel_truecolor(0, 0) & 0xFFFFFF);
    CHECK_EQ(c.s.pixel(CX, widgety(245)), expect.getpixel_truecolor(1, 0) & 0xFFFFFF);
}

TEST(chooser_text_shortened_to_its_space)
{
    chooserscreen c;
    CHECK_EQ(c.open("/"), 1);
    guifiledialog* fd = c.fd;
    image& img = c.s.screen();
    char text[300];
    for (u32 i = 0; i < 255; i++)
        text[i] = (char)('a' + i % 26);
    text[255] = 0;
    static const struct { char const* name; int space; } rows[] = {
        {"a wide space", 400}, {"a narrow space", 100}, {"very narrow", 50},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        img.fillrect(0, 300, 750, 30, 0xFFFFFF);
        fd->printtext(100 - CX, 300 - CY, 0xFF000000, text, r.space);
        inkbox box;
        CHECK(findink(img, 0, 300, 750, 30, 0xFFFFFF, box));
        CHECK(box.left >= 100);
        CHECK(box.right < 100 + r.space);
        CHECK(box.right > 100 + r.space / 2);       // the tail is shown, not only the head
    }
    setrow("");
    // Text that fits is drawn whole, as print draws it.
    img.fillrect(0, 300, 750, 60, 0xFFFFFF);
    fd->printtext(100 - CX, 300 - CY, 0xFF000000, "abc", 400);
    img.print(100, 330, 0xFF000000, "abc");
    inkbox a, b;
    CHECK(findink(img, 0, 300, 750, 30, 0xFFFFFF, a));
    CHECK(findink(img, 0, 330, 750, 30, 0xFFFFFF, b));
    CHECK_EQ(a.left, b.left);
    CHECK_EQ(a.right, b.right);
    // One character has no shorter form: it is drawn as it is.
    img.fillrect(0, 300, 750, 30, 0xFFFFFF);
    fd->printtext(100 - CX, 300 - CY, 0xFF000000, "W", 2);
    CHECK(findink(img, 0, 300, 750, 30, 0xFFFFFF, a));
    // UTF-8 is cut between characters: the shortened text of two-byte characters
    // draws no replacement units for broken sequences, so it is as wide as a
    // text of the same number of one-byte characters.
    char accents[210];
    for (u32 i = 0; i < 100; i++) {
        accents[2 * i] = (char)0xC3;
        accents[2 * i + 1] = (char)0xA4;    // ä
    }
    accents[200] = 0;
    img.fillrect(0, 300, 750, 60, 0xFFFFFF);
    fd->printtext(100 - CX, 300 - CY, 0xFF000000, accents, 150);
    fd->printtext(100 - CX, 330 - CY, 0xFF000000, text + 155, 150);     // 100 one-byte characters
    CHECK(findink(img, 0, 300, 750, 30, 0xFFFFFF, a));
    CHECK(findink(img, 0, 330, 750, 30, 0xFFFFFF, b));
    CHECK(a.right - a.left <= b.right - b.left + 2);
    CHECK(a.right - a.left >= b.right - b.left - 9);
}
