// The application's step on the scripted display: the window and the widgets are
// built as the dialogs build them (on the fake back-end, so on every target and
// without a terminal), events arrive through the window as a back-end sends them,
// and each step's answer is read from standard output. One answer per run (Esc and
// Enter in one step give "no" only), the message box closing, a closed window,
// accepting with nothing selected (the file chooser stays open, the folder chooser
// answers its folder), the folder of a chosen file, an ignored accept that must not
// leave a click of OK behind, the status line following the highlighted file,
// every line of a long message text drawn, and a message box narrower than its icon.
#include "test_guiwidgets.h"
#include "dirtestfixture.h"
#include "test_os_fixture.h"
#include "../../gui/app/usermain.h"
#include "../../gui/font.h"

using namespace kzv;
using namespace kzvtest;

namespace {

dirfixture fx;
char folder[FIXTURE_PATHCAPACITY], emptyfolder[FIXTURE_PATHCAPACITY], outer[FIXTURE_PATHCAPACITY];

// root: a.txt, b.txt, empty/, outer/ holding only sub/ with f.txt.
bool makefolders()
{
    char sub[FIXTURE_PATHCAPACITY];
    if (!fx.make("appstep"))
        return false;
    strcpy(folder, fx.root, sizeof folder - 1);
    return fx.file(folder, "a.txt", "hello") && fx.file(folder, "b.txt") &&
           fx.folder(folder, "empty", emptyfolder) && fx.folder(folder, "outer", outer) &&
           fx.folder(outer, "sub", sub) && fx.file(sub, "f.txt");
}

// Points in the widgets as the dialogs place them: the question's Yes and No
// (300 x 100), the message box's OK, the choosers' OK and Cancel (750 x 550).
const int YESX = 80, NOX = 220, MESSAGEBUTTONY = 79, MESSAGEOKX = 150;
const int CHOOSEROKX = 600, CANCELX = 100, CHOOSERBUTTONY = 529;
// The first row of the chooser's folder list: the chooser lies at (10, 10) and its
// lists begin 45 pixels below its top, 18 pixels a row.
const int FOLDERX = 50, FIRSTROWY = 10 + 45 + 2 + 9;

// One dialog of the application on the fake back-end.
struct appscreen {
    usefakeclock clock;
    fakebackend backend;
    usermain* u;
    bool built;
    char out[1024];

    // `path` is the chooser's folder, or the text of a message box or question
    // ("Sure?" when null).
    appscreen(dialogkind kind, bool dirmode, char const* path, u32 w = 0, u32 h = 0)
    {
        backend.setup(1920, 1080);
        backend.flags |= gui_ready;
        backend.format = 888;
        process->defaulthandler = &backend;
        u = (usermain*)process->pool.getmem(USERMAIN_RECORDSIZE);
        built = u != nullptr;
        if (!u)
            return;
        u->initrecord(nullptr);
        u->kind = kind;
        u->dirmode = dirmode ? 1 : 0;
        bool chooser = kind == dialog_chooser;
        u->width = w ? w : chooser ? 750 : 300;
        u->height = h ? h : chooser ? 550 : 100;
        strcpy(u->title, "step", USERMAIN_TITLECAPACITY - 1);
        built = u->attachwindow();
        if (built && chooser) {
            strcpy(u->text.path, path, USERMAIN_PATHCAPACITY - 1);
            strcpy(u->text.filter, "*", USERMAIN_FILTERCAPACITY - 1);
            built = u->buildchooser();
        } else if (built) {
            u->buildmessage(kind == dialog_question, path ? path : "Sure?");
        }
    }
    ~appscreen()
    {
        if (u) {
            u->finish(nullptr);
            process->pool.freemem(u);
        }
        backend.release();
        process->defaulthandler = nullptr;
        process->exitstatus = 0;
        forgetrunend();
    }
    // One application step; what it printed on standard output.
    char const* step()
    {
        capture o;
        out[0] = 0;
        bool capturing = o.begin(1);
        u->cyclic();
        if (capturing)
            o.end(out, sizeof out);
        return out;
    }
    bool ended() const { return process->exitrequested != 0; }
    // A quiet first step, then two keys (0 for none) and a click (x 0 for none),
    // then the step that answers them: what that step printed.
    char const* play(u32 const (&keys)[2], int clickx, int clicky)
    {
        CHECK(built);
        CHECK_STR(step(), "");
        CHECK(!ended());
        for (u32 k : keys)
            if (k)
                key(k);
        if (clickx)
            click(clickx, clicky);
        return step();
    }
    void key(u32 code) { u->win.call(ui_keydown, (int)code, 0, nullptr); }
    void click(int x, int y)
    {
        u->win.call(ui_leftdown, x, y, nullptr);
        u->win.call(ui_leftup, x, y, nullptr);
    }
};

// parent/name and a line end: a chooser's answer as standard output carries it.
char const* answerline(char* out, char const* parent, char const* name)
{
    if (!str_combine(out, FIXTURE_PATHCAPACITY, parent, "/", name) || !str_combine(out, FIXTURE_PATHCAPACITY, out, "\n"))
        out[0] = 0;
    return out;
}

} // namespace

TEST(question_gives_one_answer)
{
    struct { char const* row; u32 keys[2]; int clickx; char const* answer; int status; } const rows[] = {
        {"Enter", {guikey_enter, 0}, 0, "yes\n", 1},
        {"Esc", {guikey_escape, 0}, 0, "no\n", 0},
        {"Esc and Enter in one step", {guikey_escape, guikey_enter}, 0, "no\n", 0},
        {"Enter and Esc in one step", {guikey_enter, guikey_escape}, 0, "no\n", 0},
        {"Yes", {0, 0}, YESX, "yes\n", 1},
        {"No", {0, 0}, NOX, "no\n", 0},
    };
    for (auto const& r : rows) {
        setrow(r.row);
        appscreen a(dialog_question, false, nullptr);
        CHECK_STR(a.play(r.keys, r.clickx, MESSAGEBUTTONY), r.answer);
        CHECK(a.ended());
        CHECK_EQ(process->exitstatus, r.status);
        CHECK_STR(a.step(), "");            // nothing after the answer
    }
}

TEST(message_box_and_closed_window_print_nothing)
{
    struct { char const* row; dialogkind kind; u32 key; int clickx; bool closebox; } const rows[] = {
        {"message Enter", dialog_message, guikey_enter, 0, false},
        {"message Esc", dialog_message, guikey_escape, 0, false},
        {"message OK", dialog_message, 0, MESSAGEOKX, false},
        {"message closed", dialog_message, 0, 0, true},
        {"question closed", dialog_question, 0, 0, true},
    };
    for (auto const& r : rows) {
        setrow(r.row);
        appscreen a(r.kind, false, nullptr);
        CHECK(a.built);
        CHECK_STR(a.step(), "");
        CHECK(!a.ended());
        if (r.key)
            a.key(r.key);
        if (r.clickx)
            a.click(r.clickx, MESSAGEBUTTONY);
        if (r.closebox)
            a.u->win.call(ui_closed, 0, 0, nullptr);
        CHECK_STR(a.step(), "");
        CHECK(a.ended());
        CHECK_EQ(process->exitstatus, 0);
    }
}

TEST(chooser_answers)
{
    CHECK(makefolders());
    enum { file_a, file_b, shown, nothing };
    struct { char const* row; bool dirmode; char const* path; u32 keys[2]; int clickx; int answer; } const rows[] = {
        {"Enter", false, folder, {guikey_enter, 0}, 0, file_a},
        {"OK", false, folder, {0, 0}, CHOOSEROKX, file_a},
        {"Down, Enter", false, folder, {guikey_down, guikey_enter}, 0, file_b},
        {"Esc", false, folder, {guikey_escape, 0}, 0, nothing},
        {"Cancel", false, folder, {0, 0}, CANCELX, nothing},
        {"folder of the file", true, folder, {guikey_enter, 0}, 0, shown},
        {"empty folder, folder chooser", true, emptyfolder, {guikey_enter, 0}, 0, shown},
    };
    for (auto const& r : rows) {
        setrow(r.row);
        char expected[FIXTURE_PATHCAPACITY];
        expected[0] = 0;
        if (r.answer == file_a || r.answer == file_b)
            answerline(expected, folder, r.answer == file_a ? "a.txt" : "b.txt");
        else if (r.answer == shown && !str_combine(expected, sizeof expected, r.path, "\n"))
            expected[0] = 0;
        appscreen a(dialog_chooser, r.dirmode, r.path);
        CHECK_STR(a.play(r.keys, r.clickx, CHOOSERBUTTONY), expected);
        CHECK(a.ended());
    }
    fx.clean();
}

// The folder chooser answers the folder of the selected file: a file inside "/"
// (held as "//x") gives "/", never an empty line.
TEST(folder_chooser_answers_the_folder_of_the_selected_file)
{
    CHECK(makefolders());
    struct { char const* selected; char const* answer; } const rows[] = {
        {"//x", "/\n"},
        {"/x", "/\n"},
        {"/tmp/x", "/tmp\n"},
        {"/a/b/c.txt", "/a/b\n"},
    };
    for (auto const& r : rows) {
        setrow(r.selected);
        appscreen a(dialog_chooser, true, folder);
        strcpy(a.u->chooser.selectedpath, r.selected, GUIFILEDIALOG_SELECTEDCAPACITY - 1);
        CHECK_STR(a.play({guikey_enter, 0}, 0, 0), r.answer);
        CHECK(a.ended());
    }
    fx.clean();
}

TEST(file_chooser_ignores_an_accept_with_nothing_selected)
{
    CHECK(makefolders());
    {
        setrow("empty folder");
        appscreen a(dialog_chooser, false, emptyfolder);
        CHECK(a.built);
        a.key(guikey_enter);
        CHECK_STR(a.step(), "");
        a.click(CHOOSEROKX, CHOOSERBUTTONY);
        CHECK_STR(a.step(), "");
        CHECK(!a.ended());
        a.key(guikey_escape);
        CHECK_STR(a.step(), "");
        CHECK(a.ended());
    }
    {
        // Enter and OK in one step, both ignored; the file found in a subfolder
        // afterwards is answered only when accepted again.
        setrow("Enter and OK together, then a folder with a file");
        appscreen a(dialog_chooser, false, outer);
        CHECK(a.built);
        a.key(guikey_enter);
        a.click(CHOOSEROKX, CHOOSERBUTTONY);
        CHECK_STR(a.step(), "");
        // The click on OK took the keyboard focus from the chooser: the folder is
        // entered with the mouse, pointing at its row first.
        a.u->win.call(ui_mousemoved, FOLDERX, FIRSTROWY, nullptr);
        a.click(FOLDERX, FIRSTROWY);
        CHECK_STR(a.step(), "");
        CHECK(!a.ended());
        char sub[FIXTURE_PATHCAPACITY], expected[FIXTURE_PATHCAPACITY];
        fx.join(sub, outer, "sub");
        CHECK_STR(a.u->chooser.path, sub);
        a.click(CHOOSEROKX, CHOOSERBUTTONY);
        CHECK_STR(a.step(), answerline(expected, sub, "f.txt"));
        CHECK(a.ended());
    }
    fx.clean();
}

TEST(status_line_follows_the_highlighted_file)
{
    CHECK(makefolders());
    appscreen a(dialog_chooser, false, folder);
    CHECK(a.built);
    char const* status = a.u->text.statusline;
    // "dd.mm.yyyy hh:mm:ss <size> <name>"; a.txt holds 5 bytes, b.txt none.
    CHECK(strlen(status) > 20 && status[2] == '.' && status[5] == '.' && status[13] == ':');
    CHECK(streqend(status, " 5b a.txt"));
    a.key(guikey_down);
    CHECK_STR(a.step(), "");
    CHECK(streqend(status, " 0b b.txt"));
    a.key(guikey_up);
    a.step();
    CHECK(streqend(status, " a.txt"));
    fx.clean();
}

// A text of 40 lines, far past the 999 characters one text print draws, with a
// line of 1000 characters among them (twice the UTF-8 forms' scratch): every line
// is inked in its own band, one font line apart below (42, 10).
TEST(message_text_drawn_whole)
{
    const u32 LINES = 40, LONGLINE = 5;
    static char text[LINES * 64 + 1024];
    u32 n = 0;
    for (u32 i = 0; i < LINES; i++) {
        u32 length = i == LONGLINE ? 1000 : 60;
        for (u32 k = 0; k < length; k++)
            text[n++] = k < 2 ? (char)('0' + (k ? i % 10 : i / 10)) : (char)('a' + (i + k) % 26);
        text[n++] = '\n';
    }
    text[n] = 0;
    appscreen a(dialog_message, false, text, 1000, 50 + 16 * LINES);
    CHECK(a.built);
    image& im = a.u->win.backimage;
    int step = (int)font_lineheight(im.fontheader);
    CHECK(step > 0);
    CHECK(10 + (int)LINES * step <= im.height - 35);     // all of them above the button
    u32 background = a.u->container.look.colors[0];
    u32 inked = 0;
    for (u32 i = 0; i < LINES; i++) {
        inkbox box;
        if (findink(im, 42, 10 + (int)i * step, 400, step, background, box))
            inked++;
    }
    CHECK_EQ(inked, LINES);
    // The long line runs on to the window's right edge, the short one below it
    // does not (the long line's descenders reach 2 pixels into its band).
    inkbox box;
    CHECK(findink(im, 900, 10 + (int)LONGLINE * step, 90, step, background, box));
    CHECK(!findink(im, 900, 10 + (int)(LONGLINE + 1) * step + 3, 90, step - 3, background, box));
}

// A screen may cut a message box below its icon's width: the icon is then left
// out rather than refused row by row on standard error.
TEST(narrow_message_box_draws_without_diagnostics)
{
    struct { char const* row; u32 width; bool icon; } const rows[] = {
        {"20 wide", 20, false}, {"36 wide", 36, false}, {"37 wide", 37, true}, {"300 wide", 300, true},
    };
    for (auto const& r : rows) {
        setrow(r.row);
        char err[1024];
        capture e;
        bool capturing = e.begin(2);
        appscreen a(dialog_question, false, nullptr, r.width, 100);
        if (capturing)
            e.end(err, sizeof err);
        CHECK(a.built);
        CHECK_STR(err, "");
        image& im = a.u->win.backimage;
        u32 background = a.u->container.look.colors[0];
        int seen = kzv_min(32, im.width - 5);         // the part of the icon's place inside the window
        u32 inked = (u32)(seen * 32) - countcolour(im, 5, 5, seen, 32, background);
        CHECK_EQ(inked > 100, r.icon);
    }
}
