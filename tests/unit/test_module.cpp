// Modules, pins and connections: the order of the two '@' calls of `connect` and
// what each side sees during its call, the current pin restored after nested calls
// (A to B to A, a callback that connects, writef), the default replies, and the
// unconnected cases.
#include "../harness/harness.h"
#include "../../framework/module.h"
#include "../../framework/pinwritef.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

namespace {

struct probe : module {
    u32 calls;
    unsigned lastcmd;
    int lasta;
    void const* lastp;
    pin* pinatcall;          // current pin during the last call
    pin* otherpeerseen;      // during '@': the peer of the pin passed in p
    pin* pinafternested;     // current pin after a nested call inside the callback
    probe* nestedtarget;     // when set, '@' and 'X' make a nested call through it
    char text[1100];
    u32 textlength;
};

sptr probe_concb(void* self, unsigned cmd, int a, int b, void const* p);

void makeprobe(probe& m, char const* name)
{
    memset0(&m, sizeof(m));
    m.initheader(nullptr, name, probe_concb, type_bytestream);
}

sptr probe_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    probe& m = *(probe*)self;
    m.calls++;
    m.lastcmd = cmd;
    m.lasta = a;
    m.lastp = p;
    m.pinatcall = m.currentpin;
    if (cmd == cmd_connected) {
        m.otherpeerseen = p ? ((pin const*)p)->peer : nullptr;
        if (m.nestedtarget) {
            probe* t = m.nestedtarget;
            m.nestedtarget = nullptr;
            connect(m.in, t->out);       // a callback that connects the same module
            m.pinafternested = m.currentpin;
        }
        return 1;
    }
    if (cmd == 'X' && m.currentpin) {
        m.currentpin->call('Y', 0, 0, nullptr);   // back through the pin it came on
        m.pinafternested = m.currentpin;
        return 7;
    }
    if (cmd == 'J') {
        m.textlength = (u32)a;
        u32 n = kzv_min((u32)a, (u32)sizeof(m.text) - 1);
        memcpy(m.text, p, n);
        m.text[n] = 0;
        return 5;
    }
    sptr reply = 0;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return 0;
}

pin sentinel;                // an old peer value, to see when a peer is set

} // namespace

TEST(initheader_fills_the_header)
{
    probe m;
    makeprobe(m, "probe");
    CHECK(m.pool == &process->pool);
    CHECK_STR(m.name, "probe");
    CHECK(m.in.owner == &m && m.out.owner == &m);
    CHECK(m.in.peer == nullptr && m.out.peer == nullptr);
    CHECK(m.currentpin == nullptr);
    CHECK_EQ(m.type, type_bytestream);
    mem other;
    memset0(&other, sizeof(other));
    m.initheader(&other, "x", probe_concb, type_gui);
    CHECK(m.pool == &other);
    CHECK_EQ(m.type, type_gui);
}

// The first owner is told before the second pin's peer is set.
TEST(connect_tells_first_side_before_setting_second_peer)
{
    probe a, b;
    makeprobe(a, "a");
    makeprobe(b, "b");
    b.in.peer = &sentinel;
    connect(a.out, b.in);
    CHECK_EQ(a.lastcmd, cmd_connected);
    CHECK(a.lastp == &b.in);
    CHECK(a.pinatcall == &a.out);
    CHECK(a.otherpeerseen == &sentinel);    // b.in's peer was still the old one
    CHECK_EQ(b.lastcmd, cmd_connected);
    CHECK(b.lastp == &a.out);
    CHECK(b.pinatcall == &b.in);
    CHECK(b.otherpeerseen == &b.in);        // a.out already pointed at b.in
    CHECK(a.out.peer == &b.in && b.in.peer == &a.out);
    CHECK(a.currentpin == nullptr && b.currentpin == nullptr);
}

TEST(connect_forms_agree)
{
    probe a, b, c;
    makeprobe(a, "a");
    makeprobe(b, "b");
    makeprobe(c, "c");
    connect(&a, &b);                        // OUT of a to IN of b
    CHECK(a.out.peer == &b.in && b.in.peer == &a.out);
    CHECK(a.pinatcall == &a.out && b.pinatcall == &b.in);
    connect(b.out, &c.in);
    CHECK(b.out.peer == &c.in && c.in.peer == &b.out);
    CHECK(b.pinatcall == &b.out);
    u32 calls = b.calls;
    connect(b.out, (pin*)nullptr);          // disconnects, telling nobody
    CHECK(b.out.peer == nullptr);
    CHECK_EQ(b.calls, calls);
    connect((module*)nullptr, &b);          // nothing to join
    CHECK(b.in.peer == &a.out);
}

// A callback that connects its own module keeps its current pin.
TEST(nested_connect_restores_current_pin)
{
    probe a, b, c;
    makeprobe(a, "a");
    makeprobe(b, "b");
    makeprobe(c, "c");
    a.nestedtarget = &c;
    connect(a.out, b.in);
    CHECK(a.pinafternested == &a.out);
    CHECK(a.in.peer == &c.out && c.out.peer == &a.in);
    CHECK(a.currentpin == nullptr);
}

// A calls B, B calls back into A through the same connection: B keeps its pin.
TEST(call_through_pins_restores_current_pin)
{
    probe a, b;
    makeprobe(a, "a");
    makeprobe(b, "b");
    connect(a.out, b.in);
    CHECK_EQ(a.out.call('X', 3, 0, nullptr), 7);
    CHECK(b.pinatcall == &b.in);
    CHECK(b.pinafternested == &b.in);
    CHECK_EQ(a.lastcmd, 'Y');
    CHECK(a.pinatcall == &a.out);
    CHECK(a.currentpin == nullptr && b.currentpin == nullptr);
    pin loose = {&a, nullptr};
    CHECK_EQ(loose.call('X', 0, 0, nullptr), 0);
    CHECK_EQ(module_callthrough(nullptr, &a.in, 'X', 0, 0, nullptr), 0);
}

TEST(writef_delivers_text_and_restores_pin)
{
    probe a, b;
    makeprobe(a, "a");
    makeprobe(b, "b");
    connect(a.out, b.in);
    pin* outer = &b.out;
    b.currentpin = outer;                    // as if b were inside a call on its OUT pin
    u32 depth = process->pool.scratchindex;
    CHECK_EQ(a.out.writef("%d-%d", 12, -3), 5);
    CHECK_STR(b.text, "12--3");
    CHECK_EQ(b.textlength, 5);
    CHECK(b.pinatcall == &b.in);
    CHECK(b.currentpin == outer);
    CHECK_EQ(process->pool.scratchindex, depth);
    pin loose = {&a, nullptr};
    CHECK_EQ(loose.writef("%d%d", 1, 2), 0);
    CHECK_EQ(process->pool.scratchindex, depth);
    b.currentpin = nullptr;
}

TEST(writef_cuts_at_1000)
{
    probe a, b;
    makeprobe(a, "a");
    makeprobe(b, "b");
    connect(a.out, b.in);
    char format[1110];
    memset(format, 'a', 1100);
    memcpy(format + 1100, "%d%d", 5);
    a.out.writef(format, 1, 2);
    CHECK_EQ(b.textlength, 1000);
    CHECK_EQ(b.text[999], 'a');
}

TEST(default_replies)
{
    static const struct { unsigned cmd; bool handled; sptr reply; } rows[] = {
        {'>', true, 1}, {'S', true, 1}, {'W', true, 1}, {'^', true, 1}, {'F', true, -1},
        {'E', true, 0}, {'B', true, 0}, {'C', true, 0}, {'D', true, 0}, {'G', true, 0},
        {'H', true, 0}, {'I', true, 0}, {'J', true, 0}, {'K', true, 0}, {'L', true, 0},
        {'M', true, 0}, {'N', true, 0}, {95, true, 0}, {96, true, 0}, {97, true, 0},
        {'A', false, 0}, {'O', false, 0}, {'?', false, 0}, {'@', false, 0}, {0xA3, false, 0}, {98, false, 0},
    };
    for (auto const& r : rows) {
        char name[2] = {(char)r.cmd, 0};
        kzvtest::setrow(name);
        sptr reply = 12345;
        CHECK_EQ(module_defaultreply(r.cmd, nullptr, reply), r.handled);
        CHECK_EQ(reply, r.handled ? r.reply : 12345);
    }
    kzvtest::setrow(nullptr);
    int dummy;
    void* slot = &dummy;
    sptr reply = 9;
    CHECK(module_defaultreply('E', &slot, reply));
    CHECK(slot == nullptr);
    CHECK_EQ(reply, 0);
}
