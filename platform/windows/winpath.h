// The two forms of a path. The program's form is UTF-8 with '/' separators, a
// drive written as '/' and its letter: C:\Users\x is /c/users/x. The system's form
// is UTF-16 with '\' separators, as the wide calls take it. "/" alone names the
// list of drives and is no system path; a path that begins with one '/' and no
// drive letter names nothing; "//server/share" stays a network path. Both
// conversions refuse a path that does not fit whole, since a cut path can name
// another file. Pure code, no system calls.
#pragma once
#include "../../framework/types.h"

namespace kzv {

// Units of a system path the file functions take (the classic limit of 260 and
// room for long names under it); the listing keeps WINPATH_PATTERNROOM of them
// for its "\*".
const u32 WINPATH_CAPACITY = 1024;
const u32 WINPATH_PATTERNROOM = 2;

// The system form of `path` into out (capacity units with the terminator).
bool winpath_tosystem(char const* path, u16* out, u32 capacity);

// The path begins with two '/' and then a name: a network share ("//server/share")
// or a device path ("//?/C:/x", "//./C:/x"). Its system form keeps both slashes.
bool winpath_isnetwork(char const* path);

// The program form of a system path (module path, working directory, special
// folders): '\' becomes '/', "X:" at the start becomes "/x", and ASCII letters
// are lower-cased. False, with out = "", when it does not fit `capacity` bytes.
bool winpath_toprogram(u16 const* path, char* out, u32 capacity);

} // namespace kzv
