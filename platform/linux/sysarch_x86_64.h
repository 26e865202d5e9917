// x86-64 kernel interface: system-call numbers, the kernel's record layouts and the
// trap sequence. The kernel takes six arguments in rdi, rsi, rdx, r10, r8, r9 and
// returns in rax; `syscall` clobbers rcx and r11. Only sysarch.h includes this file.
#pragma once

namespace kzv {

enum : long {
    SYS_read = 0, SYS_write = 1, SYS_open = 2, SYS_close = 3, SYS_stat = 4, SYS_lstat = 6, SYS_poll = 7,
    SYS_lseek = 8, SYS_mmap = 9, SYS_munmap = 11, SYS_rt_sigaction = 13, SYS_rt_sigreturn = 15,
    SYS_ioctl = 16, SYS_nanosleep = 35, SYS_getpid = 39, SYS_socket = 41, SYS_connect = 42,
    SYS_accept = 43, SYS_bind = 49, SYS_listen = 50, SYS_setsockopt = 54, SYS_clone = 56,
    SYS_exit = 60, SYS_fcntl = 72, SYS_flock = 73, SYS_getcwd = 79, SYS_unlink = 87,
    SYS_readlink = 89, SYS_gettimeofday = 96, SYS_geteuid = 107, SYS_getdents64 = 217, SYS_exit_group = 231,
    SYS_mprotect = 10, SYS_rt_sigprocmask = 14, SYS_getppid = 110, SYS_prctl = 157,
    // Used by the tests only.
    SYS_pipe = 22, SYS_dup = 32, SYS_dup2 = 33, SYS_mkdir = 83, SYS_rmdir = 84, SYS_symlink = 88,
    SYS_prlimit64 = 302, SYS_wait4 = 61, SYS_kill = 62,
};

// Open flags that differ between CPUs. Every file is large-file capable on 64 bits.
enum : int { O_LARGEFILE = 0, O_DIRECTORY = 0200000, O_NOFOLLOW = 0400000 };

struct kstat {                  // what stat and lstat fill
    u64 dev;
    u64 ino;
    u64 nlink;
    u32 mode;
    u32 uid;
    u32 gid;
    u32 pad0;
    u64 rdev;
    s64 size;
    s64 blksize;
    s64 blocks;
    u64 atime, atimensec;
    u64 mtime, mtimensec;
    u64 ctime, ctimensec;
    s64 unused[3];
};
static_assert(sizeof(kstat) == 144, "x86-64 kernel stat");

struct ktimeval { s64 sec; s64 usec; };
struct ktimespec { s64 sec; s64 nsec; };
static_assert(sizeof(ktimeval) == 16 && sizeof(ktimespec) == 16, "x86-64 time records");

extern "C" void kzv_sigreturn();

struct ksigaction {             // what rt_sigaction reads, in the kernel's order
    void* handler;
    u64 flags;
    void (*restorer)();
    u64 mask;                   // 64 signals
};
static_assert(sizeof(ksigaction) == 32, "x86-64 kernel sigaction");

inline long systrap(long n, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0)
{
    register long r10 __asm__("r10") = d;
    register long r8 __asm__("r8") = e;
    register long r9 __asm__("r9") = f;
    long r;
    __asm__ volatile("syscall"
                     : "=a"(r)
                     : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
                     : "rcx", "r11", "memory");
    return r;
}

// The 64-bit calls are the plain ones here.
inline long sysarch_stat(char const* path, kstat* st) { return systrap(SYS_stat, (long)path, (long)st); }
inline long sysarch_lstat(char const* path, kstat* st) { return systrap(SYS_lstat, (long)path, (long)st); }
inline s64 sysarch_seek(int fd, s64 offset, int whence) { return systrap(SYS_lseek, fd, offset, whence); }

inline long sysarch_mmap(void* address, uptr length, int protection, int flags, int fd, u64 offset)
{
    return systrap(SYS_mmap, (long)address, (long)length, protection, flags, fd, (long)offset);
}

// Signal actions: rt_sigaction with our own return stub, since no runtime library
// supplies one. The handler keeps its installation after each delivery.
const u64 SA_SIGINFO = 4, SA_RESTORER = 0x04000000;
inline void sysarch_setaction(ksigaction& action, void* handler)
{
    action.handler = handler;
    action.flags = SA_SIGINFO | SA_RESTORER;
    action.restorer = kzv_sigreturn;
    action.mask = 0;
}
inline long sysarch_sigaction(int signal, ksigaction const* action, ksigaction* old)
{
    return systrap(SYS_rt_sigaction, signal, (long)action, (long)old, 8);
}

} // namespace kzv

#include "sysarch_socketdirect.h"

// kzv_sysclone(flags, stack): the child starts with its stack pointer at the
// stack's record (threadstack) and nothing of the parent's frame, so it must not
// return into C++; it calls kzv_threadmain(record), keeping the record in rbx
// (callee-saved). Then its own stack is unmapped and the child ends: munmap and
// exit from registers alone, since after the munmap no stack is left to touch.
#define SYSARCH_CLONE_ASM                                                          \
    ".text\n.globl kzv_sysclone\n.type kzv_sysclone,@function\nkzv_sysclone:\n"     \
    "  mov $56, %eax\n  xor %edx, %edx\n  xor %r10d, %r10d\n  xor %r8d, %r8d\n"      \
    "  syscall\n  test %rax, %rax\n  jnz 1f\n"                                      \
    "  xor %ebp, %ebp\n  mov %rsp, %rbx\n  mov %rsp, %rdi\n  and $-16, %rsp\n"       \
    "  call kzv_threadmain\n"                                                       \
    "  mov (%rbx), %rdi\n  mov 8(%rbx), %rsi\n  mov $11, %eax\n  syscall\n"          \
    "  xor %edi, %edi\n  mov $60, %eax\n  syscall\n  hlt\n"                          \
    "1: ret\n"

#define SYSARCH_SIGRETURN_ASM                                                      \
    ".text\n.globl kzv_sigreturn\n.type kzv_sigreturn,@function\nkzv_sigreturn:\n"  \
    "  mov $15, %eax\n  syscall\n  hlt\n"

// _start: the kernel leaves argc at (%rsp); the frame is aligned to 16 for the calls.
#define SYSARCH_START_ASM                                                          \
    ".text\n.globl _start\n.type _start,@function\n_start:\n"                      \
    "  xor %ebp, %ebp\n  mov %rsp, %rdi\n  and $-16, %rsp\n  call kzv_startc\n  hlt\n"
