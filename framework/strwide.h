// UTF-8 to UTF-16 conversion, the cut of UTF-8 text between characters, and the
// wide-string routines. Wide strings are zero-terminated arrays of 16-bit units;
// one unit holds one character, so a four-byte UTF-8 sequence keeps only the low
// 16 bits of its code. Decoding never reads past a source terminator nor writes
// past the destination's capacity;
// bytes that do not form a valid sequence become one unit each, of their own value.
#pragma once
#include "types.h"

namespace kzv {

u32 strlen(u16 const* s);                            // units before the terminator; null gives 0

// Decodes the sequence led by b0 (0x80 or above); b1..b3 are the bytes behind it,
// 0 past the source's end. Sets n to the continuation bytes used: 1 to 3, or 0 when
// b0 stands alone (a stray continuation byte, F8-FF, or a lead byte without its
// continuations), in which case the result is b0 itself. Below 0x80: 0 and n = -1.
u16 str_utf82unicode_ch(u8 b0, u8 b1, u8 b2, u8 b3, int& n);

// Converts src into dst, which holds `capacity` units with the terminator. A
// sequence that decodes to 0 is dropped. Returns the units written before the
// terminator; dst is terminated whenever capacity > 0. A null src gives "".
u32 str_utf82unicode(char const* src, u16* dst, u32 capacity);

// Appends the conversion of src behind the text already in dst, within the same
// capacity. Returns the units appended.
u32 str_utf82unicodecat(u16* dst, char const* src, u32 capacity);

// Cutting UTF-8 text. A character is one sequence as the decoder above takes it,
// or one byte that forms none, so a cut never splits a sequence and invalid bytes
// count one each. The bytes of the longest prefix of s holding at most
// `characters` characters in at most `bytes` bytes; a null s gives 0.
u32 str_utf8prefix(char const* s, u32 characters, u32 bytes);
// That prefix of src, for the capacity of dst (capacity - 1 bytes and the
// terminator), copied into dst; answers its bytes. A null src gives "".
u32 str_copycharacters(char* dst, u32 capacity, char const* src, u32 characters);

// One unit as UTF-8 into out (4 bytes): 1 to 3 bytes and a terminator, nothing for
// 0xFFFF. Returns the byte count.
u32 str_unicode2utf81byte(u16 u, char* out);

u32 strcpy(u16* dst, u16 const* src, u32 len);       // at most len units and a terminator
// The first unit equal to c taken as a signed byte, so bytes 0x80-0xFF look for
// 0xFF80-0xFFFF on every target; the terminator is never found.
u16* strchr(u16* s, char c);
u16 const* strchr(u16 const* s, char c);
u16 str_widechartolower(u16 u);                      // 'A'-'Z' only

} // namespace kzv
