// Whole-file loading. A regular file's size is known before reading, so the loop
// ends when that many bytes are in; a read that brings nothing is retried (slow
// devices), with a 1 ms pause after the first 1000 in a row, and the load fails at
// the 9001st, so no load waits much more than 8 seconds.
#include "fileload.h"
#include "filestream.h"
#include "mem.h"
#include "os.h"
#include "sysprocess.h"

namespace kzv {

static const u32 LOADFILE_QUICKRETRIES = 1000;
static const u32 LOADFILE_MAXEMPTY = 9000;

// Reads exactly `size` bytes from fd into block; false on an error, on a file that
// shrank below `size`, or when the bytes stop coming.
static bool readwhole(int fd, u8* block, u64 size)
{
    u64 done = 0;
    u32 empty = 0;
    while (done < size) {
        int k = os_read(fd, block + done, (u32)(size - done));
        if (k > 0) {
            done += (u32)k;
            empty = 0;
            continue;
        }
        if (k < 0 || ++empty > LOADFILE_MAXEMPTY)
            return false;
        if (os_fsize(fd) < size)
            return false;               // truncated meanwhile: the bytes will never come
        if (empty > LOADFILE_QUICKRETRIES)
            os_sleep(1);
    }
    return true;
}

char* loadfile(char const* path, unsigned& size)
{
    size = 0;
    u64 s = path ? os_fsize(path) : 0;
    if (s == 0 || s > LOADFILE_MAX)
        return nullptr;
    int fd = os_fopen(path, 1);
    if (!fd)
        return nullptr;
    u8* block = (u8*)process->pool.getmem(s + 1);
    if (!block) {
        os_close(fd);
        return nullptr;
    }
    bool whole = readwhole(fd, block, s);
    os_close(fd);
    if (!whole) {
        process->pool.free_int(block);
        return nullptr;
    }
    block[s] = 0;
    size = (unsigned)s;
    return (char*)block;
}

unsigned loadfile_complete(char const* path, void* buffer, unsigned max)
{
    u8* out = (u8*)buffer;
    if (!out)
        return 0;
    out[0] = 0;
    int fd = path ? os_fopen(path, 1) : 0;
    if (!fd)
        return 0;
    unsigned result = 0;
    u64 s = os_fsize(fd);
    if (s > 0) {
        os_setfilenonblock(fd);
        u32 n = (u32)kzv_min(s, (u64)max);
        int k = os_read(fd, out, n);
        result = k >= 0 && (u32)k == n ? n : 0;
    }
    os_close(fd);
    return result;
}

// A pipe reports no size and an embedded resource is no file on disk: both take
// one read through the stream.
unsigned loadfile(char const* path, void* buffer, unsigned max)
{
    u8* out = (u8*)buffer;
    if (!out)
        return 0;
    unsigned k = loadfile_complete(path, buffer, max);
    if (k > 0) {
        out[k] = 0;
        return k;
    }
    file source(path);
    u8* bytes = nullptr;
    sptr n = source.read(&bytes, max);
    if (n <= 0) {
        out[0] = 0;
        return 0;
    }
    memcpy(out, bytes, (u32)n);
    out[n] = 0;
    return (unsigned)n;
}

} // namespace kzv
