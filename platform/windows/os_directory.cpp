// The names in a directory. "/" lists the drives, one lower-case letter each, in
// the order of their bits (a to z). Any other path is turned into the system form
// with room for the "\*" pattern and walked with FindFirstFileW; "." and ".." are
// left out, names (at most 255 units, so at most 765 bytes of UTF-8) are kept
// whole. The array and the names live in the caller's store.
#include "winos.h"
#include "winpath.h"
#include "wintext.h"
#include "../../framework/dirnamelist.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

namespace kzv {

const u32 NAME_CAPACITY = 1024;         // the UTF-8 form of one name
const u32 WIN_ERROR_FILENOTFOUND = 2;   // an empty drive has not even "." in it

static bool isdotordotdot(u16 const* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

static bool listdrives(dirnamelist& list, smem& store)
{
    u32 drives = GetLogicalDrives();
    for (u32 bit = 0; bit < 26; bit++) {
        char name[2] = {(char)('a' + bit), 0};
        if ((drives >> bit & 1) && !list.add(store, name))
            return false;
    }
    return true;
}

// The "\*" pattern of the folder; false when the folder has no system form.
static bool pattern(char const* path, u16* out)
{
    if (!winpath_tosystem(path, out, WINPATH_CAPACITY - WINPATH_PATTERNROOM))
        return false;
    u32 n = strlen(out);
    if (n == 0 || out[n - 1] != '\\')
        out[n++] = '\\';
    out[n++] = '*';
    out[n] = 0;
    return true;
}

// -1 when the folder cannot be read, 0 when memory ran out, 1 when listed.
static int listfolder(char const* path, dirnamelist& list, smem& store)
{
    u16 wide[WINPATH_CAPACITY];
    if (!pattern(path, wide))
        return -1;
    winfinddata found;
    winhandle find = FindFirstFileW(wide, &found);
    if (win_isinvalid(find))
        return GetLastError() == WIN_ERROR_FILENOTFOUND ? 1 : -1;
    int result = 1;
    char name[NAME_CAPACITY];
    do {
        u32 bytes = 0;
        if (isdotordotdot(found.name) || !wintext_toutf8(found.name, 260, name, sizeof name, bytes))
            continue;
        if (!list.add(store, name)) {
            result = 0;
            break;
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return result;
}

// No kinds come with the names here: the caller examines every entry.
char const** os_getdirentries(char const* path, smem& store, unsigned& count, u8** kinds)
{
    count = 0;
    if (kinds)
        *kinds = nullptr;
    if (!path || !process)
        return nullptr;
    dirnamelist list;
    if (!list.begin())
        return nullptr;
    int listed = streq(path, "/") ? (listdrives(list, store) ? 1 : 0) : listfolder(path, list, store);
    char const** result = listed == 1 ? list.finish(store, count) : nullptr;
    list.end();
    return result;
}

} // namespace kzv
