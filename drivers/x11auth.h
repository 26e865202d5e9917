// The X authority file and the connection setup request built from it. The file
// is a sequence of entries: family (u16), then address, display number, name and
// data, each a big-endian u16 length and that many bytes. Entries are walked only
// while every length fits the rest of the file; a cut or bogus length ends the
// walk. Only MIT-MAGIC-COOKIE-1 entries are used. The caller owns the file bytes;
// nothing is allocated.
#pragma once
#include "../framework/types.h"

namespace kzv {

enum : u16 { xauth_internet = 0, xauth_local = 256, xauth_wild = 65535 };

const u32 X11_SETUPREQUESTHEAD = 12;

struct x11authentry {
    u16 family;
    u16 addresslength;
    u16 numberlength;
    u16 namelength;
    u16 datalength;
    u8 const* address;
    u8 const* number;       // the display number in decimal
    u8 const* name;
    u8 const* data;
};

// The entry at `offset`; false at the end of the file or at an entry that does
// not fit it. On success `offset` moves behind the entry.
bool x11auth_next(u8 const* file, u32 size, u32& offset, x11authentry& e);

// The first usable cookie for `display`: the number field must equal the decimal
// display number. With `remote` (an IPv4 address in host order, 0 for the local
// host) only an Internet entry for that address or a Wild entry is taken, so the
// local cookie never goes elsewhere. Entries whose setup request would not fit
// `capacity` bytes are skipped.
bool x11auth_find(u8 const* file, u32 size, u32 display, u32 remote, u32 capacity,
                  x11authentry& out);

// The setup request: byte order 'l', protocol 11.0, the entry's name and data
// (none for null), each padded to 4. Its length, or 0 when it does not fit.
u32 x11auth_setuprequest(u8* out, u32 capacity, x11authentry const* e);

} // namespace kzv
