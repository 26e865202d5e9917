// Files by handle and by path. Handles cross the contract as ints (0 is none,
// and an invalid handle never leaves the layer). Paths are turned into the
// system form first; a path that has none (it does not fit, or names no drive)
// opens nothing. Reads answer 0 at the end of a file and when a pipe's writer has
// gone, -1 on any other failure; writes answer -1 on failure.
#include "winos.h"
#include "winpath.h"
#include "../../framework/os.h"
#include "../../framework/resources.h"
#include "../../framework/str.h"

namespace kzv {

struct openmode {
    u32 access;
    u32 disposition;
};

// Mode 2 and unknown modes open nothing; mode 4 takes no lock.
static bool modeof(unsigned mode, openmode& m)
{
    switch (mode) {
    case 1: m = {WIN_GENERICREAD, WIN_OPENEXISTING}; return true;
    case 3: m = {WIN_GENERICREAD | WIN_GENERICWRITE, WIN_CREATEALWAYS}; return true;
    case 4:
    case 5: m = {WIN_GENERICREAD | WIN_GENERICWRITE, WIN_OPENEXISTING}; return true;
    default: return false;
    }
}

int os_fopen(char const* path, unsigned mode)
{
    openmode m;
    u16 wide[WINPATH_CAPACITY];
    if (!modeof(mode, m) || !winpath_tosystem(path, wide, WINPATH_CAPACITY))
        return 0;
    winhandle h = CreateFileW(wide, m.access, WIN_SHAREREAD | WIN_SHAREWRITE | WIN_SHAREDELETE, nullptr,
                              m.disposition, WIN_ATTRIBUTE_NORMAL, nullptr);
    return win_isinvalid(h) ? 0 : win_handletoint(h);
}

void os_close(int fd)
{
    if (fd == 0) {
        os_stderr("close 0!!\n");
        return;
    }
    CloseHandle(win_inttohandle(fd));
}

int os_read(int fd, void* buffer, unsigned count)
{
    u32 n = 0;
    if (ReadFile(win_inttohandle(fd), buffer, count, &n, nullptr))
        return (int)n;
    u32 error = GetLastError();
    return error == WIN_ERROR_HANDLEEOF || error == WIN_ERROR_BROKENPIPE ? 0 : -1;
}

int os_write(int fd, void const* buffer, unsigned count)
{
    u32 n = 0;
    return WriteFile(win_inttohandle(fd), buffer, count, &n, nullptr) ? (int)n : -1;
}

// SetFilePointer answers the low half and writes the high half back; an answer
// of 0xFFFFFFFF is a failure only when the error code, cleared before, says so.
static s64 setpointer(int fd, s64 position, u32 method)
{
    s32 high = (s32)(position >> 32);
    SetLastError(0);
    u32 low = SetFilePointer(win_inttohandle(fd), (s32)(u32)position, &high, method);
    if (low == WIN_INVALIDSETFILEPOINTER && GetLastError() != 0)
        return -1;
    return (s64)((u64)(u32)high << 32 | low);
}

s64 os_fseek(int fd, u64 position) { return setpointer(fd, (s64)position, WIN_FILEBEGIN); }

// The position is noted and put back: streams ask for the size in the middle of
// reading. A handle that cannot seek (a pipe) has the size 0.
u64 os_fsize(int fd)
{
    s64 position = setpointer(fd, 0, WIN_FILECURRENT);
    if (position < 0)
        return 0;
    s64 end = setpointer(fd, 0, WIN_FILEEND);
    setpointer(fd, position, WIN_FILEBEGIN);
    return end < 0 ? 0 : (u64)end;
}

u64 os_fsize(char const* path)
{
    int fd = os_fopen(path, 1);
    if (!fd)
        return 0;
    u64 size = os_fsize(fd);
    os_close(fd);
    return size;
}

void os_setfilenonblock(int) {}

bool os_fileexists(char const* path)
{
    u16 wide[WINPATH_CAPACITY];
    winfileattributes a;
    return winpath_tosystem(path, wide, WINPATH_CAPACITY) && GetFileAttributesExW(wide, WIN_GETFILEEXINFOSTANDARD, &a);
}

bool os_fileorresourceexists(char const* path)
{
    if (os_fileexists(path))
        return true;
    resourceentry entry;
    return path && resource_find(path, entry);
}

bool os_unlink(char const* path)
{
    u16 wide[WINPATH_CAPACITY];
    return winpath_tosystem(path, wide, WINPATH_CAPACITY) && DeleteFileW(wide);
}

int os_fcreatenew(char const* path, bool& taken)
{
    taken = false;
    u16 wide[WINPATH_CAPACITY];
    if (!winpath_tosystem(path, wide, WINPATH_CAPACITY))
        return 0;
    // CREATE_NEW fails on any existing name, a link of that name included; the
    // reparse flag keeps a link that appears in between from being followed.
    winhandle h = CreateFileW(wide, WIN_GENERICWRITE, WIN_SHAREREAD | WIN_SHAREDELETE, nullptr, WIN_CREATENEW,
                              WIN_ATTRIBUTE_NORMAL | WIN_FLAG_OPENREPARSEPOINT, nullptr);
    if (!win_isinvalid(h))
        return win_handletoint(h);
    u32 error = GetLastError();
    taken = error == WIN_ERROR_FILEEXISTS || error == WIN_ERROR_ALREADYEXISTS;
    return 0;
}

// Only a plain file: no folder, device or link (a reparse point of any kind).
static bool isplainfile(u16 const* wide)
{
    winfileattributes a;
    return GetFileAttributesExW(wide, WIN_GETFILEEXINFOSTANDARD, &a) &&
           !(a.attributes & (WIN_ATTRIBUTE_DIRECTORY | WIN_ATTRIBUTE_DEVICE | WIN_ATTRIBUTE_REPARSEPOINT));
}

int os_fopennolink(char const* path)
{
    u16 wide[WINPATH_CAPACITY];
    if (!winpath_tosystem(path, wide, WINPATH_CAPACITY) || !isplainfile(wide))
        return 0;
    winhandle h = CreateFileW(wide, WIN_GENERICREAD, WIN_SHAREREAD | WIN_SHAREWRITE | WIN_SHAREDELETE, nullptr,
                              WIN_OPENEXISTING, WIN_ATTRIBUTE_NORMAL | WIN_FLAG_OPENREPARSEPOINT, nullptr);
    return win_isinvalid(h) ? 0 : win_handletoint(h);
}

// KERNEL32 has no owner test: a file's owner is read through the security calls
// of advapi32. A plain file counts as this user's; the folder's access list is
// what keeps other users' files out of a private folder.
bool os_isownfile(char const* path)
{
    u16 wide[WINPATH_CAPACITY];
    return winpath_tosystem(path, wide, WINPATH_CAPACITY) && isplainfile(wide);
}

bool os_getwd(char* out512)
{
    u16 wide[WINPATH_CAPACITY];
    u32 n = GetCurrentDirectoryW(WINPATH_CAPACITY, wide);
    if (n > 0 && n < WINPATH_CAPACITY && winpath_toprogram(wide, out512, 512))
        return true;
    out512[0] = '/';
    out512[1] = 0;
    return false;
}

bool os_isnetworkpath(char const* path) { return winpath_isnetwork(path); }

} // namespace kzv
