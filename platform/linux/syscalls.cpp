// The kernel-call wrappers over the CPU's trap sequence (sysarch.h). Nothing here
// checks or interprets a result. The clone and signal-return stubs are assembly,
// since neither may run on a C++ frame.
#include "syscalls.h"

extern "C" long kzv_sysclone(unsigned long flags, kzv::threadstack* stack);

__asm__(SYSARCH_CLONE_ASM);
__asm__(SYSARCH_SIGRETURN_ASM);

namespace kzv {

long sys_read(int fd, void* buffer, uptr count) { return systrap(SYS_read, fd, (long)buffer, (long)count); }
long sys_write(int fd, void const* buffer, uptr count) { return systrap(SYS_write, fd, (long)buffer, (long)count); }
long sys_open(char const* path, int flags, int mode) { return systrap(SYS_open, (long)path, flags | O_LARGEFILE, mode); }
long sys_close(int fd) { return systrap(SYS_close, fd); }
s64 sys_lseek(int fd, s64 offset, int whence) { return sysarch_seek(fd, offset, whence); }
long sys_stat(char const* path, kstat* st) { return sysarch_stat(path, st); }
long sys_lstat(char const* path, kstat* st) { return sysarch_lstat(path, st); }
long sys_readlink(char const* path, char* buffer, uptr capacity) { return systrap(SYS_readlink, (long)path, (long)buffer, (long)capacity); }
long sys_getdents64(int fd, void* buffer, uptr capacity) { return systrap(SYS_getdents64, fd, (long)buffer, (long)capacity); }
long sys_getcwd(char* buffer, uptr capacity) { return systrap(SYS_getcwd, (long)buffer, (long)capacity); }
long sys_unlink(char const* path) { return systrap(SYS_unlink, (long)path); }
long sys_flock(int fd, int operation) { return systrap(SYS_flock, fd, operation); }
long sys_fcntl(int fd, int command, long argument) { return systrap(SYS_fcntl, fd, command, argument); }
long sys_ioctl(int fd, unsigned long request, void* argument) { return systrap(SYS_ioctl, fd, (long)request, (long)argument); }

long sys_mmap(void* address, uptr length, int protection, int flags, int fd, u64 offset)
{
    return sysarch_mmap(address, length, protection, flags, fd, offset);
}

long sys_munmap(void* address, uptr length) { return systrap(SYS_munmap, (long)address, (long)length); }
long sys_nanosleep(ktimespec const* request) { return systrap(SYS_nanosleep, (long)request, 0); }
long sys_poll(kpollfd* fds, uptr count, int timeoutms) { return systrap(SYS_poll, (long)fds, (long)count, timeoutms); }
long sys_gettimeofday(ktimeval* time, ktimezone* zone) { return systrap(SYS_gettimeofday, (long)time, (long)zone); }
long sys_getpid() { return systrap(SYS_getpid); }
long sys_getppid() { return systrap(SYS_getppid); }
long sys_mprotect(void* address, uptr length, int protection) { return systrap(SYS_mprotect, (long)address, (long)length, protection); }
long sys_prctl(int option, unsigned long argument) { return systrap(SYS_prctl, option, (long)argument, 0, 0, 0); }
long sys_sigprocmask(int how, u64 const* mask, u64* old) { return systrap(SYS_rt_sigprocmask, how, (long)mask, (long)old, 8); }
long sys_geteuid() { return systrap(SYS_geteuid); }
long sys_sigaction(int signal, ksigaction const* action, ksigaction* old) { return sysarch_sigaction(signal, action, old); }

long sys_socket(int domain, int type, int protocol)
{
    long args[5] = {domain, type, protocol, 0, 0};
    return sysarch_socketcall(SOCKETCALL_socket, args);
}

long sys_bind(int fd, void const* address, u32 length)
{
    long args[5] = {fd, (long)address, (long)length, 0, 0};
    return sysarch_socketcall(SOCKETCALL_bind, args);
}

long sys_listen(int fd, int backlog)
{
    long args[5] = {fd, backlog, 0, 0, 0};
    return sysarch_socketcall(SOCKETCALL_listen, args);
}

long sys_accept(int fd, void* address, u32* length)
{
    long args[5] = {fd, (long)address, (long)length, 0, 0};
    return sysarch_socketcall(SOCKETCALL_accept, args);
}

long sys_connect(int fd, void const* address, u32 length)
{
    long args[5] = {fd, (long)address, (long)length, 0, 0};
    return sysarch_socketcall(SOCKETCALL_connect, args);
}

long sys_setsockopt(int fd, int level, int option, void const* value, u32 length)
{
    long args[5] = {fd, level, option, (long)value, (long)length};
    return sysarch_socketcall(SOCKETCALL_setsockopt, args);
}

long sys_pipe(int fds[2]) { return systrap(SYS_pipe, (long)fds); }
long sys_dup(int fd) { return systrap(SYS_dup, fd); }
long sys_dup2(int fd, int target) { return systrap(SYS_dup2, fd, target); }
long sys_mkdir(char const* path, int mode) { return systrap(SYS_mkdir, (long)path, mode); }
long sys_rmdir(char const* path) { return systrap(SYS_rmdir, (long)path); }
long sys_symlink(char const* target, char const* path) { return systrap(SYS_symlink, (long)target, (long)path); }
long sys_prlimit(int resource, u64 const limit[2], u64 old[2]) { return systrap(SYS_prlimit64, 0, resource, (long)limit, (long)old); }

long sys_clone(unsigned long flags, threadstack* stack) { return kzv_sysclone(flags, stack); }

// A clone without a stack of its own and with SIGCHLD at its end is a fork.
long sys_fork() { return systrap(SYS_clone, SIGCHLD, 0, 0, 0, 0); }
long sys_kill(long pid, int signal) { return systrap(SYS_kill, pid, signal); }
long sys_wait4(long pid, int* status, int options) { return systrap(SYS_wait4, pid, (long)status, options, 0); }

void sys_exit(int status)
{
    for (;;)
        systrap(SYS_exit, status);
}

void sys_exitgroup(int status)
{
    for (;;)
        systrap(SYS_exit_group, status);
}

} // namespace kzv
