// The file chooser on real folders: layout (also far too small for its font),
// the two lists with hidden entries, filters, links and odd names (spaces, UTF-8,
// invalid UTF-8, 255-byte names), the selected path after every change of the
// selection, the keys, going into folders and up to "/", and the refusal of a
// folder whose path would not fit.
#include "test_guifiledialog.h"

using namespace kzv;
using namespace kzvtest;

namespace {

dirfixture fx;
char longname[256];         // 251 x 'x' + ".txt": 255 bytes

// The odd folder: files and folders of every kind the chooser meets.
bool makeoddfolder()
{
    if (!fx.make("chooser"))
        return false;
    char sub[FIXTURE_PATHCAPACITY], unused[FIXTURE_PATHCAPACITY];
    repeated(longname, 'x', 251);
    memcpy(longname + 251, ".txt", 5);
    bool ok = fx.folder(fx.root, "sub", sub) && fx.folder(fx.root, "Sub2", unused) &&
              fx.folder(fx.root, ".hid", unused) && fx.file(sub, "inner.txt") && fx.file(fx.root, "b.txt", "bb") &&
              fx.file(fx.root, "A.TXT") && fx.file(fx.root, "c.md") && fx.file(fx.root, ".h.txt") &&
              fx.file(fx.root, "with space.txt") && fx.file(fx.root, "caf\xC3\xA9.txt") &&
              fx.file(fx.root, "caf\xE9.txt") && fx.file(fx.root, longname) &&
              fx.link(fx.root, "link.txt", "b.txt") && fx.link(fx.root, "dangling.txt", "nowhere") &&
              fx.link(fx.root, "linkdir", "sub");
    return ok;
}

void checklist(namelist const& list, char const* const* expected, u32 count)
{
    CHECK_EQ(list.count, count);
    for (u32 i = 0; i < count && i < list.count; i++)
        CHECK_STR(list.get(i), expected[i]);
}

char const* joined(char const* name)
{
    static char out[FIXTURE_PATHCAPACITY];
    if (!str_combine(out, sizeof out, fx.root, "/", name))
        out[0] = 0;
    return out;
}

// The chooser open on the odd folder; the folder goes with it.
struct oddscreen : chooserscreen {
    u32 id;

    explicit oddscreen(char const* filter = "*.txt", bool hidden = false)
    {
        id = makeoddfolder() ? open(fx.root, filter, hidden) : 0;
    }
    ~oddscreen() { fx.clean(); }
};

} // namespace

TEST(chooser_needs_a_container)
{
    guifiledialog* fd = (guifiledialog*)process->pool.getmem(sizeof(guifiledialog));
    fd->init(nullptr);
    CHECK_EQ(fd->open(0, 0, 100, 100, "/", "*", false), 0);
    CHECK_EQ(fd->command(ui_keydown, 10, 0), 0);
    CHECK(!fd->isclicked());
    char out[8];
    CHECK(!fd->get(out, sizeof out));
    CHECK_STR(out, "");
    CHECK_EQ(fd->call('F', 0, 0, nullptr), -1);
    fd->exit(true);
    process->pool.freemem(fd);
}

TEST(chooser_layout_of_the_file_dialog)
{
    oddscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    CHECK_EQ(fd->leftwidth, 243);
    CHECK_EQ(fd->headerheight, 45);
    CHECK_EQ(fd->listheight, 425);
    CHECK_EQ(fd->rows, 23);
    CHECK_EQ(fd->rowpitch, 18);
    CHECK_EQ(fd->iconwidth, 30);
    CHECK(fd->flags & widget_ready);
    CHECK(c.s.g->focus && c.s.g->focus->widget == fd);
    CHECK_STR(fd->path, fx.root);
    CHECK(fd->ischanged());
    CHECK(!fd->ischanged());
}

TEST(chooser_too_small_for_its_font)
{
    static const struct { char const* name; int w, h; } sizes[] = {
        {"height 140", 730, 140}, {"height 100", 730, 100}, {"list under one row", 730, 60},
        {"no list at all", 730, 45}, {"smaller than the header", 730, 20}, {"zero", 0, 0},
        {"negative", -40, -5}, {"narrow", 5, 300},
    };
    CHECK(makeoddfolder());
    for (auto const& sz : sizes) {
        setrow(sz.name);
        chooserscreen c;
        CHECK_EQ(c.open(fx.root, "*", false, sz.w, sz.h), 1);
        guifiledialog* fd = c.fd;
        CHECK(fd->rows >= 1);
        CHECK(fd->rowpitch >= 1);
        CHECK(fd->listheight >= 0);
        CHECK(fd->listheight <= kzv_max(0, sz.h));
        // Every input still lands somewhere sane.
        c.s.event(ui_mousemoved, CX + 2, CY + 50);
        c.s.click(CX + 2, CY + 50);
        c.s.click(CX + kzv_max(0, sz.w) - 2, CY + 50);
        c.s.event(ui_wheeldown, CX + kzv_max(0, sz.w) - 2, CY + 50);
        c.s.event(ui_wheeldown, CX + 2, CY + 50);
        static const u32 keys[] = {guikey_down, guikey_left, guikey_down, guikey_up, guikey_right, guikey_down};
        for (u32 k : keys)
            fd->key(k);
        c.s.g->cyclic();
    }
    fx.clean();
}

TEST(chooser_lists_folders_and_filtered_files)
{
    CHECK(makeoddfolder());
    // Sorted without case, bytes as signed values: a UTF-8 lead byte (0xC3) before
    // a Latin-1 one (0xE9), both before ASCII; a prefix first.
    static char const* const folders[] = {"linkdir", "sub", "Sub2"};
    static char const* const folderswithhidden[] = {".hid", "linkdir", "sub", "Sub2"};
    char const* const files[] = {"A.TXT", "b.txt", "caf\xC3\xA9.txt", "caf\xE9.txt", "link.txt", "with space.txt",
                                 longname};
    char const* const fileswithhidden[] = {".h.txt", "A.TXT", "b.txt", "caf\xC3\xA9.txt", "caf\xE9.txt",
                                           "link.txt", "with space.txt", longname};
    {
        chooserscreen c;
        CHECK_EQ(c.open(fx.root, "*.txt"), 1);
        checklist(c.fd->folders, folders, 3);
        checklist(c.fd->files, files, 7);       // no dangling link, no c.md, no hidden file
    }
    {
        chooserscreen c;
        CHECK_EQ(c.open(fx.root, "*.TXT", true), 1);
        checklist(c.fd->folders, folderswithhidden, 4);
        checklist(c.fd->files, fileswithhidden, 8);
    }
    static const struct { char const* name; char const* filter; u32 count; } filters[] = {
        {"everything", "*", 8}, {"two patterns", "*.md;b*", 2}, {"comma list too", "*.md,b*", 2},
        {"one character", "?.txt", 2}, {"nothing", "", 0}, {"no match", "*.png", 0},
        {"a dot-less pattern", "*txt", 7},
    };
    for (auto const& f : filters) {
        setrow(f.name);
        chooserscreen c;
        CHECK_EQ(c.open(fx.root, f.filter), 1);
        CHECK_EQ(c.fd->files.count, f.count);
        CHECK_EQ(c.fd->folders.count, 3);
    }
    fx.clean();
}

TEST(chooser_selected_path_is_the_highlighted_file)
{
    oddscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    CHECK_STR(c.selected(), joined("A.TXT"));
    CHECK(fd->ischanged());
    for (u32 i = 1; i < fd->files.count; i++) {
        c.s.key(guikey_down);
        CHECK_EQ(fd->selected, i);
        CHECK(fd->ischanged());
        CHECK_STR(c.selected(), joined(fd->files.get(i)));
    }
    // The 255-byte name is kept whole in the answer.
    CHECK_EQ(strlen(c.selected()), strlen(fx.root) + 1 + 255);
    c.s.key(guikey_down);               // no next file
    CHECK(!fd->ischanged());
    CHECK_EQ(fd->selected, 6);
    c.s.key(guikey_up);
    CHECK(fd->ischanged());
    CHECK_STR(c.selected(), joined("with space.txt"));
    // An answer that does not fit its buffer is refused, not cut.
    char small[16] = "junk";
    CHECK(!fd->get(small, sizeof small));
    CHECK_STR(small, "");
    char folder[GUIFILEDIALOG_PATHCAPACITY];
    CHECK(fd->getfolder(folder, sizeof folder));
    CHECK_STR(folder, fx.root);
    CHECK(!fd->getfolder(small, sizeof small));
    // A folder given as "//x" is the root written twice here: one slash is dropped.
    memcpy(fd->selectedpath, "//etc", 6);
    CHECK_STR(c.selected(), "/etc");
}

TEST(chooser_nothing_selected_in_an_empty_list)
{
    oddscreen c("*.png");
    CHECK_EQ(c.id, 1);
    char out[64] = "junk";
    CHECK(!c.fd->get(out, sizeof out));
    CHECK_STR(out, "");
    CHECK_STR(c.fd->selectedpath, "");
    // Enter still reports the accept; the application ignores it with nothing selected.
    c.s.key(guikey_enter);
    CHECK(c.fd->isclicked());
    c.s.key(guikey_down);
    c.s.key(guikey_up);
    CHECK_EQ(c.fd->selected, 0);
}

TEST(chooser_keys_enter_esc_and_the_folder_list)
{
    oddscreen c;
    CHECK_EQ(c.id, 1);
    guifiledialog* fd = c.fd;
    CHECK_EQ(c.s.key(guikey_enter), 0);     // the container answers keys with 0
    CHECK(fd->isclicked());
    CHECK(!fd->isclicked());
    c.s.key(guikey_escape);
    CHECK(fd->isescaped());
    CHECK(!fd->isescaped());
    CHECK(!fd->isclicked());
    c.s.key(guikey_right);                  // nothing in the file list
    CHECK_EQ(fd->dialogflags & chooser_folderkeys, 0);

    c.s.key(guikey_left);
    CHECK(fd->dialogflags & chooser_folderkeys);
    CHECK_EQ(fd->foldercursor, 1);
    c.s.key(guikey_up);
    CHECK_EQ(fd->foldercursor, 1);
    c.s.key(guikey_down);
    c.s.key(guikey_down);
    c.s.key(guikey_down);                   // only three folders
    CHECK_EQ(fd->foldercursor, 3);
    c.s.key(guikey_up);
    CHECK_EQ(fd->foldercursor, 2);
    c.s.key(guikey_escape);
    CHECK(fd->isescaped());
    c.s.key(guikey_enter);                  // into "sub"
    CHECK_STR(fd->path, joined("sub"));
    CHECK_EQ(fd->foldercursor, 1);
    CHECK_EQ(fd->files.count, 1);
    CHECK_STR(c.selected(), joined("sub/inner.txt"));
    CHECK(!fd->isclicked());
    c.s.key(guikey_enter);                  // no folder here: nothing happens
    CHECK_STR(fd->path, joined("sub"));
    c.s.key(guikey_backspace);
    CHECK_STR(fd->path, fx.root);
    CHECK_EQ(fd->foldercursor, 1);
    CHECK(fd->dialogflags & chooser_folderkeys);
    c.s.key(guikey_right);
    CHECK_EQ(fd->dialogflags & chooser_folderkeys, 0);
    CHECK_EQ(fd->foldercursor, 0);
    // Entered through a link, the path keeps the link's name.
    c.s.key(guikey_left);
    c.s.key(guikey_enter);
    CHECK_STR(fd->path, joined("linkdir"));
    CHECK_STR(c.selected(), joined("linkdir/inner.txt"));
    // Backspace in the file list goes up with no cursor.
    c.s.key(guikey_right);
    c.s.key(guikey_backspace);
    CHECK_STR(fd->path, fx.root);
    CHECK_EQ(fd->foldercursor, 0);
    // Keys the chooser does not use change nothing.
    static const u32 unused[] = {guikey_home, guikey_pagedown, 'a', 13};
    for (u32 k : unused)
        fd->key(k);
    CHECK_STR(fd->path, fx.root);
    CHECK(!fd->isclicked());
}

TEST(chooser_up_to_the_root)
{
    chooserscreen c;
    CHECK_EQ(c.open("/tmp"), 1);
    guifiledialog* fd = c.fd;
    c.s.click(CX + 5, CY + 5);              // the "dir up" icon
    CHECK_STR(fd->path, "/");
    bool hastmp = false;
    for (u32 i = 0; i < fd->folders.count; i++)
        hastmp = hastmp || streq(fd->folders.get(i), "tmp");
    CHECK(hastmp);
    c.s.click(CX + 5, CY + 5);
    CHECK_STR(fd->path, "/");
    c.s.key(guikey_backspace);
    CHECK_STR(fd->path, "/");
    // From "/" a folder is joined without a second slash.
    c.s.key(guikey_left);
    while (fd->foldercursor < fd->folders.count && !streq(fd->folders.get(fd->foldercursor - 1), "tmp"))
        c.s.key(guikey_down);
    c.s.key(guikey_enter);
    CHECK_STR(fd->path, "/tmp");
    // A relative folder of one character still gets its slash.
    CHECK_EQ(c.open("/"), 2);
    memcpy(fd->path, "a", 2);
    fd->dialogflags |= chooser_folderkeys;
    fd->foldercursor = 1;
    fd->folders.clear();
    fd->folders.append("b");
    fd->key(guikey_enter);
    CHECK_STR(fd->path, "a/b");
}

TEST(chooser_working_directory)
{
    chooserscreen c;
    CHECK_EQ(c.open("."), 1);
    char wd[GUIFILEDIALOG_PATHCAPACITY];
    os_getwd(wd);
    CHECK_STR(c.fd->path, wd);
}

// A folder whose path is `length` bytes, holding f.txt and one folder with a
// 20-byte name (its path into sub).
bool makedeep(char const* name, u32 length, char* deep, char* sub)
{
    char subname[24];
    repeated(subname, 'n', 20);
    return fx.make(name) && fx.deepfolder(length, deep) && fx.folder(deep, subname, sub) && fx.file(deep, "f.txt");
}

TEST(chooser_keeps_paths_whole)
{
    char deep[FIXTURE_PATHCAPACITY], sub[FIXTURE_PATHCAPACITY];
    // 490 + '/' + 20 = 511 bytes fits the 512-byte path with its terminator.
    CHECK(makedeep("deep", 490, deep, sub));
    {
        chooserscreen c;
        CHECK_EQ(c.open(deep), 1);
        CHECK_EQ(c.fd->folders.count, 1);
        c.s.key(guikey_left);
        c.s.key(guikey_enter);
        CHECK_EQ(strlen(c.fd->path), 511);
        CHECK_STR(c.fd->path, sub);
    }
    fx.clean();
    // 491 + 1 + 20 does not: the folder is not entered, by key or by mouse.
    CHECK(makedeep("deeper", 491, deep, sub));
    {
        chooserscreen c;
        CHECK_EQ(c.open(deep), 1);
        guifiledialog* fd = c.fd;
        char file[FIXTURE_PATHCAPACITY];
        CHECK_STR(c.selected(), fx.join(file, deep, "f.txt"));
        c.s.key(guikey_left);
        c.s.key(guikey_enter);
        CHECK_STR(fd->path, deep);
        CHECK_EQ(fd->folders.count, 1);
        CHECK_EQ(fd->files.count, 1);
        CHECK_EQ(fd->foldercursor, 1);
        c.clickfolder(0);
        CHECK_STR(fd->path, deep);
        // A -folder that does not fit is not opened at all.
        CHECK_EQ(c.open(sub), 0);
        CHECK_STR(fd->path, deep);
    }
    fx.clean();
}

TEST(chooser_frees_what_it_takes)
{
    CHECK(makeoddfolder());
    {
        chooserscreen warmup;           // first uses of the scheduler table and the like stay
        warmup.open(fx.root);
    }
    u32 before = poolblocks();
    {
        chooserscreen c;
        CHECK_EQ(c.open(fx.root, "*"), 1);
        u32 opened = poolblocks();
        for (u32 i = 0; i < 5; i++) {
            c.s.key(guikey_left);
            c.s.key(guikey_down);
            c.s.key(guikey_enter);
            c.s.key(guikey_backspace);
        }
        CHECK_EQ(poolblocks(), opened);     // the lists are reused from folder to folder
    }
    CHECK_EQ(poolblocks(), before);
    fx.clean();
}

TEST(chooser_filter_of_511_bytes_is_kept_whole)
{
    char filter[GUIFILEDIALOG_FILTERCAPACITY];
    repeated(filter, ';', 506);
    memcpy(filter + 506, "*.txt", 6);
    CHECK_EQ(strlen(filter), 511);
    oddscreen c(filter);
    CHECK_EQ(c.id, 1);
    CHECK_STR(c.fd->filter, filter);
    CHECK_EQ(c.fd->files.count, 7);
    // One byte more is refused whole: the chooser stays on what it showed.
    char longer[GUIFILEDIALOG_FILTERCAPACITY + 1];
    repeated(longer, ';', 507);
    memcpy(longer + 507, "*.txt", 6);
    CHECK_EQ(c.open(fx.root, longer), 0);
    CHECK_STR(c.fd->filter, filter);
    CHECK_EQ(c.fd->files.count, 7);
}
