// The text is formatted into a buffer of its own and written in one piece, so
// that a reader of standard output never sees it cut or interleaved.
#include "helptext.h"
#include "../../framework/printf.h"
#include "../../framework/stdio.h"

namespace kzv {

static char const HELPTEXT_FORMAT[] =
    "velkra - toolbox for script GUI \n"
    "\n"
    "V %s    built %s %s\n"
    "\n"
    "More details are in the file readme.md.\n"
    "\n"
    "Examples:\n"
    "\n"
    "velkra file -folder=\"/home\" -filter=\"*.txt\"\n"
    "velkra info -textfile=results.txt\n"
    "velkra yesno -text=\"Are you sure?\"\n"
    "\n"
    "Free to use at your own risk, without any warranty.\n"
    "\n";

// One printf call formats the text; its three fields are short build texts.
static_assert(sizeof(HELPTEXT_FORMAT) + 64 < PRINTF_CAPACITY, "the help text fits one formatting call");

u32 helptext_format(char* out, u32 capacity, char const* version, char const* date, char const* time)
{
    printsink sink = printsink_memory(out, capacity);
    printto(sink, HELPTEXT_FORMAT, version, date, time);
    return sink.length;
}

bool helptext_print(char const* version, char const* date, char const* time)
{
    char text[HELPTEXT_CAPACITY];
    helptext_format(text, sizeof text, version, date, time);
    return print(text) == 1;
}

} // namespace kzv
