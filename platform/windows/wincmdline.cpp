// The splitting rules, state by state. `quotes` counts the quotes seen in a run
// of the current word: 0 outside quotes, 1 inside. A quote that closes a quoted
// stretch and is followed at once by another quote gives that quote literally,
// and three in a row (counting the opening one) give one quote and leave the
// stretch; this is how "a""b" reads as a"b.
#include "wincmdline.h"

namespace kzv {

static bool isblank(char c) { return c == ' ' || c == '\t'; }

char const* wincmdline_arguments(char const* line)
{
    if (!line)
        return "";
    char const* s = line;
    if (*s == '"') {
        s++;
        while (*s && *s != '"')
            s++;
        if (*s == '"')
            s++;
    } else {
        while (*s && !isblank(*s))
            s++;
    }
    while (isblank(*s))
        s++;
    return s;
}

// One word from s into d; answers the source position behind it.
static char const* takeword(char const* s, char*& d)
{
    u32 quotes = 0;
    while (*s && !(isblank(*s) && quotes == 0)) {
        if (*s == '\\') {
            u32 backslashes = 0;
            while (*s == '\\') {
                backslashes++;
                s++;
            }
            bool beforequote = *s == '"';
            for (u32 i = 0; i < (beforequote ? backslashes / 2 : backslashes); i++)
                *d++ = '\\';
            if (beforequote && (backslashes & 1)) {
                *d++ = '"';
                s++;
            }
            continue;
        }
        if (*s != '"') {
            *d++ = *s++;
            continue;
        }
        s++;
        quotes++;
        while (*s == '"') {
            if (++quotes == 3) {
                *d++ = '"';
                quotes = 0;
            }
            s++;
        }
        if (quotes == 2)
            quotes = 0;
    }
    *d++ = 0;
    return s;
}

u32 wincmdline_split(char const* arguments, char* out, char const** argv, u32 maxargs)
{
    char const* s = arguments ? arguments : "";
    char* d = out;
    u32 count = 0;
    while (isblank(*s))
        s++;
    while (*s) {
        char* word = d;
        s = takeword(s, d);
        if (argv && count < maxargs)
            argv[count] = word;
        count++;
        while (isblank(*s))
            s++;
    }
    return count;
}

} // namespace kzv
