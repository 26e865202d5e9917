// Scratch files for the file-stream and file-loading tests: unique names in the
// harness's temporary folder (the process id keeps parallel runs of several builds apart), written and
// read back with the platform calls alone, so the checks do not lean on the code
// under test.
#pragma once
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../harness/harness.h"

namespace kzvtest {

using namespace kzv;

const u32 SCRATCHPATH_CAPACITY = 384;

// out = "<temporary folder>/kzvstream-<pid>-<name>".
inline void scratchpath(char* out, char const* name)
{
    char digits[12];
    u32 n = 0;
    u32 pid = (u32)os_getpid();
    do {
        digits[n++] = (char)('0' + pid % 10);
        pid /= 10;
    } while (pid && n < sizeof digits);
    char number[12];
    for (u32 i = 0; i < n; i++)
        number[i] = digits[n - 1 - i];
    number[n] = 0;
    char prefix[SCRATCHPATH_CAPACITY];
    str_combine(prefix, sizeof prefix, tempfolder(), "/kzvstream-", number);
    str_combine(prefix, sizeof prefix, prefix, "-");
    str_combine(out, SCRATCHPATH_CAPACITY, prefix, name);
}

inline bool writescratch(char const* path, void const* bytes, u32 n)
{
    int fd = os_fopen(path, 3);
    if (!fd)
        return false;
    u32 done = 0;
    while (done < n) {
        int k = os_write(fd, (u8 const*)bytes + done, n - done);
        if (k <= 0)
            break;
        done += (u32)k;
    }
    os_close(fd);
    return done == n;
}

inline u32 readscratch(char const* path, u8* out, u32 capacity)
{
    int fd = os_fopen(path, 1);
    if (!fd)
        return 0;
    u32 done = 0;
    while (done < capacity) {
        int k = os_read(fd, out + done, capacity - done);
        if (k <= 0)
            break;
        done += (u32)k;
    }
    os_close(fd);
    return done;
}

} // namespace kzvtest
