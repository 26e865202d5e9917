// The DRM device as the framebuffer back-end reaches it: open, ioctl, mmap,
// munmap, read and close, and the pause of the back-end's threads. Each is a
// function pointer, so that the unit tests put a fake device in the kernel's
// place. Results are the kernel's: -4095..-1 is an error, whatever the word size.
// The record and whatever it points at stay the caller's.
#pragma once
#include "../../framework/types.h"

namespace kzv {

struct drmdevice {
    long (*open)(drmdevice* d, char const* path, int flags);     // a descriptor or an error
    long (*ioctl)(drmdevice* d, int fd, u32 request, void* argument);
    void* (*map)(drmdevice* d, int fd, u64 length, u64 offset);  // shared, read-write; null on failure
    void (*unmap)(drmdevice* d, void* address, u64 length);
    // Bytes read; 0 or an error when nothing is waiting (the descriptor is non-blocking).
    long (*read)(drmdevice* d, int fd, void* buffer, u32 capacity);
    void (*close)(drmdevice* d, int fd);
    // The 1 ms waits of the back-end's threads, by thread number.
    void (*pause)(drmdevice* d, u32 thread, u32 ms);
};

// The kernel's device, through the system-call wrappers.
extern drmdevice drmdevice_kernel;

} // namespace kzv
