// The X11 wire format as the client speaks it: little-endian request building
// into a caller's buffer that never overflows (a request that does not fit is
// not built), and parsers for the setup reply, the replies the client asks for
// and the 32-byte events. Every parser checks each offset against the length it
// is given before it reads, and reads fields byte by byte, so nothing depends on
// alignment. Nothing here allocates or keeps state.
#pragma once
#include "../framework/types.h"

namespace kzv {

// Core request opcodes.
enum : u8 {
    xreq_createwindow = 1, xreq_destroywindow = 4, xreq_mapwindow = 8, xreq_internatom = 16,
    xreq_changeproperty = 18, xreq_createpixmap = 53, xreq_creategc = 55, xreq_copyarea = 62,
    xreq_putimage = 72, xreq_queryextension = 98, xreq_getkeyboardmapping = 101,
};
// Extension minor opcodes.
enum : u8 {
    xrandr_getscreenresources = 8, xbigreq_enable = 0, xdri2_connect = 1, xdri2_authenticate = 2,
};
// Event codes (bit 7 set marks an event sent by another client).
enum : u8 {
    xev_error = 0, xev_reply = 1, xev_keypress = 2, xev_keyrelease = 3, xev_buttonpress = 4,
    xev_buttonrelease = 5, xev_motionnotify = 6, xev_expose = 12, xev_graphicsexposure = 13,
    xev_noexposure = 14, xev_visibilitynotify = 15, xev_destroynotify = 17, xev_unmapnotify = 18,
    xev_mapnotify = 19, xev_reparentnotify = 21, xev_configurenotify = 22,
    xev_clientmessage = 33, xev_mappingnotify = 34, xev_genericevent = 35,
    xev_sent = 0x80,
};
// What a MappingNotify reports changed.
enum : u8 { xmapping_modifier = 0, xmapping_keyboard = 1, xmapping_pointer = 2 };
// KeyPress and KeyButMask bits of an event's state word.
enum : u16 { xstate_shift = 1, xstate_lock = 2, xstate_control = 4 };

const u32 X11_EVENTBYTES = 32;          // events, errors and reply heads
const u32 X11_SETUPHEAD = 8;            // the setup reply's fixed head
const u32 X11_MAXSCREENS = 16;          // screens counted from the setup

// Little-endian fields, byte by byte.
inline u16 x11_get16(u8 const* p) { return (u16)(p[0] | (p[1] << 8)); }
inline u32 x11_get32(u8 const* p) { return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24); }
inline u32 x11_pad4(u32 n) { return (n + 3) & ~3u; }

// Builds one request after another into a fixed buffer. A put that would pass
// the capacity sets `overflow` and writes nothing more.
struct x11writer {
    u8* buffer;
    u32 capacity;
    u32 length;
    bool overflow;

    void begin(u8* b, u32 c) { buffer = b; capacity = c; length = 0; overflow = false; }
    void put8(u32 v);
    void put16(u32 v);
    void put32(u32 v);
    void putbytes(void const* p, u32 n);
    void pad4();
    // The request head: opcode, the byte after it and the length in words, which
    // `finish` fills in; answers the request's offset in the buffer.
    u32 head(u8 opcode, u8 data);
    bool finish(u32 start);            // false when the request overflowed or is too long
};

// Requests. Each answers the request's length in bytes, or 0 when it did not fit.
u32 x11req_internatom(x11writer& w, char const* name);
u32 x11req_queryextension(x11writer& w, char const* name);
u32 x11req_getkeyboardmapping(x11writer& w, u32 firstkeycode, u32 count);
u32 x11req_extension(x11writer& w, u8 major, u8 minor, u32 const* words, u32 count);
u32 x11req_createwindow(x11writer& w, u32 id, u32 parent, s32 x, s32 y, u32 width, u32 height,
                        u32 eventmask);
// Values are bytes (format 8), u16 (16) or u32 (32) in the caller's order.
u32 x11req_changeproperty(x11writer& w, u32 window, u32 property, u32 type, u32 format,
                          void const* values, u32 count);
u32 x11req_creategc(x11writer& w, u32 id, u32 drawable, u32 function, u32 foreground,
                    u32 background);
u32 x11req_createpixmap(x11writer& w, u32 depth, u32 id, u32 drawable, u32 width, u32 height);
u32 x11req_window(x11writer& w, u8 opcode, u32 window);    // DestroyWindow, MapWindow
u32 x11req_copyarea(x11writer& w, u32 src, u32 dst, u32 gc, u32 y, u32 width, u32 height);
// The head of a ZPixmap PutImage of `rows` rows at row y whose pixel bytes follow:
// 24 bytes, or 28 in the extended form of BIG-REQUESTS. 0 when the request would
// pass `maxbytes` or its length field.
u32 x11req_putimagehead(x11writer& w, bool big, u64 maxbytes, u32 drawable, u32 gc, u32 width,
                        u32 rows, u32 y, u32 depth, u32 databytes);

// The additional data of a successful setup reply (what follows its 8-byte head).
struct x11setup {
    u32 resourcebase;
    u32 maxrequestwords;    // the core maximum request length in 4-byte words
    u32 screens;            // capped at X11_MAXSCREENS
    u32 formats;
    u8 imagebyteorder;
    u8 bitmaporder;
    u8 scanlineunit;
    u8 scanlinepad;
    u8 minkeycode;
    u8 maxkeycode;
    u8 rootdepth;
    u8 bitsperpixel;        // of the pixmap format of the root depth; 0 when none is listed
    u8 depthpad;            // its scanline pad in bits
    u32 root;
    u32 width;              // of the first screen, in pixels
    u32 height;
};
// False when an offset passes the length or there is no screen.
bool x11_decodesetup(u8 const* data, u32 length, x11setup& out);

// The setup head's verdict: 1 success, 0 failed, 2 more authentication wanted.
// The reason of a refused setup as one printable line (other bytes as '?', cut at
// the capacity); `data` is what follows the head.
void x11_refusalreason(u8 const* head, u8 const* data, u32 length, char* out, u32 capacity);

// An error packet as one line: "BadAlloc (11) on request 16.0, sequence 1", the
// code alone for errors of extensions. Cut at the capacity.
const u32 X11_ERRORTEXT = 80;
void x11_describeerror(u8 const* e, char* out, u32 capacity);

// Replies: `reply` is the whole reply of `length` bytes (32-byte head included).
// GetKeyboardMapping for `count` key codes from `first`: at most four keysyms of
// each go to the columns (the low 16 bits), missing ones are 0. False, with the
// columns untouched, unless the reply holds exactly keysyms-per-key-code times
// `count` keysyms: a reply of another length answers some other question.
bool x11_decodekeymap(u8 const* reply, u32 length, u32 first, u32 count, u16 (*columns)[256]);
// RRGetScreenResources: the size of its first mode, when it lists one.
bool x11_decodescreenresources(u8 const* reply, u32 length, u32& width, u32& height);
// DRI2Connect: the device name, terminated, when both names fit the reply and
// the driver name is not empty.
bool x11_decodedri2connect(u8 const* reply, u32 length, char* device, u32 capacity);

// One event, with the fields the client uses; which are set depends on the code.
struct x11event {
    u8 code;                // bit 7 masked off
    u8 sent;                // 1 when another client sent it
    u8 detail;              // key code, button, or the format of a client message
    u16 sequence;
    u32 window;
    s32 x, y;               // event position, or the window's for Expose/Configure
    u32 width, height;
    u16 state;              // modifier and button bits
    u16 count;              // Expose: how many follow
    u32 type;               // ClientMessage: the message type
    u32 value0;             // ClientMessage: the first 32-bit value
    u8 request;             // MappingNotify: what changed, xmapping_*
};
// False for codes the client does not take apart (errors and replies included).
bool x11_decodeevent(u8 const* e, x11event& out);

} // namespace kzv
