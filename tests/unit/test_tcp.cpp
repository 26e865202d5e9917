// The tcp stream on the loopback against sockets of the platform layer: a refused
// connect retried once a second (the clock is the scheduler's cached one, moved
// by hand), a client exchange and the loss that ends it, descriptors never closed
// twice, the reconnect bit, 'H', both server kinds with client reuse, the opening
// message, the connection provider, and the trace on standard error.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../framework/tcp.h"
#include "test_os_fixture.h"
#include "test_socket_fixture.h"

using namespace kzv;
using namespace kzvtest;

namespace {

sptr cmd(stream& s, unsigned c, int a = 0, void const* p = nullptr)
{
    return s.callback(&s, c, a, 0, p);
}

// Reads through the stream until `want` bytes came or a few seconds passed.
u32 readsome(stream& s, char* out, u32 capacity, u32 want)
{
    u32 n = 0;
    for (int i = 0; i < 3000 && n < want; i++) {
        u8* bytes = nullptr;
        sptr k = cmd(s, stream_read, (int)(capacity - 1 - n), &bytes);
        if (k > 0) {
            memcpy(out + n, bytes, (u32)k);
            n += (u32)k;
        } else {
            os_sleep(1);
        }
    }
    out[n] = 0;
    return n;
}

// Flushes the stream from the scheduler's side until the server has `want` bytes.
u32 serverread(int fd, stream& s, char* out, u32 capacity, u32 want)
{
    u32 n = 0;
    for (int i = 0; i < 3000 && n < want; i++) {
        s.callback(&s, cmd_cyclic, 0, 0, nullptr);
        int k = os_tcpread(fd, out + n, (int)(capacity - 1 - n));
        if (k > 0)
            n += (u32)k;
        else
            os_sleep(1);
    }
    out[n] = 0;
    return n;
}

bool isclosed(int fd) { return sys_fcntl(fd, F_GETFD, 0) == -E_BADF; }

void advanceclock(u32 ms) { process->msnow += ms; }

} // namespace

TEST(tcprefusedconnect)
{
    int port = 0;
    int server = listenonfreeport(port);
    CHECK(server > 0);
    os_tcpclose(server);                // nobody listens on the port now
    tcp t;
    CHECK_STR(t.name, "tcp");
    CHECK_EQ(t.kind.stream.sourcekind, 50);
    CHECK_EQ(t.newconn.type, type_newconnection);
    CHECK_EQ(t.open(LOOPBACK, (unsigned)port), 1);
    CHECK(t.isopen());
    CHECK_EQ(t.connstate, tcpstate_connecting);
    CHECK_EQ(t.address(), LOOPBACK);
    CHECK_EQ(t.port(), port);
    u8* bytes = nullptr;
    for (int i = 0; i < 3000 && t.connstate == tcpstate_connecting; i++, os_sleep(1))
        CHECK_EQ(cmd(t, stream_read, 16, &bytes), 0);
    CHECK_EQ(t.connstate, tcpstate_waitreconnect);
    CHECK_EQ(t.sock, 0);
    CHECK(t.isopen());                  // a client keeps trying
    advanceclock(500);
    CHECK_EQ(cmd(t, stream_read, 16, &bytes), 0);
    CHECK_EQ(t.connstate, tcpstate_waitreconnect);
    advanceclock(600);
    CHECK_EQ(cmd(t, stream_read, 16, &bytes), 0);
    CHECK_EQ(t.connstate, tcpstate_connecting);
    CHECK(t.sock > 0);
}

TEST(tcpclientexchange)
{
    int port = 0;
    int server = listenonfreeport(port);
    CHECK(server > 0);
    tcp t;
    t.open(LOOPBACK, (unsigned)port);
    CHECK_EQ(cmd(t, stream_write, 5, "hello"), 5);      // sent or kept until connected
    unsigned peer = 0;
    int accepted = pollfor([&] { return os_tcpaccept(server, peer); });
    CHECK(accepted > 0);
    char got[64];
    CHECK_EQ(serverread(accepted, t, got, sizeof got, 5), 5);
    CHECK_STR(got, "hello");
    CHECK_EQ(t.connstate, tcpstate_connected);
    CHECK_EQ(os_tcpsend(accepted, "world", 5), 5);
    CHECK_EQ(readsome(t, got, sizeof got, 5), 5);
    CHECK_STR(got, "world");

    // The server closes: end of input and discard, the stream closes, and the
    // socket field is 0 so that no later exit closes the number again.
    int sock = t.sock;
    os_tcpclose(accepted);
    u8* bytes = nullptr;
    for (int i = 0; i < 3000 && t.connstate == tcpstate_connected; i++, os_sleep(1))
        cmd(t, stream_read, 16, &bytes);
    CHECK_EQ(t.connstate, tcpstate_closed);
    CHECK_EQ(t.sock, 0);
    CHECK(isclosed(sock));
    CHECK((t.control & (control_endofinput | control_discard)) == (control_endofinput | control_discard));
    CHECK(!t.isopen());
    int reused = os_fopen("/dev/null", 1);
    CHECK(reused > 0);
    // 'H' on the closed connection waits to reconnect; the old number is not closed.
    CHECK_EQ(cmd(t, 'H'), 1);
    CHECK_EQ(t.connstate, tcpstate_waitreconnect);
    CHECK(t.isopen());
    CHECK(!isclosed(reused));
    t.exit(false);
    t.exit(true);
    CHECK(!isclosed(reused));
    os_close(reused);
    os_tcpclose(server);
}

TEST(tcpreconnectbit)
{
    int port = 0;
    int server = listenonfreeport(port);
    CHECK(server > 0);
    tcp t;
    t.open(LOOPBACK, (unsigned)port);
    t.setstate(streamstate_reconnect);
    unsigned peer = 0;
    int first = pollfor([&] { return os_tcpaccept(server, peer); });
    CHECK(first > 0);
    CHECK_EQ(os_tcpsend(first, "a", 1), 1);
    char got[16];
    CHECK_EQ(readsome(t, got, sizeof got, 1), 1);
    os_tcpclose(first);
    u8* bytes = nullptr;
    for (int i = 0; i < 3000 && t.connstate == tcpstate_connected; i++, os_sleep(1))
        cmd(t, stream_read, 16, &bytes);
    CHECK_EQ(t.connstate, tcpstate_waitreconnect);
    CHECK(t.isopen());
    CHECK_EQ(t.control & control_endofinput, 0);
    advanceclock(1100);
    cmd(t, stream_read, 16, &bytes);
    CHECK_EQ(t.connstate, tcpstate_connecting);
    int second = pollfor([&] { return os_tcpaccept(server, peer); });
    CHECK(second > 0);
    CHECK_EQ(os_tcpsend(second, "bc", 2), 2);
    CHECK_EQ(readsome(t, got, sizeof got, 2), 2);
    CHECK_STR(got, "bc");
    CHECK_EQ(t.connstate, tcpstate_connected);

    // 'H' drops the connection and its buffers and reconnects later.
    int sock = t.sock;
    CHECK_EQ(cmd(t, 'H'), 1);
    CHECK(isclosed(sock));
    CHECK_EQ(t.sock, 0);
    CHECK_EQ(t.connstate, tcpstate_waitreconnect);
    CHECK(t.isopen());
    CHECK_EQ(t.readcount, 0);
    os_tcpclose(second);
    os_tcpclose(server);
}

TEST(tcpsingleclientserver)
{
    int port = 0;
    int probe = listenonfreeport(port);
    os_tcpclose(probe);
    tcp t;
    t.listen((unsigned)port, false, false);
    CHECK_EQ(t.connstate, tcpstate_listening);
    CHECK(t.listensock > 0);
    u8* bytes = nullptr;
    CHECK_EQ(cmd(t, stream_read, 16, &bytes), 0);       // nobody yet
    int client = os_tcpconnect(LOOPBACK, (unsigned)port);
    CHECK(client > 0);
    CHECK_EQ(pollfor([&] { return os_tcpsend(client, "req", 3); }), 3);
    char got[16];
    CHECK_EQ(readsome(t, got, sizeof got, 3), 3);
    CHECK_STR(got, "req");
    CHECK_EQ(t.connstate, tcpstate_serving);
    CHECK_EQ(t.address(), LOOPBACK);
    CHECK_EQ(cmd(t, stream_write, 3, "ans"), 3);
    CHECK_EQ(pollfor([&] { return os_tcpread(client, got, sizeof got); }), 3);
    CHECK_MEM(got, "ans", 3);

    // With the reconnect bit the server waits for the next client.
    t.setstate(streamstate_reconnect);
    os_tcpclose(client);
    for (int i = 0; i < 3000 && t.connstate == tcpstate_serving; i++, os_sleep(1))
        cmd(t, stream_read, 16, &bytes);
    CHECK_EQ(t.connstate, tcpstate_listening);
    CHECK_EQ(t.sock, 0);
    client = os_tcpconnect(LOOPBACK, (unsigned)port);
    CHECK_EQ(pollfor([&] { return os_tcpsend(client, "x", 1); }), 1);
    CHECK_EQ(readsome(t, got, sizeof got, 1), 1);
    CHECK_EQ(t.connstate, tcpstate_serving);

    // Without it the stream ends with the client.
    t.clearstate(streamstate_reconnect);
    os_tcpclose(client);
    for (int i = 0; i < 3000 && t.connstate == tcpstate_serving; i++, os_sleep(1))
        cmd(t, stream_read, 16, &bytes);
    CHECK_EQ(t.connstate, tcpstate_clientgone);
    CHECK(!t.isopen());
    // 'H' serves the next client on the same listener.
    CHECK_EQ(cmd(t, 'H'), 1);
    CHECK_EQ(t.connstate, tcpstate_listening);
    CHECK(t.isopen());
    client = os_tcpconnect(LOOPBACK, (unsigned)port);
    CHECK_EQ(pollfor([&] { return os_tcpsend(client, "y", 1); }), 1);
    CHECK_EQ(readsome(t, got, sizeof got, 1), 1);
    CHECK_EQ(t.connstate, tcpstate_serving);
    os_tcpclose(client);
    int listener = t.listensock;
    t.exit(false);
    CHECK(isclosed(listener));
    CHECK_EQ(t.listensock, 0);
}

TEST(tcpmanyclientserver)
{
    int port = 0;
    int probe = listenonfreeport(port);
    os_tcpclose(probe);
    tcp t;
    t.listen((unsigned)port, true, true);
    CHECK_EQ(t.connstate, tcpstate_manylistening);
    data* d = nullptr;
    CHECK_EQ(cmd(t, ']', 0, &d), 0);
    CHECK(d == &t);
    int c1 = os_tcpconnect(LOOPBACK, (unsigned)port);
    int c2 = os_tcpconnect(LOOPBACK, (unsigned)port);
    tcp* m[3] = {};
    for (int k = 0; k < 2; k++) {
        d = nullptr;
        CHECK_EQ(pollfor([&] { return (int)cmd(t, ']', 0, &d); }), 1);
        CHECK(d == &t.newconn);
        CHECK_EQ(d->type, type_newconnection);
        CHECK_EQ(d->kind.connection.protocol, protocol_tcp);
        CHECK_EQ(d->kind.connection.address, LOOPBACK);
        m[k] = (tcp*)((pin*)d->payload)->owner;
        CHECK(m[k] && m[k]->isopen());
        CHECK_EQ(m[k]->connstate, tcpstate_connected);
    }
    CHECK(m[0] != m[1]);
    CHECK_EQ(pollfor([&] { return os_tcpsend(c1, "one", 3); }), 3);
    CHECK_EQ(pollfor([&] { return os_tcpsend(c2, "two", 3); }), 3);
    char got[16];
    CHECK_EQ(readsome(*m[0], got, sizeof got, 3), 3);
    CHECK_STR(got, "one");
    CHECK_EQ(readsome(*m[1], got, sizeof got, 3), 3);
    CHECK_STR(got, "two");

    // 'D' hands out connections in packet mode as well.
    t.control |= control_packetmode;
    os_tcpclose(c1);
    u8* bytes = nullptr;
    for (int i = 0; i < 3000 && m[0]->isopen(); i++, os_sleep(1))
        cmd(*m[0], stream_read, 16, &bytes);
    CHECK(!m[0]->isopen());
    static u8 const hello[] = "hi\n";
    t.setopening(hello, 3);
    int c3 = os_tcpconnect(LOOPBACK, (unsigned)port);
    CHECK_EQ(pollfor([&] { return (int)cmd(t, 'D', 0, &d); }), 1);
    m[2] = (tcp*)((pin*)d->payload)->owner;
    CHECK(m[2] == m[0]);                // the closed module is used again
    CHECK_EQ(pollfor([&] { return os_tcpread(c3, got, sizeof got); }), 3);
    CHECK_MEM(got, "hi\n", 3);
    os_tcpclose(c2);
    os_tcpclose(c3);
    t.exit(true);
}

TEST(tcpopeningmessage)
{
    int port = 0;
    int server = listenonfreeport(port);
    tcp t;
    t.open(LOOPBACK, (unsigned)port);
    static u8 const greeting[] = "HELLO ";
    t.setopening(greeting, 6);
    unsigned peer = 0;
    int accepted = pollfor([&] { return os_tcpaccept(server, peer); });
    CHECK(accepted > 0);
    u8* bytes = nullptr;
    for (int i = 0; i < 3000 && t.connstate != tcpstate_connected; i++, os_sleep(1))
        cmd(t, stream_read, 16, &bytes);
    CHECK_EQ(t.connstate, tcpstate_connected);
    CHECK_EQ(cmd(t, stream_write, 5, "world"), 5);
    char got[32];
    CHECK_EQ(serverread(accepted, t, got, sizeof got, 11), 11);
    CHECK_STR(got, "HELLO world");
    os_tcpclose(accepted);
    os_tcpclose(server);
}

namespace {

// A connection provider that records its calls and serves a script.
struct fakeprovider : module {
    int handle;             // what connect answers
    int closes;
    int lastclosed;
    char sent[64];
    u32 sentlength;
    char const* input;      // what reads deliver; null: a loss
    bool blockread;
};

sptr fakeprovider_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    fakeprovider* f = (fakeprovider*)self;
    switch (cmd) {
    case provider_accepts: return a == (int)LOOPBACK;
    case provider_connect: return f->handle;
    case provider_close: f->closes++; f->lastclosed = a; return 1;
    case provider_send: {
        u32 n = kzv_min((u32)b, (u32)sizeof f->sent - 1 - f->sentlength);
        memcpy(f->sent + f->sentlength, p, n);
        f->sentlength += n;
        f->sent[f->sentlength] = 0;
        return (sptr)n;
    }
    case provider_read: {
        if (f->blockread)
            return TCP_WOULDBLOCK;
        if (!f->input)
            return 0;
        u32 n = kzv_min((u32)b, strlen(f->input));
        memcpy((void*)p, f->input, n);
        f->input = nullptr;
        return (sptr)n;
    }
    default: return 0;
    }
}

} // namespace

TEST(tcpprovider)
{
    fakeprovider f;
    memset0(&f, sizeof f);
    f.initheader(nullptr, "provider", fakeprovider_concb, type_bytestream);
    f.handle = 0;
    process->connectionprovider = &f;
    tcp t;
    t.open(LOOPBACK, 6000);
    CHECK_EQ(t.connstate, tcpstate_providerwait);      // no handle came
    u8* bytes = nullptr;
    advanceclock(1100);
    f.handle = 7;
    cmd(t, stream_read, 16, &bytes);
    CHECK_EQ(t.connstate, tcpstate_providerconnecting);
    CHECK_EQ(t.providerhandle, 7);
    CHECK_EQ(cmd(t, stream_write, 3, "abc"), 3);
    CHECK_EQ(t.connstate, tcpstate_providerconnected);
    CHECK_STR(f.sent, "abc");
    f.input = "xyz";
    char got[16];
    CHECK_EQ(readsome(t, got, sizeof got, 3), 3);
    CHECK_STR(got, "xyz");
    cmd(t, stream_read, 16, &bytes);                     // the provider reports a loss
    CHECK_EQ(t.connstate, tcpstate_providerclosed);
    CHECK_EQ(f.closes, 1);
    CHECK_EQ(f.lastclosed, 7);
    CHECK_EQ(t.providerhandle, 0);
    CHECK(!t.isopen());
    t.exit(false);
    CHECK_EQ(f.closes, 1);                               // never closed twice

    // An address the provider does not take goes to the socket calls.
    t.open(0x0a000001u, 9);
    CHECK(t.connstate == tcpstate_connecting || t.connstate == tcpstate_waitreconnect);
    CHECK_EQ(t.providerhandle, 0);
    process->connectionprovider = nullptr;
}

// The trace goes to standard error: one heading per packet, then the dump.
TEST(tcptrace)
{
    int port = 0;
    int server = listenonfreeport(port);
    tcp t;
    t.open(LOOPBACK, (unsigned)port);
    t.setstate(streamstate_trace);
    unsigned peer = 0;
    int accepted = pollfor([&] { return os_tcpaccept(server, peer); });
    capture err;
    CHECK(err.begin(2));
    CHECK_EQ(cmd(t, stream_write, 4, "ping"), 4);
    char got[16];
    serverread(accepted, t, got, sizeof got, 4);
    os_tcpsend(accepted, "pong", 4);
    readsome(t, got, sizeof got, 4);
    char text[4096];
    err.end(text, sizeof text);
    CHECK(strstr(text, " tcp send:\n") != nullptr);
    CHECK(strstr(text, " tcp received:\n") != nullptr);
    CHECK(strstr(text, "ping") != nullptr);
    CHECK(strstr(text, "pong") != nullptr);
    os_tcpclose(accepted);
    os_tcpclose(server);
}
