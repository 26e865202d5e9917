// Sockets on the loopback: a TCP server, a non-blocking connect, accept, data both
// ways, "would block" as -2, the peer's close as 0, a refused connect as -1 and a
// port in use; Unix-domain connects with the path bounds of the kernel's address,
// and the local read's end of stream as -1.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "test_os_fixture.h"
#include "test_socket_fixture.h"

using namespace kzv;
using namespace kzvtest;

TEST(tcploopback)
{
    int port = 0;
    int server = listenonfreeport(port);
    CHECK(server > 2);
    if (!server)
        return;
    CHECK_EQ(os_tcpserver(port, true), 0);          // the port is in use
    unsigned peer = 0;
    CHECK_EQ(os_tcpaccept(server, peer), 0);        // nobody waiting
    int client = os_tcpconnect(LOOPBACK, (unsigned)port);
    CHECK(client > 2);
    int accepted = pollfor([&] { return os_tcpaccept(server, peer); });
    CHECK(accepted > 2);
    CHECK_EQ(peer, LOOPBACK);
    char buffer[16] = {};
    CHECK_EQ(os_tcpread(accepted, buffer, sizeof buffer), -2);   // connected, no data yet
    CHECK_EQ(pollfor([&] { return os_tcpsend(client, "ping", 4); }), 4);
    CHECK_EQ(pollfor([&] { return os_tcpread(accepted, buffer, sizeof buffer); }), 4);
    CHECK_MEM(buffer, "ping", 4);
    CHECK_EQ(os_tcpsend(accepted, "pong!", 5), 5);
    CHECK_EQ(pollfor([&] { return os_tcpread(client, buffer, sizeof buffer); }), 5);
    CHECK_MEM(buffer, "pong!", 5);
    os_tcpclose(client);
    int end = -2;
    for (int i = 0; i < 3000 && end == -2; i++, os_sleep(1))
        end = os_tcpread(accepted, buffer, sizeof buffer);
    CHECK_EQ(end, 0);                               // the peer closed
    os_tcpclose(accepted);
    os_tcpclose(server);

    // Nothing listens on the port now: the connect is refused, seen at the first read.
    int refused = os_tcpconnect(LOOPBACK, (unsigned)port);
    CHECK(refused > 2);
    int r = -2;
    for (int i = 0; i < 3000 && r == -2; i++, os_sleep(1))
        r = os_tcpread(refused, buffer, sizeof buffer);
    CHECK_EQ(r, -1);
    os_tcpclose(refused);
}

namespace {

// A listening Unix socket at path, made with the kernel calls directly.
int unixlistener(char const* path)
{
    long fd = sys_socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sys_failed(fd))
        return 0;
    ksockaddrun a = {};
    a.family = AF_UNIX;
    u32 n = strlen(path);
    for (u32 i = 0; i < n && i < sizeof a.path - 1; i++)
        a.path[i] = path[i];
    if (sys_failed(sys_bind((int)fd, &a, sizeof a)) || sys_failed(sys_listen((int)fd, 4))) {
        sys_close((int)fd);
        return 0;
    }
    return (int)fd;
}

} // namespace

TEST(unixconnect)
{
    tempdir dir;
    CHECK(dir.make("unix"));
    char path[256];
    dir.join(path, sizeof path, "s");
    CHECK_EQ(os_unixconnect(path), 0);              // nothing there
    int listener = unixlistener(path);
    CHECK(listener > 2);
    int fd = os_unixconnect(path);
    CHECK(fd > 2);
    long server = sys_accept(listener, nullptr, nullptr);
    CHECK(!sys_failed(server));
    char buffer[16];
    CHECK_EQ(os_socketread(fd, buffer, sizeof buffer), 0);   // would block
    CHECK_EQ(os_socketsend(fd, "abc", 3), 3);
    CHECK_EQ(sys_read((int)server, buffer, sizeof buffer), 3);
    CHECK_EQ(sys_write((int)server, "xy", 2), 2);
    CHECK_EQ(pollfor([&] { return os_socketread(fd, buffer, sizeof buffer); }), 2);
    CHECK_MEM(buffer, "xy", 2);
    sys_close((int)server);
    // The server is gone: the end of the stream is an error, not "nothing yet".
    CHECK_EQ(pollfor([&] { return os_socketread(fd, buffer, sizeof buffer); }), -1);
    os_tcpclose(fd);
    sys_close(listener);
    dir.removeentry("s");
    dir.remove();
}

// The kernel's address holds 107 path bytes and a zero; one more byte is refused
// rather than cut (or written past the address).
TEST(unixpathbounds)
{
    tempdir dir;
    CHECK(dir.make("ux"));
    char name[128];
    u32 dirlength = strlen(dir.path);
    u32 namelength = UNIXPATH_CAPACITY - 1 - dirlength - 1;
    memset(name, 'u', namelength);
    name[namelength] = 0;
    char path[256];
    dir.join(path, sizeof path, name);
    CHECK_EQ(strlen(path), 107);
    int listener = unixlistener(path);
    CHECK(listener > 2);
    int fd = os_unixconnect(path);
    CHECK(fd > 2);
    os_tcpclose(fd);
    char longer[256];
    CHECK(str_combine(longer, sizeof longer, path, "v"));
    CHECK_EQ(os_unixconnect(longer), 0);
    CHECK_EQ(os_unixconnect(""), 0);
    CHECK_EQ(os_unixconnect(nullptr), 0);
    sys_close(listener);
    dir.removeentry(name);
    dir.remove();
}
