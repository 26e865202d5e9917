// Module headers, pins and connections. Every call through a pin sets the target's
// current pin for the duration of the call and restores the previous one after it,
// so a nested call on the same module (A to B to A, or a callback that connects)
// leaves the outer call its pin.
#include "module.h"
#include "mem.h"
#include "streamcodes.h"
#include "sysprocess.h"

namespace kzv {

void module::initheader(mem* p, char const* modulename, modulecallback cb, s8 packettype)
{
    pool = p ? p : &process->pool;
    name = modulename;
    callback = cb;
    in.owner = this;
    out.owner = this;
    type = packettype;
}

sptr module::call(unsigned cmd, int a, int b, void const* p)
{
    return callback ? callback(this, cmd, a, b, p) : 0;
}

void module::unregister()
{
    if (state & 1)
        process->stopthread(this);
    state &= (u8)~1;
}

void module::resetkeepingpeers(void (*reset)(module* self))
{
    pin* inpeer = in.peer;
    pin* outpeer = out.peer;
    reset(this);
    in.peer = inpeer;
    out.peer = outpeer;
}

sptr module_callthrough(module* target, pin* through, unsigned cmd, int a, int b, void const* p)
{
    if (!target)
        return 0;
    pin* previous = target->currentpin;
    target->currentpin = through;
    sptr r = target->call(cmd, a, b, p);
    target->currentpin = previous;
    return r;
}

sptr pin::call(unsigned cmd, int a, int b, void const* p)
{
    if (!peer)
        return 0;
    return module_callthrough(peer->owner, peer, cmd, a, b, p);
}

// The first side is told before the second side's peer is set: during that first
// '@' the second pin still holds its old peer.
void connect(pin& a, pin& b)
{
    a.peer = &b;
    module_callthrough(a.owner, &a, cmd_connected, 0, 0, &b);
    b.peer = &a;
    module_callthrough(b.owner, &b, cmd_connected, 0, 0, &a);
}

// A null b disconnects a, telling nobody.
void connect(pin& a, pin* b)
{
    if (!b) {
        a.peer = nullptr;
        return;
    }
    connect(a, *b);
}

void connect(module* a, module* b)
{
    if (a && b)
        connect(a->out, b->in);
}

bool module_defaultreply(unsigned cmd, void const* p, sptr& reply)
{
    switch (cmd) {
    case cmd_cyclic: case stream_seteol: case cmd_datarequested: case cmd_error:
        reply = 1;
        return true;
    case stream_getrecord:
        if (p)
            *(void**)const_cast<void*>(p) = nullptr;
        reply = 0;
        return true;
    case stream_getbyte:
        reply = -1;
        return true;
    case stream_getline: case stream_read: case stream_readrecord: case stream_giveback:
    case stream_restart: case stream_writetext: case stream_write: case stream_writerecord:
    case stream_writebyte: case stream_writeline: case stream_close:
    case cmd_reserved1: case cmd_reserved2: case cmd_reserved3:
        reply = 0;
        return true;
    default:
        return false;
    }
}

} // namespace kzv
