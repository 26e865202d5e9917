// Files by descriptor and by path. Every open is close-on-exec. Descriptor 0 is
// never a result: it is standard input, reached only through os_stdin. Reads and
// writes answer 0 for "would block" and -1 for an error.
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../linux/os_arguments.h"
#include "libsystem.h"

namespace kzv {

// What an open hands out: 0 for a failure, and for descriptor 0, which is closed
// again so that standard input stays closed, as it was.
static int openresult(int fd)
{
    if (fd < 0)
        return 0;
    if (fd == 0) {
        close(0);
        return 0;
    }
    return fd;
}

int os_fopen(char const* path, unsigned mode)
{
    static const int modeflags[6] = {0, bsd::O_RDONLY, bsd::O_WRONLY, bsd::O_RDWR | bsd::O_CREAT | bsd::O_TRUNC,
                                     bsd::O_RDWR, bsd::O_RDWR};
    if (!path || mode < 1 || mode > 5)
        return 0;
    int fd = openresult(open(path, modeflags[mode] | bsd::O_CLOEXEC, 0777));
    if (!fd)
        return 0;
    // A refused lock does not fail the open: the file is used without it.
    if (mode == 4 && flock(fd, bsd::LOCK_EX | bsd::LOCK_NB) != 0) {
        os_stderr("could not lock file ");
        os_stderr(path);
        os_stderr("\n");
    }
    return fd;
}

void os_close(int fd)
{
    if (fd == 0) {
        os_stderr("close 0!!\n");
        return;
    }
    if (fd > 0)
        close(fd);
}

static int transferresult(long r)
{
    if (r >= 0)
        return (int)r;
    int e = bsd_errno();
    return (e == bsd::EAGAIN || e == bsd::EINTR) ? 0 : -1;
}

int os_read(int fd, void* buffer, unsigned count) { return transferresult(read(fd, buffer, count)); }

int os_write(int fd, void const* buffer, unsigned count) { return transferresult(write(fd, buffer, count)); }

s64 os_fseek(int fd, u64 position) { return lseek(fd, (long long)position, bsd::SEEK_SET); }

void os_setfilenonblock(int fd) { fcntl(fd, bsd::F_SETFL, bsd::O_NONBLOCK); }

bool os_fileexists(char const* path)
{
    bsd::stat st;
    return path && stat(path, &st) == 0 && (st.mode & bsd::S_IFMT) != bsd::S_IFDIR;
}

u64 os_fsize(char const* path)
{
    bsd::stat st;
    if (!path || stat(path, &st) != 0 || st.size < 0)
        return 0;
    return (u64)st.size;
}

// A pipe cannot seek, so its size is 0.
u64 os_fsize(int fd)
{
    long long position = lseek(fd, 0, bsd::SEEK_CUR);
    if (position < 0)
        return 0;
    long long end = lseek(fd, 0, bsd::SEEK_END);
    lseek(fd, position, bsd::SEEK_SET);
    return end < 0 ? 0 : (u64)end;
}

bool os_unlink(char const* path) { return path && unlink(path) == 0; }

int os_fcreatenew(char const* path, bool& taken)
{
    taken = false;
    if (!path)
        return 0;
    int fd = open(path, bsd::O_WRONLY | bsd::O_CREAT | bsd::O_EXCL | bsd::O_NOFOLLOW | bsd::O_CLOEXEC, 0600);
    taken = fd < 0 && bsd_errno() == bsd::EEXIST;   // with O_EXCL a link of that name counts as existing
    return openresult(fd);
}

// The type is checked before the open, and the open itself neither follows a link
// nor waits for a fifo's writer: a file swapped in between is at worst read empty.
int os_fopennolink(char const* path)
{
    bsd::stat st;
    if (!path || lstat(path, &st) != 0 || (st.mode & bsd::S_IFMT) != bsd::S_IFREG)
        return 0;
    return openresult(open(path, bsd::O_RDONLY | bsd::O_NOFOLLOW | bsd::O_NONBLOCK | bsd::O_CLOEXEC));
}

bool os_isownfile(char const* path)
{
    bsd::stat st;
    return path && lstat(path, &st) == 0 && (st.mode & bsd::S_IFMT) == bsd::S_IFREG && st.uid == geteuid();
}

bool os_getwd(char* out512)
{
    if (getcwd(out512, 512))
        return true;
    out512[0] = '/';
    out512[1] = 0;
    return false;
}

// The kernel takes any run of leading slashes as the root: "//tmp" is "/tmp".
bool os_isnetworkpath(char const*) { return false; }

bool arguments_currentdir(char* out, u32 capacity) { return getcwd(out, capacity) != nullptr; }

} // namespace kzv
