// The "file" packet of a path on Windows: a directory or a file with its size,
// the last-write time as local seconds since 1970 (so the chooser shows the
// user's clock), and permissions 7 in every triplet, or 5 (read and execute) for
// a read-only file. Windows has no symbolic links here: the link flag is cleared.
// "/", the list of drives, is a folder.
#include "winos.h"
#include "wincalendar.h"
#include "winpath.h"
#include "../../framework/filepacket.h"
#include "../../framework/os.h"
#include "../../framework/str.h"

namespace kzv {

static u32 localseconds1970(winfiletime const& utc)
{
    winfiletime local;
    winsystemtime t;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t))
        return 0;
    wincalendardate d = {t.year, t.month, t.day, t.hour, t.minute, t.second};
    return wincalendar_seconds1970(d);
}

bool os_fileinfo(data& file)
{
    char const* path = (char const*)file.payload;
    file.type = type_file;
    file_setsize(file, 0);
    file_setflags(file, (u8)(file_flags(file) & ~fileflag_link));
    file.kind.file.major = 0;
    file.kind.file.minor = 0;
    // "/" is the list of drives: no system path, but a folder to open and list.
    if (path && streq(path, "/")) {
        file_setkind(file, filekind_directory);
        file_setmtime(file, 0);
        file_setpermissions(file, 0555);
        return true;
    }
    u16 wide[WINPATH_CAPACITY];
    winfileattributes a;
    if (!winpath_tosystem(path, wide, WINPATH_CAPACITY) || !GetFileAttributesExW(wide, WIN_GETFILEEXINFOSTANDARD, &a)) {
        file_setkind(file, filekind_other);
        return false;
    }
    bool directory = (a.attributes & WIN_ATTRIBUTE_DIRECTORY) != 0;
    file_setkind(file, directory ? filekind_directory : filekind_file);
    if (!directory)
        file_setsize(file, (u64)a.sizehigh << 32 | a.sizelow);
    file_setmtime(file, localseconds1970(a.written));
    file_setpermissions(file, (a.attributes & WIN_ATTRIBUTE_READONLY) ? 0555 : 0777);
    return true;
}

} // namespace kzv
