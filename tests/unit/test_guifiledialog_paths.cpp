// The file chooser's path arithmetic on folders that need not exist: the answer
// built from the folder and the selected name, going up, and going into a folder.
// A folder given as "//server/share" or "//?/Z:/x" is a network or device name
// where the system has those (both slashes are kept in the answer, which names
// the same folder when it is given back), and the root written twice elsewhere
// (one slash is dropped, as the kernel reads it). The names are put into the
// lists by hand, since no share is at hand.
#include "test_guiwidgets.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../gui/guifiledialog.h"

using namespace kzv;
using namespace kzvtest;

namespace {

// The chooser open on `folder` (listed or not), with one file in its list and
// that file selected.
struct pathscreen {
    widgetscreen s;
    guifiledialog* fd;
    u32 id;

    explicit pathscreen(char const* folder) : s(750, 550)
    {
        fd = (guifiledialog*)process->pool.getmem(sizeof(guifiledialog));
        fd->init(nullptr);
        id = fd->open(10, 10, 730, 470, folder, "*", false);
    }
    ~pathscreen()
    {
        fd->exit(true);
        process->pool.freemem(fd);
    }
    void showfile(char const* name)
    {
        fd->files.clear();
        fd->files.append(name);
        fd->selected = 0;
        fd->getselectedfile();
    }
    void showfolder(char const* name)
    {
        fd->folders.clear();
        fd->folders.append(name);
        fd->dialogflags |= chooser_folderkeys;
        fd->foldercursor = 1;
    }
    char const* answer()
    {
        static char out[GUIFILEDIALOG_SELECTEDCAPACITY];
        fd->get(out, sizeof out);
        return out;
    }
};

} // namespace

TEST(chooser_answers_keep_network_and_device_names)
{
    // Where "//" begins a network or device name (the Windows build) and where it
    // is the root again (every other build).
    bool network = KZV_TESTS_NETWORKPATHS != 0;
    CHECK_EQ(os_isnetworkpath("//server/share"), network);
    static const struct { char const* name; char const* folder; char const* file; char const* named; char const* root; } rows[] = {
        {"share", "//server/share", "a.txt", "//server/share/a.txt", "/server/share/a.txt"},
        {"folder on a share", "//server/share/sub dir", "b", "//server/share/sub dir/b", "/server/share/sub dir/b"},
        {"device path", "//?/Z:/tmp/x", "a.txt", "//?/Z:/tmp/x/a.txt", "/?/Z:/tmp/x/a.txt"},
        {"device namespace", "//./Z:/tmp/x", "a.txt", "//./Z:/tmp/x/a.txt", "/./Z:/tmp/x/a.txt"},
        {"a file in the root", "/", "etc", "/etc", "/etc"},
        {"a plain folder", "/tmp", "a.txt", "/tmp/a.txt", "/tmp/a.txt"},
        {"the root written three times", "///tmp", "a", "//tmp/a", "//tmp/a"},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        pathscreen c(r.folder);
        CHECK_EQ(c.id, 1);
        CHECK_STR(c.fd->path, r.folder);        // shown as given
        c.showfile(r.file);
        CHECK_STR(c.answer(), network ? r.named : r.root);
        char folder[GUIFILEDIALOG_PATHCAPACITY];
        CHECK(c.fd->getfolder(folder, sizeof folder));
        CHECK_STR(folder, r.folder);
    }
    setrow(nullptr);
    // The answer given back as the folder names the same folder again.
    char answer[GUIFILEDIALOG_SELECTEDCAPACITY], again[GUIFILEDIALOG_SELECTEDCAPACITY];
    {
        pathscreen first("//server/share/sub");
        first.showfile("f.txt");
        CHECK(first.fd->get(answer, sizeof answer));
    }
    memcpy(again, answer, sizeof again);
    *strrchr(again, '/') = 0;
    CHECK_STR(again, network ? "//server/share/sub" : "/server/share/sub");
    pathscreen second(again);
    CHECK_STR(second.fd->path, again);
    second.showfile("f.txt");
    CHECK_STR(second.answer(), answer);
}

TEST(chooser_goes_up_and_into_a_share)
{
    // Up from a share's folder: the share, its server, then the drive list or root;
    // into the server's share again: both slashes stay.
    static char const* const ups[] = {"//server/share/sub", "//server/share", "//server", "/", "/"};
    pathscreen c(ups[0]);
    for (u32 i = 1; i < sizeof ups / sizeof ups[0]; i++) {
        c.s.key(guikey_backspace);
        CHECK_STR(c.fd->path, ups[i]);
    }
    c.showfolder("server");
    c.s.key(guikey_enter);
    CHECK_STR(c.fd->path, "/server");
    memcpy(c.fd->path, "//server", 9);
    c.showfolder("share");
    c.s.key(guikey_enter);
    CHECK_STR(c.fd->path, "//server/share");
    c.showfile("a.txt");
    CHECK_STR(c.fd->selectedpath, "//server/share/a.txt");
}
