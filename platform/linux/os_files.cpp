// Files by descriptor and by path. Every open is close-on-exec and large-file
// capable (sys_open adds O_LARGEFILE where the CPU needs it). Descriptor 0 is never
// a result: it is standard input, reached only through os_stdin. Reads and writes
// answer 0 for "would block" and -1 for an error.
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "os_arguments.h"
#include "syscalls.h"

namespace kzv {

// What an open hands out: 0 for a failure, and for descriptor 0, which is closed
// again so that standard input stays closed, as it was.
static int openresult(long fd)
{
    if (sys_failed(fd))
        return 0;
    if (fd == 0) {
        sys_close(0);
        return 0;
    }
    return (int)fd;
}

int os_fopen(char const* path, unsigned mode)
{
    static const int modeflags[6] = {0, O_RDONLY, O_WRONLY, O_RDWR | O_CREAT | O_TRUNC, O_RDWR, O_RDWR};
    if (!path || mode < 1 || mode > 5)
        return 0;
    int fd = openresult(sys_open(path, modeflags[mode] | O_CLOEXEC, 0777));
    if (!fd)
        return 0;
    // A refused lock does not fail the open: the file is used without it.
    if (mode == 4 && sys_failed(sys_flock(fd, LOCK_EX | LOCK_NB))) {
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
        sys_close(fd);
}

static int transferresult(long r)
{
    if (r >= 0)
        return (int)r;
    return (r == -E_AGAIN || r == -E_INTR) ? 0 : -1;
}

int os_read(int fd, void* buffer, unsigned count) { return transferresult(sys_read(fd, buffer, count)); }

int os_write(int fd, void const* buffer, unsigned count) { return transferresult(sys_write(fd, buffer, count)); }

s64 os_fseek(int fd, u64 position) { return sys_lseek(fd, (s64)position, SEEK_SET); }

void os_setfilenonblock(int fd) { sys_fcntl(fd, F_SETFL, O_NONBLOCK); }

bool os_fileexists(char const* path)
{
    kstat st;
    return path && !sys_failed(sys_stat(path, &st)) && (st.mode & S_IFMT) != S_IFDIR;
}

u64 os_fsize(char const* path)
{
    kstat st;
    if (!path || sys_failed(sys_stat(path, &st)) || st.size < 0)
        return 0;
    return (u64)st.size;
}

// A pipe cannot seek, so its size is 0.
u64 os_fsize(int fd)
{
    s64 position = sys_lseek(fd, 0, SEEK_CUR);
    if (position < 0)
        return 0;
    s64 end = sys_lseek(fd, 0, SEEK_END);
    sys_lseek(fd, position, SEEK_SET);
    return end < 0 ? 0 : (u64)end;
}

bool os_unlink(char const* path) { return path && sys_unlink(path) == 0; }

int os_fcreatenew(char const* path, bool& taken)
{
    taken = false;
    if (!path)
        return 0;
    long fd = sys_open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    taken = fd == -E_EXIST;         // with O_EXCL a link of that name is refused as existing
    return openresult(fd);
}

// The type is checked before the open, and the open itself neither follows a link
// nor waits for a fifo's writer: a file swapped in between is at worst read empty.
int os_fopennolink(char const* path)
{
    kstat st;
    if (!path || sys_failed(sys_lstat(path, &st)) || (st.mode & S_IFMT) != S_IFREG)
        return 0;
    return openresult(sys_open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
}

bool os_isownfile(char const* path)
{
    kstat st;
    return path && !sys_failed(sys_lstat(path, &st)) && (st.mode & S_IFMT) == S_IFREG &&
           st.uid == (u32)sys_geteuid();
}

bool os_getwd(char* out512)
{
    if (!sys_failed(sys_getcwd(out512, 512)))
        return true;
    out512[0] = '/';
    out512[1] = 0;
    return false;
}

// The kernel takes any run of leading slashes as the root: "//tmp" is "/tmp".
bool os_isnetworkpath(char const*) { return false; }

bool arguments_currentdir(char* out, u32 capacity) { return !sys_failed(sys_getcwd(out, capacity)); }

} // namespace kzv
