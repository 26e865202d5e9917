// TCP stream sockets, all non-blocking from the start (macOS has no SOCK_NONBLOCK,
// so fcntl sets the flag and close-on-exec). TCP reads and sends answer -2 for
// "would block" and while a non-blocking connect is still in progress (ENOTCONN),
// and 0 from a read for the peer's close. The local-socket pair answers 0 for
// "would block" and -1 for the end of the stream. The macOS program speaks to no
// X server, so there is no local-socket connect.
#include "../../framework/os.h"
#include "libsystem.h"

namespace kzv {

const int TCP_BACKLOG = 128;

static u16 tonet16(u32 v) { return (u16)(((v & 0xff) << 8) | ((v >> 8) & 0xff)); }
static u32 tonet32(u32 v) { return (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24); }

static bsd::sockaddr_in inetaddress(u32 address, u32 port)
{
    bsd::sockaddr_in a = {};
    a.len = sizeof a;
    a.family = bsd::AF_INET;
    a.port = tonet16(port);
    a.address = tonet32(address);
    return a;
}

static void setnonblocking(int fd)
{
    int flags = fcntl(fd, bsd::F_GETFL, 0);
    if (flags >= 0)
        fcntl(fd, bsd::F_SETFL, flags | bsd::O_NONBLOCK);
    fcntl(fd, bsd::F_SETFD, bsd::FD_CLOEXEC);
}

static int streamsocket()
{
    int fd = socket(bsd::AF_INET, bsd::SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    if (fd == 0) {              // standard input was closed behind our back
        close(fd);
        return 0;
    }
    setnonblocking(fd);
    return fd;
}

int os_tcpserver(int port, bool localonly)
{
    int fd = streamsocket();
    if (!fd)
        return 0;
    int on = 1;
    setsockopt(fd, bsd::SOL_SOCKET, bsd::SO_REUSEADDR, &on, sizeof on);
    bsd::sockaddr_in a = inetaddress(localonly ? 0x7f000001u : 0, (u32)port);
    if (bind(fd, &a, sizeof a) != 0 || listen(fd, TCP_BACKLOG) != 0) {
        close(fd);
        return 0;
    }
    return fd;
}

int os_tcpaccept(int listener, unsigned& peeraddress)
{
    bsd::sockaddr_in a = {};
    unsigned length = sizeof a;
    int fd = accept(listener, &a, &length);
    if (fd <= 0)
        return 0;
    setnonblocking(fd);
    peeraddress = tonet32(a.address);
    return fd;
}

// The connect is still in progress when this returns; the first read or send
// tells whether it succeeded.
int os_tcpconnect(unsigned address, unsigned port)
{
    int fd = streamsocket();
    if (!fd)
        return 0;
    bsd::sockaddr_in a = inetaddress(address, port);
    connect(fd, &a, sizeof a);
    return fd;
}

static int tcpresult(long r)
{
    if (r >= 0)
        return (int)r;
    int e = bsd_errno();
    return (e == bsd::EAGAIN || e == bsd::EINTR || e == bsd::ENOTCONN) ? -2 : -1;
}

int os_tcpread(int fd, void* buffer, int size)
{
    if (size <= 0)
        return 0;
    return tcpresult(recv(fd, buffer, (unsigned long)size, 0));
}

int os_tcpsend(int fd, void const* bytes, int count)
{
    if (count <= 0)
        return 0;
    return tcpresult(send(fd, bytes, (unsigned long)count, 0));
}

void os_tcpclose(int fd)
{
    if (fd > 0)
        close(fd);
}

// The pipe stream links against this; nothing on macOS opens a local socket.
int os_unixconnect(char const*) { return 0; }

static int localresult(long r, bool reading)
{
    if (r > 0 || (r == 0 && !reading))
        return (int)r;
    if (r == 0)
        return -1;              // the peer closed the stream
    int e = bsd_errno();
    return (e == bsd::EAGAIN || e == bsd::EINTR) ? 0 : -1;
}

int os_socketread(int fd, void* buffer, unsigned size)
{
    if (size == 0)
        return 0;
    return localresult(recv(fd, buffer, size, 0), true);
}

int os_socketsend(int fd, void const* bytes, unsigned count)
{
    if (count == 0)
        return 0;
    return localresult(send(fd, bytes, count, 0), false);
}

} // namespace kzv
