// The tcp stream's device side: one state machine driven by the device read and
// write. The socket calls answer -2 for "would block"; any other result below 1
// from an established connection is a loss. A connect that never answers is given
// up after 30 s seen from reads or 3 s seen from sends, and retried after 1 s.
// The connection provider, when the process has one, stands in for the socket
// calls through commands 101-105 with the same results.
#include "tcp.h"
#include "dumpmem.h"
#include "os.h"
#include "printf.h"
#include "sysprocess.h"

namespace kzv {

static int tcpdevread(stream* s, u8* buffer, u32 n) { return ((tcp*)s)->mread(buffer, n); }
static int tcpdevwrite(stream* s, u8 const* bytes, u32 n) { return ((tcp*)s)->mwrite(bytes, n); }
static void tcpdevexit(stream* s, bool keep) { ((tcp*)s)->exit(keep); }

static const streamdevice tcpdevice = {tcpdevread, tcpdevwrite, tcpdevexit};

static module* provider() { return process ? process->connectionprovider : nullptr; }

static sptr askprovider(unsigned cmd, int a, int b, void const* p)
{
    module* m = provider();
    return m ? m->call(cmd, a, b, p) : 0;
}

void tcp::init(mem* p)
{
    memset0(this, sizeof(*this));
    initstream(p, "tcp", tcp_concb, source_tcp, TCP_READCHUNK, &tcpdevice);
    minit();
}

void tcp::minit()
{
    readchunk = TCP_READCHUNK;
    newconn.clear();
    newconn.type = type_newconnection;
    newconn.kind.connection.protocol = protocol_tcp;
    clients.init(pool);
    conntimer.reset();
}

void tcp::closesock()
{
    if (sock)
        os_tcpclose(sock);
    sock = 0;
}

void tcp::closeprovider()
{
    if (providerhandle)
        askprovider(provider_close, providerhandle, 0, nullptr);
    providerhandle = 0;
}

void tcp::mexit()
{
    closesock();
    if (listensock)
        os_tcpclose(listensock);
    listensock = 0;
    closeprovider();
    for (u32 i = 0; i < clientcount; i++) {
        if (clienttable[i])
            clienttable[i]->exit(true);
    }
    clienttable = nullptr;
    clientcount = 0;
    clients.exit(true);
}

void tcp::exit(bool keep)
{
    releasestream();
    mexit();
    if (!keep)
        init(pool);
}

int tcp::open(unsigned addr, unsigned portnumber)
{
    resetkeepconnections();
    address() = addr;
    port() = (u16)portnumber;
    if (provider() && askprovider(provider_accepts, (int)addr, 0, nullptr)) {
        providerhandle = (int)askprovider(provider_connect, (int)addr, (int)portnumber, nullptr);
        connstate = providerhandle ? tcpstate_providerconnecting : tcpstate_providerwait;
    } else {
        sock = os_tcpconnect(addr, portnumber);
        connstate = sock ? tcpstate_connecting : tcpstate_waitreconnect;
    }
    conntimer.reset();
    access = access_readable | access_writable;
    setstate(streamstate_open);
    return 1;
}

void tcp::listen(unsigned portnumber, bool manyclients, bool loopbackonly)
{
    resetkeepconnections();
    port() = (u16)portnumber;
    localonly = loopbackonly ? 1 : 0;
    connstate = manyclients ? tcpstate_manysetup : tcpstate_serversetup;
    access = access_readable | access_writable;
    setstate(streamstate_open);
    checksrv();
}

void tcp::setopening(u8 const* bytes, u32 length)
{
    opening = length ? bytes : nullptr;
    openinglength = opening ? length : 0;
}

void tcp::trace(char const* what, u8 const* bytes, int n)
{
    if (!hasstate(streamstate_trace) || n <= 0)
        return;
    eprintf("%D tcp %s:\n", process->utcseconds, what);
    dumpmem(bytes, (u32)n, 16);
}

// A connection that was up is gone: reconnect when asked to, else end the stream.
void tcp::lost(s32 reconnectstate, s32 closedstate)
{
    if (hasstate(streamstate_reconnect)) {
        connstate = reconnectstate;
        return;
    }
    connstate = closedstate;
    control |= control_endofinput | control_discard;
}

// The result of a read or send on an established connection: bytes, nothing now,
// or a loss.
int tcp::devicecall(int k, bool sending, u8 const* bytes)
{
    if (k > 0) {
        trace(sending ? "send" : "received", bytes, k);
        return k;
    }
    if (k == TCP_WOULDBLOCK)
        return 0;
    if (connstate == tcpstate_providerconnected) {
        closeprovider();
        conntimer.reset();
        lost(tcpstate_providerwait, tcpstate_providerclosed);
    } else if (connstate == tcpstate_serving) {
        closesock();
        lost(tcpstate_listening, tcpstate_clientgone);
    } else {
        closesock();
        conntimer.reset();
        lost(tcpstate_waitreconnect, tcpstate_closed);
    }
    return 0;
}

int tcp::readconnected(u8* buffer, u32 n)
{
    return devicecall(os_tcpread(sock, buffer, (int)n), false, buffer);
}

int tcp::sendconnected(u8 const* bytes, u32 n)
{
    return devicecall(os_tcpsend(sock, bytes, (int)n), true, bytes);
}

int tcp::providerread(u8* buffer, u32 n)
{
    int k = (int)askprovider(provider_read, providerhandle, (int)n, buffer);
    return devicecall(kzv_min(k, (int)n), false, buffer);
}

int tcp::providersend(u8 const* bytes, u32 n)
{
    int k = (int)askprovider(provider_send, providerhandle, (int)n, bytes);
    return devicecall(kzv_min(k, (int)n), true, bytes);
}

// The opening message goes out before anything else on a new connection.
int tcp::sendopening(bool viaprovider)
{
    u32 left = openinglength - openingsent;
    u8 const* rest = opening + openingsent;
    int k = left == 0 ? 0
          : viaprovider ? (int)askprovider(provider_send, providerhandle, (int)left, rest)
                        : os_tcpsend(sock, rest, (int)left);
    if (k > 0) {
        trace("send", rest, k);
        openingsent += kzv_min((u32)k, left);
    }
    if (openingsent >= openinglength) {
        connstate = viaprovider ? tcpstate_providerconnected : tcpstate_connected;
        return 1;
    }
    if ((k > 0 || k == TCP_WOULDBLOCK) && !waited(TCP_READWAITMS))
        return 0;
    if (viaprovider) {
        closeprovider();
        connstate = tcpstate_providerwait;
    } else {
        closesock();
        connstate = tcpstate_waitreconnect;
    }
    return 0;
}

// State 6 seen from a read: the first bytes show that the connection is up.
int tcp::readconnecting(u8* buffer, u32 n)
{
    if (opening) {
        connstate = tcpstate_opening;
        openingsent = 0;
        return sendopening(false) ? readconnected(buffer, n) : 0;
    }
    int k = os_tcpread(sock, buffer, (int)n);
    if (k > 0) {
        connstate = tcpstate_connected;
        trace("received", buffer, k);
        return k;
    }
    if (k == TCP_WOULDBLOCK && !waited(TCP_READWAITMS))
        return 0;
    closesock();
    connstate = tcpstate_waitreconnect;
    return 0;
}

int tcp::sendconnecting(u8 const* bytes, u32 n)
{
    int k = os_tcpsend(sock, bytes, (int)n);
    if (k > 0) {
        connstate = tcpstate_connected;
        trace("send", bytes, k);
        return k;
    }
    if (k == TCP_WOULDBLOCK && !waited(TCP_SENDWAITMS))
        return 0;
    closesock();
    connstate = tcpstate_waitreconnect;
    return 0;
}

int tcp::providerreadconnecting(u8* buffer, u32 n)
{
    if (opening) {
        connstate = tcpstate_provideropening;
        openingsent = 0;
        return sendopening(true) ? providerread(buffer, n) : 0;
    }
    int k = (int)askprovider(provider_read, providerhandle, (int)n, buffer);
    if (k > 0) {
        connstate = tcpstate_providerconnected;
        k = kzv_min(k, (int)n);
        trace("received", buffer, k);
        return k;
    }
    if (k == TCP_WOULDBLOCK && !waited(TCP_READWAITMS))
        return 0;
    closeprovider();
    connstate = tcpstate_providerwait;
    return 0;
}

int tcp::providersendconnecting(u8 const* bytes, u32 n)
{
    int k = (int)askprovider(provider_send, providerhandle, (int)n, bytes);
    if (k > 0) {
        connstate = tcpstate_providerconnected;
        k = kzv_min(k, (int)n);
        trace("send", bytes, k);
        return k;
    }
    if (k == TCP_WOULDBLOCK && !waited(TCP_SENDWAITMS))
        return 0;
    closeprovider();
    connstate = tcpstate_providerwait;
    return 0;
}

// State 7: a new attempt once a second. Only reads send an opening message first.
void tcp::reconnect(bool reading)
{
    if (!waited(TCP_RECONNECTMS + 1))
        return;
    conntimer.reset();
    sock = os_tcpconnect(address(), port());
    if (!sock)
        return;
    openingsent = 0;
    connstate = reading && opening ? tcpstate_opening : tcpstate_connecting;
}

void tcp::providerreconnect(bool reading)
{
    if (!waited(TCP_RECONNECTMS + 1))
        return;
    conntimer.reset();
    providerhandle = (int)askprovider(provider_connect, (int)address(), port(), nullptr);
    if (!providerhandle)
        return;
    openingsent = 0;
    connstate = reading && opening ? tcpstate_provideropening : tcpstate_providerconnecting;
}

void tcp::checksrv()
{
    unsigned peer = 0;
    switch (connstate) {
    case tcpstate_manysetup:
        listensock = os_tcpserver(port(), (localonly & 1) != 0);
        if (listensock)
            connstate = tcpstate_manylistening;
        break;
    case tcpstate_listening:
        sock = os_tcpaccept(listensock, peer);
        if (sock) {
            address() = peer;
            connstate = tcpstate_serving;
        }
        break;
    case tcpstate_serversetup:
        listensock = os_tcpserver(port(), false);
        if (listensock)
            connstate = tcpstate_listening;
        break;
    default:
        break;
    }
}

int tcp::mread(u8* buffer, u32 n)
{
    checksrv();
    switch (connstate) {
    case tcpstate_serving:
    case tcpstate_connected: return readconnected(buffer, n);
    case tcpstate_connecting: return readconnecting(buffer, n);
    case tcpstate_waitreconnect: reconnect(true); return 0;
    case tcpstate_opening: return sendopening(false) ? readconnected(buffer, n) : 0;
    case tcpstate_providerconnected: return providerread(buffer, n);
    case tcpstate_providerconnecting: return providerreadconnecting(buffer, n);
    case tcpstate_providerwait: providerreconnect(true); return 0;
    case tcpstate_provideropening: return sendopening(true) ? providerread(buffer, n) : 0;
    default: return 0;
    }
}

int tcp::mwrite(u8 const* bytes, u32 n)
{
    checksrv();
    switch (connstate) {
    case tcpstate_serving:
    case tcpstate_connected: return sendconnected(bytes, n);
    case tcpstate_connecting: return sendconnecting(bytes, n);
    case tcpstate_waitreconnect: reconnect(false); return 0;
    case tcpstate_providerconnected: return providersend(bytes, n);
    case tcpstate_providerconnecting: return providersendconnecting(bytes, n);
    case tcpstate_providerwait: providerreconnect(false); return 0;
    default: return 0;
    }
}

// A client module for an accepted connection: a closed one is reused, else a new
// one fills the first empty slot, else the table grows.
tcp* tcp::newclient()
{
    u32 slot = clientcount;
    for (u32 i = 0; i < clientcount && slot == clientcount; i++) {
        if (!clienttable[i] || !clienttable[i]->isopen())
            slot = i;
    }
    if (slot == clientcount) {
        tcp** grown = (tcp**)clients.getmem0((clientcount + TCP_CLIENTSTEP) * (u32)sizeof(tcp*));
        if (!grown)
            return nullptr;
        for (u32 i = 0; i < clientcount; i++)
            grown[i] = clienttable[i];
        clienttable = grown;        // the old table stays in the store until its exit
        clientcount += TCP_CLIENTSTEP;
    }
    tcp* c = clienttable[slot];
    if (!c) {
        void* room = clients.getmem(sizeof(tcp));
        if (!room)
            return nullptr;
        c = new (room) tcp;
        c->init(pool);
        clienttable[slot] = c;
    }
    c->resetkeepconnections();
    c->address() = address();
    c->port() = port();
    c->sock = sock;
    c->connstate = tcpstate_connected;
    c->access = access_readable | access_writable;
    c->setstate(streamstate_open);
    if (opening)
        c->write(opening, openinglength);
    newconn.kind.connection.address = address();
    newconn.kind.connection.port = port();
    newconn.payload = &c->out;
    return c;
}

sptr tcp::getconnection(data** p)
{
    *p = this;
    checksrv();
    if (connstate != tcpstate_manylistening)
        return 0;
    unsigned peer = 0;
    int accepted = os_tcpaccept(listensock, peer);
    if (!accepted)
        return 0;
    sock = accepted;
    address() = peer;
    tcp* c = newclient();
    sock = 0;
    if (!c) {
        os_tcpclose(accepted);      // no room for a client module: refuse the connection
        return 0;
    }
    *p = &newconn;
    return 1;
}

sptr tcp::read(data** p, unsigned max)
{
    if (control & control_packetmode)
        return getconnection(p);
    return command(stream_readrecord, (int)kzv_min(max, 0x7fffffffu), 0, p);
}

void tcp::mrestart()
{
    switch (connstate) {
    case tcpstate_connected:
    case tcpstate_connecting:
    case tcpstate_waitreconnect:
    case tcpstate_closed:
        closesock();
        connstate = tcpstate_waitreconnect;
        break;
    case tcpstate_providerconnected:
    case tcpstate_providerconnecting:
    case tcpstate_providerwait:
    case tcpstate_providerclosed:
        closeprovider();
        connstate = tcpstate_providerwait;
        break;
    case tcpstate_clientgone:
        connstate = tcpstate_listening;
        break;
    default:
        break;
    }
    restartbuffers();
}

sptr tcp_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    tcp* s = (tcp*)self;
    switch (cmd) {
    case stream_restart:
        s->mrestart();
        return 1;
    case stream_newconnection:
        return p ? s->getconnection((data**)p) : 0;
    case stream_readrecord:
        return p ? s->read((data**)p, a > 0 ? (unsigned)a : 0) : 0;
    default:
        return s->command(cmd, a, b, p);
    }
}

} // namespace kzv
