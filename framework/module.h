// Modules, pins and connections. A module record begins with the data header,
// then the module header; it is driven only through its callback (object, command,
// two ints, pointer) whose reply is a pointer-sized signed word. Pins join two
// modules; `connect` tells both owners '@'. All callbacks run on the scheduler's
// thread, one at a time.
#pragma once
#include "data.h"
#include "streamcodes.h"

namespace kzv {

class mem;
class module;

typedef sptr (*modulecallback)(void* self, unsigned cmd, int a, int b, void const* p);

// Command codes the framework itself sends, and the module codes outside the
// stream set (streamcodes.h) that every module answers. The user interface's
// "window closed" (ui_closed, 163, data.h) also ends the application's run.
enum : unsigned {
    cmd_cyclic = '>', cmd_exit = '?', cmd_connected = '@',
    // The loop's end reaches the default handler as the stream reset's letter: two
    // meanings, one code. A display back-end closes or flushes on it; a stream
    // that were the default handler would start afresh, still wired.
    cmd_endofloop = stream_reset,
    cmd_datarequested = 'W',    // run the data-request step where there is one; 1
    cmd_error = '^',            // a peer reports error a; 1
    // The last three codes of the protocol's letter range: no module here sends
    // them, and a module that is not a stream answers them 0.
    cmd_reserved1 = '_', cmd_reserved2 = '`', cmd_reserved3 = 'a',
};

struct pin {
    module* owner;
    pin* peer;

    sptr call(unsigned cmd, int a, int b, void const* p);   // calls the peer's owner through the peer pin
    template <class... A> sptr writef(char const* format, A... args);
};

class module : public data {
public:
    modulecallback callback;
    mem* pool;
    char const* name;
    pin* currentpin;        // the pin the present command arrived on, for its duration
    pin in;
    pin out;

    // Fills the header of an object its init has zeroed: pool (null: the process
    // pool), name, callback, both pins owned by the module, the packet type.
    void initheader(mem* p, char const* modulename, modulecallback cb, s8 packettype);
    sptr call(unsigned cmd, int a, int b, void const* p);   // 0 without a callback
    // The first step of every exit: a module registered with the scheduler (state
    // bit 0) is stopped there and the bit cleared.
    void unregister();
    // Starts the module afresh and keeps it wired: `reset` (the module's own exit
    // that is not final, which re-initialises the record and so clears both pins)
    // runs, then both pins get back the peers they had. The peers are not told:
    // for them nothing changed.
    void resetkeepingpeers(void (*reset)(module* self));
};

// The same for a module class whose exit(false) re-initialises its record.
template <class M> void module_resetkeepingpeers(M& m)
{
    m.resetkeepingpeers([](module* self) { static_cast<M*>(self)->exit(false); });
}

// The exit of a module class whose `mexit` releases all it holds and whose `init`
// clears the record: stopped at the scheduler, released, and unless `keep`,
// cleared and initialised again with the same pool.
template <class M> void module_exit(M& m, bool keep)
{
    m.unregister();
    m.mexit();
    if (!keep)
        m.init(m.pool);
}

// The replies of a module that is not a stream, for every code it leaves unhandled.
// Returns true with *reply set when `cmd` is one of the default codes; 'E' stores a
// null pointer through p when p is not null.
bool module_defaultreply(unsigned cmd, void const* p, sptr& reply);

// Joins two pins: a's peer is set and a's owner told '@' (p = b) while b's peer
// still holds its old value; then the same for b. Earlier peers are overwritten.
void connect(pin& a, pin& b);
void connect(pin& a, pin* b);           // a null b disconnects a and tells nobody
void connect(module* a, module* b);     // a's OUT to b's IN; nothing when either is null

// Calls `target` with its current pin set to `through`, restoring the previous one
// afterwards, so nested calls on the same module keep the outer call's pin.
sptr module_callthrough(module* target, pin* through, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
