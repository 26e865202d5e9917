// UTF-8 facts: a lead byte 110xxxxx, 1110xxxx or 11110xxx is followed by one, two
// or three bytes 10xxxxxx of six bits each; four-byte sequences carry the code
// points 0x10000 to 0x10FFFF. UTF-16 facts: such a code point is sent as a high
// unit D800-DBFF carrying its upper ten bits (less 0x10000) and a low unit
// DC00-DFFF carrying the lower ten. One- to three-byte sequences decode as the
// framework does, so a name reads the same through both conversions.
#include "wintext.h"
#include "../../framework/strwide.h"

namespace kzv {

static bool ishigh(u32 u) { return u >= 0xD800 && u <= 0xDBFF; }
static bool islow(u32 u) { return u >= 0xDC00 && u <= 0xDFFF; }
static bool iscontinuation(u8 b) { return (b & 0xC0) == 0x80; }

// A four-byte sequence at s (lead byte F0-F4), or 0 when s holds none; the
// continuation bytes are read only while the ones before them are.
static u32 decodefour(u8 const* s)
{
    if ((s[0] & 0xF8) != 0xF0 || !iscontinuation(s[1]) || !iscontinuation(s[2]) || !iscontinuation(s[3]))
        return 0;
    u32 code = (u32)(s[0] & 7) << 18 | (u32)(s[1] & 0x3F) << 12 | (u32)(s[2] & 0x3F) << 6 | (s[3] & 0x3F);
    return code >= 0x10000 && code <= 0x10FFFF ? code : 0;
}

bool wintext_toutf16(char const* text, u16* out, u32 capacity, u32& units)
{
    units = 0;
    if (!out || capacity == 0)
        return false;
    u8 const* s = (u8 const*)text;
    u32 n = 0;
    while (s && *s) {
        u16 pair[2];
        u32 count = 1;
        if (u32 code = decodefour(s)) {
            pair[0] = (u16)(0xD800 + ((code - 0x10000) >> 10));
            pair[1] = (u16)(0xDC00 + ((code - 0x10000) & 0x3FF));
            count = 2;
            s += 4;
        } else if (*s < 0x80 || (*s & 0xF8) == 0xF0) {
            pair[0] = *s++;             // ASCII, or a four-byte lead that leads no code point
        } else {
            u8 b1 = s[1];
            u8 b2 = b1 ? s[2] : 0;
            u8 b3 = b2 ? s[3] : 0;
            int used = 0;
            pair[0] = str_utf82unicode_ch(s[0], b1, b2, b3, used);
            s += 1 + used;
            if (!pair[0])
                continue;                   // an overlong zero ends nothing
        }
        if ((u64)n + count + 1 > capacity) {
            out[0] = 0;
            return false;
        }
        for (u32 i = 0; i < count; i++)
            out[n++] = pair[i];
    }
    out[n] = 0;
    units = n;
    return true;
}

u32 wintext_encode(u32 code, char* out)
{
    if (code < 0x80) {
        out[0] = (char)code;
        return 1;
    }
    if (code < 0x800) {
        out[0] = (char)(0xC0 | code >> 6);
        out[1] = (char)(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = (char)(0xE0 | code >> 12);
        out[1] = (char)(0x80 | ((code >> 6) & 0x3F));
        out[2] = (char)(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | code >> 18);
    out[1] = (char)(0x80 | ((code >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((code >> 6) & 0x3F));
    out[3] = (char)(0x80 | (code & 0x3F));
    return 4;
}

bool wintext_toutf8(u16 const* text, u32 count, char* out, u32 capacity, u32& bytes)
{
    bytes = 0;
    if (!out || capacity == 0)
        return false;
    u32 n = 0;
    for (u32 i = 0; text && i < count && text[i]; i++) {
        u32 code = text[i];
        bool pair = ishigh(code) && i + 1 < count && islow(text[i + 1]);
        if (pair)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        char encoded[4];
        u32 length = wintext_encode(code, encoded);
        if ((u64)n + length + 1 > capacity) {
            out[0] = 0;
            return false;
        }
        for (u32 k = 0; k < length; k++)
            out[n++] = encoded[k];
    }
    out[n] = 0;
    bytes = n;
    return true;
}

} // namespace kzv
