// Byte-string routines: zero-terminated 8-bit strings, treated as UTF-8. Lengths,
// case-insensitive comparison and ordering (ASCII letters only), bounded copies,
// search, `atoi`, the line splitter and the sort of string arrays. Copies never
// write past the bound they are given; `str_combine` refuses what does not fit.
// Nothing here allocates except `qsort`, which takes its index stack from the
// process pool. The UTF-16 and wildcard routines come with this header.
#pragma once
#include "types.h"

namespace kzv {

// Lengths and comparison. A null pointer counts as the empty string, except that
// `streq` and `strcasegreater` answer false when either pointer is null.
u32 strlen(char const* s);
bool streq(char const* a, char const* b);
bool streqbegin(char const* a, char const* b);        // a begins with b
bool strcaseeqbegin(char const* a, char const* b);    // the same without case
bool streqend(char const* a, char const* b);          // a ends with b
// a sorts after b: letters without case, other bytes as signed values, so bytes
// 0x80-0xFF sort before ASCII; a prefix sorts first; null or an empty a: false.
bool strcasegreater(char const* a, char const* b);
char str_chartolower(char c);
void str_tolower(char* s);

// Bounded copies. `len` is the number of characters, so `dst` must hold len + 1
// bytes: callers pass their capacity - 1.
u32 strcpy(char* dst, char const* src, u32 len);     // returns the characters copied
void strcat(char* dst, char const* src, u32 len);    // dst ends with at most len characters
// Joins two or three strings into dst, which holds `capacity` bytes with the
// terminator. Refuses with false, leaving dst empty, when the result does not fit.
// dst may be `a` itself (an append); the later parts must not lie in dst.
bool str_combine(char* dst, u32 capacity, char const* a, char const* b);
bool str_combine(char* dst, u32 capacity, char const* a, char const* b, char const* c);

// In-place edits.
void str_removetrailing(char* s);                    // trailing tab, LF, CR and blank
void str_changechars(char* s, char from, char to);

// Decimal: leading blanks, one optional '-', digits; wraps at 32 bits; null gives 0.
int atoi(char const* s);
// The same, but a value beyond the int range gives INT_MAX or INT_MIN, so that a
// size taken from outside reaches its caller's cap instead of wrapping.
int str_atoisaturated(char const* s);

// Search. The terminator is never found; `strstr` of an empty s or t gives null.
char* strchr(char* s, char c);
char const* strchr(char const* s, char c);
char* strrchr(char* s, char c);
char const* strrchr(char const* s, char c);
char* strstr(char* s, char const* t);
char const* strstr(char const* s, char const* t);

// Small parsers of the Windows platform code.
u32 str_hextou32(char const* s);                     // hex digits up to the first other character
u32 str_hextou32(char const* s, u32 n);              // the same, at most n digits
char const* str_skippast(char const* s, char c);     // behind the first c, else the terminator
bool str_eqprefix(char const* a, char const* b, int n);  // the first n characters agree

// Sorts an array of string pointers ascending by `strcasegreater`. An array that
// is already strictly ascending is left alone without allocating.
void qsort(char** strings, u32 count);
void qsort(char const** strings, u32 count);
// The same, and `carried` (one byte a string, or null) is put in the same order.
void qsort(char const** strings, u32 count, u8* carried);

// The line splitter: hands out the pieces of one text in turn. Each `getline`
// writes at most `max` characters and a terminator into `out` (max + 1 bytes) and
// returns false once the text is used up. A piece ends at the end character
// (consumed, not copied; 0 means '\n'), at the terminator, after `max` characters,
// or before a lone `sep` character (left for the next piece). Carriage returns are
// dropped. A different text pointer starts over at its beginning.
class getstringline {
public:
    char const* text;
    u32 position;
    char endchar;

    getstringline() : text(nullptr), position(0), endchar(0) {}
    bool getline(char const* source, char* out, int max, char sep);
};

} // namespace kzv

#include "strwide.h"
#include "wildcard.h"
