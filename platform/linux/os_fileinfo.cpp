// The "file" packet of a path: kind, size, modification time, permissions and,
// for a symbolic link, its target. The packet's size field is the capacity of the
// payload buffer that holds the path; the target is stored behind the path's zero
// only as far as that capacity reaches (cut, or empty), never beyond it.
#include "../../framework/filepacket.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "syscalls.h"

namespace kzv {

const u32 LINKTARGET_MAX = 512;     // the most of a link's target that is kept

static u8 kindofmode(u32 mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR: return filekind_directory;
    case S_IFREG: return filekind_file;
    case S_IFBLK: return filekind_block;
    case S_IFCHR: return filekind_char;
    case S_IFIFO: return filekind_pipe;
    case S_IFSOCK: return filekind_socket;
    default: return filekind_other;
    }
}

// Writes the target and its zero into the room behind the path; an unreadable
// target is stored as "". Without room for even the zero nothing is written.
static void storelinktarget(char* path, u32 pathlength, u32 capacity)
{
    if ((u64)pathlength + 2 > capacity)
        return;
    char* target = path + pathlength + 1;
    u32 room = kzv_min(capacity - pathlength - 2, LINKTARGET_MAX);
    long n = sys_readlink(path, target, room);
    target[sys_failed(n) ? 0 : n] = 0;
}

// A device's number as the kernel encodes it: minor in bits 0-7 and 20-31, major in
// bits 8-19 and 32-63; the packet keeps the low 8 bits of each. Others get 0, 0.
static void setdevicenumber(data& file, u8 kind, u64 rdev)
{
    bool device = kind == filekind_block || kind == filekind_char;
    file.kind.file.major = device ? (u8)(((rdev >> 8) & 0xfff) | ((rdev >> 32) & ~(u64)0xfff)) : 0;
    file.kind.file.minor = device ? (u8)((rdev & 0xff) | ((rdev >> 12) & ~(u64)0xff)) : 0;
}

bool os_fileinfo(data& file)
{
    char* path = (char*)file.payload;
    file.type = type_file;
    file_setsize(file, 0);
    file_setflags(file, (u8)(file_flags(file) & ~fileflag_link));
    kstat st;
    if (!path || sys_failed(sys_lstat(path, &st))) {
        file_setkind(file, filekind_other);
        return false;
    }
    bool dangling = false;
    if ((st.mode & S_IFMT) == S_IFLNK) {
        file_setflags(file, (u8)(file_flags(file) | fileflag_link));
        storelinktarget(path, strlen(path), file.size);
        kstat target;
        if (sys_failed(sys_stat(path, &target)))
            dangling = true;    // the link's own record describes it
        else
            st = target;
    }
    u8 kind = dangling ? (u8)filekind_other : kindofmode(st.mode);
    file_setkind(file, kind);
    if (kind == filekind_file)
        file_setsize(file, (u64)st.size);
    file_setmtime(file, (u32)((s64)st.mtime + os_getlocaltimeoffset()));
    file_setpermissions(file, st.mode);
    setdevicenumber(file, kind, st.rdev);
    return true;
}

} // namespace kzv
