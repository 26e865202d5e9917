// The argument record from a start block: the argument and environment vectors,
// program name (base name without its last extension), invoked name, program,
// home and working directories, user and argument line. Strings built here are
// copies in the given pool, cut at ARGTEXT_MAX characters; the rest point into the
// start block's strings. A working or program directory that does not fit is
// left unknown rather than cut, since a cut path names another one. Exposed so that tests can fill a record from a made-up
// start block.
#pragma once
#include "../../framework/sysprocess.h"
#include "startblock.h"

namespace kzv {

const u32 ARGTEXT_MAX = 999;            // characters of a built string
const u32 ENVIRONMENT_MAX = 1000;       // environment entries taken
const u32 ARGSCRATCH_CAPACITY = 1024;   // bytes of the caller's scratch buffer

// Fills `record` (zeroed by the caller) from `block`; `scratch` holds
// ARGSCRATCH_CAPACITY bytes. Returns false when the block has no first argument:
// the environment, user, home and working directory are filled all the same.
bool arguments_fill(argumentrecord& record, startblock const& block, mem& pool, char* scratch);

// The system's current directory into out, terminated; false when it cannot be
// read or does not fit. Each platform that fills the record this way has one.
bool arguments_currentdir(char* out, u32 capacity);

} // namespace kzv
