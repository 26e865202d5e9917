// TCP through Winsock, bound from "ws2_32.dll" on first use. Every socket is
// non-blocking from the start. Reads and sends answer -2 for "would block" and
// for a connect still in progress, -1 once the connect has failed (the socket's
// SO_ERROR is set) or on any other error, and 0 from a read for the peer's close.
// A socket is a handle, so it fits an int and is sign-extended back; a failed
// socket call never leaves the layer as a descriptor. There are no Unix-domain
// sockets here.
#include "winos.h"
#include "../../framework/os.h"

namespace kzv {

const s32 TCP_BACKLOG = 128;
const s32 TCP_BUFFERBYTES = 0x40000;

static u16 tonet16(u32 v) { return (u16)(((v & 0xff) << 8) | ((v >> 8) & 0xff)); }
static u32 tonet32(u32 v) { return (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24); }

static uptr tosocket(int fd) { return (uptr)(sptr)fd; }

static winsockaddrin inetaddress(u32 address, u32 port)
{
    winsockaddrin a = {};
    a.family = WS_AFINET;
    a.port = tonet16(port);
    a.address = tonet32(address);
    return a;
}

// A non-blocking TCP socket as a descriptor, or 0.
static int newsocket(winsocktable* t)
{
    uptr s = t->socket(WS_AFINET, WS_SOCKSTREAM, WS_IPPROTOTCP);
    if (s == WS_INVALIDSOCKET)
        return 0;
    u32 on = 1;
    t->ioctlsocket(s, (s32)WS_FIONBIO, &on);
    return (int)(sptr)s;
}

int os_tcpserver(int port, bool localonly)
{
    winsocktable* t = win_sockets();
    int fd = t ? newsocket(t) : 0;
    if (!fd)
        return 0;
    s32 bytes = TCP_BUFFERBYTES;
    t->setsockopt(tosocket(fd), WS_SOLSOCKET, WS_SOSNDBUF, &bytes, sizeof bytes);
    t->setsockopt(tosocket(fd), WS_SOLSOCKET, WS_SORCVBUF, &bytes, sizeof bytes);
    winsockaddrin a = inetaddress(localonly ? 0x7f000001u : 0, (u32)port);
    if (t->bind(tosocket(fd), &a, sizeof a) != 0 || t->listen(tosocket(fd), TCP_BACKLOG) != 0) {
        t->closesocket(tosocket(fd));
        return 0;
    }
    return fd;
}

int os_tcpaccept(int listener, unsigned& peeraddress)
{
    winsocktable* t = win_sockets();
    if (!t)
        return 0;
    alignas(16) u8 address[100] = {};
    s32 length = sizeof address;
    uptr s = t->accept(tosocket(listener), address, &length);
    if (s == WS_INVALIDSOCKET)
        return 0;
    u32 on = 1;
    t->ioctlsocket(s, (s32)WS_FIONBIO, &on);
    peeraddress = tonet32(((winsockaddrin*)(void*)address)->address);
    win_trimworkingset();
    return (int)(sptr)s;
}

// The connect is still in progress when this returns; the first reads and sends
// tell how it went.
int os_tcpconnect(unsigned address, unsigned port)
{
    winsocktable* t = win_sockets();
    int fd = t ? newsocket(t) : 0;
    if (!fd)
        return 0;
    winsockaddrin a = inetaddress(address, port);
    t->connect(tosocket(fd), &a, sizeof a);
    return fd;
}

static bool haspendingerror(winsocktable* t, int fd)
{
    s32 pending = 0;
    s32 length = sizeof pending;
    return t->getsockopt(tosocket(fd), WS_SOLSOCKET, WS_SOERROR, &pending, &length) != 0 || pending != 0;
}

// A socket that is not connected is either still connecting (-2) or has failed
// to (-1); the pending error tells them apart.
static int failure(winsocktable* t, int fd)
{
    s32 error = t->wsagetlasterror();
    if (error == (s32)WS_EWOULDBLOCK)
        return -2;
    if (error != (s32)WS_ENOTCONN)
        return -1;
    return haspendingerror(t, fd) ? -1 : -2;
}

int os_tcpread(int fd, void* buffer, int size)
{
    winsocktable* t = win_sockets();
    if (!t || size <= 0)
        return t ? 0 : -1;
    s32 r = t->recv(tosocket(fd), buffer, size, 0);
    if (r == 0 && haspendingerror(t, fd))
        return -1;              // a refused connect can read as an end of stream
    return r >= 0 ? r : failure(t, fd);
}

int os_tcpsend(int fd, void const* bytes, int count)
{
    winsocktable* t = win_sockets();
    if (!t || count <= 0)
        return t ? 0 : -1;
    s32 r = t->send(tosocket(fd), bytes, count, 0);
    return r >= 0 ? r : failure(t, fd);
}

void os_tcpclose(int fd)
{
    winsocktable* t = win_sockets();
    if (!t || fd == 0)
        return;
    t->closesocket(tosocket(fd));
    win_trimworkingset();
}

// The pipe stream's local sockets do not exist on Windows.
int os_unixconnect(char const*) { return 0; }
int os_socketread(int, void*, unsigned) { return 0; }
int os_socketsend(int, void const*, unsigned) { return 0; }

} // namespace kzv
