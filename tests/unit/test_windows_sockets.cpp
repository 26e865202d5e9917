// Winsock through the Windows layer under wine: the same loopback check as every
// platform (a refused connect answers -1 once its error is pending, a port in use
// gives 0 with the socket closed), and no Unix-domain sockets.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "tcploopback.h"

using namespace kzv;
using namespace kzvtest;

TEST(tcp_loopback_through_winsock) { checktcploopback(); }

// A failed bind leaves nothing open: the same port is refused again and again.
TEST(port_in_use_is_refused_every_time)
{
    int port = 0;
    int server = listenonfreeport(port);
    if (!CHECK(server != 0))
        return;
    for (int i = 0; i < 50; i++)
        CHECK_EQ(os_tcpserver(port, false), 0);
    os_tcpclose(server);
    int again = os_tcpserver(port, true);
    CHECK(again != 0);
    os_tcpclose(again);
}

TEST(no_local_sockets)
{
    char buffer[4];
    CHECK_EQ(os_unixconnect("/tmp/.X11-unix/X0"), 0);
    CHECK_EQ(os_socketread(5, buffer, sizeof buffer), 0);
    CHECK_EQ(os_socketsend(5, "x", 1), 0);
}
