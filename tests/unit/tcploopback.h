// The TCP loopback check that every platform's sockets pass: a server on a free
// port, a non-blocking connect, accept, data both ways, "would block" as -2, the
// peer's close as 0, a refused connect as -1 and a port in use as 0.
#pragma once
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "test_socket_fixture.h"

namespace kzvtest {

using namespace kzv;

inline void checktcploopback()
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

} // namespace kzvtest
