// The kernel's DRM device: each entry is one system call. A mapping longer than
// the address space (a 64-bit size on i386) is refused before the call.
#include "drmdevice.h"
#include "../../framework/os.h"
#include "syscalls.h"

namespace kzv {

static long kernelopen(drmdevice*, char const* path, int flags) { return sys_open(path, flags, 0); }

static long kernelioctl(drmdevice*, int fd, u32 request, void* argument)
{
    return sys_ioctl(fd, request, argument);
}

static void* kernelmap(drmdevice*, int fd, u64 length, u64 offset)
{
    if (length == 0 || length > (uptr)-1)
        return nullptr;
    long r = sys_mmap(nullptr, (uptr)length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    return sys_failedaddress(r) ? nullptr : (void*)r;
}

static void kernelunmap(drmdevice*, void* address, u64 length) { sys_munmap(address, (uptr)length); }

static long kernelread(drmdevice*, int fd, void* buffer, u32 capacity) { return sys_read(fd, buffer, capacity); }

static void kernelclose(drmdevice*, int fd) { sys_close(fd); }

static void kernelpause(drmdevice*, u32, u32 ms) { os_sleep(ms); }

drmdevice drmdevice_kernel = {kernelopen, kernelioctl, kernelmap, kernelunmap, kernelread, kernelclose, kernelpause};

} // namespace kzv
