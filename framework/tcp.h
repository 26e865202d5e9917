// The `tcp` stream: the stream skeleton over an IPv4 TCP connection, with a
// connection state machine that connects without blocking, can reconnect after a
// loss, can serve one or many clients, can send an opening message on each new
// connection and can trace its traffic on standard error. All socket work is done
// inside the device read and write. A loss without the reconnect bit sets end of
// input and discard, so the stream closes. Every descriptor field is 0 once it is
// closed, and 0 is never closed. The sockets, the client modules and the buffers
// belong to the module and go with its exit.
#pragma once
#include "mem.h"
#include "stream.h"
#include "timers.h"

namespace kzv {

const u32 TCP_READCHUNK = 1024;
const u32 TCP_RECONNECTMS = 1000;       // pause before the next connect attempt
const u32 TCP_READWAITMS = 30000;       // a connect (or opening message) seen from reads
const u32 TCP_SENDWAITMS = 3000;        // a connect seen from sends
const u32 TCP_CLIENTSTEP = 8;           // the client table grows by this many slots

enum : s32 {
    tcpstate_none = 0,
    tcpstate_serversetup = 1,           // one client: listener to be made
    tcpstate_listening = 2,             // one client: waiting for it
    tcpstate_serving = 3,
    tcpstate_clientgone = 4,
    tcpstate_connected = 5,             // client side from here to 9
    tcpstate_connecting = 6,
    tcpstate_waitreconnect = 7,
    tcpstate_closed = 8,
    tcpstate_opening = 9,               // sending the opening message
    tcpstate_providerconnected = 10,    // the same five through the connection provider
    tcpstate_providerconnecting = 11,
    tcpstate_providerwait = 12,
    tcpstate_providerclosed = 13,
    tcpstate_provideropening = 14,
    tcpstate_manysetup = 15,            // many clients: listener to be made
    tcpstate_manylistening = 16,
};

// The commands the process's connection provider answers.
enum : unsigned {
    provider_accepts = 101, provider_connect = 102, provider_close = 103,
    provider_read = 104, provider_send = 105,
};
const int TCP_WOULDBLOCK = -2;

class tcp : public stream {
public:
    u8 localonly;           // bit 0: a many-client server listens on 127.0.0.1 only
    s32 connstate;
    u32 openinglength;
    int sock;               // the connected socket; 0 = none
    int listensock;         // 0 = none
    int providerhandle;     // 0 = none
    timer conntimer;        // start of the current wait
    smem clients;           // the client modules of a many-client server and their table
    tcp** clienttable;
    u32 clientcount;        // slots in the table
    data newconn;           // the "new connection" packet ']' hands out
    u8 const* opening;      // the opening message (the caller's bytes), or null
    u32 openingsent;        // bytes of it sent on the present connection

    tcp() { init(nullptr); }
    ~tcp() { exit(true); }
    tcp(tcp const&) = delete;
    tcp& operator=(tcp const&) = delete;

    void init(mem* p);
    void minit();
    void exit(bool keep);
    void mexit();

    // The peer in the view: IPv4 address in host order and port.
    u32& address() { return kind.stream.source.net.address; }
    u16& port() { return kind.stream.source.net.port; }

    int open(unsigned address, unsigned port);     // a client connection; always 1
    // Server and opening-message settings; the program itself opens clients only.
    void listen(unsigned port, bool manyclients, bool loopbackonly);
    void setopening(u8 const* bytes, u32 length);

    sptr read(data** p, unsigned max);             // 'D'
    sptr getconnection(data** p);                  // ']'
    tcp* newclient();
    void checksrv();
    void mrestart();                               // 'H'

    int mread(u8* buffer, u32 n);
    int mwrite(u8 const* bytes, u32 n);

private:
    void closesock();
    void closeprovider();
    void lost(s32 reconnectstate, s32 closedstate);
    bool waited(u32 ms) const { return conntimer.msec() >= ms; }
    void reconnect(bool reading);
    void providerreconnect(bool reading);
    int sendopening(bool provider);
    int readconnected(u8* buffer, u32 n);
    int sendconnected(u8 const* bytes, u32 n);
    int readconnecting(u8* buffer, u32 n);
    int sendconnecting(u8 const* bytes, u32 n);
    int providerread(u8* buffer, u32 n);
    int providersend(u8 const* bytes, u32 n);
    int providerreadconnecting(u8* buffer, u32 n);
    int providersendconnecting(u8 const* bytes, u32 n);
    int devicecall(int k, bool sending, u8 const* bytes);
    void trace(char const* what, u8 const* bytes, int n);
};

sptr tcp_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
