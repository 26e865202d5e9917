// pin::writef: the text reaches the peer's owner as 'J' with its length, through
// the peer pin as that owner's current pin; the scratch buffer is taken and given
// back on every path, the text stops at 1000 characters, and wide fields are
// clipped at the scratch buffer's last byte (ASan poisons its neighbour).
#include "../harness/harness.h"
#include "../../framework/pinwritef.h"
#include "../../framework/str.h"

namespace {

using namespace kzv;

struct receiver : module {
    char text[1100];
    int length;
    unsigned command;
    pin* pinduringcall;
    int calls;
};

sptr receiver_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    receiver* r = (receiver*)self;
    if (cmd != 'J')
        return 0;
    r->calls++;
    r->command = cmd;
    r->length = a;
    r->pinduringcall = r->currentpin;
    u32 n = kzv_min((u32)a, (u32)sizeof r->text - 1);
    memcpy(r->text, p, n);              // the bytes live in scratch memory: copy them now
    r->text[n] = 0;
    return 1000 + a;
}

void setup(receiver& r, module& sender)
{
    memset0(&r, sizeof r);
    memset0(&sender, sizeof sender);
    r.initheader(nullptr, "receiver", receiver_concb, type_bytestream);
    sender.initheader(nullptr, "sender", nullptr, type_bytestream);
}

TEST(writef_hands_the_text_to_the_peer_as_J)
{
    static receiver r;
    static module sender;
    setup(r, sender);
    sender.out.peer = &r.in;
    r.in.peer = &sender.out;
    pin outer;
    r.currentpin = &outer;
    u32 depth = process->pool.scratchindex;
    sptr reply = sender.out.writef("pos %d,%d", 12, -3);
    CHECK_EQ(reply, 1000 + 9);
    CHECK_EQ(r.calls, 1);
    CHECK_EQ(r.command, 'J');
    CHECK_EQ(r.length, 9);
    CHECK_STR(r.text, "pos 12,-3");
    CHECK(r.pinduringcall == &r.in);
    CHECK(r.currentpin == &outer);      // restored, not cleared
    CHECK_EQ(process->pool.scratchindex, depth);
}

TEST(writef_unconnected_answers_zero_and_releases_the_scratch)
{
    static receiver r;
    static module sender;
    setup(r, sender);
    u32 depth = process->pool.scratchindex;
    CHECK_EQ(sender.out.writef("%d %d", 1, 2), 0);
    CHECK_EQ(r.calls, 0);
    CHECK_EQ(process->pool.scratchindex, depth);
}

TEST(writef_cuts_at_1000_and_clips_at_the_scratch_end)
{
    static receiver r;
    static module sender;
    setup(r, sender);
    sender.out.peer = &r.in;
    static char format[1200];
    for (u32 i = 0; i < 1100; i++)
        format[i] = 'z';
    format[1100] = 0;
    sender.out.writef(format);
    CHECK_EQ(r.length, 1000);
    // A conversion that starts at 983 passes the stop rule (983 + 16 < 1000) and
    // then asks for a width far beyond the buffer: the text ends at byte 1023.
    strcpy(format + 983, "%9999d", 6);
    sender.out.writef(format, 7);
    CHECK_EQ(r.length, 1023);
    CHECK_EQ(r.text[983], ' ');
    CHECK_EQ(r.text[1022], ' ');
}

} // namespace
