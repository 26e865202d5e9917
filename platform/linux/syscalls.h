// One wrapper per kernel call. Each takes the kernel's arguments in the kernel's
// order and returns the kernel's raw result: a value on success, -4095..-1 (the
// negated error number) on failure, whatever the word size; test with sys_failed.
// The per-CPU differences (socketcall, mmap2 page offsets, _llseek, stat64, the
// sigaction order) stay inside the wrappers.
#pragma once
#include "sysarch.h"

namespace kzv {

inline bool sys_failed(long r) { return r < 0 && r >= -4095; }
inline bool sys_failedaddress(long r) { return (unsigned long)r > -4096UL; }

long sys_read(int fd, void* buffer, uptr count);
long sys_write(int fd, void const* buffer, uptr count);
long sys_open(char const* path, int flags, int mode);   // O_LARGEFILE is added where it is needed
long sys_close(int fd);
s64 sys_lseek(int fd, s64 offset, int whence);          // _llseek on 32-bit CPUs
long sys_stat(char const* path, kstat* st);             // stat64 on 32-bit CPUs
long sys_lstat(char const* path, kstat* st);
long sys_readlink(char const* path, char* buffer, uptr capacity);
long sys_getdents64(int fd, void* buffer, uptr capacity);
long sys_getcwd(char* buffer, uptr capacity);
long sys_unlink(char const* path);
long sys_flock(int fd, int operation);
long sys_fcntl(int fd, int command, long argument);
long sys_ioctl(int fd, unsigned long request, void* argument);
long sys_mmap(void* address, uptr length, int protection, int flags, int fd, u64 offset);
long sys_munmap(void* address, uptr length);
long sys_nanosleep(ktimespec const* request);           // no remainder: a signal ends the pause
long sys_poll(kpollfd* fds, uptr count, int timeoutms);
long sys_gettimeofday(ktimeval* time, ktimezone* zone);
long sys_getpid();
long sys_getppid();
long sys_mprotect(void* address, uptr length, int protection);
long sys_prctl(int option, unsigned long argument);
long sys_sigprocmask(int how, u64 const* mask, u64* old); // rt_sigprocmask, 64 signals
long sys_geteuid();                                     // geteuid32 on 32-bit CPUs
long sys_sigaction(int signal, ksigaction const* action, ksigaction* old);

long sys_socket(int domain, int type, int protocol);
long sys_bind(int fd, void const* address, u32 length);
long sys_listen(int fd, int backlog);
long sys_accept(int fd, void* address, u32* length);
long sys_connect(int fd, void const* address, u32 length);
long sys_setsockopt(int fd, int level, int option, void const* value, u32 length);

// What a child of sys_clone finds at its stack pointer, in the top bytes of its
// stack: the mapping it unmaps when it ends (the clone assembly reads the first
// two words) and the process that started it.
struct threadstack {
    uptr base;
    uptr length;
    long parent;
};
static_assert(__builtin_offsetof(threadstack, base) == 0 && __builtin_offsetof(threadstack, length) == sizeof(uptr),
              "the clone assembly reads base and length as the record's first two words");

// Starts a child with the clone flags, its stack pointer at `stack`. The child
// runs kzv_threadmain(stack); when that returns it unmaps stack->base for
// stack->length (its own stack) and ends with exit, touching no memory between
// the two calls.
long sys_clone(unsigned long flags, threadstack* stack);
// The tests build their fixtures with these; the program does not call them.
// sys_fork answers 0 in the child, which goes on on a copy of the caller's stack.
long sys_fork();
long sys_kill(long pid, int signal);
long sys_wait4(long pid, int* status, int options);
long sys_pipe(int fds[2]);
long sys_dup(int fd);
long sys_dup2(int fd, int target);
long sys_mkdir(char const* path, int mode);
long sys_rmdir(char const* path);
long sys_symlink(char const* target, char const* path);
// The limit pair (current, maximum) of one resource of this process: the new one
// when `limit` is set, the old one into `old` when that is set.
long sys_prlimit(int resource, u64 const limit[2], u64 old[2]);

[[noreturn]] void sys_exit(int status);         // ends the calling thread
[[noreturn]] void sys_exitgroup(int status);    // ends the process

} // namespace kzv
