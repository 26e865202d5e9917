// Sockets on the loopback: a TCP server, a non-blocking connect, accept, data both
// ways, "would block" as -2, the peer's close as 0, a refused connect as -1 and a
// port in use; Unix-domain connects with the path bounds of the kernel's address,
// and the local read's end of stream as -1.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "tcploopback.h"
#include "test_os_fixture.h"

using namespace kzv;
using namespace kzvtest;

TEST(tcploopback) { checktcploopback(); }

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
