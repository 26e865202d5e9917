// The kernel interface of this build's CPU, and the numbers and layouts that every
// Linux CPU shares (generic errno, signal, fcntl, ioctl and socket values, and the
// records whose layout does not depend on the word size). The platform layer
// includes this header, never a CPU header directly.
#pragma once
#include "../../framework/types.h"

#if defined(__x86_64__)
#include "sysarch_x86_64.h"
#elif defined(__i386__)
#include "sysarch_i386.h"
#elif defined(__arm__)
#include "sysarch_arm.h"
#else
#error "no system call table for this CPU"
#endif

namespace kzv {

enum : int {                    // negated kernel results
    E_INTR = 4, E_IO = 5, E_BADF = 9, E_AGAIN = 11, E_EXIST = 17, E_INPROGRESS = 115,
};

enum : int {
    O_RDONLY = 0, O_WRONLY = 1, O_RDWR = 2, O_CREAT = 0100, O_EXCL = 0200, O_NOCTTY = 0400, O_TRUNC = 01000,
    O_NONBLOCK = 04000, O_CLOEXEC = 02000000,
};
enum : int { F_GETFD = 1, F_GETFL = 3, F_SETFL = 4 };

// poll: one record per descriptor, the same on every CPU.
struct kpollfd {
    int fd;
    short events;
    short revents;
};
static_assert(sizeof(kpollfd) == 8, "poll record");
enum : short { POLL_IN = 0x0001, POLL_OUT = 0x0004, POLL_ERR = 0x0008, POLL_HUP = 0x0010, POLL_NVAL = 0x0020 };
enum : int { SEEK_SET = 0, SEEK_CUR = 1, SEEK_END = 2 };
enum : int { LOCK_EX = 2, LOCK_NB = 4 };
enum : int { PROT_NONE = 0, PROT_READ = 1, PROT_WRITE = 2, MAP_SHARED = 1, MAP_PRIVATE = 2, MAP_ANONYMOUS = 0x20 };
enum : int { RLIMIT_AS = 9 };     // the address-space limit (the tests lower it)

enum : u32 {                    // file type bits of a stat mode
    S_IFMT = 0170000, S_IFSOCK = 0140000, S_IFLNK = 0120000, S_IFREG = 0100000,
    S_IFBLK = 060000, S_IFDIR = 040000, S_IFCHR = 020000, S_IFIFO = 010000,
};

enum : int {
    SIGHUP = 1, SIGINT = 2, SIGQUIT = 3, SIGKILL = 9, SIGPIPE = 13, SIGTERM = 15, SIGCHLD = 17, SIGCONT = 18,
    SIGTTIN = 21,
};
enum : int { SIG_SETMASK = 2 };
enum : int { PR_SET_PDEATHSIG = 1, PR_GET_PDEATHSIG = 2, PR_SET_CHILD_SUBREAPER = 36 };
enum : int { WNOHANG = 1, WALL = 0x40000000 };    // wait4 options; WALL waits for clone children too

// The terminal settings go through TCGETS and TCSETS, whose record every Linux
// CPU here shares. (The old TCGETA/TCSETA record is passed on by qemu-user as if
// it were this one, which sets the input flags and leaves echo and line editing
// on: a terminal half set.)
enum : unsigned long { TCGETS = 0x5401, TCSETS = 0x5402, TIOCGWINSZ = 0x5413 };

enum : u32 {                    // termios control flags
    CSIZE = 0x30, CS8 = 0x30, PARENB = 0x100, CLOCAL = 0x800,
};

struct ktermios {               // the kernel's terminal record of TCGETS and TCSETS
    u32 iflag;
    u32 oflag;
    u32 cflag;
    u32 lflag;
    u8 line;
    u8 cc[19];
};
static_assert(sizeof(ktermios) == 36, "kernel termios");

struct kwinsize {
    u16 rows;
    u16 columns;
    u16 xpixel;
    u16 ypixel;
};
static_assert(sizeof(kwinsize) == 8, "kernel winsize");

struct ktimezone {
    s32 minuteswest;
    s32 dsttime;
};
static_assert(sizeof(ktimezone) == 8, "kernel timezone");

// linux_dirent64: a fixed head, then the name and its zero, padded to 8 bytes.
const u32 DIRENT64_RECLEN = 16;     // u16 record length
const u32 DIRENT64_TYPE = 18;       // u8 d_type: the entry's kind where the file system knows it
const u32 DIRENT64_NAME = 19;       // first byte of the name
// d_type values (getdents64(2)); DT_UNKNOWN (0) where the file system does not say.
enum : u8 { DT_UNKNOWN = 0, DT_FIFO = 1, DT_CHR = 2, DT_DIR = 4, DT_BLK = 6, DT_REG = 8, DT_LNK = 10,
            DT_SOCK = 12 };

enum : int { AF_UNIX = 1, AF_INET = 2, SOCK_STREAM = 1, SOCK_NONBLOCK = 04000, SOCK_CLOEXEC = 02000000 };
enum : int { SOL_SOCKET = 1, SO_REUSEADDR = 2, SO_SNDBUF = 7, SO_RCVBUF = 8 };
enum : int {                    // socketcall numbers, used as the call selector on every CPU
    SOCKETCALL_socket = 1, SOCKETCALL_bind = 2, SOCKETCALL_connect = 3, SOCKETCALL_listen = 4,
    SOCKETCALL_accept = 5, SOCKETCALL_setsockopt = 14,
};

struct ksockaddrin {
    u16 family;
    u16 port;                   // network byte order
    u32 address;                // network byte order
    u8 zero[8];
};
static_assert(sizeof(ksockaddrin) == 16, "kernel sockaddr_in");

const u32 UNIXPATH_CAPACITY = 108;
struct ksockaddrun {
    u16 family;
    char path[UNIXPATH_CAPACITY];
};
static_assert(sizeof(ksockaddrun) == 110, "kernel sockaddr_un");

} // namespace kzv
