// UTF-8 facts used here: a lead byte 110xxxxx, 1110xxxx or 11110xxx is followed by
// one, two or three bytes 10xxxxxx carrying six bits each. Sequences are checked
// only for that shape (overlong forms and surrogate codes pass), and the source
// is read one byte at a time, so a sequence cut by the terminator is never read
// past it: its lead byte stands alone and decoding resumes at the next byte.
#include "strwide.h"
#include "memprim.h"
#include "strunits.h"

namespace kzv {

u32 strlen(u16 const* s) { return strunits_length(s); }

static bool iscontinuation(u8 b) { return (b & 0xC0) == 0x80; }

// Continuation bytes that a lead byte asks for; 0 for one that leads nothing.
static int continuationcount(u8 b0)
{
    if ((b0 & 0xE0) == 0xC0)
        return 1;
    if ((b0 & 0xF0) == 0xE0)
        return 2;
    if ((b0 & 0xF8) == 0xF0)
        return 3;
    return 0;
}

u16 str_utf82unicode_ch(u8 b0, u8 b1, u8 b2, u8 b3, int& n)
{
    if (b0 < 0x80) {
        n = -1;
        return 0;
    }
    int count = continuationcount(b0);
    u8 const follow[3] = {b1, b2, b3};
    for (int k = 0; k < count; k++)
        if (!iscontinuation(follow[k]))
            count = 0;
    n = count;
    if (count == 0)
        return b0;                        // stands alone, as its own value
    u32 code = b0 & (0x3Fu >> count);     // 5, 4 or 3 payload bits
    for (int k = 0; k < count; k++)
        code = (code << 6) | (follow[k] & 0x3Fu);
    return (u16)code;                     // four-byte sequences keep their low 16 bits
}

u32 str_utf82unicode(char const* src, u16* dst, u32 capacity)
{
    if (!dst || capacity == 0)
        return 0;
    u8 const* s = (u8 const*)src;
    u32 n = 0;
    while (s && *s && n + 1 < capacity) {
        u8 b0 = *s++;
        if (b0 < 0x80) {
            dst[n++] = b0;
            continue;
        }
        // Each following byte is read only while the ones before it are not 0.
        u8 b1 = s[0];
        u8 b2 = b1 ? s[1] : 0;
        u8 b3 = b2 ? s[2] : 0;
        int used = 0;
        u16 unit = str_utf82unicode_ch(b0, b1, b2, b3, used);
        s += used;
        if (unit)
            dst[n++] = unit;
    }
    dst[n] = 0;
    return n;
}

u32 str_utf82unicodecat(u16* dst, char const* src, u32 capacity)
{
    if (!dst || capacity == 0)
        return 0;
    u32 length = 0;
    while (length + 1 < capacity && dst[length])
        length++;
    return str_utf82unicode(src, dst + length, capacity - length);
}

// The bytes of the character at s: its lead byte and the continuations the
// decoder takes with it.
static u32 characterbytes(u8 const* s)
{
    if (s[0] < 0x80)
        return 1;
    u8 b1 = s[1];
    u8 b2 = b1 ? s[2] : 0;
    u8 b3 = b2 ? s[3] : 0;
    int used = 0;
    str_utf82unicode_ch(s[0], b1, b2, b3, used);
    return 1 + (u32)used;
}

u32 str_utf8prefix(char const* s, u32 characters, u32 bytes)
{
    u8 const* p = (u8 const*)s;
    u32 length = 0;
    for (u32 n = 0; p && p[length] && n < characters; n++) {
        u32 k = characterbytes(p + length);
        if (k > bytes - length)
            break;
        length += k;
    }
    return length;
}

u32 str_copycharacters(char* dst, u32 capacity, char const* src, u32 characters)
{
    if (!dst || capacity == 0)
        return 0;
    u32 length = str_utf8prefix(src, characters, capacity - 1);
    if (length)
        memcpy(dst, src, length);
    dst[length] = 0;
    return length;
}

u32 str_unicode2utf81byte(u16 u, char* out)
{
    u32 n = 0;
    if (u < 0x80) {
        out[n++] = (char)u;
    } else if (u < 0x800) {
        out[n++] = (char)(0xC0 | (u >> 6));
        out[n++] = (char)(0x80 | (u & 0x3F));
    } else if (u != 0xFFFF) {
        out[n++] = (char)(0xE0 | (u >> 12));
        out[n++] = (char)(0x80 | ((u >> 6) & 0x3F));
        out[n++] = (char)(0x80 | (u & 0x3F));
    }
    out[n] = 0;
    return n;
}

u32 strcpy(u16* dst, u16 const* src, u32 len) { return strunits_copy(dst, src, len); }

u16 const* strchr(u16 const* s, char c) { return strunits_find(s, (u16)(s8)c); }

u16* strchr(u16* s, char c) { return const_cast<u16*>(strchr((u16 const*)s, c)); }

u16 str_widechartolower(u16 u)
{
    return (u >= 'A' && u <= 'Z') ? (u16)(u + ('a' - 'A')) : u;
}

} // namespace kzv
