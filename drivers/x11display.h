// Finding the user's X server and connecting the X11 back-end to it, for the
// display selection of the platforms that speak X11. DISPLAY is "host:n" with an
// optional ".screen" (ignored): no host or "unix" is the local socket
// /tmp/.X11-unix/X<n>; "localhost" or a dotted IPv4 address is TCP port 6000 + n;
// any other host name is refused, since the program looks no names up. Without
// a usable ":n" the local socket of display 0 is taken when it exists, else TCP
// to 127.0.0.1:6000. The stream and the client are modules the driver owns.
#pragma once
#include "../framework/types.h"

namespace kzv {

class guidriver;

enum : u32 {
    x11display_default = 0,     // DISPLAY unset or without ":n"
    x11display_unix = 1,
    x11display_tcp = 2,
    x11display_badhost = 3,     // a host name, or a port past 65535
};

const u32 X11_SOCKETPATH = 64;
const u32 X11_TCPBASEPORT = 6000;
const u32 X11_LOOPBACK = 0x7f000001u;
const u32 X11_CONNECTWAITMS = 9999;     // a server that accepted but does not answer

struct x11displayname {
    u32 transport;
    u32 number;
    u32 address;            // IPv4 in host order (TCP)
    u32 port;
    char socketpath[X11_SOCKETPATH];
};

// Reads DISPLAY (null when unset) into `out`; answers out.transport.
u32 x11_parsedisplay(char const* display, x11displayname& out);

// Opens the X11 back-end on the display the environment names, with the
// driver's format request, and waits for it to be ready. 1 when it is; else 0
// with the driver's failure text set (or the run already ended by the client).
int x11_opendisplay(guidriver& d);

} // namespace kzv
