// File-name wildcards, compared without case (ASCII letters). '?' is one character;
// '*' is any run of characters, but a '*' that is not the last pattern character
// takes at least one, so "*.txt" does not match ".txt" while "a*" matches "a" and
// "*" matches "". Name and pattern are cut to 511 characters before matching.
// Works on two stack copies; allocates nothing.
#pragma once
#include "types.h"

namespace kzv {

const u32 WILDCARD_MAXLENGTH = 511;    // longer than any file name; the copies are 512 bytes

// One pattern against one name.
bool str_patterncaseeq_single(char const* pattern, char const* name);

// A list of patterns separated by ',' or ';': true at the first that matches. An
// empty list matches nothing; an empty piece between two separators matches only
// the empty name; a separator at the end adds no piece.
bool str_patterncaseeq(char const* patterns, char const* name);

} // namespace kzv
