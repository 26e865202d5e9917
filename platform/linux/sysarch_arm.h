// ARM (EABI) kernel interface: system-call numbers, the kernel's record layouts and
// the trap sequence. `svc 0` takes the number in r7 and up to seven arguments in
// r0..r6. EABI has no socketcall and no old mmap; mmap2 takes its offset in 4096-byte
// pages; u64 members are 8-byte aligned, so the kernel's stat64 padding is spelled
// out. Only sysarch.h includes this file.
#pragma once

namespace kzv {

// SYS_geteuid is geteuid32: the call of number 49 answers a 16-bit user id.
enum : long {
    SYS_exit = 1, SYS_read = 3, SYS_write = 4, SYS_open = 5, SYS_close = 6, SYS_unlink = 10,
    SYS_getpid = 20, SYS_ioctl = 54, SYS_fcntl = 55, SYS_sigaction = 67, SYS_gettimeofday = 78,
    SYS_readlink = 85, SYS_munmap = 91, SYS_clone = 120, SYS__llseek = 140, SYS_flock = 143,
    SYS_nanosleep = 162, SYS_poll = 168, SYS_getcwd = 183, SYS_mmap2 = 192, SYS_stat64 = 195,
    SYS_lstat64 = 196, SYS_geteuid = 201, SYS_getdents64 = 217, SYS_exit_group = 248, SYS_socket = 281,
    SYS_bind = 282,
    SYS_connect = 283, SYS_listen = 284, SYS_accept = 285, SYS_setsockopt = 294,
    SYS_getppid = 64, SYS_mprotect = 125, SYS_prctl = 172, SYS_rt_sigprocmask = 175,
    // Used by the tests only.
    SYS_mkdir = 39, SYS_rmdir = 40, SYS_dup = 41, SYS_pipe = 42, SYS_dup2 = 63, SYS_symlink = 83,
    SYS_prlimit64 = 369, SYS_kill = 37, SYS_wait4 = 114,
};

// ARM's own values: the generic O_DIRECTORY and O_NOFOLLOW bits mean other things here.
enum : int { O_LARGEFILE = 0400000, O_DIRECTORY = 040000, O_NOFOLLOW = 0100000 };

struct kstat {                  // stat64 as the kernel writes it
    u64 dev;
    u8 pad0[4];
    u32 shortino;
    u32 mode;
    u32 nlink;
    u32 uid;
    u32 gid;
    u64 rdev;
    u8 pad3[4];
    u8 pad4[4];                 // aligns size to 8
    s64 size;
    u32 blksize;
    u8 pad5[4];                 // aligns blocks to 8
    u64 blocks;
    u32 atime, atimensec;
    u32 mtime, mtimensec;
    u32 ctime, ctimensec;
    u64 ino;
};
static_assert(sizeof(kstat) == 104, "ARM kernel stat64");
static_assert(__builtin_offsetof(kstat, size) == 48 && __builtin_offsetof(kstat, mtime) == 80, "ARM stat64 offsets");

struct ktimeval { s32 sec; s32 usec; };
struct ktimespec { s32 sec; s32 nsec; };
static_assert(sizeof(ktimeval) == 8 && sizeof(ktimespec) == 8, "ARM time records");

struct ksigaction {             // the old sigaction order: handler, mask, flags, restorer
    void* handler;
    u32 mask;                   // 32 signals
    u32 flags;
    void (*restorer)();
};
static_assert(sizeof(ksigaction) == 16, "ARM kernel old sigaction");

inline long systrap(long n, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0)
{
    register long r0 __asm__("r0") = a;
    register long r1 __asm__("r1") = b;
    register long r2 __asm__("r2") = c;
    register long r3 __asm__("r3") = d;
    register long r4 __asm__("r4") = e;
    register long r5 __asm__("r5") = f;
    register long r7 __asm__("r7") = n;
    __asm__ volatile("svc 0"
                     : "+r"(r0)
                     : "r"(r1), "r"(r2), "r"(r3), "r"(r4), "r"(r5), "r"(r7)
                     : "memory");
    return r0;
}

inline long sysarch_mmap(void* address, uptr length, int protection, int flags, int fd, u64 offset)
{
    return systrap(SYS_mmap2, (long)address, (long)length, protection, flags, fd, (long)(offset >> 12));
}

// sigaction keeps handlers installed after delivery. Without SA_RESTORER the kernel
// returns from the handler through its own signal page, so no stub is needed.
inline void sysarch_setaction(ksigaction& action, void* handler)
{
    action.handler = handler;
    action.mask = 0;
    action.flags = 0;
    action.restorer = nullptr;
}
inline long sysarch_sigaction(int signal, ksigaction const* action, ksigaction* old)
{
    return systrap(SYS_sigaction, signal, (long)action, (long)old);
}

} // namespace kzv

#include "sysarch_file64.h"
#include "sysarch_socketdirect.h"

// kzv_sysclone(flags, stack): the child starts with its stack pointer (from r1)
// at the stack's record (threadstack) and calls kzv_threadmain(record), keeping
// the record in r4 (callee-saved). Then its own stack is unmapped and the child
// ends: munmap and exit from registers alone, since after the munmap no stack is
// left to touch.
#define SYSARCH_CLONE_ASM                                                          \
    ".text\n.globl kzv_sysclone\n.type kzv_sysclone,%function\nkzv_sysclone:\n"     \
    "  stmfd sp!, {r4, r7, lr}\n  mov r2, #0\n  mov r3, #0\n  mov r4, #0\n"          \
    "  mov r7, #120\n  svc 0\n  cmp r0, #0\n  bne 1f\n"                             \
    "  mov fp, #0\n  mov lr, #0\n  mov r4, sp\n  mov r0, sp\n  bl kzv_threadmain\n"  \
    "  ldr r0, [r4]\n  ldr r1, [r4, #4]\n  mov r7, #91\n  svc 0\n"                   \
    "  mov r0, #0\n  mov r7, #1\n  svc 0\n  .word 0xe7f000f0\n"                      \
    "1: ldmfd sp!, {r4, r7, pc}\n"

#define SYSARCH_SIGRETURN_ASM ""

// _start: the initial stack itself (argc, argv[], 0, envp[], 0) is passed on.
#define SYSARCH_START_ASM                                                          \
    ".text\n.globl _start\n.type _start,%function\n_start:\n"                      \
    "  mov fp, #0\n  mov lr, #0\n  mov r0, sp\n  bic sp, sp, #15\n"                 \
    "  bl kzv_startc\n  .word 0xe7f000f0\n"
