// The stream skeleton against a scripted peer: a device whose reads deliver a
// script of chunk sizes (0 = nothing now) and whose writes take a script of
// counts (0 = would block, -1 = the peer is lost). Covers give-back, every line
// end, partial and refused writes with the scheduler flushing the rest, the write
// limit, the close protocol, end of input with bytes still unread, and the
// refusals of sizes that cannot be kept. A random mode of the same peer runs long
// command sequences and checks that no byte a write answered for is lost.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/str.h"
#include "../../framework/stream.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

namespace {

struct scriptpeer {
    u8 const* input;
    u32 inputlength, inputpos;
    u32 const* chunks;          // most bytes per read; past the list: all asked for
    u32 chunkcount, chunkindex;
    bool endatend;              // a read after the last byte reports end of input
    int const* takes;           // most bytes per write; 0 would block, -1 lost
    u32 takecount, takeindex;
    bool blocked;               // every write takes nothing
    u32 blockedretryms;         // a blocked device asks for its own retry interval (as stdio)
    u8 losscontrol;             // control bits a lost peer sets
    bool losserror;             // a lost peer also sets the error bit
    u8 sink[8192];
    u32 sinklength;
    u32 readcalls, writecalls, exits;
    u64 random;                 // nonzero: reads and writes succeed, stall or end at random
    bool takeall;               // random writes take everything
    bool lost;                  // a random write lost the peer
};

scriptpeer peer;

void resetpeer()
{
    memset0(&peer, sizeof peer);
}

void setinput(char const* text, u32 const* chunks = nullptr, u32 chunkcount = 0, bool endatend = false)
{
    peer.input = (u8 const*)text;
    peer.inputlength = strlen(text);
    peer.inputpos = 0;
    peer.chunks = chunks;
    peer.chunkcount = chunkcount;
    peer.chunkindex = 0;
    peer.endatend = endatend;
}

u32 nextrandom(u32 range)
{
    peer.random ^= peer.random << 13;
    peer.random ^= peer.random >> 7;
    peer.random ^= peer.random << 17;
    return (u32)(peer.random % range);
}

u8 randomsink[1 << 18];
u32 randomsinklength;

// Random mode: a read brings nothing (3 in 10), ends the input (1 in 10) or up to
// 300 bytes; a write takes nothing (3 in 10), loses the peer (rarely) or up to 400.
int randomread(stream* s, u8* buffer, u32 n)
{
    u32 r = nextrandom(10);
    if (r == 0)
        s->control |= control_endofinput;
    if (r < 3)
        return 0;
    u32 k = kzv_min(n, nextrandom(300));
    for (u32 i = 0; i < k; i++)
        buffer[i] = (u8)nextrandom(256);
    return (int)k;
}

int randomwrite(stream* s, u8 const* bytes, u32 n)
{
    u32 r = peer.takeall ? 9 : nextrandom(10);
    if (r == 3 && nextrandom(50) == 0) {
        peer.lost = true;
        s->control |= control_discard | control_endofinput;
    }
    if (r <= 3)
        return 0;
    u32 k = peer.takeall ? n : kzv_min(n, 1 + nextrandom(400));
    u32 keep = kzv_min(k, (u32)sizeof randomsink - randomsinklength);
    memcpy(randomsink + randomsinklength, bytes, keep);
    randomsinklength += keep;
    return (int)k;
}

int scriptread(stream* s, u8* buffer, u32 n)
{
    peer.readcalls++;
    if (peer.random)
        return randomread(s, buffer, n);
    u32 left = peer.inputlength - peer.inputpos;
    if (left == 0 && peer.endatend)
        s->control |= control_endofinput;
    u32 most = peer.chunkindex < peer.chunkcount ? peer.chunks[peer.chunkindex++] : left;
    u32 k = kzv_min(n, kzv_min(most, left));
    memcpy(buffer, peer.input + peer.inputpos, k);
    peer.inputpos += k;
    return (int)k;
}

int scriptwrite(stream* s, u8 const* bytes, u32 n)
{
    peer.writecalls++;
    if (peer.random)
        return randomwrite(s, bytes, n);
    if (peer.blocked) {
        if (peer.blockedretryms) {
            s->control |= control_blocked;
            s->registerat(peer.blockedretryms);
        }
        return 0;
    }
    int most = peer.takeindex < peer.takecount ? peer.takes[peer.takeindex++] : (int)n;
    if (most < 0) {
        s->control |= peer.losscontrol;
        if (peer.losserror)
            s->setstate(streamstate_error);
        return 0;
    }
    u32 k = kzv_min(n, (u32)most);
    u32 keep = kzv_min(k, (u32)sizeof peer.sink - peer.sinklength);
    memcpy(peer.sink + peer.sinklength, bytes, keep);
    peer.sinklength += keep;
    return (int)k;
}

void scriptexit(stream* s, bool keep);

const streamdevice scriptdevice = {scriptread, scriptwrite, scriptexit};
const u32 TESTCHUNK = 16;      // small, so that chunking shows

sptr teststream_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    return ((stream*)self)->command(cmd, a, b, p);
}

class teststream : public stream {
public:
    teststream() { init(nullptr); }
    ~teststream() { exit(true); }
    void init(mem* p)
    {
        memset0(this, sizeof(*this));
        initstream(p, "test", teststream_concb, 99, TESTCHUNK, &scriptdevice);
    }
    void exit(bool keep)
    {
        releasestream();
        peer.exits++;
        if (!keep)
            init(pool);
    }
    void open()
    {
        access = access_readable | access_writable;
        setstate(streamstate_open);
    }
    sptr cmd(unsigned c, int a = 0, int b = 0, void const* p = nullptr) { return callback(this, c, a, b, p); }
};

void scriptexit(stream* s, bool keep) { ((teststream*)s)->exit(keep); }

// The scheduler steps registered streams only while it runs.
void runscheduler(u32 ms) { process->sleep(nullptr, ms); }

// Runs the scheduler until the stream has nothing left to write and has left the
// scheduler, within a generous bound: on a busy machine or under an emulator a
// whole fixed wait can pass before the first step is due.
void runscheduleruntilflushed(teststream& s)
{
    const u32 BOUNDMS = 5000, STEPMS = 10;
    for (u32 waited = 0; waited < BOUNDMS; waited += STEPMS) {
        if (s.cmd(stream_pending) == 0 && !s.hasstate(streamstate_registered))
            return;
        runscheduler(STEPMS);
    }
}

bool sinkis(char const* text)
{
    u32 n = strlen(text);
    return peer.sinklength == n && memcmp(peer.sink, text, n) == 0;
}

} // namespace

TEST(read_and_giveback)
{
    resetpeer();
    setinput("0123456789abcdefghij");
    teststream s;
    CHECK_EQ(s.cmd(stream_giveback, 4), 0);         // a fresh buffer has nothing to give
    s.open();
    u8* p = nullptr;
    CHECK_EQ(s.cmd(stream_read, 10, 0, &p), 10);
    CHECK_MEM(p, "0123456789", 10);
    CHECK_EQ(s.cmd(stream_giveback, 4), 4);
    CHECK_EQ(s.cmd(stream_read, 4, 0, &p), 4);
    CHECK_MEM(p, "6789", 4);
    CHECK_EQ(s.cmd(stream_giveback, 0), 10);        // 0: back to the start of the buffer
    CHECK_EQ(s.cmd(stream_giveback, 5), 0);
    CHECK_EQ(s.cmd(stream_read, 20, 0, &p), 20);
    CHECK_MEM(p, "0123456789abcdefghij", 20);
    CHECK_EQ(s.cmd(stream_giveback, 1000), 20);     // no further than the buffer start
    CHECK_EQ(s.cmd(stream_giveback, -1), 0);
}

TEST(read_asks_the_device_once)
{
    resetpeer();
    static u32 const chunks[] = {0, 3};
    setinput("abcdef", chunks, 2);
    teststream s;
    s.open();
    u8* p = nullptr;
    CHECK_EQ(s.cmd(stream_read, 4, 0, &p), 0);      // nothing now: 0, not the end
    CHECK(!s.hasstate(streamstate_endseen));
    CHECK(s.isopen());
    CHECK_EQ(s.cmd(stream_read, 4, 0, &p), 3);
    CHECK_MEM(p, "abc", 3);
    CHECK_EQ(peer.readcalls, 2);
    CHECK_EQ(s.cmd(stream_getbyte), 'd');            // the rest came with a full read
    CHECK_EQ(s.cmd(stream_getbyte), 'e');
    CHECK_EQ(s.cmd(stream_getbyte), 'f');
    CHECK_EQ(s.cmd(stream_getbyte), -1);             // nothing now, input not ended
}

struct linerow {
    char const* name;
    char const* input;
    u32 length;                 // 0: up to the first NUL
    u32 chunks[4];              // 0 ends the list; a read past it gets all it asks
    bool endatend;
    u32 count;
    char const* lines[6];       // null: the call answers 0
};

TEST(getline_line_ends)
{
    static linerow const rows[] = {
        {"CR LF, LF and an empty line", "abc\r\ndef\n\n", 0, {}, true, 4, {"abc", "def", "", nullptr}},
        {"LF CR is one line end", "a\n\rb\n", 0, {}, true, 3, {"a", "b", nullptr}},
        {"lone CRs", "a\rb\r\r", 0, {}, true, 4, {"a", "b", "", nullptr}},
        {"CR LF split between reads", "abc\r\ndef\n", 0, {4, 1}, true, 3, {"abc", "def", nullptr}},
        {"last line ends with the input", "abc\ndef", 0, {}, true, 3, {"abc", "def", nullptr}},
        {"last line waits while input goes on", "abc\ndef", 0, {}, false, 3, {"abc", nullptr, nullptr}},
        {"NUL ends a line, NULs after it are skipped", "ab\0\0\0cd\n", 8, {}, true, 3, {"ab", "cd", nullptr}},
        {"line longer than a read chunk", "0123456789abcdefghijklmnopqrstuvwxyzABCD\n", 0, {}, true, 2,
         {"0123456789abcdefghijklmnopqrstuvwxyzABCD", nullptr}},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        resetpeer();
        u32 nchunks = 0;
        while (nchunks < 4 && row.chunks[nchunks])
            nchunks++;
        setinput(row.input, row.chunks, nchunks, row.endatend);
        if (row.length)
            peer.inputlength = row.length;      // an input with NULs inside
        teststream s;
        s.open();
        for (u32 i = 0; i < row.count; i++) {
            char* line = nullptr;
            sptr n = s.cmd(stream_getline, 0, 0, &line);
            if (!row.lines[i]) {
                CHECK_EQ(n, 0);
                continue;
            }
            CHECK_EQ(n, strlen(row.lines[i]) + 1);
            if (n > 0)
                CHECK_STR(line, row.lines[i]);
        }
    }
    kzvtest::setrow(nullptr);
}

TEST(getline_after_would_block)
{
    resetpeer();
    static u32 const chunks[] = {3, 0};
    setinput("abcdef\nxy", chunks, 2, false);
    teststream s;
    s.open();
    char* line = nullptr;
    CHECK_EQ(s.cmd(stream_getline, 0, 0, &line), 0);    // incomplete: the bytes stay
    CHECK_EQ(s.readcount, 3);
    CHECK_EQ(s.cmd(stream_getline, 0, 0, &line), 7);
    CHECK_STR(line, "abcdef");
    CHECK_EQ(s.cmd(stream_getline, 0, 0, &line), 0);    // "xy" has no line end yet
    peer.endatend = true;
    CHECK_EQ(s.cmd(stream_getline, 0, 0, &line), 3);
    CHECK_STR(line, "xy");
    CHECK_EQ(s.cmd(stream_getline, 0, 0, &line), 0);
    CHECK(s.hasstate(streamstate_endseen));
}

TEST(partial_writes_are_finished_by_the_scheduler)
{
    resetpeer();
    static int const takes[] = {3, 0, 2};
    peer.takes = takes;
    peer.takecount = 3;
    teststream s;
    s.open();
    CHECK_EQ(s.cmd(stream_write, 10, 0, "0123456789"), 10);
    CHECK(sinkis("012"));
    CHECK_EQ(s.cmd(stream_pending), 7);
    CHECK(s.hasstate(streamstate_registered));
    CHECK_EQ(s.interval, STREAM_FLUSHMS);
    CHECK_EQ(s.writemode, 3);
    runscheduleruntilflushed(s);
    CHECK(sinkis("0123456789"));
    CHECK_EQ(s.cmd(stream_pending), 0);
    CHECK(!s.hasstate(streamstate_registered));     // nothing left to flush
    CHECK(s.writebuf == nullptr);
    CHECK_EQ(s.writemode, 0);
    CHECK_EQ(s.cmd(stream_write, 2, 0, "ab"), 2);   // straight to the device again
    CHECK(sinkis("0123456789ab"));
}

TEST(direct_writes_answer_what_the_device_took)
{
    resetpeer();
    teststream s;
    s.open();
    peer.blocked = true;
    CHECK_EQ(s.cmd(stream_setdirect, 1), 1);
    CHECK_EQ(s.cmd(stream_write, 5, 0, "hello"), 0);
    CHECK_EQ(s.cmd(stream_pending), 0);
    CHECK(!s.hasstate(streamstate_registered));
    CHECK_EQ(s.cmd(stream_setdirect, 0), 1);
    CHECK_EQ(s.cmd(stream_write, 5, 0, "hello"), 5);     // buffered now
    CHECK_EQ(s.cmd(stream_pending), 5);
    CHECK_EQ(s.cmd(stream_setdirect, 1), 1);
    CHECK_EQ(s.cmd(stream_write, 3, 0, "abc"), 0);       // pending bytes come first
    peer.blocked = false;
    CHECK_EQ(s.cmd(stream_write, 3, 0, "abc"), 3);       // the flush empties, then direct
    CHECK(sinkis("helloabc"));
    CHECK_EQ(s.cmd(stream_pending), 0);
}

// A device that refuses and asks for its own retry interval keeps it (the
// skeleton registers only streams that are not registered yet); once the output
// is out the retry step goes, and the next refusal brings it back.
TEST(device_retry_interval_is_kept)
{
    resetpeer();
    teststream s;
    s.open();
    peer.blocked = true;
    peer.blockedretryms = 1;
    CHECK_EQ(s.cmd(stream_write, 2, 0, "ab"), 2);
    CHECK(s.hasstate(streamstate_registered));
    CHECK_EQ(s.interval, 1);
    peer.blocked = false;
    runscheduleruntilflushed(s);
    CHECK(sinkis("ab"));
    CHECK_EQ(s.cmd(stream_pending), 0);
    CHECK(!s.hasstate(streamstate_registered));         // all out: no retry step while idle
    CHECK(!(s.control & control_blocked));
    peer.blocked = true;
    CHECK_EQ(s.cmd(stream_write, 2, 0, "cd"), 2);       // refused again: back at 1 ms
    CHECK(s.hasstate(streamstate_registered));
    CHECK_EQ(s.interval, 1);
    CHECK_EQ(s.cmd(stream_close), 1);                   // pending: stays open, still at 1 ms
    CHECK(s.isopen());
    CHECK_EQ(s.interval, 1);
    peer.blocked = false;
    runscheduleruntilflushed(s);
    CHECK(sinkis("abcd"));
    CHECK_EQ(peer.exits, 1);                            // flushed, closed and reset
    CHECK(!s.hasstate(streamstate_registered));
}

TEST(buffered_group_is_one_device_write)
{
    resetpeer();
    setinput("in");
    teststream s;
    s.open();
    CHECK_EQ(s.cmd(stream_setbuffering, 1), 1);
    CHECK_EQ(s.cmd(stream_write, 2, 0, "ab"), 2);
    CHECK_EQ(peer.writecalls, 0);
    u8* p = nullptr;
    CHECK_EQ(s.cmd(stream_read, 2, 0, &p), 2);          // a read flushes what is pending
    CHECK(sinkis("ab"));
    CHECK_EQ(s.writemode, 3);                           // buffering still holds
    CHECK_EQ(s.cmd(stream_write, 2, 0, "cd"), 2);
    CHECK_EQ(s.cmd(stream_write, 2, 0, "ef"), 2);
    CHECK(sinkis("ab"));
    u32 calls = peer.writecalls;
    CHECK_EQ(s.cmd(stream_setbuffering, 0), 1);
    CHECK(sinkis("abcdef"));
    CHECK_EQ(peer.writecalls, calls + 1);
}

TEST(write_limit)
{
    resetpeer();
    teststream s;
    s.open();
    peer.blocked = true;
    static char const bytes[60] = {};
    CHECK_EQ(s.cmd(stream_setlimit, 100), 1);
    CHECK_EQ(s.cmd(stream_setbuffering, 1), 1);
    CHECK_EQ(s.cmd(stream_write, 60, 0, bytes), 60);
    CHECK_EQ(s.cmd(stream_write, 50, 0, bytes), 0);
    CHECK(s.hasstate(streamstate_limit));
    CHECK_EQ(s.cmd(stream_write, 1, 0, bytes), 0);      // still full
    CHECK_EQ(s.cmd(stream_pending), 60);
    // Switching buffering off flushes; the device refuses, so the scheduler retries.
    CHECK_EQ(s.cmd(stream_setbuffering, 0), 1);
    CHECK_EQ(s.cmd(stream_pending), 60);
    CHECK(s.hasstate(streamstate_registered));
    peer.blocked = false;
    runscheduleruntilflushed(s);
    CHECK_EQ(s.cmd(stream_pending), 0);
    CHECK_EQ(peer.sinklength, 60);
    CHECK(!s.hasstate(streamstate_limit));
    CHECK(!s.hasstate(streamstate_registered));
    CHECK_EQ(s.cmd(stream_write, 50, 0, bytes), 50);
}

// Input has ended while output is pending and the limit is reached. The next write
// flushes, which closes the stream (end of input, now idle); the write must then be
// refused, not kept in the buffer of a closed stream that nothing flushes.
TEST(write_after_a_flush_that_closed_the_stream_is_refused)
{
    static bool const modes[] = {true, false};
    for (bool buffered : modes) {
        kzvtest::setrow(buffered ? "buffered" : "direct");
        resetpeer();
        setinput("", nullptr, 0, true);
        teststream s;
        s.open();
        peer.blocked = true;
        static char const bytes[60] = {};
        CHECK_EQ(s.cmd(stream_setlimit, 100), 1);
        CHECK_EQ(s.cmd(stream_setbuffering, buffered ? 1 : 0), 1);
        CHECK_EQ(s.cmd(stream_write, 60, 0, bytes), 60);
        CHECK_EQ(s.cmd(stream_write, 50, 0, bytes), 0);
        CHECK(s.hasstate(streamstate_limit));
        u8* p = nullptr;
        CHECK_EQ(s.cmd(stream_read, 1, 0, &p), 0);     // finds the end of input
        CHECK(s.control & control_endofinput);
        CHECK(s.isopen());                              // output still pending
        static int const takes[] = {60, 0};             // the flush goes out, then nothing
        peer.takes = takes;
        peer.takecount = 2;
        peer.blocked = false;
        CHECK_EQ(s.cmd(stream_write, 3, 0, "abc"), 0);
        CHECK(!s.isopen());
        CHECK_EQ(s.cmd(stream_pending), 0);
        CHECK_EQ(peer.sinklength, 60);
        CHECK(!s.hasstate(streamstate_registered));
    }
    kzvtest::setrow(nullptr);
}

TEST(flush_that_stops_registers_for_a_retry)
{
    resetpeer();
    teststream s;
    s.open();
    peer.blocked = true;
    CHECK_EQ(s.cmd(stream_setbuffering, 1), 1);
    CHECK_EQ(s.cmd(stream_writeline, 0, 0, "line"), 5);
    CHECK(!s.hasstate(streamstate_registered));
    CHECK_EQ(s.cmd(stream_setbuffering, 0), 1);        // the flush takes nothing
    CHECK(s.hasstate(streamstate_registered));
    CHECK_EQ(s.interval, STREAM_FLUSHMS);
    peer.blocked = false;
    runscheduleruntilflushed(s);
    CHECK(sinkis("line\n"));
    CHECK(!s.hasstate(streamstate_registered));
}

TEST(close_waits_for_pending_output)
{
    resetpeer();
    teststream s;
    s.open();
    pin readerpin = {nullptr, nullptr}, writerpin = {nullptr, nullptr};
    s.in.peer = &readerpin;
    s.out.peer = &writerpin;
    peer.blocked = true;
    CHECK_EQ(s.cmd(stream_write, 5, 0, "bytes"), 5);
    CHECK_EQ(s.cmd(stream_close), 1);
    CHECK(s.isopen());
    CHECK(s.hasstate(streamstate_registered));
    CHECK_EQ(s.cmd(stream_pending), 5);
    CHECK_EQ(peer.exits, 0);
    peer.blocked = false;
    runscheduleruntilflushed(s);
    CHECK(sinkis("bytes"));
    CHECK_EQ(peer.exits, 1);                            // reset itself ...
    CHECK(!s.isopen());
    CHECK(!s.hasstate(streamstate_registered));
    CHECK(s.writebuf == nullptr && s.readbuf == nullptr);
    CHECK_EQ(s.control, 0);
    CHECK(s.in.peer == &readerpin);                     // ... with its connections kept
    CHECK(s.out.peer == &writerpin);
    CHECK(s.in.owner == &s);
}

TEST(close_of_an_idle_stream_resets_at_once)
{
    resetpeer();
    setinput("unread");
    teststream s;
    s.open();
    CHECK_EQ(s.cmd(stream_getbyte), 'u');
    CHECK_EQ(s.cmd(stream_close), 1);                   // unread input is dropped
    CHECK_EQ(peer.exits, 1);
    CHECK(!s.isopen());
    CHECK_EQ(s.cmd(stream_getbyte), -1);
}

TEST(unread_bytes_are_served_before_the_end)
{
    // A lost peer found by a write sets end of input while bytes are still unread.
    resetpeer();
    setinput("xyz");
    static int const takes[] = {-1};
    peer.takes = takes;
    peer.takecount = 1;
    peer.losscontrol = control_endofinput | control_discard;
    teststream s;
    s.open();
    CHECK_EQ(s.cmd(stream_getbyte), 'x');
    CHECK_EQ(s.cmd(stream_write, 1, 0, "q"), 0);       // nobody left to take it
    CHECK(s.control & control_endofinput);
    CHECK(s.isopen());                                  // two bytes still unread
    CHECK_EQ(s.cmd(stream_getbyte), 'y');
    CHECK_EQ(s.cmd(stream_getbyte), 'z');
    CHECK_EQ(s.cmd(stream_getbyte), 0);                 // the end, once
    CHECK(s.hasstate(streamstate_endseen));
    CHECK(!s.isopen());                                 // discard, nothing unread: closed
    CHECK_EQ(s.cmd(stream_pending), 0);
    CHECK_EQ(s.cmd(stream_getbyte), -1);
}

TEST(giveback_after_the_end)
{
    // The read that finds the end still returns the last byte; what was read
    // before it can be given back and is served before the end is reported.
    resetpeer();
    setinput("xyz", nullptr, 0, true);
    teststream s;
    s.open();
    u8* p = nullptr;
    CHECK_EQ(s.cmd(stream_read, 2, 0, &p), 2);
    CHECK_EQ(s.cmd(stream_read, 2, 0, &p), 1);
    CHECK_EQ(*p, 'z');
    CHECK(s.control & control_endofinput);
    CHECK_EQ(s.cmd(stream_giveback, 2), 2);
    CHECK_EQ(s.cmd(stream_getbyte), 'y');
    CHECK_EQ(s.cmd(stream_giveback, 1), 1);
    CHECK_EQ(s.cmd(stream_read, 5, 0, &p), 2);          // 'C' serves them as well
    CHECK_MEM(p, "yz", 2);
    CHECK(s.isopen());
    CHECK_EQ(s.cmd(stream_getbyte), 0);                 // now the end
    CHECK(s.hasstate(streamstate_endseen));
    CHECK(!s.isopen());
    CHECK_EQ(s.cmd(stream_getbyte), -1);
}

TEST(overlapping_compaction_keeps_the_bytes)
{
    static char input[301];
    for (u32 i = 0; i < 300; i++)
        input[i] = (char)('!' + i % 90);
    input[300] = 0;
    resetpeer();
    setinput(input);
    teststream s;
    s.open();
    u8* p = nullptr;
    CHECK_EQ(s.cmd(stream_read, 256, 0, &p), 256);
    CHECK_EQ(s.cmd(stream_giveback, 0), 256);
    CHECK_EQ(s.cmd(stream_read, 10, 0, &p), 10);
    CHECK_EQ(s.readbufsize, 256);
    // 246 unread bytes move down by 10 to make room: the ranges overlap.
    CHECK_EQ(s.cmd(stream_read, 250, 0, &p), 250);
    CHECK_MEM(p, input + 10, 250);
    CHECK_EQ(s.readpos, 250);
}

TEST(write_compaction_keeps_the_bytes)
{
    static char input[301];
    for (u32 i = 0; i < 300; i++)
        input[i] = (char)('A' + i % 50);
    resetpeer();
    static int const takes[] = {0, 10, 0};
    peer.takes = takes;
    peer.takecount = 3;
    teststream s;
    s.open();
    CHECK_EQ(s.cmd(stream_write, 250, 0, input), 250);   // all pending
    s.checkwrite();                                       // 10 go out, 240 stay at 10
    CHECK_EQ(s.cmd(stream_pending), 240);
    CHECK_EQ(s.cmd(stream_write, 50, 0, input + 250), 50);  // compacts, then appends
    runscheduleruntilflushed(s);
    CHECK_EQ(peer.sinklength, 300);
    CHECK_MEM(peer.sink, input, 300);
}

TEST(sizes_that_cannot_be_kept_are_refused)
{
    resetpeer();
    teststream s;
    s.open();
    static char const small[4] = {1, 2, 3, 4};
    peer.blocked = true;
    CHECK_EQ(s.cmd(stream_write, -1, 0, small), 0);
    // The device takes nothing, so only the buffer could keep it: far over the cap.
    CHECK_EQ(s.cmd(stream_write, 0x7fffffff, 0, small), 0);
    CHECK_EQ(s.cmd(stream_pending), 0);
    CHECK(s.writebuf == nullptr);
    CHECK(!s.hasstate(streamstate_registered));
    // The device takes a part and the rest cannot be kept: only that part is answered.
    static int const takes[] = {3};
    peer.takes = takes;
    peer.takecount = 1;
    peer.blocked = false;
    CHECK_EQ(s.cmd(stream_write, 0x7fffffff, 0, small), 3);
    CHECK(sinkis("\1\2\3"));
    CHECK_EQ(s.cmd(stream_pending), 0);
    CHECK(!s.hasstate(streamstate_registered));
    peer.blocked = true;
    CHECK_EQ(s.cmd(stream_setbuffering, 1), 1);
    CHECK_EQ(s.cmd(stream_write, 0x7fffffff, 0, small), 0);
    CHECK_EQ(s.cmd(stream_write, 4, 0, small), 4);      // the buffer itself is unharmed
    CHECK_EQ(s.cmd(stream_pending), 4);
    CHECK(s.readbufreserve(STREAM_MAXBUFFER + 1) == nullptr);
    CHECK(s.readbuf == nullptr && s.readbufsize == 0);
}

TEST(write_line_and_line_end)
{
    resetpeer();
    teststream s;
    s.open();
    CHECK_EQ(s.cmd(stream_writeline, 0, 0, ""), 1);     // the line end alone
    CHECK(sinkis("\n"));
    CHECK_EQ(s.cmd(stream_seteol, 0, 0, "\r\n"), 1);
    CHECK_EQ(s.cmd(stream_writeline, 0, 0, "ab"), 4);
    CHECK(sinkis("\nab\r\n"));
    CHECK_EQ(s.cmd(stream_seteol, 0, 0, nullptr), 1);   // null keeps the line end
    CHECK_STR(s.eol, "\r\n");
    CHECK_EQ(s.cmd(stream_seteol, 0, 0, "x"), 1);        // stops at the terminator
    CHECK_STR(s.eol, "x");
    CHECK_EQ(s.cmd(stream_seteol, 0, 0, ""), 1);
    CHECK_STR(s.eol, "");
    CHECK(!s.hasstate(streamstate_buffered));            // 'M' put buffering back
    CHECK_EQ(s.cmd(stream_writeline, 0, 0, nullptr), 0);
}

TEST(write_commands)
{
    resetpeer();
    teststream s;
    s.open();
    CHECK_EQ(s.cmd(stream_writetext, 0, 0, "txt"), 3);
    CHECK_EQ(s.cmd(stream_writebyte, 0x141), 1);        // the low byte
    data record;
    record.type = type_bytestream;
    record.size = 2;
    record.payload = (void*)"kk";
    CHECK_EQ(s.cmd(stream_writerecord, 0, 0, &record), 2);
    record.type = type_file;
    CHECK_EQ(s.cmd(stream_writerecord, 0, 0, &record), 0);
    CHECK_EQ(s.cmd(stream_writetext, 0, 0, nullptr), 0);
    CHECK(sinkis("txtAkk"));
}

TEST(record_reads_and_other_codes)
{
    resetpeer();
    setinput("record");
    teststream s;
    s.open();
    data* r = nullptr;
    CHECK_EQ(s.cmd(stream_readrecord, 3, 0, &r), 3);
    CHECK(r == &s);
    CHECK_EQ(s.size, 3);
    CHECK_MEM(s.payload, "rec", 3);
    s.control |= control_packetmode;
    r = nullptr;
    CHECK_EQ(s.cmd(stream_readrecord, 3, 0, &r), 0);
    CHECK(r == &s);                                     // the record comes even with 0
    CHECK_EQ(s.size, 0);
    void* e = &s;
    CHECK_EQ(s.cmd(stream_getrecord, 0, 0, &e), 0);
    CHECK(e == nullptr);
    CHECK_EQ(s.cmd(stream_getrecord, 0, 0, nullptr), 0);
    CHECK_EQ(s.cmd('O'), 0);
    CHECK_EQ(s.cmd(stream_setposition, 5), 0);
    CHECK_EQ(s.cmd(stream_newconnection), 0);
    CHECK_EQ(s.cmd(stream_read, 3, 0, nullptr), 0);
    CHECK_EQ(s.cmd(stream_getline, 0, 0, nullptr), 0);
}

TEST(device_error_stops_the_stream)
{
    resetpeer();
    setinput("abc");
    static int const takes[] = {-1};
    peer.takes = takes;
    peer.takecount = 1;
    peer.losserror = true;
    teststream s;
    s.open();
    CHECK_EQ(s.cmd(stream_write, 2, 0, "ab"), 0);       // nothing taken, nothing kept
    CHECK(s.hasstate(streamstate_error));
    CHECK(!s.isopen());
    CHECK(!s.hasstate(streamstate_registered));
    u8* p = nullptr;
    CHECK_EQ(s.cmd(stream_read, 3, 0, &p), 0);
    CHECK_EQ(s.cmd(stream_getbyte), -1);
    CHECK_EQ(s.cmd(stream_write, 1, 0, "c"), 0);
}

// What random command sequences must keep: consistent buffer fields, and every byte
// a write answered for reaching the device in order, unless something that drops
// output came between (close, restart, reset or a lost peer).
struct randomrun {
    teststream* stream;
    u8 sent[1 << 18];           // the bytes writes answered for, in order
    u32 sentlength;
    bool dropped;

    void begin(teststream* s)
    {
        stream = s;
        sentlength = 0;
        dropped = false;
    }

    void record(void const* bytes, sptr k)
    {
        if (k <= 0 || sentlength + (u32)k > sizeof sent)
            return;
        memcpy(sent + sentlength, bytes, (u32)k);
        sentlength += (u32)k;
    }
    bool fieldsconsistent() const
    {
        teststream const& s = *stream;
        return s.readcount == s.readend - s.readpos && s.readend <= s.readbufsize &&
               s.writecount == s.writeend - s.writepos && s.writeend <= s.writebufsize &&
               (s.readbuf || !s.readbufsize) && (s.writebuf || !s.writebufsize);
    }
    // Device bytes, then pending bytes, are exactly what writes answered for.
    bool nothinglost() const
    {
        if (dropped || peer.lost)
            return true;
        teststream const& s = *stream;
        return randomsinklength + s.writecount == sentlength && memcmp(randomsink, sent, randomsinklength) == 0 &&
               (!s.writecount || memcmp(s.writebuf + s.writepos, sent + randomsinklength, s.writecount) == 0);
    }
    void step(u8 const* source)
    {
        teststream& s = *stream;
        u8* p = nullptr;
        char* line = nullptr;
        data* r = nullptr;
        switch (nextrandom(20)) {
        case 0: s.cmd(stream_read, (int)nextrandom(3000) - 100, 0, &p); break;
        case 1: s.cmd(stream_getline, 0, 0, &line); break;
        case 2: s.cmd(stream_getbyte); break;
        case 3: s.cmd(stream_giveback, (int)nextrandom(500) - 10); break;
        case 4: s.cmd(stream_readrecord, (int)nextrandom(600), 0, &r); break;
        case 5: case 6: record(source, s.cmd(stream_write, (int)nextrandom(600), 0, source)); break;
        case 7: {
            sptr k = s.cmd(stream_writeline, 0, 0, "line");
            if (k > 0) {
                record("line", 4);
                record(s.eol, k - 4);
            }
            break;
        }
        case 8: {
            u8 byte = (u8)nextrandom(256);
            record(&byte, s.cmd(stream_writebyte, byte));
            break;
        }
        case 9: s.cmd(stream_setbuffering, (int)nextrandom(2)); break;
        case 10: s.cmd(stream_setlimit, (int)nextrandom(1500)); break;
        case 11: s.cmd(stream_setdirect, (int)nextrandom(2)); break;
        case 12: s.cmd(stream_seteol, 0, 0, nextrandom(2) ? "\r\n" : ""); break;
        case 13: s.cmd(cmd_cyclic); break;
        case 14: s.checkwrite(); break;
        case 15:
            if (nextrandom(8) == 0) {
                dropped = true;
                s.cmd(nextrandom(2) ? stream_close : stream_restart);
            }
            break;
        case 16:
            if (!s.isopen()) {                  // a closed stream holds no output to lose
                s.cmd(stream_reset);
                s.open();
            }
            break;
        case 17:
            if (nextrandom(10) == 0)
                runscheduler(2);
            break;
        default: record("txt", s.cmd(stream_writetext, 0, 0, "txt")); break;
        }
    }
};

TEST(random_commands_keep_every_accepted_byte)
{
    static u8 source[600];
    for (u32 i = 0; i < sizeof source; i++)
        source[i] = (u8)('a' + i % 26);
    u32 inconsistent = 0, lost = 0;
    for (u32 round = 0; round < 400; round++) {
        resetpeer();
        peer.random = 0x9E3779B97F4A7C15ull + round;
        randomsinklength = 0;
        teststream s;
        s.open();
        static randomrun run;
        run.begin(&s);
        for (u32 i = 0; i < 300; i++) {
            run.step(source);
            inconsistent += run.fieldsconsistent() ? 0 : 1;
            lost += run.nothinglost() ? 0 : 1;
        }
        // Whatever is still pending goes out once the device takes it.
        peer.takeall = true;
        s.checkwrite();
        lost += run.nothinglost() ? 0 : 1;
    }
    CHECK_EQ(inconsistent, 0);
    CHECK_EQ(lost, 0);
}

TEST(restart_and_reset_of_empty_streams)
{
    resetpeer();
    teststream s;
    // Buffering on and off with nothing written, resets and restarts of a stream
    // that never allocated a buffer: nothing to free, state back to plain.
    CHECK_EQ(s.cmd(stream_setbuffering, 1), 1);
    CHECK_EQ(s.cmd(stream_setbuffering, 0), 1);
    CHECK_EQ(s.writemode, 0);
    CHECK_EQ(s.cmd(stream_reset), 1);
    CHECK_EQ(peer.exits, 1);
    CHECK_EQ(s.cmd(stream_restart), 1);
    CHECK(s.isopen());
    s.access = access_readable | access_writable;
    peer.blocked = true;
    CHECK_EQ(s.cmd(stream_write, 3, 0, "abc"), 3);
    CHECK_EQ(s.cmd(stream_restart), 1);                 // pending output is dropped
    CHECK_EQ(s.cmd(stream_pending), 0);
    CHECK(!s.hasstate(streamstate_registered));
    s.exit(true);
    CHECK(s.readbuf == nullptr && s.writebuf == nullptr);
}
