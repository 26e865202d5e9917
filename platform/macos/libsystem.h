// Our declarations of the libSystem functions the macOS program calls, and only
// those: each one is listed in libSystem.tbd, the text stub the program links
// against, and the CI check fails on any undefined symbol the stub lacks. open,
// fcntl and ioctl are variadic in the system's interface, and x86-64 callers of a
// variadic function must set %al, so they are declared variadic here too. Results
// are the system's: -1 (or null) with the error number behind __error().
#pragma once
#include "bsd.h"

extern "C" {

int* __error();

long read(int fd, void* buffer, unsigned long count);
long write(int fd, void const* buffer, unsigned long count);
int open(char const* path, int flags, ...);
int close(int fd);
long long lseek(int fd, long long offset, int whence);
int stat(char const* path, kzv::bsd::stat* st);
int lstat(char const* path, kzv::bsd::stat* st);
long readlink(char const* path, char* buffer, unsigned long capacity);
int unlink(char const* path);
int flock(int fd, int operation);
int fcntl(int fd, int command, ...);
int ioctl(int fd, unsigned long request, ...);
char* getcwd(char* buffer, unsigned long capacity);
void* opendir(char const* path);
kzv::bsd::dirent* readdir(void* dir);
int closedir(void* dir);

int gettimeofday(kzv::bsd::timeval* time, void* zone);
int nanosleep(kzv::bsd::timespec const* request, kzv::bsd::timespec* remainder);
void* mmap(void* address, unsigned long length, int protection, int flags, int fd, long long offset);
int getpid();
unsigned geteuid();
[[noreturn]] void exit(int status);

typedef void (*bsd_sighandler)(int);
bsd_sighandler signal(int signal, bsd_sighandler handler);
int tcgetattr(int fd, kzv::bsd::termios* t);
int tcsetattr(int fd, int when, kzv::bsd::termios const* t);

int socket(int domain, int type, int protocol);
int bind(int fd, void const* address, unsigned length);
int listen(int fd, int backlog);
int accept(int fd, void* address, unsigned* length);
int connect(int fd, void const* address, unsigned length);
int setsockopt(int fd, int level, int option, void const* value, unsigned length);
long recv(int fd, void* buffer, unsigned long count, int flags);
long send(int fd, void const* buffer, unsigned long count, int flags);

typedef void* bsd_pthread;
int pthread_create(bsd_pthread* thread, kzv::bsd::pthread_attr const* attr, void* (*start)(void*), void* argument);
int pthread_detach(bsd_pthread thread);
int pthread_getschedparam(bsd_pthread thread, int* policy, kzv::bsd::sched_param* param);
int pthread_setschedparam(bsd_pthread thread, int policy, kzv::bsd::sched_param const* param);
int sched_get_priority_max(int policy);
int pthread_attr_init(kzv::bsd::pthread_attr* attr);
int pthread_attr_destroy(kzv::bsd::pthread_attr* attr);
int pthread_attr_getschedpolicy(kzv::bsd::pthread_attr const* attr, int* policy);
int pthread_attr_setschedpolicy(kzv::bsd::pthread_attr* attr, int policy);
int pthread_attr_setschedparam(kzv::bsd::pthread_attr* attr, kzv::bsd::sched_param const* param);
int pthread_attr_setinheritsched(kzv::bsd::pthread_attr* attr, int inherit);

void* dlopen(char const* path, int mode);
void* dlsym(void* library, char const* name);

}

namespace kzv {

inline int bsd_errno() { return *__error(); }

} // namespace kzv
