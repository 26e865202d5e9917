// Finding the user's X server and connecting the X11 back-end to it, for the
// display selection of the platforms that speak X11. DISPLAY is "host:n" with an
// optional ".screen" (ignored): no host or "unix" is the local socket
// /tmp/.X11-unix/X<n>; "localhost" or a dotted IPv4 address is TCP port 6000 + n;
// any other host name is refused, since the program looks no names up. A DISPLAY
// that is set but not of that form is refused too, never taken for another
// display. Without DISPLAY the local socket of display 0 is taken when it
// exists, else TCP to 127.0.0.1:6000. The stream and the client are modules the
// driver owns.
#pragma once
#include "../framework/types.h"

namespace kzv {

class guidriver;

enum : u32 {
    x11display_default = 0,     // DISPLAY unset
    x11display_unix = 1,
    x11display_tcp = 2,
    x11display_badhost = 3,     // a host name, or a port past 65535
    x11display_malformed = 4,   // not [host]:n[.s]
};

const u32 X11_SOCKETPATH = 64;
const u32 X11_TCPBASEPORT = 6000;
const u32 X11_LOOPBACK = 0x7f000001u;
const u32 X11_CONNECTWAITMS = 9999;     // a server that accepted but does not answer
const u32 X11_HOSTMAX = 255;            // the longest host name there is
const u32 X11_NUMBERMAX = 65535;        // display and screen numbers
const u32 X11_SHOWNMAX = 300;           // DISPLAY in a message: longer than any display name

struct x11displayname {
    u32 transport;
    u32 number;
    u32 address;            // IPv4 in host order (TCP)
    u32 port;
    char socketpath[X11_SOCKETPATH];
};

// Reads DISPLAY (null when unset) into `out`; answers out.transport.
u32 x11_parsedisplay(char const* display, x11displayname& out);

// DISPLAY as a message may show it: one line of visible bytes ('?' for the
// others), cut with "..." behind X11_SHOWNMAX bytes. `capacity` of at least 4.
void x11_showdisplay(char const* value, char* out, u32 capacity);

// Opens the X11 back-end on the display the environment names, with the
// driver's format request, and waits for it to be ready. 1 when it is; else 0
// with the driver's failure text set (or the run already ended by the client).
int x11_opendisplay(guidriver& d);

} // namespace kzv
