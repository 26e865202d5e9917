// The help text: what the program is, its version and build, where to read more,
// three example calls and the terms of use. It goes to standard output whole,
// since it is the answer of a run without a dialog.
#pragma once
#include "../../framework/types.h"

namespace kzv {

const u32 HELPTEXT_CAPACITY = 1024;     // the whole text with its three fields

// The text with the version, build date and build time filled in, into out
// (capacity bytes with the terminator); its length.
u32 helptext_format(char* out, u32 capacity, char const* version, char const* date, char const* time);
// False when standard output did not take all of it.
bool helptext_print(char const* version, char const* date, char const* time);

} // namespace kzv
