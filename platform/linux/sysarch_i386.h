// i386 kernel interface: system-call numbers, the kernel's record layouts and the
// trap sequence. `int $0x80` takes the number in eax and up to six arguments in
// ebx, ecx, edx, esi, edi, ebp. The socket calls go through the socketcall
// multiplexer, mmap2 takes its offset in 4096-byte pages, and file sizes and
// positions beyond 2 GiB need the 64-bit calls. Only sysarch.h includes this file.
#pragma once

namespace kzv {

// SYS_geteuid is geteuid32: the call of number 49 answers a 16-bit user id.
enum : long {
    SYS_exit = 1, SYS_read = 3, SYS_write = 4, SYS_open = 5, SYS_close = 6, SYS_unlink = 10,
    SYS_getpid = 20, SYS_ioctl = 54, SYS_fcntl = 55, SYS_gettimeofday = 78, SYS_readlink = 85,
    SYS_munmap = 91, SYS_socketcall = 102, SYS_clone = 120, SYS__llseek = 140, SYS_flock = 143,
    SYS_nanosleep = 162, SYS_poll = 168, SYS_rt_sigreturn = 173, SYS_rt_sigaction = 174,
    SYS_getcwd = 183, SYS_mmap2 = 192, SYS_stat64 = 195, SYS_lstat64 = 196, SYS_geteuid = 201,
    SYS_getdents64 = 220,
    SYS_exit_group = 252, SYS_getppid = 64, SYS_mprotect = 125, SYS_prctl = 172, SYS_rt_sigprocmask = 175,
    // Used by the tests only.
    SYS_mkdir = 39, SYS_rmdir = 40, SYS_dup = 41, SYS_pipe = 42, SYS_dup2 = 63, SYS_symlink = 83,
    SYS_prlimit64 = 340, SYS_kill = 37, SYS_wait4 = 114,
};

enum : int { O_LARGEFILE = 0100000, O_DIRECTORY = 0200000, O_NOFOLLOW = 0400000 };

// stat64 as the kernel writes it; u64 members are 4-byte aligned on i386, which
// gives the kernel's packing without explicit attributes.
struct kstat {
    u64 dev;
    u8 pad0[4];
    u32 shortino;
    u32 mode;
    u32 nlink;
    u32 uid;
    u32 gid;
    u64 rdev;
    u8 pad3[4];
    s64 size;
    u32 blksize;
    u64 blocks;
    u32 atime, atimensec;
    u32 mtime, mtimensec;
    u32 ctime, ctimensec;
    u64 ino;
};
static_assert(sizeof(kstat) == 96, "i386 kernel stat64");

struct ktimeval { s32 sec; s32 usec; };
struct ktimespec { s32 sec; s32 nsec; };
static_assert(sizeof(ktimeval) == 8 && sizeof(ktimespec) == 8, "i386 time records");

extern "C" void kzv_sigreturn();

struct ksigaction {             // what rt_sigaction reads, in the kernel's order
    void* handler;
    u32 flags;
    void (*restorer)();
    u32 mask[2];                // 64 signals
};
static_assert(sizeof(ksigaction) == 20, "i386 kernel sigaction");

inline long systrap(long n, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0)
{
    long r;
    __asm__ volatile("int $0x80"
                     : "=a"(r)
                     : "0"(n), "b"(a), "c"(b), "d"(c), "S"(d), "D"(e)
                     : "memory");
    return r;
}

// ebp may hold the frame pointer, so the sixth argument is loaded inside the asm.
inline long systrap6(long n, long a, long b, long c, long d, long e, long f)
{
    long six[2] = {e, f};
    long* p = six;
    long r;
    __asm__ volatile("push %%ebp\n\tmov 4(%%edi), %%ebp\n\tmov (%%edi), %%edi\n\t"
                     "int $0x80\n\tpop %%ebp"
                     : "=a"(r), "+D"(p)
                     : "0"(n), "b"(a), "c"(b), "d"(c), "S"(d)
                     : "memory");
    return r;
}

inline long sysarch_mmap(void* address, uptr length, int protection, int flags, int fd, u64 offset)
{
    return systrap6(SYS_mmap2, (long)address, (long)length, protection, flags, fd, (long)(offset >> 12));
}

// rt_sigaction with our own rt_sigreturn stub: the old `signal` call is one-shot
// here, and a second Ctrl-C would kill the process with the terminal still raw.
const u32 SA_SIGINFO = 4, SA_RESTORER = 0x04000000;
inline void sysarch_setaction(ksigaction& action, void* handler)
{
    action.handler = handler;
    action.flags = SA_SIGINFO | SA_RESTORER;
    action.restorer = kzv_sigreturn;
    action.mask[0] = action.mask[1] = 0;
}
inline long sysarch_sigaction(int signal, ksigaction const* action, ksigaction* old)
{
    return systrap(SYS_rt_sigaction, signal, (long)action, (long)old, 8);
}

inline long sysarch_socketcall(int call, long const* args) { return systrap(SYS_socketcall, call, (long)args); }

} // namespace kzv

#include "sysarch_file64.h"

// kzv_sysclone(flags, stack): cdecl arguments on the stack. The child starts with
// its stack pointer at the stack's record (threadstack) and calls
// kzv_threadmain(record) on a 16-aligned call site, keeping the record in esi
// (callee-saved; the callee may overwrite its argument slot, never the record
// above it). Then its own stack is unmapped and the child ends: munmap and exit
// from registers alone, since after the munmap no stack is left to touch.
#define SYSARCH_CLONE_ASM                                                          \
    ".text\n.globl kzv_sysclone\n.type kzv_sysclone,@function\nkzv_sysclone:\n"     \
    "  push %ebx\n  push %esi\n  push %edi\n"                                       \
    "  mov 16(%esp), %ebx\n  mov 20(%esp), %ecx\n"                                  \
    "  xor %edx, %edx\n  xor %esi, %esi\n  xor %edi, %edi\n  mov $120, %eax\n"       \
    "  int $0x80\n  test %eax, %eax\n  jnz 1f\n"                                    \
    "  xor %ebp, %ebp\n  mov %esp, %esi\n  and $-16, %esp\n  sub $12, %esp\n"        \
    "  push %esi\n  call kzv_threadmain\n"                                          \
    "  mov (%esi), %ebx\n  mov 4(%esi), %ecx\n  mov $91, %eax\n  int $0x80\n"        \
    "  xor %ebx, %ebx\n  mov $1, %eax\n  int $0x80\n  hlt\n"                         \
    "1: pop %edi\n  pop %esi\n  pop %ebx\n  ret\n"

#define SYSARCH_SIGRETURN_ASM                                                      \
    ".text\n.globl kzv_sigreturn\n.type kzv_sigreturn,@function\nkzv_sigreturn:\n"  \
    "  mov $173, %eax\n  int $0x80\n  hlt\n"

// _start: argc at (%esp). The argument is pushed so that the call site is 16-aligned.
#define SYSARCH_START_ASM                                                          \
    ".text\n.globl _start\n.type _start,@function\n_start:\n"                      \
    "  xor %ebp, %ebp\n  mov %esp, %eax\n  and $-16, %esp\n  sub $12, %esp\n"       \
    "  push %eax\n  call kzv_startc\n  hlt\n"
