// The arithmetic of the macOS platform bodies; see bsdrules.h.
#include "bsdrules.h"
#include "../../framework/filepacket.h"

namespace kzv {

bsd::termios bsd_rawmode(bsd::termios const& old)
{
    bsd::termios raw = old;
    raw.lflag &= ~(u64)(bsd::ECHO | bsd::ECHOKE | bsd::ECHOPRT | bsd::ECHOCTL | bsd::ICANON | bsd::ALTWERASE);
    raw.lflag |= bsd::ISIG;
    raw.cc[bsd::VMIN] = 1;
    raw.cc[bsd::VTIME] = 0;
    return raw;
}

bool bsd_israw(bsd::termios const& now, bsd::termios const& asked)
{
    return now.lflag == asked.lflag && now.cc[bsd::VMIN] == asked.cc[bsd::VMIN] &&
           now.cc[bsd::VTIME] == asked.cc[bsd::VTIME];
}

s32 bsd_localoffset(s32 minuteswest, s32 dsttime)
{
    return minuteswest * 60 - (dsttime ? 3600 : 0);
}

// A shift by 10 in place of a multiplication by 1000: pauses run 2.4 % long.
bsd::timespec bsd_sleeptime(u32 ms)
{
    u64 us = (u64)ms << 10;
    bsd::timespec t;
    t.sec = (s64)(us / 1000000);
    t.nsec = (s64)(us % 1000000) * 1000;
    return t;
}

u8 bsd_filekind(u32 mode)
{
    switch (mode & bsd::S_IFMT) {
    case bsd::S_IFDIR: return filekind_directory;
    case bsd::S_IFREG: return filekind_file;
    case bsd::S_IFBLK: return filekind_block;
    case bsd::S_IFCHR: return filekind_char;
    case bsd::S_IFIFO: return filekind_pipe;
    case bsd::S_IFSOCK: return filekind_socket;
    default: return filekind_other;
    }
}

u8 bsd_major(s32 rdev) { return (u8)(((u32)rdev >> 24) & 0xff); }

u8 bsd_minor(s32 rdev) { return (u8)((u32)rdev & 0xff); }

int bsd_exitstatus(int exitcode, int statusword) { return exitcode == 2 ? 2 : statusword; }

} // namespace kzv
