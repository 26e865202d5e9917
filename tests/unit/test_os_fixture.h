// A scratch directory for the platform tests: /tmp/kzvtest-<pid>-<name>, made
// with the kernel calls directly and removed with the entries the test names.
#pragma once
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../framework/vprinter.h"
#include "../../platform/linux/syscalls.h"

namespace kzvtest {

using namespace kzv;

struct tempdir {
    char path[128];

    bool make(char const* name)
    {
        char pid[16];
        vprinter_int32tostring(os_getpid(), pid);
        if (!str_combine(path, sizeof path, "/tmp/kzvtest-", pid, "-") || !str_combine(path, sizeof path, path, name))
            return false;
        return !sys_failed(sys_mkdir(path, 0700));
    }
    // path/entry into out; the tests' names always fit.
    char const* join(char* out, u32 capacity, char const* entry) const
    {
        return str_combine(out, capacity, path, "/", entry) ? out : "";
    }
    void removeentry(char const* entry) const
    {
        char full[512];
        join(full, sizeof full, entry);
        if (sys_failed(sys_unlink(full)))
            sys_rmdir(full);
    }
    void remove() const { sys_rmdir(path); }
};

// Runs fn(argument) in a child process (a copy of this one, sharing nothing after
// the start); the child ends when fn returns. Answers the child's id, 0 when
// there is none.
inline long startchildprocess(void (*fn)(void*), void* argument)
{
    long r = sys_fork();
    if (r == 0) {
        fn(argument);
        sys_exit(0);
    }
    return sys_failed(r) ? 0 : r;
}

// Points descriptor fd at a fresh pipe for the duration; end() collects what came
// (a pipe's worth at most, which is all the tests write).
struct capture {
    int fd;
    int saved;
    int pipe[2];

    bool begin(int target)
    {
        fd = target;
        saved = (int)sys_dup(fd);
        if (sys_failed(saved) || sys_failed(sys_pipe(pipe)))
            return false;
        return !sys_failed(sys_dup2(pipe[1], fd));
    }
    u32 end(char* out, u32 capacity)
    {
        sys_dup2(saved, fd);
        sys_close(saved);
        sys_close(pipe[1]);
        u32 n = 0;
        for (;;) {
            long r = sys_read(pipe[0], out + n, capacity - 1 - n);
            if (r <= 0)
                break;
            n += (u32)r;
        }
        out[n] = 0;
        sys_close(pipe[0]);
        return n;
    }
};

inline bool writefile(char const* path, char const* text)
{
    int fd = os_fopen(path, 3);
    if (!fd)
        return false;
    u32 n = strlen(text);
    bool ok = os_write(fd, text, n) == (int)n;
    os_close(fd);
    return ok;
}

} // namespace kzvtest
