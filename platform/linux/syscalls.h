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
long sys_geteuid();                                     // geteuid32 on 32-bit CPUs
long sys_sigaction(int signal, ksigaction const* action, ksigaction* old);

long sys_socket(int domain, int type, int protocol);
long sys_bind(int fd, void const* address, u32 length);
long sys_listen(int fd, int backlog);
long sys_accept(int fd, void* address, u32* length);
long sys_connect(int fd, void const* address, u32 length);
long sys_setsockopt(int fd, int level, int option, void const* value, u32 length);

// Starts a child on `stack` with the clone flags; the child runs kzv_threadmain.
long sys_clone(unsigned long flags, void* stack);
// The tests build their fixtures with these; the program does not call them.
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
