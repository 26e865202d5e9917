// Wildcard matching by backtracking over the last star only. That is enough: when a
// later star is reached, any longer run an earlier star could have taken can be
// taken by the later one instead. A non-trailing star takes one character at
// once and then grows one character per backtrack, so it never matches nothing.
#include "wildcard.h"
#include "str.h"

namespace kzv {

static bool islistseparator(char c) { return c == ',' || c == ';'; }

// Copies at most WILDCARD_MAXLENGTH characters of s, lower-cased, up to the
// terminator or, for a list, up to the end of the piece. Returns where it stopped.
static char const* lowercopy(char* out, char const* s, bool list)
{
    u32 n = 0;
    for (; *s && !(list && islistseparator(*s)); s++)
        if (n < WILDCARD_MAXLENGTH)
            out[n++] = str_chartolower(*s);
    out[n] = 0;
    return s;
}

// Both texts are lower-cased already.
static bool matchlowered(char const* pattern, char const* name)
{
    u32 i = 0, j = 0;
    bool starseen = false;
    u32 starj = 0;                    // pattern index of the last star
    u32 stari = 0;                    // name index where that star's run ends
    for (;;) {
        if (pattern[j] == '*') {
            if (pattern[j + 1] == 0)
                return true;          // a trailing star takes the rest, even nothing
            if (name[i] == 0)
                return false;         // this star needs a character; none is left
            starseen = true;
            starj = j;
            stari = ++i;
            j++;
            continue;
        }
        if (name[i] == 0)
            return pattern[j] == 0;
        if (pattern[j] && (pattern[j] == '?' || pattern[j] == name[i])) {
            i++, j++;
            continue;
        }
        if (!starseen || name[stari] == 0)
            return false;
        i = ++stari;                  // the star takes one character more
        j = starj + 1;
    }
}

bool str_patterncaseeq_single(char const* pattern, char const* name)
{
    if (!pattern || !name)
        return false;
    char p[WILDCARD_MAXLENGTH + 1], n[WILDCARD_MAXLENGTH + 1];
    lowercopy(p, pattern, false);
    lowercopy(n, name, false);
    return matchlowered(p, n);
}

// A piece that is a lone star matches every name, so the name need not be folded.
static bool hasalonestar(char const* patterns)
{
    for (char const* s = patterns; *s; s++)
        if (*s == '*' && (s == patterns || islistseparator(s[-1])) && (!s[1] || islistseparator(s[1])))
            return true;
    return false;
}

bool str_patterncaseeq(char const* patterns, char const* name)
{
    if (!patterns || !*patterns || !name)
        return false;
    if (hasalonestar(patterns))
        return true;
    char p[WILDCARD_MAXLENGTH + 1], n[WILDCARD_MAXLENGTH + 1];
    lowercopy(n, name, false);
    char const* s = patterns;
    for (;;) {
        char const* end = lowercopy(p, s, true);
        if (matchlowered(p, n))
            return true;
        if (!*end || !end[1])
            return false;             // a separator at the end adds no piece
        s = end + 1;
    }
}

} // namespace kzv
