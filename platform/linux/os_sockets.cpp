// TCP and Unix-domain stream sockets, all non-blocking from the start. TCP reads
// and sends answer -2 for "would block" and 0 from a read for the peer's close; the
// local-socket pair answers 0 for "would block" and -1 for the end of the stream,
// so a vanished X server ends its connection instead of being polled forever.
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "syscalls.h"

namespace kzv {

const int TCP_BACKLOG = 128;
const int UNIX_BUFFERBYTES = 0x40000;      // send and receive buffers of a local connection

static u16 tonet16(u32 v) { return (u16)(((v & 0xff) << 8) | ((v >> 8) & 0xff)); }
static u32 tonet32(u32 v) { return (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24); }

static ksockaddrin inetaddress(u32 address, u32 port)
{
    ksockaddrin a = {};
    a.family = AF_INET;
    a.port = tonet16(port);
    a.address = tonet32(address);
    return a;
}

static int streamsocket(int domain)
{
    long fd = sys_socket(domain, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return sys_failed(fd) ? 0 : (int)fd;
}

static void setnonblocking(int fd)
{
    long flags = sys_fcntl(fd, F_GETFL, 0);
    if (!sys_failed(flags))
        sys_fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

int os_tcpserver(int port, bool localonly)
{
    int fd = streamsocket(AF_INET);
    if (!fd)
        return 0;
    int on = 1;
    sys_setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ksockaddrin a = inetaddress(localonly ? 0x7f000001u : 0, (u32)port);
    if (sys_failed(sys_bind(fd, &a, sizeof a)) || sys_failed(sys_listen(fd, TCP_BACKLOG))) {
        sys_close(fd);
        return 0;
    }
    return fd;
}

int os_tcpaccept(int listener, unsigned& peeraddress)
{
    ksockaddrin a = {};
    u32 length = sizeof a;
    long fd = sys_accept(listener, &a, &length);
    if (sys_failed(fd) || fd == 0)
        return 0;
    setnonblocking((int)fd);
    peeraddress = tonet32(a.address);
    return (int)fd;
}

// The connect is still in progress when this returns; the first read or send
// tells whether it succeeded.
int os_tcpconnect(unsigned address, unsigned port)
{
    int fd = streamsocket(AF_INET);
    if (!fd)
        return 0;
    ksockaddrin a = inetaddress(address, port);
    sys_connect(fd, &a, sizeof a);
    return fd;
}

static int tcpresult(long r)
{
    if (r >= 0)
        return (int)r;
    return (r == -E_AGAIN || r == -E_INTR) ? -2 : -1;
}

int os_tcpread(int fd, void* buffer, int size)
{
    if (size <= 0)
        return 0;
    return tcpresult(sys_read(fd, buffer, (uptr)size));
}

int os_tcpsend(int fd, void const* bytes, int count)
{
    if (count <= 0)
        return 0;
    return tcpresult(sys_write(fd, bytes, (uptr)count));
}

void os_tcpclose(int fd)
{
    if (fd > 0)
        sys_close(fd);
}

// The kernel's address holds at most 107 path bytes and a zero; a longer path
// would be cut to another name, so it is refused.
int os_unixconnect(char const* path)
{
    u32 length = path ? strlen(path) : 0;
    if (length == 0 || length >= UNIXPATH_CAPACITY)
        return 0;
    ksockaddrun a = {};
    a.family = AF_UNIX;
    for (u32 i = 0; i < length; i++)
        a.path[i] = path[i];
    int fd = streamsocket(AF_UNIX);
    if (!fd)
        return 0;
    if (sys_failed(sys_connect(fd, &a, (u32)(2 + length + 1)))) {
        sys_close(fd);
        return 0;
    }
    int bytes = UNIX_BUFFERBYTES;
    sys_setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    sys_setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    return fd;
}

int os_socketread(int fd, void* buffer, unsigned size)
{
    if (size == 0)
        return 0;
    long r = sys_read(fd, buffer, size);
    if (r > 0)
        return (int)r;
    if (r == 0)
        return -1;              // the peer closed the stream
    return (r == -E_AGAIN || r == -E_INTR) ? 0 : -1;
}

int os_socketsend(int fd, void const* bytes, unsigned count)
{
    if (count == 0)
        return 0;
    long r = sys_write(fd, bytes, count);
    if (r >= 0)
        return (int)r;
    return (r == -E_AGAIN || r == -E_INTR) ? 0 : -1;
}

} // namespace kzv
