// The formatting engine's scanner, integer, character, string and special
// conversions. Every byte goes through vprinter_put, which clips at the hard end,
// so widths, 21-digit numbers and nested runs cannot leave the buffer. Magnitudes
// of negative values are taken in unsigned arithmetic, so INT_MIN and INT64_MIN
// need no negation of a signed value.
#include "vprinter.h"
#include "vprinterfloat.h"
#include "str.h"
#include "timeconv.h"

namespace kzv {

void vprinter_begin(vprinterdata* d, char* buffer, u32 buffersize, u32 capacity, char const* format)
{
    d->conversion = 0;
    d->length = 0;
    d->capacity = capacity;
    d->format = format ? format : "";
    d->buffer = buffersize ? buffer : nullptr;
    d->flags[0] = 0;
    d->end = buffersize ? buffersize - 1 : 0;
    if (d->buffer)
        d->buffer[0] = 0;
}

void vprinter_put(vprinterdata* d, char c)
{
    if (d->length < d->end)
        d->buffer[d->length++] = c;
}

static u32 roomleft(vprinterdata const* d) { return d->length < d->end ? d->end - d->length : 0; }

void vprinter_putbytes(vprinterdata* d, char const* bytes, u32 count)
{
    u32 room = roomleft(d);
    if (count > room)
        count = room;
    for (u32 i = 0; i < count; i++)
        d->buffer[d->length + i] = bytes[i];
    d->length += count;
}

void vprinter_putrepeat(vprinterdata* d, char c, u32 count)
{
    u32 room = roomleft(d);
    if (count > room)
        count = room;                   // a width of millions costs no more than the room
    for (u32 i = 0; i < count; i++)
        d->buffer[d->length + i] = c;
    d->length += count;
}

static bool isflagchar(char c) { return c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9'); }

void vprinter_getfmt(vprinterdata* d)
{
    u32 n = 0;
    while (isflagchar(*d->format)) {
        if (n < VPRINTER_MAXFLAGS)      // the rest of an over-long flag run is skipped
            d->flags[n++] = *d->format;
        d->format++;
    }
    d->flags[n] = 0;
    d->conversion = *d->format;
    if (*d->format)                     // a format ending in flags has no letter
        d->format++;
}

bool vprinter_nextconversion(vprinterdata* d, u64 room)
{
    for (;;) {
        char c = *d->format;
        if (!c)
            return false;
        if ((u64)d->length + room >= d->capacity)
            return false;
        d->format++;
        if (c != '%') {
            vprinter_put(d, c);
            continue;
        }
        if (*d->format == '%') {
            vprinter_put(d, '%');
            d->format++;
            continue;
        }
        vprinter_getfmt(d);
        return true;
    }
}

void vprinter_copyrest(vprinterdata* d)
{
    while (*d->format && d->length < d->capacity && d->length < d->end) {
        char c = *d->format++;
        if (c == '%') {
            c = *d->format;
            if (!c)
                break;
            d->format++;
        }
        vprinter_put(d, c);
    }
    if (d->buffer)
        d->buffer[kzv_min(d->length, d->end)] = 0;
}

u32 vprinter_width(vprinterdata const* d)
{
    u32 w = 0;
    for (char const* f = d->flags; *f >= '0' && *f <= '9'; f++)
        w = w * 10 + (u32)(*f - '0');   // at most seven digits
    return w;
}

static bool zeropadded(vprinterdata const* d) { return d->flags[0] == '0'; }

// Digits of v, most significant first, into out (at least 21 bytes); returns the count.
static u32 decimaldigits(u64 v, char* out)
{
    char reversed[20];
    u32 n = 0;
    while (v > 0xFFFFFFFFu) {           // 64-bit division only while it is needed
        reversed[n++] = (char)('0' + v % 10);
        v /= 10;
    }
    u32 w = (u32)v;
    do {
        reversed[n++] = (char)('0' + w % 10);
        w /= 10;
    } while (w);
    for (u32 i = 0; i < n; i++)
        out[i] = reversed[n - 1 - i];
    out[n] = 0;
    return n;
}

static u32 hexdigits(u64 v, char* out, bool uppercase)
{
    char const* digits = uppercase ? "0123456789ABCDEF" : "0123456789abcdef";
    u32 n = 1;
    for (u64 rest = v >> 4; rest; rest >>= 4)
        n++;
    for (u32 i = 0; i < n; i++)
        out[i] = digits[(v >> (4 * (n - 1 - i))) & 15];
    out[n] = 0;
    return n;
}

static u64 magnitude(s64 v) { return v < 0 ? 0 - (u64)v : (u64)v; }

u32 vprinter_int32tostring(int value, char* out)
{
    return vprinter_int64tostring(value, out);
}

u32 vprinter_int64tostring(s64 value, char* out)
{
    u32 n = 0;
    if (value < 0)
        out[n++] = '-';
    return n + decimaldigits(magnitude(value), out + n);
}

u32 vprinter_hex32tostring(u32 value, char* out, bool uppercase) { return hexdigits(value, out, uppercase); }
u32 vprinter_hex64tostring(u64 value, char* out, bool uppercase) { return hexdigits(value, out, uppercase); }

// Signed decimal: spaces before the sign, or the sign and then zeros.
static void putsigned(vprinterdata* d, u64 mag, bool negative)
{
    char digits[21];
    u32 n = decimaldigits(mag, digits);
    u32 textlength = n + (negative ? 1 : 0);
    u32 width = vprinter_width(d);
    u32 pad = width > textlength ? width - textlength : 0;
    if (zeropadded(d)) {
        if (negative)
            vprinter_put(d, '-');
        vprinter_putrepeat(d, '0', pad);
    } else {
        vprinter_putrepeat(d, ' ', pad);
        if (negative)
            vprinter_put(d, '-');
    }
    vprinter_putbytes(d, digits, n);
}

// Unsigned decimal or hexadecimal, padded before the digits.
static void putunsigned(vprinterdata* d, char const* digits, u32 n)
{
    u32 width = vprinter_width(d);
    if (width > n)
        vprinter_putrepeat(d, zeropadded(d) ? '0' : ' ', width - n);
    vprinter_putbytes(d, digits, n);
}

void vprinter_pint(vprinterdata* d, int value) { putsigned(d, magnitude(value), value < 0); }
void vprinter_pint64(vprinterdata* d, s64 value) { putsigned(d, magnitude(value), value < 0); }

void vprinter_puint64(vprinterdata* d, u64 value)
{
    char digits[21];
    u32 n = decimaldigits(value, digits);
    putunsigned(d, digits, n);
}

void vprinter_puint(vprinterdata* d, u32 value) { vprinter_puint64(d, value); }

void vprinter_hex64(vprinterdata* d, u64 value, bool uppercase)
{
    char digits[17];
    u32 n = hexdigits(value, digits, uppercase);
    putunsigned(d, digits, n);
}

void vprinter_hex(vprinterdata* d, u32 value, bool uppercase) { vprinter_hex64(d, value, uppercase); }

// Above 127 the low 16 bits are encoded; when they are 0 (0x10000, say) the
// character prints as the space of value 0, so no text ever holds a NUL.
void vprinter_char(vprinterdata* d, u32 value)
{
    if ((value & 0xFFFF) == 0) {
        vprinter_put(d, ' ');
    } else if (value < 128) {
        vprinter_put(d, (char)value);
    } else {
        char utf8[4];
        u32 n = str_unicode2utf81byte((u16)value, utf8);
        vprinter_putbytes(d, utf8, n);
    }
}

void vprinter_asterisk(vprinterdata* d, u32 value) { vprinter_put(d, value ? '*' : '-'); }

// Runs f with the conversion's flags replaced by `flags`, then restores them.
template <class F> static void withflags(vprinterdata* d, char const* flags, F f)
{
    char saved[8];
    for (u32 i = 0; i < 8; i++)
        saved[i] = d->flags[i];
    u32 i = 0;
    for (; flags[i] && i < VPRINTER_MAXFLAGS; i++)
        d->flags[i] = flags[i];
    d->flags[i] = 0;
    f();
    for (u32 k = 0; k < 8; k++)
        d->flags[k] = saved[k];
}

void vprinter_h(vprinterdata* d, int hundredths)
{
    if (hundredths < 0)
        vprinter_put(d, '-');
    u32 mag = (u32)magnitude(hundredths);
    putsigned(d, mag / 100, false);
    vprinter_put(d, '.');
    withflags(d, "02", [&] { vprinter_puint(d, mag % 100); });
}

void vprinter_IP(vprinterdata* d, u32 address)
{
    withflags(d, "03", [&] {
        for (int shift = 24; shift >= 0; shift -= 8) {
            vprinter_puint(d, (address >> shift) & 255);
            if (shift)
                vprinter_put(d, '.');
        }
    });
}

void vprinter_ip(vprinterdata* d, u32 address)
{
    if (zeropadded(d)) {
        vprinter_IP(d, address);
        return;
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
        vprinter_puint(d, (address >> shift) & 255);
        if (shift)
            vprinter_put(d, '.');
    }
}

// 32-bit sizes: truncated, with 9 KiB and 9 MiB as the steps to the next unit.
void vprinter_memsize(vprinterdata* d, u32 bytes)
{
    if (bytes < 9216) {
        vprinter_puint(d, bytes);
        vprinter_put(d, 'b');
    } else if (bytes < 0x900000) {
        vprinter_puint(d, bytes >> 10);
        vprinter_put(d, 'k');
    } else {
        vprinter_puint(d, bytes >> 20);
        vprinter_put(d, 'm');
    }
}

static bool precisionthree(vprinterdata const* d)
{
    for (char const* f = d->flags; *f; f++)
        if (*f == '.')
            return f[1] == '3';
    return false;
}

// 64-bit sizes: the unit is the largest of b, k, m, g that the value reaches; the
// thousandths of that unit decide the rounding, or print as three decimals (.3).
void vprinter_memsize64(vprinterdata* d, u64 bytes)
{
    static char const units[] = {'k', 'm', 'g'};
    int unit = bytes < (1u << 20) ? 0 : bytes < (1u << 30) ? 1 : 2;
    u32 shift = 10 * (u32)(unit + 1);
    u32 rest = (u32)(bytes & ((1u << shift) - 1));
    u32 thousandths = vprinter_memthousandths(rest, unit);
    if (precisionthree(d)) {
        char text[40];
        char const format[] = {'%', 'u', '.', '%', '0', '3', 'u', units[unit], 0};
        u32 n = vprinter_format(text, sizeof text, 99, format, bytes >> shift, thousandths);
        vprinter_putbytes(d, text, n);
        return;
    }
    if (bytes < 1024) {
        vprinter_puint(d, (u32)bytes);
        vprinter_put(d, 'b');
        return;
    }
    vprinter_puint64(d, (bytes >> shift) + (thousandths >= 500 ? 1 : 0));
    vprinter_put(d, units[unit]);
}

// The date runs the 32-bit step six times on this run, so the stop rule applies to
// each value; the outer format position is restored afterwards.
void vprinter_datetime(vprinterdata* d, u32 seconds1970)
{
    u32 day, month, year, hour, minute, second;
    time_decode1970(seconds1970, day, month, year, hour, minute, second);
    char const* saved = d->format;
    d->format = "%02u.%02u.%04u %02u:%02u:%02u";
    u32 const values[] = {day, month, year, hour, minute, second};
    for (u32 v : values)
        vprinter_value_noinline(d, (int)v);
    d->format = saved;
}

void vprinter_value_noinline(vprinterdata* d, int value)
{
    if (!vprinter_nextconversion(d, VPRINTER_ROOM))
        return;
    u32 bits = (u32)value;
    switch (d->conversion) {
    case 'd':
    case 'f': vprinter_pint(d, value); break;
    case 'u': vprinter_puint(d, bits); break;
    case 'x': vprinter_hex(d, bits, false); break;
    case 'X': vprinter_hex(d, bits, true); break;
    case 'c': vprinter_char(d, bits); break;
    case '*': vprinter_asterisk(d, bits); break;
    case 'h': vprinter_h(d, value); break;
    case 'I': vprinter_IP(d, bits); break;
    case 'i': vprinter_ip(d, bits); break;
    case 'm': vprinter_memsize(d, bits); break;
    case 'D': vprinter_datetime(d, bits); break;
    default: break;                     // unknown letters consume their argument
    }
}

void vprinter_value64(vprinterdata* d, u64 value)
{
    if (!vprinter_nextconversion(d, VPRINTER_ROOM))
        return;
    u32 low = (u32)value;
    switch (d->conversion) {
    case 'd': vprinter_pint64(d, (s64)value); break;
    case 'u': vprinter_puint64(d, value); break;
    case 'x': vprinter_hex64(d, value, false); break;
    case 'X': vprinter_hex64(d, value, true); break;
    case 'c': vprinter_char(d, low); break;
    case 'I': vprinter_IP(d, low); break;
    case 'i': vprinter_ip(d, low); break;
    case 'm': vprinter_memsize64(d, value); break;
    default: break;
    }
}

// The string steps: exactly `width` units when a width is given (cut, or padded
// with spaces behind), else the whole string. The room test takes the bytes the
// whole string prints as. `put` writes the first n units.
template <class P> static void stringstep(vprinterdata* d, u32 units, u64 bytes, P put)
{
    if (!vprinter_nextconversion(d, bytes + VPRINTER_STRINGROOM))
        return;
    if (d->conversion != 's')
        return;
    u32 width = vprinter_width(d);
    if (width == 0) {
        put(units);
        return;
    }
    put(kzv_min(units, width));
    if (width > units)
        vprinter_putrepeat(d, ' ', width - units);
}

void vprinter_value(vprinterdata* d, char const* s)
{
    u32 n = strlen(s);                  // null counts as ""
    stringstep(d, n, n, [&](u32 k) { vprinter_putbytes(d, s, k); });
}

static u32 utf8length(u16 const* s, u32 units)
{
    u32 total = 0;
    char utf8[4];
    for (u32 i = 0; i < units; i++)
        total += s[i] < 128 ? 1 : str_unicode2utf81byte(s[i], utf8);
    return total;
}

static void pututf16(vprinterdata* d, u16 const* s, u32 units)
{
    for (u32 i = 0; i < units; i++) {
        if (s[i] < 128) {
            vprinter_put(d, (char)s[i]);
            continue;
        }
        char utf8[4];
        u32 n = str_unicode2utf81byte(s[i], utf8);
        vprinter_putbytes(d, utf8, n);
    }
}

// 16-bit strings: each unit as UTF-8; the width counts units.
void vprinter_value(vprinterdata* d, u16 const* s)
{
    u32 units = strlen(s);
    stringstep(d, units, utf8length(s, units), [&](u32 k) { pututf16(d, s, k); });
}

} // namespace kzv
