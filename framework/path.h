// Path helpers. Paths are kept whole: a join that does not fit the caller's
// buffer is refused (false, empty text), never cut and then used.
#pragma once
#include "types.h"

namespace kzv {

const u32 FILEEXTENSION_CAPACITY = 20;  // 19 characters and the terminator

// out = dir "/" name, without a second '/' when dir ends in one; out = name when
// dir is empty. `capacity` counts the terminator.
bool combinepath(char* out, u32 capacity, char const* dir, char const* name);
// out (FILEEXTENSION_CAPACITY bytes) = the text after the last '.' of the whole
// path, at most 19 characters, in lower case; empty when there is no '.'.
void getfileextension(char const* path, char* out);

} // namespace kzv
