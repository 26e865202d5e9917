// The start block: what the Linux entry hands to kzvmain, kept on the process as
// its entry. The first two fields are the argument count and argv[0]'s characters
// (null when the kernel passed no argument); behind them the argv and envp arrays
// as the kernel laid them out, and the kernel's initial stack (null when a C
// library started the program). The block lives on the entry's stack for the run.
#pragma once
#include "../../framework/types.h"

namespace kzv {

struct startblock {
    s32 argc;
    char const* firstarg;
    char const* const* argv;        // argc entries and a null
    char const* const* envp;        // null-terminated NAME=value entries
    void* initialstack;             // argc's word: argc, argv[], 0, envp[], 0
};

// Fills the block and runs the program; returns the process's exit code.
int startblock_run(int argc, char** argv, char** envp, void* initialstack);

} // namespace kzv
