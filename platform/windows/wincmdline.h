// The Windows command line, split by the system's own rules (the ones
// CommandLineToArgvW follows). The program's name comes first: a leading double
// quote runs it to the next quote, otherwise it ends at the first blank or tab.
// The arguments behind it are separated by blanks and tabs outside quotes; quotes
// are removed and may open in the middle of a word; 2n backslashes before a quote
// give n backslashes and the quote acts, 2n+1 give n backslashes and a literal
// quote; backslashes before anything else stay as they are; inside quotes, a
// doubled quote gives one literal quote. Pure code on UTF-8 text.
#pragma once
#include "../../framework/types.h"

namespace kzv {

// The text behind the program's name and the blanks and tabs after it.
char const* wincmdline_arguments(char const* line);

// Splits `arguments` into words. Each word goes, terminated, into `out`, which
// holds strlen(arguments) + 1 bytes (no word is longer than its source), and its
// address into argv[i] for i < maxargs; argv may be null to count. Returns the
// number of words.
u32 wincmdline_split(char const* arguments, char* out, char const** argv, u32 maxargs);

} // namespace kzv
