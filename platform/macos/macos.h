// What the macOS bodies of the os_ functions share among themselves; not part of
// the platform contract. Console writes retry as the console needs; the terminal
// used for the UI is chosen once per process.
#pragma once
#include "../../framework/types.h"

namespace kzv {

// Writes all bytes to fd unless it fails for good; returns the bytes written.
u32 console_write(int fd, char const* bytes, u32 count);

// The terminal of the UI: descriptors 0 and 1 when both are terminals, otherwise
// the controlling terminal (/dev/tty), so that descriptor 1 carries only the answer.
int terminal_infd();
int terminal_outfd();

} // namespace kzv
