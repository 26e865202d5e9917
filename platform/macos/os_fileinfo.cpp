// The "file" packet of a path: kind, size, modification time, permissions and,
// for a symbolic link, its target, from the classic stat record. The packet's
// size field is the capacity of the payload buffer that holds the path; the
// target is stored behind the path's zero only as far as that capacity reaches.
#include "../../framework/filepacket.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "bsdrules.h"
#include "libsystem.h"

namespace kzv {

const u32 LINKTARGET_MAX = 512;     // the most of a link's target that is kept

// Writes the target and its zero into the room behind the path; an unreadable
// target is stored as "". Without room for even the zero nothing is written.
static void storelinktarget(char* path, u32 pathlength, u32 capacity)
{
    if ((u64)pathlength + 2 > capacity)
        return;
    char* target = path + pathlength + 1;
    u32 room = kzv_min(capacity - pathlength - 2, LINKTARGET_MAX);
    long n = readlink(path, target, room);
    target[n < 0 ? 0 : n] = 0;
}

bool os_fileinfo(data& file)
{
    char* path = (char*)file.payload;
    file.type = type_file;
    file_setsize(file, 0);
    file_setflags(file, (u8)(file_flags(file) & ~fileflag_link));
    bsd::stat st;
    if (!path || lstat(path, &st) != 0) {
        file_setkind(file, filekind_other);
        return false;
    }
    bool dangling = false;
    if ((st.mode & bsd::S_IFMT) == bsd::S_IFLNK) {
        file_setflags(file, (u8)(file_flags(file) | fileflag_link));
        storelinktarget(path, strlen(path), file.size);
        bsd::stat target;
        if (stat(path, &target) != 0)
            dangling = true;    // the link's own record describes it
        else
            st = target;
    }
    u8 kind = dangling ? (u8)filekind_other : bsd_filekind(st.mode);
    file_setkind(file, kind);
    if (kind == filekind_file)
        file_setsize(file, (u64)st.size);
    file_setmtime(file, (u32)(st.mtime.sec + os_getlocaltimeoffset()));
    file_setpermissions(file, st.mode);
    bool device = kind == filekind_block || kind == filekind_char;
    file.kind.file.major = device ? bsd_major(st.rdev) : 0;
    file.kind.file.minor = device ? bsd_minor(st.rdev) : 0;
    return true;
}

} // namespace kzv
