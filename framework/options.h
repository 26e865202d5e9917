// Command-line options of the forms -name=value and -name, read from the
// process's arguments (argument 0 is the first after the program name). Names
// compare case-sensitively. Values are copied within the caller's bound, and the
// full length is reported so that a caller can refuse a value that does not fit.
#pragma once
#include "types.h"

namespace kzv {

// The value of the first argument that begins with "-name=": the text behind its
// first '='. Copies at most `len` characters and a terminator into out (callers
// pass capacity - 1); sets *valuelength, when given, to the value's whole length,
// so valuelength > len means it was cut. Absent: out is "", *valuelength 0, false.
bool arggetstring(char const* name, char* out, u32 len, u32* valuelength = nullptr);

// The value of -name=value where it stands in the argument, for a caller that
// cuts it its own way; null when the option is absent.
char const* arggetvalue(char const* name);

// True when an argument, seen from its second, third or first character, begins
// with name: so -name, --name and name count, and so does any longer argument
// that starts with them (-dirmode for "dir").
bool arggetbool(char const* name);

// The decimal value of -name=value, as `atoi` reads it but saturated to the int
// range instead of wrapping; 0 when the option is absent.
int arggetint(char const* name);

} // namespace kzv
