// What the Linux bodies of the os_ functions share among themselves; not part of
// the platform contract. Console writes retry as the console needs (a terminal
// made non-blocking answers EAGAIN while it drains); the terminal used for the UI
// is chosen once per process.
#pragma once
#include "../../framework/types.h"

namespace kzv {

// Writes all bytes to fd unless it fails for good; returns the bytes written.
u32 console_write(int fd, char const* bytes, u32 count);

// The terminal of the UI: descriptors 0 and 1 when both are terminals, otherwise
// the controlling terminal (/dev/tty), so that descriptor 1 carries only the answer.
int terminal_infd();
int terminal_outfd();

// A thread's stack (os_startthread): one mapping of 256 KiB whose lowest page is
// a guard, its threadstack record (syscalls.h) in the top bytes, naming this
// process as the parent. Null when it cannot be mapped.
struct threadstack;
threadstack* thread_mapstack();
void thread_unmapstack(threadstack* stack);

} // namespace kzv
