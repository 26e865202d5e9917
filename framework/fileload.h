// Whole-file loading for the files read at once (the X authority file, the info
// dialog's text, the terminal back-end's state files). Sizes are taken in 64 bits
// and a file above LOADFILE_MAX is refused, never truncated or wrapped. A loaded
// block comes from the process pool and belongs to the caller (`mem::free_int`);
// every failure answers null or 0, prints nothing and frees what it took.
#pragma once
#include "types.h"

namespace kzv {

// The largest file read whole; far below the 2 GiB a pool request may have.
const u64 LOADFILE_MAX = 0x4000000;

// A new 0-terminated block holding the whole file, or null (also for an empty
// file); `size` receives the file's size, or 0 on failure.
char* loadfile(char const* path, unsigned& size);
// Reads at most `max` bytes into `buffer` (which holds max + 1) and terminates
// them; answers the count. A name that cannot be read in one go is read through
// the file stream, which also serves the embedded resources.
unsigned loadfile(char const* path, void* buffer, unsigned max);
// The single-read variant: the count when min(size, max) bytes came in one read,
// else 0 (buffer[0] is then 0).
unsigned loadfile_complete(char const* path, void* buffer, unsigned max);

} // namespace kzv
