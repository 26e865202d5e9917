// The file chooser in a 750 x 550 window, as the file dialog lays it out: at
// (10, 10), 730 x 470, with the dialogs' font, so 23 rows of 18 pixels under a
// 45-pixel header and a 243-pixel folder list. Folders are made under /tmp by the
// listing tests' fixture; a bulk folder holds numbered files and folders.
#pragma once
#include "test_guiwidgets.h"
#include "dirtestfixture.h"
#include "../../framework/vprinter.h"
#include "../../gui/guifiledialog.h"

namespace kzvtest {

using namespace kzv;

const int CX = 10, CY = 10, CW = 730, CH = 470;

struct chooserscreen {
    widgetscreen s;
    guifiledialog* fd;

    explicit chooserscreen(u32 format = 888) : s(750, 550, format)
    {
        fd = (guifiledialog*)process->pool.getmem(sizeof(guifiledialog));
        fd->init(nullptr);
    }
    ~chooserscreen()
    {
        fd->exit(true);
        process->pool.freemem(fd);
    }
    u32 open(char const* folder, char const* filter = "*", bool hidden = false, int w = CW, int h = CH)
    {
        return fd->open(CX, CY, w, h, folder, filter, hidden);
    }
    // Window coordinates of the middle of a visible row, and of the two lists.
    int rowy(u32 row) const { return CY + fd->headerheight + 2 + (int)(row * fd->rowpitch + fd->rowpitch / 2); }
    int filex() const { return CX + fd->leftwidth + 60; }
    int folderx() const { return CX + 40; }
    char const* selected()
    {
        static char out[GUIFILEDIALOG_SELECTEDCAPACITY];
        fd->get(out, sizeof out);
        return out;
    }
    // The folder name row `row` of the folder list shows, entered by pointing
    // at it first (a click enters only a folder under the cursor).
    void clickfolder(u32 row)
    {
        s.event(ui_mousemoved, folderx(), rowy(row));
        s.click(folderx(), rowy(row));
    }
};

// parent/prefix<number><suffix> for number 0..count-1, as files or folders.
inline char* numberedname(char* out, char const* parent, char const* prefix, u32 number, char const* suffix)
{
    char digits[16];
    u32 n = vprinter_int32tostring((int)number, digits);
    char padded[16] = "0000";
    u32 start = n < 4 ? 4 - n : 0;
    memcpy(padded + start, digits, n + 1);
    if (!str_combine(out, FIXTURE_PATHCAPACITY, parent, "/", prefix) || !str_combine(out, FIXTURE_PATHCAPACITY, out, padded, suffix))
        out[0] = 0;
    return out;
}

struct bulkfolder {
    char root[FIXTURE_PATHCAPACITY];
    u32 files, folders;

    bool make(dirfixture& fx, char const* name, u32 filecount, u32 foldercount)
    {
        files = folders = 0;
        if (!fx.folder(fx.root, name, root))
            return false;
        char p[FIXTURE_PATHCAPACITY];
        for (; files < filecount; files++) {
            int fd = os_fopen(numberedname(p, root, "f", files, ".txt"), 3);
            if (!fd)
                return false;
            os_close(fd);
        }
        for (; folders < foldercount; folders++)
            if (sys_failed(sys_mkdir(numberedname(p, root, "d", folders, ""), 0700)))
                return false;
        return true;
    }
    void clean()
    {
        char p[FIXTURE_PATHCAPACITY];
        for (u32 i = 0; i < files; i++)
            sys_unlink(numberedname(p, root, "f", i, ".txt"));
        for (u32 i = 0; i < folders; i++)
            sys_rmdir(numberedname(p, root, "d", i, ""));
    }
};

} // namespace kzvtest
