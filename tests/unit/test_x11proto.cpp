// The X11 wire format on its own: request encodings byte for byte, the writer's
// refusal of what does not fit, and tables of well-formed, short, malformed and
// oversized setup replies, replies and events for every parser, plus the key map.
// Inputs are exact-size pool blocks, so a read past one is an ASan report.
#include "../harness/harness.h"
#include "../../drivers/x11.h"
#include "../../drivers/x11proto.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"
#include "../../gui/guidriver.h"
#include "x11fixture.h"

using namespace kzv;
using namespace kzvtest;

namespace {

// A copy of n bytes in a block of exactly that size.
u8* exact(void const* bytes, u32 n)
{
    u8* p = (u8*)process->pool.getmem(n ? n : 1);
    memcpy(p, bytes, n);
    return p;
}

void release(u8* p) { process->pool.freemem(p); }

} // namespace

TEST(requestencodings)
{
    u8 buffer[256];
    x11writer w;
    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_internatom(w, "WM_NAME"), 16);
    u8 const atom[16] = {16, 0, 4, 0, 7, 0, 0, 0, 'W', 'M', '_', 'N', 'A', 'M', 'E', 0};
    CHECK_MEM(buffer, atom, 16);

    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_createwindow(w, 0x400001, 0x2a, -5, 7, 300, 200, 0x3bf4f), 40);
    CHECK_EQ(buffer[0], 1);
    CHECK_EQ(x11_get16(buffer + 2), 10);
    CHECK_EQ(x11_get32(buffer + 4), 0x400001);
    CHECK_EQ(x11_get32(buffer + 8), 0x2a);
    CHECK_EQ((s16)x11_get16(buffer + 12), -5);
    CHECK_EQ(x11_get16(buffer + 16), 300);
    CHECK_EQ(x11_get32(buffer + 28), 0x0a00);
    CHECK_EQ(x11_get32(buffer + 32), 0);
    CHECK_EQ(x11_get32(buffer + 36), 0x3bf4f);

    u32 const values[3] = {15, 0, 0x12345678};
    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_changeproperty(w, 9, 40, 41, 32, values, 3), 36);
    CHECK_EQ(x11_get16(buffer + 2), 9);
    CHECK_EQ(buffer[16], 32);
    CHECK_EQ(x11_get32(buffer + 20), 3);
    CHECK_EQ(x11_get32(buffer + 32), 0x12345678);
    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_changeproperty(w, 9, 39, 31, 8, "abcde", 5), 32);   // padded to 4
    CHECK_EQ(x11_get32(buffer + 20), 5);
    CHECK_MEM(buffer + 24, "abcde\0\0\0", 8);

    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_copyarea(w, 1, 2, 3, 10, 64, 20), 28);
    CHECK_EQ(buffer[0], 62);
    CHECK_EQ(x11_get16(buffer + 18), 10);
    CHECK_EQ(x11_get16(buffer + 22), 10);
    CHECK_EQ(x11_get16(buffer + 24), 64);
    CHECK_EQ(x11_get16(buffer + 26), 20);

    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_getkeyboardmapping(w, 8, 248), 8);
    u8 const keys[8] = {101, 0, 2, 0, 8, 248, 0, 0};
    CHECK_MEM(buffer, keys, 8);
}

TEST(putimageheads)
{
    u8 buffer[64];
    x11writer w;
    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_putimagehead(w, false, 258000, 5, 6, 33, 2, 7, 16, 136), 24);
    CHECK_EQ(buffer[0], 72);
    CHECK_EQ(buffer[1], 2);                          // ZPixmap
    CHECK_EQ(x11_get16(buffer + 2), 6 + 136 / 4);
    CHECK_EQ(x11_get16(buffer + 12), 33);
    CHECK_EQ(x11_get16(buffer + 14), 2);
    CHECK_EQ(x11_get16(buffer + 18), 7);
    CHECK_EQ(buffer[21], 16);
    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_putimagehead(w, true, 0x1000000, 5, 6, 1000, 100, 0, 24, 400000), 28);
    CHECK_EQ(x11_get16(buffer + 2), 0);
    CHECK_EQ(x11_get32(buffer + 4), 7 + 400000 / 4);
    CHECK_EQ(x11_get32(buffer + 8), 5);
    // Over the maximum, or over the 16-bit length without BIG-REQUESTS: not built.
    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_putimagehead(w, false, 258000, 5, 6, 1000, 100, 0, 24, 257977), 0);
    CHECK_EQ(x11req_putimagehead(w, false, 0x1000000, 5, 6, 1000, 100, 0, 24, 300000), 0);
    CHECK_EQ(x11req_putimagehead(w, false, 258000, 5, 6, 1000, 100, 0, 24, 257976), 24);
}

TEST(writerrefusesoverflow)
{
    u8 buffer[12];
    x11writer w;
    w.begin(buffer, sizeof buffer);
    CHECK_EQ(x11req_internatom(w, "A_LONG_NAME"), 0);
    CHECK_EQ(w.length, 0);                          // nothing half-built stays
    CHECK_EQ(x11req_internatom(w, "AB"), 12);
    CHECK_EQ(x11req_internatom(w, "C"), 0);
    CHECK_EQ(w.length, 12);
    u8 big[16];
    w.begin(big, sizeof big);
    CHECK_EQ(x11req_changeproperty(w, 1, 2, 3, 32, big, 0x40000000), 0);   // 2^32 bytes
}

TEST(setupdecoding)
{
    serversetup server;
    server.depth = 16;
    server.bpp = 16;
    server.width = 1280;
    server.height = 1024;
    server.minkey = 9;
    server.maxkey = 200;
    xbytes data;
    setupdata(data.w, server);
    u32 n = data.length();
    CHECK_EQ(n, 32 + 8 + 16 + 40);

    x11setup s;
    u8* whole = exact(data.b, n);
    CHECK(x11_decodesetup(whole, n, s));
    CHECK_EQ(s.resourcebase, 0x400000);
    CHECK_EQ(s.root, 0x2a);
    CHECK_EQ(s.width, 1280);
    CHECK_EQ(s.height, 1024);
    CHECK_EQ(s.rootdepth, 16);
    CHECK_EQ(s.bitsperpixel, 16);
    CHECK_EQ(s.depthpad, 32);
    CHECK_EQ(s.minkeycode, 9);
    CHECK_EQ(s.maxkeycode, 200);
    CHECK_EQ(s.maxrequestwords, 65535);
    release(whole);

    // Every length short of the first screen's fixed part is refused.
    for (u32 cut = 0; cut < n; cut++) {
        u8* p = exact(data.b, cut);
        CHECK(!x11_decodesetup(p, cut, s));
        release(p);
    }

    struct { char const* name; u32 offset; u32 value; u32 bytes; } const bad[] = {
        {"no screens", 20, 0, 1},
        {"vendor past the end", 16, 0xffff, 2},
        {"formats past the end", 21, 255, 1},
    };
    for (auto const& b : bad) {
        setrow(b.name);
        u8* p = exact(data.b, n);
        p[b.offset] = (u8)b.value;
        if (b.bytes == 2)
            p[b.offset + 1] = (u8)(b.value >> 8);
        CHECK(!x11_decodesetup(p, n, s));
        release(p);
    }
    setrow(nullptr);

    // No pixmap format for the root depth: the pad and size come from the depth.
    serversetup odd;
    odd.formats = 1;
    xbytes other;
    setupdata(other.w, odd);
    u8* p = exact(other.b, other.length());
    CHECK(x11_decodesetup(p, other.length(), s));
    CHECK_EQ(s.bitsperpixel, 0);
    release(p);
}

TEST(refusalreasons)
{
    struct { char const* name; u8 status; u8 length; char const* data; u32 datalength; char const* want; } const rows[] = {
        {"failed", 0, 21, "No protocol specified\n\0\0", 24, "No protocol specified"},
        {"control bytes", 0, 6, "a\x01" "b\x7f" "cd\0\0", 8, "a?b?cd"},
        {"length past data", 0, 200, "short", 5, "short"},
        {"authenticate", 2, 0, "Need more\0\0\0", 12, "Need more"},
        {"second line", 0, 12, "one\ntwo\0\0\0\0\0", 12, "one"},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        u8 head[8] = {r.status, r.length, 11, 0, 0, 0, 0, 0};
        u8* data = exact(r.data, r.datalength);
        char out[64];
        x11_refusalreason(head, data, r.datalength, out, sizeof out);
        CHECK_STR(out, r.want);
        release(data);
    }
    setrow(nullptr);
    u8 head[8] = {0, 40, 11, 0, 0, 0, 0, 0};
    char small[4];
    x11_refusalreason(head, (u8 const*)"abcdefghij", 10, small, sizeof small);
    CHECK_STR(small, "abc");
}

namespace {

u32 keymapreply(xbytes& out, u32 perkey, u32 count, u32 claimed)
{
    replyhead(out.w, perkey, 18, claimed);
    fill(out.w, 32);
    for (u32 k = 0; k < count; k++)
        for (u32 c = 0; c < perkey; c++)
            out.w.put32(0x10000 * 5 + 0x100 * k + c + 1);   // bits above 16 are dropped
    return out.length();
}

} // namespace

TEST(keymapreplies)
{
    static u16 columns[4][256];
    struct { char const* name; u32 perkey, keys, asked, first; bool ok; u32 col0, col3; } const rows[] = {
        {"two per key", 2, 3, 3, 8, true, 0x0001, 0},
        {"seven per key", 7, 3, 3, 8, true, 0x0001, 0x0004},
        {"none per key", 0, 3, 3, 8, true, 0, 0},
        {"shorter than the keys asked for", 4, 3, 4, 8, false, 0x7777, 0x7777},
        {"longer than the keys asked for", 4, 4, 3, 8, false, 0x7777, 0x7777},
        {"runs past 255", 4, 10, 10, 250, true, 0x0001, 0x0004},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        for (auto& column : columns)
            for (auto& v : column)
                v = 0x7777;
        xbytes b;
        u32 n = keymapreply(b, r.perkey, r.keys, r.perkey * r.keys);
        u8* p = exact(b.b, n);
        CHECK_EQ(x11_decodekeymap(p, n, r.first, r.asked, columns), r.ok);
        CHECK_EQ(columns[0][r.first], r.col0);
        CHECK_EQ(columns[3][r.first], r.col3);
        if (r.ok)
            CHECK_EQ(columns[0][r.first + 1], r.perkey ? 0x0101 : 0);
        release(p);
    }
    setrow(nullptr);
    CHECK_EQ(columns[0][255], 0x0501);          // key 250 + 5, and no write past 255
}

namespace {

u32 screenresources(xbytes& out, u32 crtcs, u32 outputs, u32 modes, u32 width, u32 height)
{
    replyhead(out.w, 0, 30, 0);
    out.w.put32(1);
    out.w.put32(2);
    out.w.put16(crtcs);
    out.w.put16(outputs);
    out.w.put16(modes);
    out.w.put16(0);
    fill(out.w, 32);
    for (u32 i = 0; i < crtcs + outputs; i++)
        out.w.put32(0x40 + i);
    for (u32 i = 0; i < modes; i++) {
        out.w.put32(0x50 + i);
        out.w.put16(width + i);
        out.w.put16(height + i);
        fill(out.w, out.length() + 24);
    }
    return out.length();
}

} // namespace

TEST(screenresourcereplies)
{
    struct { char const* name; u32 crtcs, outputs, modes, cut; bool ok; } const rows[] = {
        {"one of each", 1, 1, 1, 0, true},
        {"two modes: the first counts", 2, 3, 2, 0, true},
        {"no modes", 1, 1, 0, 0, false},
        {"no crtcs but a mode", 0, 0, 1, 0, true},
        {"mode cut short", 1, 1, 1, 1, false},
        {"lists claim past the reply", 1, 1, 1, 40, false},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        xbytes b;
        u32 n = screenresources(b, r.crtcs, r.outputs, r.modes, 1920, 1080);
        if (r.cut == 40)
            b.b[16] = 0xff;                     // a CRTC count the reply does not hold
        u32 length = r.cut == 40 ? n : n - r.cut;
        u8* p = exact(b.b, length);
        u32 w = 7, h = 7;
        CHECK_EQ(x11_decodescreenresources(p, length, w, h), r.ok);
        CHECK_EQ(w, r.ok ? 1920 : 7);
        CHECK_EQ(h, r.ok ? 1080 : 7);
        release(p);
    }
    setrow(nullptr);
}

TEST(dri2connectreplies)
{
    struct { char const* name; u32 driver, device, cut; u32 capacity; bool ok; } const rows[] = {
        {"both names", 4, 18, 0, 64, true},
        {"no driver", 0, 18, 0, 64, false},
        {"device cut short", 4, 18, 3, 64, false},
        {"device longer than the room", 4, 18, 0, 18, false},
        {"driver length wraps", 0xfffffffd, 18, 0, 64, false},
    };
    for (auto const& r : rows) {
        setrow(r.name);
        xbytes b;
        replyhead(b.w, 0, 40, 0);
        b.w.put32(r.driver);
        b.w.put32(r.device);
        fill(b.w, 32);
        b.w.putbytes("i965", 4);
        b.w.putbytes("/dev/dri/renderD12", 18);
        b.w.pad4();
        u32 length = b.length() - (r.cut ? 2 + r.cut : 0);
        u8* p = exact(b.b, length);
        char device[64] = "untouched";
        CHECK_EQ(x11_decodedri2connect(p, length, device, r.capacity), r.ok);
        if (r.ok)
            CHECK_STR(device, "/dev/dri/renderD12");
        else
            CHECK_STR(device, "");
        release(p);
    }
    setrow(nullptr);
}

TEST(eventdecoding)
{
    xbytes b;
    inputevent(b.w, xev_keypress, 38, 0x400001, 10, -3, 5);
    x11event e;
    CHECK(x11_decodeevent(b.b, e));
    CHECK_EQ(e.code, xev_keypress);
    CHECK_EQ(e.sent, 0);
    CHECK_EQ(e.detail, 38);
    CHECK_EQ(e.window, 0x400001);
    CHECK_EQ(e.x, 10);
    CHECK_EQ(e.y, -3);
    CHECK_EQ(e.state, 5);

    xbytes c;
    clientmessage(c.w, true, 0x400001, 300, 301);
    CHECK_EQ(c.b[0], 0xa1);
    CHECK(x11_decodeevent(c.b, e));
    CHECK_EQ(e.code, xev_clientmessage);
    CHECK_EQ(e.sent, 1);
    CHECK_EQ(e.detail, 32);
    CHECK_EQ(e.type, 300);
    CHECK_EQ(e.value0, 301);

    xbytes g;
    configureevent(g.w, 0x400001, -20, 30, 640, 480);
    CHECK(x11_decodeevent(g.b, e));
    CHECK_EQ(e.window, 0x400001);
    CHECK_EQ(e.x, -20);
    CHECK_EQ(e.width, 640);
    CHECK_EQ(e.height, 480);

    struct { char const* name; u32 request; } const mappings[] = {
        {"modifier mapping", xmapping_modifier}, {"keyboard mapping", xmapping_keyboard},
        {"pointer mapping", xmapping_pointer},
    };
    for (auto const& r : mappings) {
        setrow(r.name);
        xbytes m;
        mappingnotify(m.w, r.request, 38, 2);
        CHECK(x11_decodeevent(m.b, e));
        CHECK_EQ(e.code, xev_mappingnotify);
        CHECK_EQ(e.request, r.request);
    }
    setrow(nullptr);

    struct { char const* name; u8 code; bool known; } const codes[] = {
        {"error", 0, false}, {"reply", 1, false}, {"enter notify", 7, false},
        {"sent code 0", 0x80, false}, {"mapping notify", 34, true}, {"expose", 12, true},
        {"sent expose", 0x8c, true}, {"no exposure", 14, true}, {"unmap", 18, true},
        {"map", 19, true}, {"generic", 35, false}, {"code 127", 127, false},
    };
    for (auto const& r : codes) {
        setrow(r.name);
        u8 raw[32] = {r.code};
        CHECK_EQ(x11_decodeevent(raw, e), r.known);
    }
    setrow(nullptr);
}

TEST(keycodes)
{
    static u16 map[4][256];
    memset0(map, sizeof map);
    u16 const rows[][3] = {         // key code, column 0, column 1
        {38, 'a', 'A'}, {54, 'c', 'C'}, {113, 0xff51, 0}, {111, 0xff52, 0xff52}, {67, 0xffbe, 0},
        {96, 0xffc9, 0}, {58, 'm', 'M'}, {22, 0xff08, 0xff08}, {36, 0xff0d, 0}, {9, 0xff1b, 0}, {23, 0xff09, 0xfe20},
        {119, 0xffff, 0}, {50, 0xffe1, 0}, {135, 0xff67, 0}, {110, 0xff50, 0}, {115, 0xff57, 0},
        {112, 0xff55, 0}, {117, 0xff56, 0}, {10, '1', '!'}, {66, 0xffe5, 0}, {90, 0xffb0, 0xffb0},
    };
    for (auto const& r : rows) {
        map[0][r[0]] = r[1];
        map[1][r[0]] = r[2];
    }
    struct { char const* name; u32 key, state, want; } const cases[] = {
        {"a", 38, 0, 'a'}, {"shift a", 38, 1, 'A'}, {"control c", 54, 4, 3}, {"control m is Enter", 58, 4, 10},
        {"control shift c", 54, 5, 0}, {"control arrow", 113, 4, 0}, {"left", 113, 0, 0x10000},
        {"shift left (no second keysym)", 113, 1, 0x10020}, {"shift up (repeated keysym)", 111, 1, 0x10002},
        {"f1", 67, 0, 0x1000a}, {"shift f1", 67, 1, 0x10024}, {"f12", 96, 0, 0x10015},
        {"shift f12", 96, 1, 0x1002f}, {"backspace", 22, 0, 0x10007}, {"return", 36, 0, 10},
        {"escape", 9, 0, 27}, {"tab", 23, 0, 9}, {"shift tab (ISO_Left_Tab)", 23, 1, 0xfe20},
        {"delete", 119, 0, 0x10006}, {"shift key alone", 50, 0, 0}, {"shift key shifted", 50, 1, 0},
        {"menu", 135, 0, 0}, {"home", 110, 0, 0x10004}, {"end", 115, 0, 0x10005},
        {"page up", 112, 0, 0x10008}, {"page down", 117, 0, 0x10009}, {"shift 1", 10, 1, '!'},
        {"caps lock passes as its keysym", 66, 0, 0xffe5}, {"keypad 0 passes", 90, 0, 0xffb0},
        {"unmapped key", 200, 0, 0}, {"lock bit ignored", 38, 2, 'a'}, {"key code past the map", 300, 0, 0},
    };
    for (auto const& c : cases) {
        setrow(c.name);
        CHECK_EQ(x11_keycode(map, c.key, c.state), c.want);
    }
    setrow(nullptr);
}
