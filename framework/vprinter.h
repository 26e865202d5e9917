// The formatting engine: a small printf language formatted into a caller's buffer.
// Every call is typed at compile time (one step per argument type), so no argument
// list is walked and no argument is read as the wrong type. A run never writes past
// the buffer it was given: text stops at the buffer's last byte, which only the
// terminator may take, and the stop rule drops arguments once `capacity` is near.
// The engine allocates nothing, keeps no global state and never fails.
//
// Format: '%', at most 7 flags from "+-.0123456789" (a width is the number they
// start with, '0' first pads with zeros, '.' and a digit give a precision; '+' and
// '-' only stop a width), a letter. Integers: d u x X c (0 prints a space, above
// 127 the UTF-8 of the low 16 bits), * (nonzero '*', zero '-'), h (hundredths),
// I and i (IPv4), m (memory size, %.3m three decimals on 64-bit values), D (date
// from seconds since 1970, 32-bit values). Floats: f, u, d. Strings: s, 8-bit or
// UTF-16. Other letters consume their argument and print nothing; %% prints '%'.
#pragma once
#include "types.h"

namespace kzv {

// The state of one formatting run; it lives on the caller's stack.
struct vprinterdata {
    char conversion;        // the letter of the conversion being formatted
    u32 length;             // bytes written to buffer so far
    u32 capacity;           // the limit the stop rule tests against
    char const* format;     // the next unread character of the format
    char* buffer;
    char flags[8];          // flag characters of the conversion (at most 7), 0-terminated
    u32 end;                // index of the buffer's last byte: text stops before it
};

// Conversions start only while length + VPRINTER_ROOM < capacity, so a conversion
// may overshoot the capacity; the hard end clips what would leave the buffer.
const u32 VPRINTER_ROOM = 16;
const u32 VPRINTER_STRINGROOM = 8;     // a string conversion needs its length plus this
const u32 VPRINTER_MAXFLAGS = 7;

// Sets up a run over `buffer` of `buffersize` bytes. A capacity of buffersize or
// more is allowed (the hard end still holds); a buffersize of 0 writes nothing.
void vprinter_begin(vprinterdata* d, char* buffer, u32 buffersize, u32 capacity, char const* format);

// The steps, one per argument. Each scans the format from where the last step
// stopped, copies text, and formats its argument at the next conversion.
void vprinter_value_noinline(vprinterdata* d, int value);     // the 32-bit step
void vprinter_value64(vprinterdata* d, u64 value);            // the 64-bit step
void vprinter_value(vprinterdata* d, float value);            // the float step
void vprinter_value(vprinterdata* d, char const* s);          // 8-bit string; null prints as ""
void vprinter_value(vprinterdata* d, u16 const* s);           // 16-bit string as UTF-8

// After the last step: copies the rest of the format up to `capacity` (a '%' makes
// the next character literal, so %08x shows as 08x) and terminates the text.
void vprinter_copyrest(vprinterdata* d);

// Argument types map to the steps by their width, the same on every target: types
// of 8 bytes take the 64-bit step, smaller ones the 32-bit step, signed ones sign-
// extended. Plain char is widened as unsigned everywhere (its signedness differs
// between CPUs), signed char stays signed. Pass u64 where a value (a size) must
// print the same on 32- and 64-bit targets. Doubles do not convert implicitly:
// `vprinter_tofloat` first.
template <class T> inline void vprinter_integer(vprinterdata* d, T v)
{
    if constexpr (sizeof(T) > 4)
        vprinter_value64(d, (u64)v);
    else
        vprinter_value_noinline(d, (int)v);
}
inline void vprinter_value(vprinterdata* d, bool v) { vprinter_value_noinline(d, v ? 1 : 0); }
inline void vprinter_value(vprinterdata* d, char v) { vprinter_value_noinline(d, (int)(unsigned char)v); }
inline void vprinter_value(vprinterdata* d, signed char v) { vprinter_value_noinline(d, v); }
inline void vprinter_value(vprinterdata* d, unsigned char v) { vprinter_value_noinline(d, v); }
inline void vprinter_value(vprinterdata* d, short v) { vprinter_value_noinline(d, v); }
inline void vprinter_value(vprinterdata* d, unsigned short v) { vprinter_value_noinline(d, v); }
inline void vprinter_value(vprinterdata* d, int v) { vprinter_value_noinline(d, v); }
inline void vprinter_value(vprinterdata* d, unsigned v) { vprinter_value_noinline(d, (int)v); }
inline void vprinter_value(vprinterdata* d, long v) { vprinter_integer(d, v); }
inline void vprinter_value(vprinterdata* d, unsigned long v) { vprinter_integer(d, v); }
inline void vprinter_value(vprinterdata* d, long long v) { vprinter_value64(d, (u64)v); }
inline void vprinter_value(vprinterdata* d, unsigned long long v) { vprinter_value64(d, (u64)v); }
inline void vprinter_value(vprinterdata* d, char* s) { vprinter_value(d, (char const*)s); }
inline void vprinter_value(vprinterdata* d, u16* s) { vprinter_value(d, (u16 const*)s); }
// Any other pointer would silently become a bool; an address is printed with %x of
// (u64)(uptr)p, the same on every target.
template <class T> void vprinter_value(vprinterdata* d, T* p) = delete;

// One step per argument, in order, then the trailing copy; the text is terminated.
template <class... A> inline void vprinter_int(vprinterdata* d, A... args)
{
    (vprinter_value(d, args), ...);
    vprinter_copyrest(d);
}

// Formats into buffer (buffersize bytes) with the given capacity; returns the length.
template <class... A>
inline u32 vprinter_format(char* buffer, u32 buffersize, u32 capacity, char const* format, A... args)
{
    vprinterdata d;
    vprinter_begin(&d, buffer, buffersize, capacity, format);
    vprinter_int(&d, args...);
    return d.length;
}

// Conversion routines: a 0-terminated text and its length. Decimal puts '-' first
// (counted); hexadecimal has no prefix and no leading zeros. Buffers: 12 bytes for
// 32-bit decimal, 21 for 64-bit, 9 and 17 for hexadecimal.
u32 vprinter_int32tostring(int value, char* out);
u32 vprinter_int64tostring(s64 value, char* out);
u32 vprinter_hex32tostring(u32 value, char* out, bool uppercase);
u32 vprinter_hex64tostring(u64 value, char* out, bool uppercase);

// The pieces the steps are built from, for code that formats alongside the engine.
// Each appends at buffer + length, clipped at the hard end.
void vprinter_put(vprinterdata* d, char c);
void vprinter_putbytes(vprinterdata* d, char const* bytes, u32 count);
void vprinter_putrepeat(vprinterdata* d, char c, u32 count);
// Scans text up to the next conversion and reads it (true), or ends the step
// (false) at the format's end or when length + room reaches the capacity.
bool vprinter_nextconversion(vprinterdata* d, u64 room);
void vprinter_getfmt(vprinterdata* d);
u32 vprinter_width(vprinterdata const* d);      // the number at the start of the flags
void vprinter_pint(vprinterdata* d, int value);
void vprinter_puint(vprinterdata* d, u32 value);
void vprinter_pint64(vprinterdata* d, s64 value);
void vprinter_puint64(vprinterdata* d, u64 value);
void vprinter_hex(vprinterdata* d, u32 value, bool uppercase);
void vprinter_hex64(vprinterdata* d, u64 value, bool uppercase);
void vprinter_char(vprinterdata* d, u32 value);
void vprinter_asterisk(vprinterdata* d, u32 value);
void vprinter_h(vprinterdata* d, int hundredths);
void vprinter_IP(vprinterdata* d, u32 address);
void vprinter_ip(vprinterdata* d, u32 address);
void vprinter_memsize(vprinterdata* d, u32 bytes);
void vprinter_memsize64(vprinterdata* d, u64 bytes);
void vprinter_datetime(vprinterdata* d, u32 seconds1970);

} // namespace kzv
