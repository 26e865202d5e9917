// The numbers and record layouts of the macOS x86-64 system interface that the
// macOS bodies of the os_ functions use: one table, in namespace bsd so that it
// never meets the Linux kernel's values in a test build that holds both. No
// function lives here, so the host can compile it and check the layouts.
// Facts relied on: LP64 (long and pointers 8 bytes); tcflag_t and speed_t are
// unsigned long and NCCS is 20; dev_t is a signed 32-bit word (major in the top
// 8 bits); the stat record is the classic one with a 32-bit inode, which is what
// the unsuffixed stat, lstat, opendir and readdir of x86-64 use.
#pragma once
#include "../../framework/types.h"

namespace kzv {
namespace bsd {

// Error numbers, read through __error().
enum : int { EINTR = 4, EIO = 5, EBADF = 9, EEXIST = 17, EAGAIN = 35, ENOTCONN = 57 };

// open, fcntl and flock.
enum : int {
    O_RDONLY = 0, O_WRONLY = 1, O_RDWR = 2, O_NONBLOCK = 4, O_NOFOLLOW = 0x100, O_CREAT = 0x200,
    O_TRUNC = 0x400, O_EXCL = 0x800, O_NOCTTY = 0x20000, O_CLOEXEC = 0x1000000,
};
enum : int { F_GETFD = 1, F_SETFD = 2, F_GETFL = 3, F_SETFL = 4, FD_CLOEXEC = 1 };
enum : int { LOCK_EX = 2, LOCK_NB = 4 };
enum : int { SEEK_SET = 0, SEEK_CUR = 1, SEEK_END = 2 };

// mmap.
enum : int { PROT_READ = 1, PROT_WRITE = 2, MAP_PRIVATE = 2, MAP_ANON = 0x1000 };

// File types in st_mode.
enum : u32 {
    S_IFMT = 0170000, S_IFIFO = 0010000, S_IFCHR = 0020000, S_IFDIR = 0040000,
    S_IFBLK = 0060000, S_IFREG = 0100000, S_IFLNK = 0120000, S_IFSOCK = 0140000,
};

// Signals.
enum : int { SIGHUP = 1, SIGINT = 2, SIGQUIT = 3, SIGPIPE = 13, SIGTERM = 15, SIGTTIN = 21 };

// Sockets.
enum : int { AF_INET = 2, SOCK_STREAM = 1, SOL_SOCKET = 0xffff, SO_REUSEADDR = 4, SO_SNDBUF = 0x1001 };

// Terminal: the request that reads the window size, tcsetattr's "apply at once"
// and the local flags raw mode changes.
const unsigned long TIOCGWINSZ = 0x40087468;
enum : int { TCSANOW = 0 };
enum : u64 {
    ECHOKE = 0x1, ECHO = 0x8, ECHOPRT = 0x20, ECHOCTL = 0x40, ISIG = 0x80, ICANON = 0x100,
    ALTWERASE = 0x200,
};
const u32 NCCS = 20;
enum : u32 { VMIN = 16, VTIME = 17 };

// Threads: the scheduling inheritance of pthread_attr_setinheritsched.
enum : int { PTHREAD_EXPLICIT_SCHED = 2 };

// dlopen modes.
enum : int { RTLD_LAZY = 1 };

struct termios {
    u64 iflag;
    u64 oflag;
    u64 cflag;
    u64 lflag;
    u8 cc[NCCS];
    u8 pad[4];              // speed_t is 8-byte aligned
    u64 ispeed;
    u64 ospeed;
};
static_assert(sizeof(termios) == 72, "macOS termios");
static_assert(__builtin_offsetof(termios, cc) == 32 && __builtin_offsetof(termios, ispeed) == 56,
              "macOS termios fields");

struct winsize { u16 rows; u16 columns; u16 xpixels; u16 ypixels; };
static_assert(sizeof(winsize) == 8, "macOS winsize");

struct timeval { s64 sec; s32 usec; s32 pad; };   // suseconds_t is 32 bits
struct timezone { s32 minuteswest; s32 dsttime; };
struct timespec { s64 sec; s64 nsec; };
static_assert(sizeof(timeval) == 16 && sizeof(timespec) == 16 && sizeof(timezone) == 8, "macOS time records");

struct stat {               // classic layout, 32-bit inode
    s32 dev;
    u32 ino;
    u16 mode;
    u16 nlink;
    u32 uid;
    u32 gid;
    s32 rdev;
    timespec atime;
    timespec mtime;
    timespec ctime;
    s64 size;
    s64 blocks;
    s32 blksize;
    u32 flags;
    u32 gen;
    s32 lspare;
    s64 qspare[2];
};
static_assert(__builtin_offsetof(stat, mode) == 8 && __builtin_offsetof(stat, rdev) == 20 &&
              __builtin_offsetof(stat, mtime) == 40 && __builtin_offsetof(stat, size) == 72,
              "macOS stat fields");
static_assert(sizeof(stat) == 120, "macOS stat");

struct dirent {             // classic layout, what readdir (not readdir$INODE64) returns
    u32 ino;
    u16 reclen;
    u8 type;
    u8 namlen;
    char name[256];
};
static_assert(sizeof(dirent) == 264 && __builtin_offsetof(dirent, name) == 8, "macOS dirent");

struct sockaddr_in {        // the BSD address carries its own length first
    u8 len;
    u8 family;
    u16 port;               // network order
    u32 address;            // network order
    u8 zero[8];
};
static_assert(sizeof(sockaddr_in) == 16, "macOS sockaddr_in");

struct sched_param { s32 priority; u8 opaque[4]; };
struct pthread_attr { s64 sig; u8 opaque[56]; };
static_assert(sizeof(sched_param) == 8 && sizeof(pthread_attr) == 64, "macOS pthread records");

} // namespace bsd
} // namespace kzv
