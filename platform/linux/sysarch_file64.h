// The 64-bit file calls of the 32-bit CPUs (i386 and ARM): stat64 and lstat64, and
// _llseek, which takes the offset as two words and writes the result through a
// pointer. Included by their CPU headers after the numbers and the trap.
#pragma once

namespace kzv {

inline long sysarch_stat(char const* path, kstat* st) { return systrap(SYS_stat64, (long)path, (long)st); }
inline long sysarch_lstat(char const* path, kstat* st) { return systrap(SYS_lstat64, (long)path, (long)st); }

inline s64 sysarch_seek(int fd, s64 offset, int whence)
{
    s64 result = 0;
    long r = systrap(SYS__llseek, fd, (long)(u32)((u64)offset >> 32), (long)(u32)offset, (long)&result, whence);
    return r < 0 ? r : result;
}

} // namespace kzv
