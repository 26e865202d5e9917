// Authority entries and the setup request. The file's lengths are big-endian and
// sit at any offset, so they are read byte by byte; the setup request's own
// lengths are little-endian u16 fields written whole.
#include "x11auth.h"
#include "../framework/memprim.h"
#include "x11proto.h"

namespace kzv {

static char const COOKIENAME[] = "MIT-MAGIC-COOKIE-1";

static bool takefield(u8 const* file, u32 size, u32& offset, u16& length, u8 const*& bytes)
{
    if ((u64)offset + 2 > size)
        return false;
    length = (u16)((file[offset] << 8) | file[offset + 1]);
    if ((u64)offset + 2 + length > size)
        return false;
    bytes = file + offset + 2;
    offset += 2 + length;
    return true;
}

bool x11auth_next(u8 const* file, u32 size, u32& offset, x11authentry& e)
{
    if (!file || (u64)offset + 2 > size)
        return false;
    u32 at = offset;
    e.family = (u16)((file[at] << 8) | file[at + 1]);
    at += 2;
    if (!takefield(file, size, at, e.addresslength, e.address) ||
        !takefield(file, size, at, e.numberlength, e.number) ||
        !takefield(file, size, at, e.namelength, e.name) ||
        !takefield(file, size, at, e.datalength, e.data))
        return false;
    offset = at;
    return true;
}

// The number field holds the display number in decimal, without leading zeros.
static bool numberis(x11authentry const& e, u32 display)
{
    char digits[12];
    u32 n = 0;
    for (u32 rest = display; n == 0 || rest; rest /= 10)
        n++;
    for (u32 i = n, rest = display; i > 0; rest /= 10)
        digits[--i] = (char)('0' + rest % 10);
    return e.numberlength == n && memcmp(e.number, digits, n) == 0;
}

static bool isaddress(x11authentry const& e, u32 address)
{
    u8 const net[4] = {(u8)(address >> 24), (u8)(address >> 16), (u8)(address >> 8), (u8)address};
    return e.addresslength == 4 && memcmp(e.address, net, 4) == 0;
}

static bool usable(x11authentry const& e, u32 display, u32 remote, u32 capacity)
{
    u32 namelength = sizeof COOKIENAME - 1;
    if (e.namelength != namelength || memcmp(e.name, COOKIENAME, namelength) != 0)
        return false;
    if (!numberis(e, display))
        return false;
    u64 request = X11_SETUPREQUESTHEAD + (u64)x11_pad4(e.namelength) + x11_pad4(e.datalength);
    if (request > capacity)
        return false;
    if (!remote)
        return true;
    return e.family == xauth_wild || (e.family == xauth_internet && isaddress(e, remote));
}

bool x11auth_find(u8 const* file, u32 size, u32 display, u32 remote, u32 capacity,
                  x11authentry& out)
{
    u32 offset = 0;
    x11authentry e;
    while (x11auth_next(file, size, offset, e)) {
        if (usable(e, display, remote, capacity)) {
            out = e;
            return true;
        }
    }
    return false;
}

u32 x11auth_setuprequest(u8* out, u32 capacity, x11authentry const* e)
{
    u32 namelength = e ? e->namelength : 0;
    u32 datalength = e ? e->datalength : 0;
    u32 nameroom = x11_pad4(namelength);
    u64 total = X11_SETUPREQUESTHEAD + (u64)nameroom + x11_pad4(datalength);
    if (!out || total > capacity)
        return 0;
    memset0(out, (u32)total);
    out[0] = 'l';                   // least significant byte first
    out[2] = 11;                    // protocol major version 11, minor 0
    out[6] = (u8)namelength;
    out[7] = (u8)(namelength >> 8);
    out[8] = (u8)datalength;
    out[9] = (u8)(datalength >> 8);
    if (namelength)
        memcpy(out + X11_SETUPREQUESTHEAD, e->name, namelength);
    if (datalength)
        memcpy(out + X11_SETUPREQUESTHEAD + nameroom, e->data, datalength);
    return (u32)total;
}

} // namespace kzv
