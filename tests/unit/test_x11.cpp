// The X11 client module against a scripted server: the setup exchange with its
// cookie, atoms, keyboard map and extensions, replies split across reads, an
// error for a set-up request ending the run, the 16-bit sequence wrapping, replies too long
// to read skipped in pieces, BIG-REQUESTS' maximum capped, a refused setup and a
// lost connection ending the run, then windows: the requests that make one, the
// padded back buffer and its PutImage strips, updates put off while output is
// queued, X events turned into window events (sent ones too), a window another
// client destroyed, and a keyboard map changed while a window shows, with the
// keys typed under the new map held until it comes.
#include "../harness/harness.h"
#include "../../drivers/x11.h"
#include "../../drivers/x11proto.h"
#include "../../framework/mem.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"
#include "../../gui/pixelformat.h"
#include "test_os_fixture.h"
#include "x11fixture.h"

using namespace kzv;
using namespace kzvtest;

namespace {

const u32 ATOMBASE = 100;
const u32 SETUPREQUESTS = X11_ATOMCOUNT + 1 + 5;     // atoms, the key map, five extensions

struct options {
    serversetup server;
    bool randr = true;
    bool bigreq = true;
    bool dri2 = false, dri3 = true, present = true;
    u32 bigwords = 4194303;
    u32 modewidth = 1920, modeheight = 1080;
};

x11* newclient(fakeserver*& f)
{
    f = fakeserver::make();
    x11* x = (x11*)process->pool.getmem0(sizeof(x11));
    x->init(nullptr);
    connect(f->out, x->in);
    return x;
}

void endclient(x11* x, fakeserver* f)
{
    x->exit(true);
    f->release();
    process->pool.freemem(x);
    process->exitcode = 0;          // a test that ended the run leaves the harness alone
    process->exitrequested = 0;
}

void feed(fakeserver* f, xbytes const& b) { f->feed(b.b, b.length()); }

// Answers the setup's 23 requests: atoms ATOMBASE + i, a key map, the extensions.
void answersetup(x11* x, fakeserver* f, options const& o)
{
    xbytes replies;
    for (u32 i = 0; i < X11_ATOMCOUNT; i++)
        atomreply(replies.w, i + 1, ATOMBASE + i);
    u32 keys = (u32)o.server.maxkey - o.server.minkey + 1;
    keymapreply(replies.w, X11_ATOMCOUNT + 1, o.server.minkey, keys, 'a', 0xff51);
    bool const present[5] = {o.randr, o.bigreq, o.dri2, o.dri3, o.present};
    for (u32 i = 0; i < 5; i++)
        extensionreply(replies.w, X11_ATOMCOUNT + 2 + i, present[i], 140 + i);
    feed(f, replies);
    x->cyclic();
}

void answerscreen(x11* x, fakeserver* f, options const& o)
{
    xbytes replies;
    u32 seq = SETUPREQUESTS;
    if (o.randr) {
        seq++;
        replyhead(replies.w, 0, seq, 8 + 2);
        replies.w.put32(1);
        replies.w.put32(2);
        replies.w.put16(1);         // CRTCs
        replies.w.put16(1);         // outputs
        replies.w.put16(1);         // modes
        replies.w.put16(0);
        fill(replies.w, replies.length() + 8);
        replies.w.put32(0x40);
        replies.w.put32(0x41);
        replies.w.put32(0x50);
        replies.w.put16(o.modewidth);
        replies.w.put16(o.modeheight);
        fill(replies.w, replies.length() + 24);
    }
    if (o.bigreq) {
        seq++;
        replyhead(replies.w, 0, seq, 0);
        replies.w.put32(o.bigwords);
        fill(replies.w, replies.length() + 20);
    }
    feed(f, replies);
    x->cyclic();
}

// A client that has sent its setup and read the server's setup reply.
x11* setupclient(fakeserver*& f, options const& o)
{
    x11* x = newclient(f);
    x->open(0, "", 0);
    xbytes setup;
    setupreply(setup, o.server);
    feed(f, setup);
    x->cyclic();
    return x;
}

x11* readyclient(fakeserver*& f, options const& o = options())
{
    x11* x = setupclient(f, o);
    answersetup(x, f, o);
    answerscreen(x, f, o);
    skiprequests(*f);
    return x;
}

} // namespace

TEST(x11setupexchange)
{
    tempdir dir;
    CHECK(dir.make("x11auth"));
    char path[256];
    dir.join(path, sizeof path, "Xauthority");
    // Display 15: an entry for display 1 first, then the one for 15.
    u8 const file[] = {
        1, 0, 0, 1, 'h', 0, 1, '1', 0, 18, 'M', 'I', 'T', '-', 'M', 'A', 'G', 'I', 'C', '-', 'C', 'O',
        'O', 'K', 'I', 'E', '-', '1', 0, 4, 9, 9, 9, 9,
        1, 0, 0, 1, 'h', 0, 2, '1', '5', 0, 18, 'M', 'I', 'T', '-', 'M', 'A', 'G', 'I', 'C', '-', 'C',
        'O', 'O', 'K', 'I', 'E', '-', '1', 0, 4, 0xc0, 0x01, 0xd0, 0x0d,
    };
    int fd = os_fopen(path, 3);
    os_write(fd, file, sizeof file);
    os_close(fd);

    fakeserver* f = nullptr;
    x11* x = newclient(f);
    CHECK_EQ(x->open(15, path, 0), 1);
    CHECK(process->defaulthandler == x);
    CHECK_EQ(x->connstate, x11state_setuphead);
    xrequest r = {};
    CHECK(nextrequest(*f, r) || f->outputlength == 36);
    CHECK_EQ(f->outputlength, 12 + 20 + 4);
    CHECK_EQ(f->output[0], 'l');
    CHECK_EQ(x11_get16(f->output + 6), 18);
    CHECK_EQ(x11_get16(f->output + 8), 4);
    u8 const cookie[4] = {0xc0, 0x01, 0xd0, 0x0d};
    CHECK_MEM(f->output + 32, cookie, 4);
    f->outputread = f->outputlength;

    // The setup reply in two pieces: nothing happens until it is whole.
    options o;
    o.server.depth = 16;
    o.server.bpp = 16;
    o.server.minkey = 10;
    o.server.maxkey = 200;
    xbytes setup;
    u32 n = setupreply(setup, o.server);
    f->feed(setup.b, 5);
    x->cyclic();
    CHECK_EQ(x->connstate, x11state_setuphead);
    f->feed(setup.b + 5, 30);
    x->cyclic();
    CHECK_EQ(x->connstate, x11state_setupdata);
    f->feed(setup.b + 35, n - 35);
    x->cyclic();
    CHECK_EQ(x->connstate, x11state_setupreplies);
    CHECK_EQ(x->root, 0x2a);
    CHECK_EQ(x->bytesperpixel, 2);
    u8 const expected[SETUPREQUESTS] = {16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16,
                                        16, 16, 101, 98, 98, 98, 98, 98};
    for (u32 i = 0; i < SETUPREQUESTS; i++) {
        CHECK(nextrequest(*f, r));
        CHECK_EQ(r.opcode, expected[i]);
        if (r.opcode == 101) {
            CHECK_EQ(r.bytes[4], 10);           // the setup's key-code range
            CHECK_EQ(r.bytes[5], 191);
        }
    }
    CHECK(!nextrequest(*f, r));
    CHECK_EQ(x->pendingcount(), SETUPREQUESTS);

    answersetup(x, f, o);
    CHECK_EQ(x->connstate, x11state_screenreplies);
    CHECK_EQ(x->atoms[x11atom_wmname], ATOMBASE);
    CHECK_EQ(x->atoms[x11atom_motifwmhints], ATOMBASE + 16);
    CHECK_EQ(x->keymap[0][38], 'a');
    CHECK_EQ(x->keymap[1][38], 'A');
    CHECK_EQ(x->keymap[2][38], 0);
    CHECK_EQ(x->opcode[x11slot_randr], 140);
    CHECK_EQ(x->opcode[x11slot_dri2], 0);                // DRI2 absent
    CHECK(nextrequest(*f, r));
    CHECK_EQ(r.opcode, 140);                    // RRGetScreenResources of the root
    CHECK_EQ(r.data, 8);
    CHECK_EQ(x11_get32(r.bytes + 4), 0x2a);
    CHECK(nextrequest(*f, r));
    CHECK_EQ(r.opcode, 141);                    // BigReqEnable
    CHECK_EQ(r.length, 4);

    answerscreen(x, f, o);
    CHECK(x->isready());
    CHECK_EQ(x->connstate, x11state_ready);
    CHECK_EQ(x->kind.gui.width, 1920);          // RANDR's first mode
    CHECK_EQ(x->kind.gui.height, 1080);
    CHECK_EQ(x->kind.gui.format, pixfmt_565);
    CHECK_EQ(x->kind.gui.flags, guicaps_windowsystem | guicaps_realtime);
    CHECK_EQ(x->bigrequests, 1);
    CHECK_EQ(x->maxrequest, 4194303u * 4);
    CHECK_EQ(x->pendingcount(), 0);
    endclient(x, f);
    CHECK(process->defaulthandler == nullptr);
    dir.removeentry("Xauthority");
    dir.remove();
}

TEST(x11readywithoutextensions)
{
    options o;
    o.randr = o.bigreq = o.dri3 = false;
    o.server.width = 800;
    o.server.height = 600;
    o.server.maxrequestwords = 4096;
    fakeserver* f = nullptr;
    x11* x = setupclient(f, o);
    answersetup(x, f, o);
    CHECK(x->isready());                        // straight from the first replies
    CHECK_EQ(x->kind.gui.width, 800);
    CHECK_EQ(x->kind.gui.height, 600);
    CHECK_EQ(x->kind.gui.format, pixfmt_888);
    CHECK_EQ(x->kind.gui.flags, guicaps_windowsystem);
    CHECK_EQ(x->maxrequest, 4096 * 4);          // the server's limit is smaller
    CHECK_EQ(x->bigrequests, 0);
    endclient(x, f);
}

// A reply the client takes for the set-up request of that sequence: an absent
// extension for a QueryExtension, an empty 32-byte reply for the others.
static void anyreply(x11writer& w, u32 seq)
{
    if (seq > X11_ATOMCOUNT + 1 && seq <= SETUPREQUESTS)
        extensionreply(w, seq, false, 0);
    else
        atomreply(w, seq, ATOMBASE + seq);
}

// An error for any request of the set-up ends the run with one line and status
// 2, whether it takes the place of a reply or comes as well (ahead of it or
// behind it): the first and the third atom, the key map, an extension, RANDR's
// screen size and BigReqEnable.
TEST(x11seterrorsendtherun)
{
    struct { char const* name; u32 sequence, code, major, minor; bool extra, behind; char const* line; } const rows[] = {
        {"first atom", 1, 11, 16, 0, false, false, "BadAlloc (11) on request 16.0, sequence 1\n"},
        {"third atom", 3, 2, 16, 0, false, false, "BadValue (2) on request 16.0, sequence 3\n"},
        {"key map", X11_ATOMCOUNT + 1, 2, 101, 0, false, false, "BadValue (2) on request 101.0, sequence 18\n"},
        {"extension", X11_ATOMCOUNT + 3, 11, 98, 0, false, false, "BadAlloc (11) on request 98.0, sequence 20\n"},
        {"extra ahead", 1, 11, 16, 0, true, false, "BadAlloc (11) on request 16.0, sequence 1\n"},
        {"extra behind", 1, 11, 16, 0, true, true, "BadAlloc (11) on request 16.0, sequence 1\n"},
        {"extension code", 5, 150, 16, 0, false, false, "error 150 on request 16.0, sequence 5\n"},
        {"screen size", SETUPREQUESTS + 1, 1, 140, 8, false, false, "BadRequest (1) on request 140.8, sequence 24\n"},
        {"big requests", SETUPREQUESTS + 2, 11, 141, 0, false, false, "BadAlloc (11) on request 141.0, sequence 25\n"},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        options o;
        fakeserver* f = nullptr;
        x11* x = setupclient(f, o);
        capture err;
        CHECK(err.begin(2));
        if (r.sequence > SETUPREQUESTS)
            answersetup(x, f, o);
        CHECK_EQ(x->connstate, r.sequence > SETUPREQUESTS ? x11state_screenreplies : x11state_setupreplies);
        xbytes replies;
        for (u32 seq = r.sequence > SETUPREQUESTS ? SETUPREQUESTS + 1 : 1; seq <= SETUPREQUESTS + 2; seq++) {
            bool faulty = seq == r.sequence;
            if (faulty && !r.behind)
                errorpacket(replies.w, r.code, seq, r.major, r.minor);
            if (!faulty || r.extra)
                anyreply(replies.w, seq);
            if (faulty && r.behind)
                errorpacket(replies.w, r.code, seq, r.major, r.minor);
        }
        feed(f, replies);
        for (int i = 0; i < 4 && x->connstate != x11state_ended; i++)
            x->cyclic();
        char text[512];
        err.end(text, sizeof text);
        CHECK_EQ(x->connstate, x11state_ended);
        CHECK(!x->isready());
        CHECK(x->flags & gui_failed);
        CHECK_EQ(process->exitcode, 2);
        CHECK(process->exitrequested);
        char const* line = streqbegin(text, "error x11 auth\n") ? text + 15 : text;
        CHECK(strstr(line, "the X server failed a request of the connection set-up: ") != nullptr);
        CHECK(strstr(line, r.line) != nullptr);
        CHECK(strchr(line, '\n') == line + strlen(line) - 1);
        endclient(x, f);
    }
    setrow(nullptr);
}

TEST(x11sequencewraps)
{
    fakeserver* f = nullptr;
    x11* x = readyclient(f);
    x->sequence = 0xffff;
    u32 target = 0;
    CHECK_EQ(x->getatom("X", &target), 0);      // sequence 0 once it wraps
    CHECK_EQ(x->pendingcount(), 1);
    xbytes b;
    atomreply(b.w, 0, 777);
    feed(f, b);
    x->cyclic();
    CHECK_EQ(target, 777);
    CHECK_EQ(x->pendingcount(), 0);
    // A reply nobody waits for changes nothing.
    xbytes stray;
    atomreply(stray.w, 5, 888);
    feed(f, stray);
    x->cyclic();
    CHECK_EQ(target, 777);
    endclient(x, f);
}

TEST(x11longrepliessplitandskipped)
{
    fakeserver* f = nullptr;
    x11* x = readyclient(f);
    // A keyboard map in pieces of 7 bytes is read whole once it is all there.
    u32 target = 5;
    x->getatom("LONG", &target);
    u16 seq = x->sequence;
    xbytes b;
    replyhead(b.w, 0, seq, 100);
    b.w.put32(4242);
    fill(b.w, 32 + 400);
    f->chunk = 7;
    feed(f, b);
    for (int i = 0; i < 200 && x->pendingcount(); i++)
        x->cyclic();
    CHECK_EQ(target, 4242);
    f->chunk = 0;

    // Longer than any reply is kept: skipped in pieces, its entry freed, and the
    // event behind it still read.
    capture err;
    CHECK(err.begin(2));
    x->getatom("HUGE", &target);
    seq = x->sequence;
    u32 extra = X11_MAXREPLY / 4 + 10;
    xbytes head;
    replyhead(head.w, 0, seq, extra);
    head.w.put32(1);
    fill(head.w, 32);
    feed(f, head);
    x->cyclic();
    CHECK_EQ(x->pendingcount(), 0);
    CHECK_EQ(x->readerstate, x11reader_discard);
    static u8 zeros[0x8000];
    for (u32 left = extra * 4; left;) {
        u32 k = kzv_min(left, (u32)sizeof zeros);
        f->feed(zeros, k);
        left -= k;
        x->cyclic();
    }
    CHECK_EQ(x->readerstate, x11reader_event);
    xbytes event;
    clientmessage(event.w, false, 0x999, 1, 2);     // a window nobody has: dropped
    atomreply(event.w, seq, 31337);                 // the entry is gone: ignored
    feed(f, event);
    x->cyclic();
    CHECK_EQ(f->inputpos, f->inputlength);
    CHECK_EQ(target, 4242);
    char text[256];
    err.end(text, sizeof text);
    CHECK(strstr(text, "skipped") != nullptr);
    endclient(x, f);
}

TEST(x11bigrequestscapped)
{
    options o;
    o.bigwords = 0xffffffff;
    fakeserver* f = nullptr;
    x11* x = readyclient(f, o);
    CHECK_EQ(x->maxrequest, X11_MAXREQUESTCAP);
    endclient(x, f);
    o.bigwords = 1000;                          // smaller than the core limit: ignored
    x = readyclient(f, o);
    CHECK_EQ(x->bigrequests, 0);
    CHECK_EQ(x->maxrequest, X11_DEFAULTMAXREQUEST);
    endclient(x, f);
}

TEST(x11refusedsetupendstherun)
{
    struct { char const* name; u8 status; char const* reason; char const* line; } const rows[] = {
        {"failed", 0, "Invalid MIT-MAGIC-COOKIE-1 key", "refused the connection: Invalid MIT-MAGIC-COOKIE-1 key\n"},
        {"authenticate", 2, "More\x01please", "refused the connection: More?please\n"},
    };
    for (auto const& row : rows) {
        setrow(row.name);
        fakeserver* f = nullptr;
        x11* x = newclient(f);
        x->open(0, "", 0);
        u32 n = strlen(row.reason);
        xbytes b;
        b.w.put8(row.status);
        b.w.put8(row.status == 0 ? n : 0);
        b.w.put16(11);
        b.w.put16(0);
        b.w.put16((n + 3) / 4);
        b.w.putbytes(row.reason, n);
        b.w.pad4();
        feed(f, b);
        capture err;
        CHECK(err.begin(2));
        x->cyclic();
        char text[512];
        err.end(text, sizeof text);
        // No cookie went out, which is said first; then the one line of the refusal.
        char const* refusal = streqbegin(text, "error x11 auth\n") ? text + 15 : text;
        CHECK(streqbegin(text, "error x11 auth\n"));
        CHECK(strstr(refusal, row.line) != nullptr);
        CHECK(strchr(refusal, '\n') == refusal + strlen(refusal) - 1);
        CHECK_EQ(process->exitcode, 2);
        CHECK(process->exitrequested);
        CHECK(x->flags & gui_failed);
        CHECK(!x->isready());
        guiwindow w;
        memset0(&w, sizeof w);
        CHECK_EQ(x->command(guicmd_openwindow, 0, 0, &w), 0);
        endclient(x, f);
    }
    setrow(nullptr);
}

TEST(x11malformedsetupnotready)
{
    options o;
    xbytes good;
    u32 n = setupreply(good, o.server);
    struct { char const* name; u32 offset; u8 value; } const rows[] = {
        {"no screens", 8 + 20, 0},
        {"vendor past the end", 8 + 17, 0xff},
        {"formats past the end", 8 + 21, 0xff},
        {"version 10", 2, 10},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        fakeserver* f = nullptr;
        x11* x = newclient(f);
        x->open(0, "", 0);
        xbytes b;
        b.w.putbytes(good.b, n);
        b.b[r.offset] = r.value;
        feed(f, b);
        capture err;
        CHECK(err.begin(2));
        x->cyclic();
        x->cyclic();
        char text[512];
        err.end(text, sizeof text);
        CHECK(!x->isready());
        CHECK_EQ(x->pendingcount(), 0);
        endclient(x, f);
    }
    setrow(nullptr);
}

TEST(x11lostconnection)
{
    fakeserver* f = nullptr;
    x11* x = readyclient(f);
    f->end();
    capture err;
    CHECK(err.begin(2));
    x->cyclic();            // the read meets the end
    x->cyclic();
    char text[256];
    err.end(text, sizeof text);
    CHECK(strstr(text, "connection to the X server was lost\n") != nullptr);
    CHECK_EQ(process->exitcode, 2);
    CHECK(x->flags & gui_failed);
    CHECK_EQ(x->connstate, x11state_ended);
    endclient(x, f);
}

// ---- windows ----

namespace {

struct sink : module {
    u32 count;
    u32 code[64];
    int a[64], b[64];
    x11* client;
    guiwindow* window;
    unsigned closeon;       // an event code on which the receiver closes the window
};

sptr sink_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    sink* s = (sink*)self;
    if (s->count < 64) {
        s->code[s->count] = cmd;
        s->a[s->count] = a;
        s->b[s->count] = b;
        s->count++;
    }
    if (cmd == s->closeon)
        s->client->command(guicmd_closewindow, 0, 0, s->window);
    return 1;
}

struct windowsetup {
    fakeserver* f;
    x11* x;
    sink events;
    guiwindow* w;
};

void openwindow(windowsetup& t, u32 width, u32 height, s32 x, s32 y, char const* title, options const& o = options())
{
    t.x = readyclient(t.f, o);
    memset0(&t.events, sizeof t.events);
    t.events.initheader(nullptr, "sink", sink_concb, type_uimessage);
    t.events.client = t.x;
    t.w = (guiwindow*)process->pool.getmem0(sizeof(guiwindow));
    t.events.window = t.w;
    t.w->width = (u16)width;
    t.w->height = (u16)height;
    t.w->x = x;
    t.w->y = y;
    t.w->title = title;
    t.w->eventpin = &t.events.in;
}

void closeall(windowsetup& t)
{
    t.x->command(guicmd_closewindow, 0, 0, t.w);
    endclient(t.x, t.f);
    process->pool.freemem(t.w);
}

void mapped(windowsetup& t)
{
    xbytes b;
    windowevent(b.w, xev_mapnotify, x11::part(t.w)->windowid);
    feed(t.f, b);
    t.x->cyclic();
}

// A mapped window with its back buffer, without BIG-REQUESTS.
void bufferedwindow(windowsetup& t, u32 width, u32 height, char const* title)
{
    options o;
    o.bigreq = false;
    openwindow(t, width, height, 0, 0, title, o);
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    mapped(t);
    t.x->command(guicmd_createbackbuffer, 0, 0, t.w);
}

} // namespace

TEST(x11openwindowrequests)
{
    windowsetup t;
    openwindow(t, 300, 200, 10, 20, "Title");
    CHECK_EQ(t.x->command(guicmd_openwindow, 0, 0, t.w), 1);
    x11windowpart* p = x11::part(t.w);
    CHECK_EQ(p->windowid, 0x400000);
    CHECK_EQ(t.w->format, pixfmt_888);
    xrequest r = {};
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_createwindow);
    CHECK_EQ(x11_get32(r.bytes + 4), 0x400000);
    CHECK_EQ(x11_get32(r.bytes + 8), 0x2a);
    CHECK_EQ(x11_get16(r.bytes + 12), 10);
    CHECK_EQ(x11_get16(r.bytes + 14), 20);
    CHECK_EQ(x11_get16(r.bytes + 16), 300);
    CHECK_EQ(x11_get16(r.bytes + 18), 200);
    CHECK_EQ(x11_get32(r.bytes + 36), 0x3bf4f);
    u32 const names[2] = {ATOMBASE + x11atom_wmname, ATOMBASE + x11atom_wmiconname};
    for (u32 name : names) {
        CHECK(nextrequest(*t.f, r));
        CHECK_EQ(r.opcode, xreq_changeproperty);
        CHECK_EQ(x11_get32(r.bytes + 8), name);
        CHECK_EQ(x11_get32(r.bytes + 12), ATOMBASE + x11atom_string);
        CHECK_EQ(x11_get32(r.bytes + 20), 5);
        CHECK_MEM(r.bytes + 24, "Title", 5);
    }
    CHECK(nextrequest(*t.f, r));                // no Motif hints: not screen-sized
    CHECK_EQ(x11_get32(r.bytes + 8), ATOMBASE + x11atom_wmnormalhints);
    CHECK_EQ(x11_get32(r.bytes + 12), ATOMBASE + x11atom_wmsizehints);
    CHECK_EQ(x11_get32(r.bytes + 20), 18);      // a whole WM_SIZE_HINTS
    CHECK_EQ(x11_get32(r.bytes + 24), 15);
    CHECK_EQ(x11_get32(r.bytes + 28), 0);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_creategc);
    CHECK_EQ(x11_get32(r.bytes + 4), 0x400001);
    CHECK_EQ(x11_get32(r.bytes + 12), 13);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(x11_get32(r.bytes + 8), ATOMBASE + x11atom_wmprotocols);
    CHECK_EQ(x11_get32(r.bytes + 24), ATOMBASE + x11atom_wmdeletewindow);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_mapwindow);
    CHECK(!nextrequest(*t.f, r));
    CHECK(!(t.w->flags & guiwindow_shown));
    mapped(t);
    CHECK(t.w->flags & guiwindow_shown);
    CHECK_EQ(p->mapped, 1);
    closeall(t);
}

TEST(x11windowlargerthanscreen)
{
    windowsetup t;
    openwindow(t, 2500, 100, 50, 60, nullptr);
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    CHECK_EQ(t.w->width, 1920);
    CHECK_EQ(t.w->height, 1080);
    CHECK_EQ(t.w->x, 0);
    CHECK_EQ(t.w->y, 0);
    xrequest r = {};
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(x11_get16(r.bytes + 12), 0);
    CHECK_EQ(x11_get16(r.bytes + 16), 1920);
    CHECK(nextrequest(*t.f, r));                // no title: Motif hints come first
    CHECK_EQ(x11_get32(r.bytes + 8), ATOMBASE + x11atom_motifwmhints);
    CHECK_EQ(x11_get32(r.bytes + 20), 5);
    CHECK_EQ(x11_get32(r.bytes + 24), 2);
    closeall(t);
}

// Depth 16 and an odd width: rows padded to 4 bytes, in the buffer and on the wire.
TEST(x11backbufferandstrips)
{
    options o;
    o.server.depth = 16;
    o.server.bpp = 16;
    o.bigreq = false;
    windowsetup t;
    openwindow(t, 33, 10, 0, 0, "s", o);
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    mapped(t);
    skiprequests(*t.f);
    CHECK_EQ(t.x->command(guicmd_createbackbuffer, 0, 0, t.w), 1);
    CHECK_EQ(t.x->command(guicmd_getbackbuffer, 0, 0, t.w), 1);
    CHECK_EQ(t.w->stride, 68);
    x11windowpart* p = x11::part(t.w);
    bool zero = true;
    for (u32 i = 0; i < 68 * 10; i++)
        zero = zero && t.w->pixels[i] == 0;
    CHECK(zero);
    for (u32 i = 0; i < 68 * 10; i++)
        t.w->pixels[i] = (u8)i;
    xrequest r = {};
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_createpixmap);
    CHECK_EQ(r.data, 16);
    CHECK_EQ(x11_get32(r.bytes + 4), p->pixmapid);
    CHECK_EQ(x11_get32(r.bytes + 8), p->windowid);
    t.x->maxrequest = 28 + 68 * 3 + 10;          // three rows a strip
    p->linesperstrip = 3;
    CHECK_EQ(t.x->command(guicmd_update, 0, 0, t.w), 1);
    u32 rows = 0;
    for (u32 strip = 0; strip < 4; strip++) {
        CHECK(nextrequest(*t.f, r));
        CHECK_EQ(r.opcode, xreq_putimage);
        u32 n = x11_get16(r.bytes + 14);
        CHECK_EQ(x11_get16(r.bytes + 12), 33);
        CHECK_EQ(x11_get16(r.bytes + 18), rows);
        CHECK_EQ(r.length, 24 + n * 68);
        CHECK_MEM(r.bytes + 24, t.w->pixels + rows * 68, n * 68);
        rows += n;
    }
    CHECK_EQ(rows, 10);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_copyarea);
    CHECK_EQ(x11_get16(r.bytes + 24), 33);
    CHECK_EQ(x11_get16(r.bytes + 26), 10);

    // A row range: those strips and their copy only.
    CHECK_EQ(t.x->command(guicmd_update, 4 << 16, (20 << 16) | 33, t.w), 1);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(x11_get16(r.bytes + 18), 4);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(x11_get16(r.bytes + 18), 7);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_copyarea);
    CHECK_EQ(x11_get16(r.bytes + 18), 4);
    CHECK_EQ(x11_get16(r.bytes + 26), 6);
    CHECK(!nextrequest(*t.f, r));
    closeall(t);
}

TEST(x11linesperstrip)
{
    struct { char const* name; u32 width, bytes, maxrequest, lines; } const rows[] = {
        {"750 wide, 4 bytes", 750, 4, 258000, 85},
        {"one row over the maximum", 40000, 4, 258000, 1},
        {"depth 16 odd width", 301, 2, 258000, 427},     // rows of 604 bytes
    };
    for (auto const& row : rows) {
        setrow(row.name);
        options o;
        o.bigreq = false;
        if (row.bytes == 2)
            o.server.depth = o.server.bpp = 16;
        windowsetup t;
        openwindow(t, row.width, 2, 0, 0, nullptr, o);
        t.x->command(guicmd_openwindow, 0, 0, t.w);
        t.x->maxrequest = row.maxrequest;
        t.w->width = (u16)row.width;                // past the screen: set after the open
        t.x->command(guicmd_createbackbuffer, 0, 0, t.w);
        CHECK_EQ(x11::part(t.w)->linesperstrip, row.lines);
        CHECK((u64)28 + (u64)row.lines * x11::part(t.w)->bbstride <= row.maxrequest || row.lines == 1);
        closeall(t);
    }
    setrow(nullptr);
}

// While more than 4096 bytes wait, an update is put off and redone later.
TEST(x11updateputoffwhilequeued)
{
    windowsetup t;
    openwindow(t, 64, 40, 0, 0, "q");
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    mapped(t);
    t.x->command(guicmd_createbackbuffer, 0, 0, t.w);
    skiprequests(*t.f);
    t.f->blocked = true;
    CHECK_EQ(t.x->command(guicmd_updatewhole, 0, 0, t.w), 1);   // now queued in the stream
    CHECK_EQ(t.x->command(guicmd_updatewhole, 0, 0, t.w), 0);   // more than 4096 bytes wait
    CHECK_EQ(x11::part(t.w)->dirty, 1);
    t.f->blocked = false;
    t.f->callback(t.f, cmd_cyclic, 0, 0, nullptr);              // the stream drains
    u32 before = t.f->outputlength;
    t.x->cyclic();
    CHECK(t.f->outputlength > before + 64 * 40 * 4);
    CHECK_EQ(x11::part(t.w)->dirty, 0);
    closeall(t);
}

// A socket that takes 1000 bytes a write: the strips' pixels leave straight from
// the back buffer over several steps, nothing of them is queued in the stream,
// and the copy follows the last strip. A window closed while a strip is half out
// gets that strip completed before its DestroyWindow.
TEST(x11stripsasthesockettakesthem)
{
    windowsetup t;
    bufferedwindow(t, 64, 40, "s");
    t.x->command(guicmd_getbackbuffer, 0, 0, t.w);
    x11windowpart* p = x11::part(t.w);
    p->linesperstrip = 10;                      // four strips of 2560 bytes
    for (u32 i = 0; i < 256 * 40; i++)
        t.w->pixels[i] = (u8)(i * 7);
    skiprequests(*t.f);
    t.f->take = 1000;
    CHECK_EQ(t.x->command(guicmd_updatewhole, 0, 0, t.w), 1);
    CHECK(t.x->sending(t.w));
    CHECK_EQ(t.x->command(guicmd_updatewhole, 0, 0, t.w), 0);   // put off while pixels go out
    sptr queued = 0;
    for (u32 step = 0; step < 100 && (t.x->sending(t.w) || p->dirty); step++) {
        queued = kzv_max(queued, t.f->command(stream_pending, 0, 0, nullptr));
        t.f->callback(t.f, cmd_cyclic, 0, 0, nullptr);
        t.x->cyclic();
    }
    CHECK(!t.x->sending(t.w));
    CHECK(queued < 100);                        // a request head at the most, never pixels
    xrequest r = {};
    for (u32 frame = 0; frame < 2; frame++) {   // the update, then the one put off
        for (u32 strip = 0; strip < 4; strip++) {
            CHECK(nextrequest(*t.f, r));
            CHECK_EQ(r.opcode, xreq_putimage);
            CHECK_EQ(x11_get16(r.bytes + 18), strip * 10);
            CHECK_EQ(r.length, 24 + 2560);
            CHECK_MEM(r.bytes + 24, t.w->pixels + strip * 2560, 2560);
        }
        CHECK(nextrequest(*t.f, r));
        CHECK_EQ(r.opcode, xreq_copyarea);
        CHECK_EQ(x11_get16(r.bytes + 26), 40);
    }
    CHECK(!nextrequest(*t.f, r));

    u8 saved[2560];
    memcpy(saved, t.w->pixels, sizeof saved);
    CHECK_EQ(t.x->command(guicmd_updatewhole, 0, 0, t.w), 1);
    t.x->command(guicmd_closewindow, 0, 0, t.w);
    for (u32 step = 0; step < 100 && t.f->command(stream_pending, 0, 0, nullptr) > 0; step++)
        t.f->callback(t.f, cmd_cyclic, 0, 0, nullptr);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_putimage);
    CHECK_EQ(r.length, 24 + 2560);
    CHECK_MEM(r.bytes + 24, saved, 2560);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_destroywindow);
    CHECK(!nextrequest(*t.f, r));
    t.f->take = 0;
    closeall(t);
}

TEST(x11inputevents)
{
    windowsetup t;
    openwindow(t, 100, 80, 0, 0, "e");
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    mapped(t);
    u32 id = x11::part(t.w)->windowid;
    xbytes b;
    inputevent(b.w, xev_keypress, 38, id, 1, 2, 0);             // a
    inputevent(b.w, xev_keypress, 38, id, 1, 2, xstate_shift);  // A
    inputevent(b.w, xev_keypress, 54, id, 1, 2, xstate_control);    // unmapped: dropped
    inputevent(b.w, xev_keypress, 113, id, 1, 2, xstate_shift);     // shifted Left
    inputevent(b.w, xev_keyrelease, 38, id, 1, 2, 0);
    inputevent(b.w, xev_buttonpress, 1, id, 15, 25, 0);
    inputevent(b.w, xev_buttonrelease, 1, id, 16, 26, 0);
    inputevent(b.w, xev_buttonpress, 3, id, 5, 6, 0);
    inputevent(b.w, xev_buttonpress, 5, id, 7, 8, 0);
    inputevent(b.w, xev_buttonrelease, 5, id, 7, 8, 0);         // wheel releases: dropped
    inputevent(b.w, xev_buttonpress, 7, id, 7, 8, 0);           // button 7: dropped
    inputevent(b.w, xev_motionnotify, 0, id, -4, 90, 0);
    inputevent(b.w, xev_keypress, 38, id + 99, 1, 2, 0);        // another window: dropped
    configureevent(b.w, id, 30, 40, 100, 80);                   // moved only
    configureevent(b.w, id, 30, 40, 120, 90);                   // resized only
    clientmessage(b.w, true, id, ATOMBASE + x11atom_wmprotocols, ATOMBASE + 3);   // other protocol
    clientmessage(b.w, true, id, ATOMBASE + x11atom_wmprotocols, ATOMBASE + x11atom_wmdeletewindow);
    feed(t.f, b);
    t.x->cyclic();
    u32 const want[][3] = {
        {ui_keydown, 'a', 0}, {ui_keydown, 'A', 0}, {ui_keydown, 0x10020, 0}, {ui_keyup, 'a', 0},
        {ui_leftdown, 15, 25}, {ui_leftup, 16, 26}, {ui_rightdown, 5, 6}, {ui_wheeldown, 7, 8},
        {ui_mousemoved, (u32)-4, 90}, {ui_moved, 30, 40}, {ui_resized, 120, 90}, {ui_closed, 0, 0},
    };
    CHECK_EQ(t.events.count, sizeof want / sizeof want[0]);
    for (u32 i = 0; i < t.events.count && i < sizeof want / sizeof want[0]; i++) {
        CHECK_EQ(t.events.code[i], want[i][0]);
        CHECK_EQ((u32)t.events.a[i], want[i][1]);
        CHECK_EQ((u32)t.events.b[i], want[i][2]);
    }
    CHECK_EQ(t.w->x, 30);
    CHECK_EQ(t.w->width, 120);
    closeall(t);
}

// A shown window for key events, its requests read; answers its id.
static u32 keywindow(windowsetup& t)
{
    openwindow(t, 100, 80, 0, 0, "k");
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    mapped(t);
    skiprequests(*t.f);
    return x11::part(t.w)->windowid;
}

// The keyboard map changes while a window shows. Modifier and pointer changes ask
// for nothing. A keyboard change asks for the whole map again, once however many
// changes come before the reply (which holds them all), and the keys read before
// the reply wait for it: they mean what its map says, or, when the reply is
// refused or an error comes in its place, what the old map says.
TEST(x11keymapchangeisobeyed)
{
    struct { char const* name; int extrawords; bool error; u32 before38, before113; } const rows[] = {
        {"new map", 0, false, guikey_escape, 'q'},
        {"reply longer than its keys", 2, false, 'a', guikey_left},
        {"reply shorter than its keys", -2, false, 'a', guikey_left},
        {"error in its place", 0, true, 'a', guikey_left},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        windowsetup t;
        u32 id = keywindow(t);
        capture err;
        CHECK(err.begin(2));
        xbytes b;
        mappingnotify(b.w, xmapping_modifier, 0, 0);
        mappingnotify(b.w, xmapping_pointer, 0, 0);
        mappingnotify(b.w, xmapping_keyboard, 38, 1);
        inputevent(b.w, xev_keypress, 38, id, 1, 2, 0);
        inputevent(b.w, xev_keyrelease, 38, id, 1, 2, 0);
        mappingnotify(b.w, xmapping_keyboard, 113, 1);
        inputevent(b.w, xev_keypress, 113, id, 1, 2, 0);
        feed(t.f, b);
        t.x->cyclic();
        xrequest q = {};
        CHECK(nextrequest(*t.f, q));
        CHECK_EQ(q.opcode, xreq_getkeyboardmapping);
        CHECK_EQ(q.bytes[4], 8);                // the whole map, as at set-up
        CHECK_EQ(q.bytes[5], 248);
        CHECK(!nextrequest(*t.f, q));
        CHECK_EQ(t.events.count, 0);
        xbytes answer;
        u16 seq = t.x->sequence;
        if (r.error)
            errorpacket(answer.w, 2, seq, xreq_getkeyboardmapping, 0);
        else
            keymapreply(answer.w, seq, 8, 248, 0xff1b, 'q', r.extrawords);
        inputevent(answer.w, xev_keypress, 38, id, 1, 2, 0);
        feed(t.f, answer);
        t.x->cyclic();
        char text[256];
        err.end(text, sizeof text);
        u32 const want[][2] = {
            {ui_keydown, r.before38}, {ui_keyup, r.before38}, {ui_keydown, r.before113}, {ui_keydown, r.before38},
        };
        CHECK_EQ(t.events.count, 4);
        for (u32 i = 0; i < t.events.count && i < 4; i++) {
            CHECK_EQ(t.events.code[i], want[i][0]);
            CHECK_EQ((u32)t.events.a[i], want[i][1]);
        }
        if (r.error)
            CHECK(streqbegin(text, "x11 code 0 (0): error 2 on request 101.0"));
        else
            CHECK_STR(text, "");
        CHECK(!nextrequest(*t.f, q));
        closeall(t);
    }
    setrow(nullptr);
}

// More keys than the store holds come before the map: none is lost and their
// order stays, the oldest going out under the old map to make room.
TEST(x11keysheldbeyondthestore)
{
    windowsetup t;
    u32 id = keywindow(t);
    u32 const keys = X11_HELDKEYS + 8;
    xbytes b;
    mappingnotify(b.w, xmapping_keyboard, 8, 248);
    for (u32 i = 0; i < keys; i++)
        inputevent(b.w, xev_keypress, 38, id, 1, 2, 0);
    feed(t.f, b);
    t.x->cyclic();
    CHECK_EQ(t.events.count, X11_HELDKEYS);
    xbytes answer;
    keymapreply(answer.w, t.x->sequence, 8, 248, 0xff1b, 'q');
    feed(t.f, answer);
    t.x->cyclic();
    CHECK_EQ(t.events.count, keys);
    for (u32 i = 0; i < t.events.count && i < keys; i++)
        CHECK_EQ((u32)t.events.a[i], i < X11_HELDKEYS ? (u32)'a' : (u32)guikey_escape);
    closeall(t);
}

// A window manager makes the window larger than its back buffer: an Expose then
// sends and copies only what the back buffer holds. The Expose is the first of a
// series of two rectangles, and it is answered all the same.
TEST(x11resizekeepsthebackbuffer)
{
    windowsetup t;
    bufferedwindow(t, 40, 30, "r");
    skiprequests(*t.f);
    u32 id = x11::part(t.w)->windowid;
    xbytes b;
    configureevent(b.w, id, 0, 0, 400, 300);
    u32 expose = b.length();
    windowevent(b.w, xev_expose, id);
    b.b[expose + 16] = 1;               // one more rectangle follows
    feed(t.f, b);
    t.x->cyclic();
    CHECK_EQ(t.w->width, 400);
    xrequest r = {};
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_putimage);
    CHECK_EQ(x11_get16(r.bytes + 12), 40);
    CHECK_EQ(x11_get16(r.bytes + 14), 30);
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_copyarea);
    CHECK_EQ(x11_get16(r.bytes + 24), 40);
    CHECK_EQ(x11_get16(r.bytes + 26), 30);
    closeall(t);
}

// The receiver closes the window on the resize: the move is not sent to it.
TEST(x11windowclosedinsideanevent)
{
    windowsetup t;
    openwindow(t, 40, 30, 0, 0, "c");
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    mapped(t);
    t.events.closeon = ui_resized;
    u32 id = x11::part(t.w)->windowid;
    xbytes b;
    configureevent(b.w, id, 9, 9, 50, 50);
    inputevent(b.w, xev_keypress, 38, id, 1, 2, 0);
    feed(t.f, b);
    skiprequests(*t.f);
    t.x->cyclic();
    CHECK_EQ(t.events.count, 1);
    CHECK_EQ(t.events.code[0], ui_resized);
    CHECK(!t.x->haswindow(t.w));
    xrequest r = {};
    CHECK(nextrequest(*t.f, r));
    CHECK_EQ(r.opcode, xreq_destroywindow);
    CHECK_EQ(t.x->command(guicmd_update, 0, 0, t.w), 0);
    endclient(t.x, t.f);
    process->pool.freemem(t.w);
}

// Another client destroys the window: the receiver is told as by a close box,
// nothing more is drawn, and the close that follows sends no DestroyWindow for
// an id the server no longer has. A DestroyNotify another client sent is a
// claim, not the server's word, and changes nothing.
TEST(x11windowdestroyedbyanotherclient)
{
    windowsetup t;
    openwindow(t, 40, 30, 0, 0, "d");
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    mapped(t);
    t.x->command(guicmd_createbackbuffer, 0, 0, t.w);
    u32 id = x11::part(t.w)->windowid;
    xbytes sent;
    windowevent(sent.w, xev_destroynotify | xev_sent, id);
    feed(t.f, sent);
    t.x->cyclic();
    CHECK_EQ(t.events.count, 0);
    CHECK(t.w->flags & guiwindow_shown);
    xbytes b;
    windowevent(b.w, xev_destroynotify, id);
    feed(t.f, b);
    t.x->cyclic();
    CHECK_EQ(t.events.count, 1);
    CHECK_EQ(t.events.code[0], ui_closed);
    CHECK(!(t.w->flags & guiwindow_shown));
    skiprequests(*t.f);
    CHECK_EQ(t.x->command(guicmd_updatewhole, 0, 0, t.w), 0);
    t.x->command(guicmd_closewindow, 0, 0, t.w);
    CHECK(!t.x->haswindow(t.w));
    xrequest r = {};
    CHECK(!nextrequest(*t.f, r));
    endclient(t.x, t.f);
    process->pool.freemem(t.w);
}

// An unknown event and an error are printed, and what follows them in the same
// read is handled in the same step.
TEST(x11unknowneventsprinted)
{
    windowsetup t;
    openwindow(t, 40, 30, 0, 0, "u");
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    u32 id = x11::part(t.w)->windowid;
    xbytes b;
    inputevent(b.w, 7, 0, id, 0, 0, 0);                 // EnterNotify, never selected
    errorpacket(b.w, 8, 999, 72, 0);                    // BadMatch on a PutImage
    inputevent(b.w, xev_keypress, 38, id, 1, 2, 0);
    feed(t.f, b);
    capture err;
    CHECK(err.begin(2));
    t.x->cyclic();
    char text[256];
    err.end(text, sizeof text);
    CHECK(strstr(text, "x11 code 7 (7)") != nullptr);
    CHECK(strstr(text, "x11 code 0 (0): error 8 on request 72.0") != nullptr);
    CHECK_EQ(t.events.count, 1);
    CHECK_EQ(t.events.code[0], ui_keydown);
    closeall(t);
}

TEST(x11extrabufferclipped)
{
    windowsetup t;
    openwindow(t, 15, 15, 0, 0, "x");
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    t.x->command(guicmd_createbuffer, 10, 10, t.w);
    x11windowpart* p = x11::part(t.w);
    CHECK(p->hasbackbuffer && p->extrapixels);
    t.x->command(guicmd_getbufferimage, 0, 0, t.w);
    CHECK(p->extraimage.haspixels());
    for (u32 i = 0; i < 100; i++)
        p->extrapixels[i] = 0xff000000u | i;
    t.w->zoom = 2;
    t.x->command(guicmd_setbuffer, -3, -2, t.w);    // the source's top left is cut
    u32 const* bb = (u32 const*)(void const*)p->bbpixels;
    u32 stride = p->bbstride / 4;
    CHECK_EQ(bb[0] & 0xff, 2 * 10 + 3);             // source (3, 2) at (0, 0)
    CHECK_EQ(bb[1] & 0xff, 2 * 10 + 3);
    CHECK_EQ(bb[2] & 0xff, 2 * 10 + 4);
    CHECK_EQ(bb[stride * 2] & 0xff, 3 * 10 + 3);
    CHECK_EQ(bb[13] & 0xff, 2 * 10 + 9);            // 7 columns fit 15 / 2
    CHECK_EQ(bb[14], 0);
    t.x->command(guicmd_setbuffer, 100, 100, t.w);  // wholly outside: nothing
    // The window manager makes the window larger; the back buffer keeps 15 x 15
    // and bounds the copy: 5 x 3 pixels of the source at (10, 12).
    xbytes b;
    configureevent(b.w, p->windowid, 0, 0, 400, 300);
    feed(t.f, b);
    t.x->cyclic();
    CHECK_EQ(t.w->width, 400);
    memset0(p->bbpixels, p->bbstride * p->bbheight);
    t.w->zoom = 1;
    t.x->command(guicmd_setbuffer, 10, 12, t.w);
    u32 written = 0;
    for (u32 i = 0; i < stride * 15; i++)
        written += bb[i] != 0;
    CHECK_EQ(written, 5 * 3);
    CHECK_EQ(bb[stride * 12 + 10] & 0xff, 0);
    CHECK_EQ(bb[stride * 14 + 14] & 0xff, 2 * 10 + 4);
    t.w->zoom = 12;
    t.x->command(guicmd_setbuffer, 0, 0, t.w);      // no blitter that large
    closeall(t);

    options o;
    o.server.depth = o.server.bpp = 16;
    openwindow(t, 15, 15, 0, 0, "x", o);
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    t.x->command(guicmd_createbuffer, 10, 10, t.w);
    p = x11::part(t.w);
    for (u32 i = 0; i < 100; i++)
        p->extrapixels[i] = 0xffffffffu;
    t.x->command(guicmd_setbuffer, 0, 0, t.w);      // a 16-bit back buffer takes nothing
    bool zero = true;
    for (u32 i = 0; i < p->bbstride * 15; i++)
        zero = zero && p->bbpixels[i] == 0;
    CHECK(zero);
    closeall(t);
}

TEST(x11framepacing)
{
    windowsetup t;
    openwindow(t, 20, 20, 0, 0, "f");
    t.x->command(guicmd_openwindow, 0, 0, t.w);
    u32 start = process->msnow;
    u32 due = 0;
    for (u32 ms = 0; ms < 3000; ms++) {
        process->msnow = start + ms;
        due += (u32)t.x->command(guicmd_framedue, 0, 0, t.w);
    }
    process->msnow = start;
    CHECK(due >= 170 && due <= 181);                // about 60 a second, refresh rate 0
    closeall(t);
}

// A server that accepted the connection but never answers gets the same setup
// again after 12288 ms: the same display, authority file and flags.
TEST(x11setupretry)
{
    fakeserver* f = nullptr;
    x11* x = newclient(f);
    x->open(3, "/nonexistent/auth", 0x55);
    u32 first = f->outputlength;
    CHECK_EQ(first, 12);
    process->msnow += 12000;
    x->cyclic();
    CHECK_EQ(f->outputlength, first);
    process->msnow += 300;
    x->cyclic();
    CHECK_EQ(f->outputlength, 2 * first);
    CHECK_MEM(f->output + first, f->output, first);
    CHECK_EQ(x->displaynumber, 3);
    CHECK_EQ(x->openflags, 0x55);
    CHECK_STR(x->authpath, "/nonexistent/auth");
    CHECK_EQ(x->connstate, x11state_setuphead);
    endclient(x, f);
}

// A window that asks for direct rendering runs the DRI2 probe once: the device
// named in the reply is opened, and the probe's lines go to standard error.
TEST(x11dri2probe)
{
    struct { char const* name; char const* driver; char const* device; bool opened; } const rows[] = {
        {"device opened", "i965", "/dev/null", true},
        {"no driver name", "", "/dev/null", false},
        {"device missing", "i965", "/nonexistent/dri", false},
    };
    for (auto const& row : rows) {
        setrow(row.name);
        options o;
        o.dri2 = true;
        windowsetup t;
        openwindow(t, 40, 30, 0, 0, "d", o);
        t.w->realtime = 1;
        u32 driver = strlen(row.driver), device = strlen(row.device);
        xbytes b;
        replyhead(b.w, 0, (u32)t.x->sequence + 8, (x11_pad4(driver) + x11_pad4(device)) / 4);
        b.w.put32(driver);
        b.w.put32(device);
        fill(b.w, 32);
        b.w.putbytes(row.driver, driver);
        b.w.pad4();
        b.w.putbytes(row.device, device);
        b.w.pad4();
        feed(t.f, b);
        capture err;
        CHECK(err.begin(2));
        CHECK_EQ(t.x->command(guicmd_openwindow, 0, 0, t.w), 1);
        char text[1024];
        err.end(text, sizeof text);
        CHECK(strstr(text, "dri2 0 ") != nullptr);
        CHECK(strstr(text, "dumpmem 12 bytes") != nullptr);
        CHECK_EQ(t.x->dri2state, x11dri2_done);
        CHECK_EQ(t.x->dri2fd > 0, row.opened);
        CHECK_EQ(t.x->pendingcount(), 0);
        CHECK_EQ(t.w->realtime, 1);             // DRI2 is there: direct rendering stays asked for
        CHECK_EQ(t.x->command(guicmd_framedue, 0, 0, t.w), 1);
        closeall(t);
    }
    setrow(nullptr);
}
