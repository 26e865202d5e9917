// Byte-string routines. Characters are compared as bytes; where the order of bytes
// matters (`strcasegreater`) they are taken as signed values explicitly, because
// plain char is signed on x86 and unsigned on ARM.
#include "str.h"
#include "strunits.h"
#include "sysprocess.h"

namespace kzv {

static char const* orempty(char const* s) { return s ? s : ""; }

u32 strlen(char const* s) { return strunits_length(s); }

bool streq(char const* a, char const* b)
{
    if (!a || !b)
        return false;
    while (*a && *a == *b)
        a++, b++;
    return *a == *b;
}

bool streqbegin(char const* a, char const* b)
{
    a = orempty(a);
    b = orempty(b);
    while (*b && *a == *b)
        a++, b++;
    return *b == 0;
}

bool strcaseeqbegin(char const* a, char const* b)
{
    a = orempty(a);
    b = orempty(b);
    while (*b && str_chartolower(*a) == str_chartolower(*b))
        a++, b++;
    return *b == 0;
}

bool streqend(char const* a, char const* b)
{
    u32 la = strlen(a), lb = strlen(b);
    if (lb > la)
        return false;
    return streq(orempty(a) + (la - lb), orempty(b));
}

bool strcasegreater(char const* a, char const* b)
{
    if (!a || !b || !*a)
        return false;
    for (u32 i = 0; a[i]; i++) {
        if (!b[i])
            return true;              // b is a proper prefix of a
        s8 ca = (s8)str_chartolower(a[i]);
        s8 cb = (s8)str_chartolower(b[i]);
        if (ca != cb)
            return ca > cb;
    }
    return false;                     // a is b or a prefix of it
}

char str_chartolower(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c + ('a' - 'A')) : c;
}

void str_tolower(char* s)
{
    if (!s)
        return;
    for (; *s; s++)
        *s = str_chartolower(*s);
}

u32 strcpy(char* dst, char const* src, u32 len) { return strunits_copy(dst, src, len); }

void strcat(char* dst, char const* src, u32 len)
{
    if (!dst || !src)
        return;
    u32 n = 0;
    while (n < len && dst[n])         // never looks at more than len + 1 bytes
        n++;
    strcpy(dst + n, src, len - n);
}

static bool combine(char* dst, u32 capacity, char const* const* parts, u32 count)
{
    u64 total = 0;
    for (u32 i = 0; i < count; i++)
        total += strlen(parts[i]);
    if (total + 1 > capacity) {
        if (dst && capacity)
            dst[0] = 0;
        return false;
    }
    u32 length = 0;
    for (u32 i = 0; i < count; i++)
        length += strcpy(dst + length, orempty(parts[i]), capacity - 1 - length);
    return true;
}

bool str_combine(char* dst, u32 capacity, char const* a, char const* b)
{
    char const* parts[2] = {a, b};
    return dst && combine(dst, capacity, parts, 2);
}

bool str_combine(char* dst, u32 capacity, char const* a, char const* b, char const* c)
{
    char const* parts[3] = {a, b, c};
    return dst && combine(dst, capacity, parts, 3);
}

void str_removetrailing(char* s)
{
    u32 n = strlen(s);
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t' || s[n - 1] == '\n' || s[n - 1] == '\r'))
        n--;
    if (s)
        s[n] = 0;
}

void str_changechars(char* s, char from, char to)
{
    if (!s)
        return;
    for (; *s; s++)
        if (*s == from)
            *s = to;
}

// Skips the blanks and the sign of a decimal number; returns its first digit.
static char const* decimalstart(char const* s, bool& negative)
{
    while (*s == ' ')
        s++;
    negative = *s == '-';
    return negative ? s + 1 : s;
}

static bool isdigit(char c) { return c >= '0' && c <= '9'; }

int atoi(char const* s)
{
    if (!s)
        return 0;
    bool negative;
    u32 value = 0;                    // unsigned, so that the wrap-around is defined
    for (s = decimalstart(s, negative); isdigit(*s); s++)
        value = value * 10 + (u32)(*s - '0');
    return (int)(negative ? 0u - value : value);
}

int str_atoisaturated(char const* s)
{
    if (!s)
        return 0;
    bool negative;
    s = decimalstart(s, negative);
    u64 const limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    u64 magnitude = 0;
    for (; isdigit(*s) && magnitude < limit; s++)
        magnitude = kzv_min<u64>(magnitude * 10 + (u64)(*s - '0'), limit);
    return negative ? (int)(0 - (s64)magnitude) : (int)magnitude;
}

char const* strchr(char const* s, char c) { return strunits_find(s, c); }

char* strchr(char* s, char c) { return const_cast<char*>(strchr((char const*)s, c)); }

char const* strrchr(char const* s, char c)
{
    if (!s || !c)
        return nullptr;
    char const* last = nullptr;
    for (; *s; s++)
        if (*s == c)
            last = s;
    return last;
}

char* strrchr(char* s, char c) { return const_cast<char*>(strrchr((char const*)s, c)); }

char const* strstr(char const* s, char const* t)
{
    if (!s || !t || !*t)
        return nullptr;
    for (; *s; s++)
        if (streqbegin(s, t))
            return s;
    return nullptr;
}

char* strstr(char* s, char const* t) { return const_cast<char*>(strstr((char const*)s, t)); }

static int hexdigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

u32 str_hextou32(char const* s, u32 n)
{
    u32 value = 0;
    for (u32 i = 0; s && i < n; i++) {
        int d = hexdigit(s[i]);
        if (d < 0)
            break;
        value = (value << 4) | (u32)d;
    }
    return value;
}

u32 str_hextou32(char const* s) { return str_hextou32(s, 0xFFFFFFFFu); }

char const* str_skippast(char const* s, char c)
{
    s = orempty(s);
    while (*s && *s != c)
        s++;
    return *s ? s + 1 : s;
}

bool str_eqprefix(char const* a, char const* b, int n)
{
    if (n < 1)
        return true;
    a = orempty(a);
    b = orempty(b);
    for (int i = 0; i < n; i++)
        if (!a[i] || a[i] != b[i])
            return false;
    return true;
}

// Sorting. The quicksort keeps its pending ranges on an explicit stack: each
// pushed range holds two or more strings and two ranges are always separated by a
// placed pivot, so at most (count + 1) / 3 ranges wait at once, which fits the
// count + 3 ints taken for it. Each string's first 8 characters are folded once
// into a number whose order is `strcasegreater`'s, so most comparisons compare two
// numbers; only strings that agree in all 8 compare their rest. The answers are
// those of `strcasegreater`, so the order comes out as it always did.

static bool strictlyascending(char const* const* strings, u32 count)
{
    for (u32 i = 1; i < count; i++)
        if (!strcasegreater(strings[i], strings[i - 1]))
            return false;
    return true;
}

const u32 SORTHEAD_CHARACTERS = 8;

// A character's place in the order: the terminator 0 below every character, then
// the lower-cased characters as signed bytes, -128 to 127 (0 never occurs).
static u64 sortrank(char c)
{
    s32 v = (s8)str_chartolower(c);
    return (u64)(v < 0 ? v + 129 : v + 128);
}

// The first 8 characters' ranks, the first in the top byte; 0 bytes behind the end.
static u64 sorthead(char const* s)
{
    u64 head = 0;
    u32 i = 0;
    for (; i < SORTHEAD_CHARACTERS && s[i]; i++)
        head = head << 8 | sortrank(s[i]);
    for (; i < SORTHEAD_CHARACTERS; i++)
        head <<= 8;
    return head;
}

struct sorter {
    char const** strings;
    u8* carried;            // one byte a string that moves with it, or null
    u64* heads;

    // strcasegreater(strings[a], strings[b]).
    bool greater(u32 a, u32 b) const
    {
        if (heads[a] != heads[b])
            return heads[a] > heads[b];
        if ((heads[a] & 0xff) == 0)
            return false;                   // both end within the head: they are equal
        return strcasegreater(strings[a] + SORTHEAD_CHARACTERS, strings[b] + SORTHEAD_CHARACTERS);
    }

    void swap(u32 a, u32 b)
    {
        char const* t = strings[a];
        strings[a] = strings[b];
        strings[b] = t;
        u64 h = heads[a];
        heads[a] = heads[b];
        heads[b] = h;
        if (carried) {
            u8 c = carried[a];
            carried[a] = carried[b];
            carried[b] = c;
        }
    }

    // Places the pivot and returns its index. The middle string is the pivot, so
    // that an array in reverse order does not degrade into quadratic time.
    u32 partition(u32 lo, u32 hi)
    {
        swap(lo + (hi - lo) / 2, hi);
        u32 k = lo;                         // the next slot for a string not above the pivot
        for (u32 s = lo; s < hi; s++) {
            if (!greater(s, hi))
                swap(k++, s);
        }
        swap(k, hi);
        return k;
    }
};

// Used only when the pool cannot give the stack: slow, but the result is the same.
static void insertionsort(char const** strings, u8* carried, u32 count)
{
    for (u32 i = 1; i < count; i++) {
        char const* s = strings[i];
        u8 c = carried ? carried[i] : 0;
        u32 j = i;
        for (; j > 0 && strcasegreater(strings[j - 1], s); j--) {
            strings[j] = strings[j - 1];
            if (carried)
                carried[j] = carried[j - 1];
        }
        strings[j] = s;
        if (carried)
            carried[j] = c;
    }
}

void qsort(char const** strings, u32 count, u8* carried)
{
    if (!strings || count < 2 || strictlyascending(strings, count))
        return;
    u32* stack = (u32*)process->pool.getmem(((u64)count + 3) * sizeof(u32));
    u64* heads = stack ? (u64*)process->pool.getmem((u64)count * sizeof(u64)) : nullptr;
    if (!heads) {
        if (stack)
            process->pool.freemem(stack);
        insertionsort(strings, carried, count);
        return;
    }
    for (u32 i = 0; i < count; i++)
        heads[i] = sorthead(strings[i]);
    sorter sort = {strings, carried, heads};
    u32 depth = 0;
    stack[depth++] = 0;
    stack[depth++] = count - 1;
    while (depth) {
        u32 hi = stack[--depth];
        u32 lo = stack[--depth];
        u32 k = sort.partition(lo, hi);
        if (k > lo + 1) {
            stack[depth++] = lo;
            stack[depth++] = k - 1;
        }
        if (k + 1 < hi) {
            stack[depth++] = k + 1;
            stack[depth++] = hi;
        }
    }
    process->pool.freemem(heads);
    process->pool.freemem(stack);
}

void qsort(char const** strings, u32 count) { qsort(strings, count, nullptr); }

void qsort(char** strings, u32 count) { qsort(const_cast<char const**>(strings), count); }

// The line splitter.

bool getstringline::getline(char const* source, char* out, int max, char sep)
{
    if (!out)
        return false;
    out[0] = 0;
    if (!endchar)
        endchar = '\n';
    if (source != text) {
        text = source;
        position = 0;
    }
    if (!text || !text[position])
        return false;
    int taken = 0, copied = 0;
    while (taken < max) {
        char c = text[position];
        if (!c)
            break;
        // A separator ends the piece unless it is doubled; it starts the next one.
        if (c == sep && copied > 0 && text[position - 1] != sep && text[position + 1] != sep)
            break;
        position++;
        taken++;
        if (c == endchar)
            break;
        if (c != '\r')
            out[copied++] = c;
    }
    out[copied] = 0;
    return true;
}

} // namespace kzv
