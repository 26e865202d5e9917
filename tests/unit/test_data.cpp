// Packet names, defaults and dumps. The expected dump lines are written out here by
// hand, field by field, from the packet layouts; the padding helpers below only
// count blanks, so a wrong width or order in the dump shows as a mismatch.
// Null strings and payloads, and counts beyond the payload caps, must print safely.
#include "../harness/harness.h"
#include "../../framework/data.h"
#include "../../framework/printf.h"
#include "../../framework/mem.h"
#include "../../framework/str.h"

namespace {

using namespace kzv;

// The expected text, built by appending pieces and counted blanks.
struct expect {
    char text[4096];
    u32 n;
    expect() : n(0) { text[0] = 0; }
    expect& add(char const* s)
    {
        while (*s && n < sizeof text - 1)
            text[n++] = *s++;
        text[n] = 0;
        return *this;
    }
    expect& blanks(u32 count)
    {
        while (count-- && n < sizeof text - 1)
            text[n++] = ' ';
        text[n] = 0;
        return *this;
    }
    expect& left(char const* s, u32 width) { return add(s).blanks(width - strlen(s)); }
    expect& right(char const* s, u32 width) { return blanks(width - strlen(s)).add(s); }
};

char const* dump(data const& d)
{
    static char text[4096];
    printsink out = printsink_memory(text, sizeof text);
    d.printdata(out);
    return text;
}

data packet(s8 type)
{
    data d;
    d.type = type;
    return d;
}

TEST(type_names)
{
    static const struct { s8 code; char const* name; } rows[] = {
        {6, "bytestream"}, {7, "file"}, {9, "IP"}, {16, "json"}, {21, "ui message"}, {25, ""}, {32, ""},
        {33, "new connection"}, {43, "register16bit read "}, {44, "register16bit write"}, {46, "dns request"},
        {-42, ""}, {99, "---"}, {5, "---"}, {0, "---"}, {-1, "---"}, {47, "---"}, {-43, "---"},
    };
    for (auto const& row : rows) {
        data d = packet(row.code);
        CHECK_STR(d.gettypestring(), row.name);
    }
    CHECK_STR(data::getmimestring(2), "directory");
    CHECK_STR(data::getmimestring(14), "audio mpeg");
    CHECK_STR(data::getmimestring(37), "xls");
    CHECK_STR(data::getmimestring(0), "?");
    CHECK_STR(data::getmimestring(19), "?");
    CHECK_STR(data::getprotocolstring(4), "gopher");
    CHECK_STR(data::getprotocolstring(2), "---");
}

TEST(header_layout_and_clear)
{
    data d;
    CHECK_EQ(d.type, type_bytestream);
    CHECK_EQ((uptr)&d.kind - (uptr)&d, 8);
    CHECK_EQ((uptr)&d.payload - (uptr)&d, 32);
    CHECK_EQ((uptr)&d.kind.file.filesize - (uptr)&d, 24);
    CHECK_EQ((uptr)&d.kind.file.filesize % alignof(u64), 0);    // naturally aligned on every target
    CHECK_EQ((uptr)&d.kind.tree.value.d - (uptr)&d.kind, 8);
    d.size = 5;
    d.kind.q[2] = 77;
    d.payload = &d;
    d.type = type_gui;
    d.clear();
    CHECK_EQ(d.size, 0);
    CHECK_EQ(d.kind.q[2], 0);
    CHECK(d.payload == nullptr);
    CHECK_EQ(d.type, type_bytestream);
}

TEST(checkdefaults)
{
    data sound = packet(type_sound);
    sound.kind.sound.channels = 1;
    sound.checkdefaults();
    CHECK_EQ(sound.kind.sound.channels, 1);
    CHECK_EQ(sound.kind.sound.bits, 16);
    CHECK_EQ(sound.kind.sound.rate, 44100);
    sound.kind.sound.channels = 0;
    sound.kind.sound.bits = 8;
    sound.kind.sound.rate = 8000;
    sound.checkdefaults();
    CHECK_EQ(sound.kind.sound.channels, 2);
    CHECK_EQ(sound.kind.sound.bits, 8);
    CHECK_EQ(sound.kind.sound.rate, 8000);
    data file = packet(type_file);
    file.kind.file.filekind = '7';
    file.kind.file.permission[1] = 5;
    file.checkdefaults();
    CHECK_EQ(file.kind.file.permission[0], 7);
    CHECK_EQ(file.kind.file.permission[1], 7);
    CHECK_EQ(file.kind.file.permission[2], 7);
    CHECK_EQ(file.kind.file.filekind, '8');
    data other = packet(type_gui);
    other.kind.b[0] = 3;
    other.checkdefaults();
    CHECK_EQ(other.kind.b[0], 3);
}

TEST(unknown_type_prints_its_dashes)
{
    CHECK_STR(dump(packet(99)), "--- \n");
    CHECK_STR(dump(packet(type_json)), "json \n");
    CHECK_STR(dump(packet(type_http)), "http \n");
}

TEST(bytestream_sources)
{
    data d = packet(type_bytestream);
    d.size = 100;
    d.kind.stream.sourcekind = source_file;
    d.kind.stream.source.file.filesize = 5000000000ull;
    d.kind.stream.source.file.position = 1200;
    d.kind.stream.mime = 6;
    d.kind.stream.charset = charset_latin1;
    CHECK_STR(dump(d), "bytestream data 100 bytes file pos 1200 size 5000000000 mime text latin-1 \n");
    d = packet(type_bytestream);
    d.kind.stream.sourcekind = source_stdio;
    d.kind.stream.source.stdio.columns = 80;
    d.kind.stream.source.stdio.rows = 24;
    d.kind.stream.source.stdio.isterminal = 1;
    CHECK_STR(dump(d), "bytestream data 0 bytes stdio 80x24 tty=1 \n");
    d = packet(type_bytestream);
    d.kind.stream.sourcekind = source_tcp;
    d.kind.stream.source.net.address = 0xC0A80001;
    d.kind.stream.source.net.port = 8080;
    d.kind.stream.mime = 99;
    CHECK_STR(dump(d), "bytestream data 0 bytes tcp 192.168.0.1:8080 mime ? \n");
    d.kind.stream.sourcekind = source_udp;
    d.kind.stream.mime = 0;
    CHECK_STR(dump(d), "bytestream data 0 bytes udp 192.168.0.1:8080 \n");
    d = packet(type_bytestream);
    d.kind.stream.sourcekind = source_process;
    d.kind.stream.source.process.pid = 1234;
    d.kind.stream.source.process.exitcode = -1;
    CHECK_STR(dump(d), "bytestream data 0 bytes process pid 1234 exitcode -1 \n");
}

data filepacket(char* payload, u32 capacity, char const* name, u8 kind)
{
    data d = packet(type_file);
    strcpy(payload, name, capacity - 1);
    d.payload = payload;
    d.size = capacity;
    d.kind.file.filekind = kind;
    d.kind.file.permission[0] = 6;
    d.kind.file.permission[1] = 4;
    d.kind.file.permission[2] = 0;
    d.kind.file.mtime = 1735689599;
    return d;
}

TEST(file_records)
{
    char payload[64];
    data d = filepacket(payload, sizeof payload, "a.txt", '8');
    d.kind.file.filesize = 1234;
    expect e;
    e.add("file ").left("a.txt", 64).add(" ").blanks(8).add("file  ").add("size ").right("1234", 12).add(" ");
    e.add("perm 640 ").add("31.12.2024 23:59:59\n");
    CHECK_STR(dump(d), e.text);

    // A plain file of size 0 still shows its size; "size unknown" when flagged.
    d.kind.file.filesize = 0;
    d.kind.file.flags = 2;
    expect e2;
    e2.add("file ").left("a.txt", 64).add(" ").blanks(8).add("file  ").add("size unknown      ");
    e2.add("perm 640 31.12.2024 23:59:59\n");
    CHECK_STR(dump(d), e2.text);

    // A link to a directory: the target is stored behind the name's terminator.
    d = filepacket(payload, sizeof payload, "l", '7');
    d.kind.file.flags = 1;
    payload[2] = '/';
    payload[3] = 't';
    payload[4] = 0;
    expect e3;
    e3.add("file ").left("l", 64).add(" link to ").add("dir   ").blanks(18).add("perm 640 31.12.2024 23:59:59 /t\n");
    CHECK_STR(dump(d), e3.text);

    // A character device of size 0 shows major and minor.
    d = filepacket(payload, sizeof payload, "/dev/null", ':');
    d.kind.file.major = 1;
    d.kind.file.minor = 3;
    expect e4;
    e4.add("file ").left("/dev/null", 64).add(" ").blanks(8).add("chdev ").blanks(10).add("  1,  3 ");
    e4.add("perm 640 31.12.2024 23:59:59\n");
    CHECK_STR(dump(d), e4.text);

    // Other kinds: their number.
    d = filepacket(payload, sizeof payload, "x", 'x');
    expect e5;
    e5.add("file ").left("x", 64).add(" ").blanks(8).add("type 120 ").blanks(18).add("perm 640 31.12.2024 23:59:59\n");
    CHECK_STR(dump(d), e5.text);
}

TEST(file_record_reads_only_within_its_payload)
{
    // A name without a terminator inside the payload's size prints as blanks, and a
    // link's target that runs past the payload is left out.
    char payload[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    data d = packet(type_file);
    d.payload = payload;
    d.size = sizeof payload;
    d.kind.file.filekind = '8';
    d.kind.file.flags = 1;
    expect e;
    e.add("file ").blanks(64).add(" link to file  size ").right("0", 12).add(" perm 000 01.01.1970 00:00:00 \n");
    CHECK_STR(dump(d), e.text);
    payload[3] = 0;                     // "abc", then "efgh" without an end
    expect e2;
    e2.add("file ").left("abc", 64).add(" link to file  size ").right("0", 12).add(" perm 000 01.01.1970 00:00:00 \n");
    CHECK_STR(dump(d), e2.text);
    d.payload = nullptr;
    CHECK(strlen(dump(d)) > 64);
}

TEST(small_records)
{
    data d = packet(type_record);
    d.kind.record.address = 0xBEEF;
    d.size = 42;
    CHECK_STR(dump(d), "record addr 0000beef len       42\n");

    d = packet(type_ip);
    d.kind.ip.address = 0x0A000001;
    CHECK_STR(dump(d), "IP  10.0.0.1\n");
    d.kind.ip.name = "host";
    CHECK_STR(dump(d), "IP host 10.0.0.1\n");

    d = packet(type_time);
    d.kind.time = {-60, 2000, 29, 2, 13, 5, 9};
    CHECK_STR(dump(d), "time 29.02.2000 13:05:09 gmt -60 min\n");

    d = packet(type_terminal);
    d.kind.terminal = {3, 16, 8, 80, 25, 3, 4};
    CHECK_STR(dump(d), "terminal 80x25 cursor at 3.4  vt100lines=1 colors=16 tabs=8\n");

    d = packet(type_scanline);
    d.kind.scanline = {5, 565, -1, 640, 480, nullptr};
    CHECK_STR(dump(d), "scanline 640x480 ln -1 format 565 upsidedown analog \n");

    d = packet(type_httperror);
    d.kind.httperror.status = 404;
    CHECK_STR(dump(d), "http error 404\n");
    d.payload = (void*)"not found";
    CHECK_STR(dump(d), "http error 404 not found\n");

    d = packet(type_aac);
    d.size = 512;
    d.kind.aac = {1, 3, 4, 2, 0, 1024, 48000};
    CHECK_STR(dump(d), "aac  512 bytes freq[ 3] 48000 t 1 ch 2 f 0 v 4 bf 1024\n");

    d = packet(type_tableend);
    CHECK_STR(dump(d), "table end \n");
    d.kind.tableend.id = 9;
    CHECK_STR(dump(d), "table end id 9\n");

    d = packet(type_bitwrite);
    d.kind.bitwrite = {1, 2, 0x20};
    CHECK_STR(dump(d), "single bit write device 2 addr 0x0020    32 value 1\n");

    d = packet(type_dnsrequest);
    CHECK_STR(dump(d), "dns request \n");
    d.kind.dns.name = "example.org";
    CHECK_STR(dump(d), "dns request example.org\n");

    d = packet(type_usb);
    d.kind.usb = {0x1d6b, 2, "Linux", nullptr};
    CHECK_STR(dump(d), "usb vendor 1d6b product 0002 \"Linux\" \"\"\n");

    d = packet(type_filesystem);
    d.payload = (void*)"disk";
    d.kind.filesystem = {(3ull << 30) + (1ull << 29), 1536};
    CHECK_STR(dump(d), "filesystem disk total 4g free 2k\n");
}

TEST(rdbin_reads_at_most_six_values_and_none_without_a_payload)
{
    u16 values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    data d = packet(type_rdbin);
    d.kind.rdbin = {184, 7, 100, 10, "dev1"};
    d.payload = values;
    CHECK_STR(dump(d), "rdbin devid dev1 regs read adr 100 cnt 10 id 7   1 2 3 4 5 6...\n");
    d.kind.rdbin.count = 2;
    d.kind.rdbin.deviceid = "";
    CHECK_STR(dump(d), "rdbin regs read adr 100 cnt 2 id 7   1 2...\n");
    d.kind.rdbin.count = 10;
    d.payload = nullptr;
    CHECK_STR(dump(d), "rdbin regs read adr 100 cnt 10 id 7  ...\n");
    d.kind.rdbin.address = 255;
    d.kind.rdbin.code = 188;
    CHECK_STR(dump(d), "rdbin ram written adr 0xff cnt 10 id 7\n");
    d.kind.rdbin.code = 191;
    CHECK_STR(dump(d), "rdbin eeprom read adr 255 0xff cnt 10 id 7\n");
    d.kind.rdbin.code = 193;
    CHECK_STR(dump(d), "rdbin realtime 32 data id 7 cnt 10\n");
    d.kind.rdbin.code = 1;
    CHECK_STR(dump(d), "rdbin code 1\n");
}

TEST(tone_and_sound)
{
    data d = packet(type_tone);
    d.kind.tone = {1, 2, 2, 0, 5, 440, 250, 1500};
    CHECK_STR(dump(d), "tone ch  1   440Hz  250ms dev  2 dur   1.500s chs  2 inst   5\n");
    d.kind.tone.frequency = 0;
    d.kind.tone.devices = 3;
    CHECK_STR(dump(d), "tone ch  1     --   250ms dev  2 dur   1.500s devs  3 chs  2 inst   5\n");

    d = packet(type_sound);
    d.size = 1000;
    d.kind.sound = {1, 1, 0, 0};
    CHECK_STR(dump(d), "sound channels 1 bits 16 rate 44100 ==> samples 500 (silence)\n");
    CHECK_EQ(d.kind.sound.bits, 0);     // the dump shows the defaults, the packet keeps its own
    d.kind.sound = {0, 2, 24, 48000};
    d.size = 1200;
    CHECK_STR(dump(d), "sound channels 2 bits 24 rate 48000 ==> samples 150\n");
}

TEST(tree_nodes)
{
    char payload[128] = "a/b";
    data d = packet(type_tree);
    d.payload = payload;
    d.kind.tree.flags = 3;
    d.kind.tree.valuetype = 1;
    d.kind.tree.value.i = 42;
    expect e;
    e.add("tree cne ").left("a/b", 74).add(" ").add(" ").right("42", 12).add(" (i)\n");
    CHECK_STR(dump(d), e.text);

    static const struct { u8 flags; char const* state; } states[] = {{2, "end"}, {1, "cnt"}, {0, "dsc"}};
    for (auto const& s : states) {
        d.kind.tree.flags = s.flags;
        expect es;
        es.add("tree ").add(s.state).add(" ").left("a/b", 74).add(" ").add(" ").right("42", 12).add(" (i)\n");
        CHECK_STR(dump(d), es.text);
    }
    d.kind.tree.flags = 0;
    d.kind.tree.valuetype = 2;
    d.kind.tree.value.i = -1234;
    expect e2;
    e2.add("tree dsc ").left("a/b", 74).add(" ").add("     -").right("12", 8).add(".34 (i100)\n");
    CHECK_STR(dump(d), e2.text);

    d.kind.tree.valuetype = 3;
    d.kind.tree.value.f = 1.5f;
    expect e3;
    e3.add("tree dsc ").left("a/b", 74).add(" ").blanks(7).right("1.500000", 13).add(" (f)\n");
    CHECK_STR(dump(d), e3.text);

    d.kind.tree.valuetype = 4;
    d.kind.tree.value.d = -2.25;
    expect e4;
    e4.add("tree dsc ").left("a/b", 74).add(" ").blanks(7).add("-").right("2.250000", 12).add(" (d)\n");
    CHECK_STR(dump(d), e4.text);

    d.kind.tree.valuetype = 5;
    payload[4] = 'v';
    payload[5] = 0;
    d.kind.tree.stringoffset = 4;
    expect e5;
    e5.add("tree dsc ").left("a/b", 74).add(" ").add(" \"").left("v", 70).add("\"\n");
    CHECK_STR(dump(d), e5.text);

    d.kind.tree.valuetype = 9;
    expect e6;
    e6.add("tree dsc ").left("a/b", 74).add(" ").add(" type 9\n");
    CHECK_STR(dump(d), e6.text);

    // A path of 71 characters or more shows as " ..." and its last 70.
    for (u32 i = 0; i < 71; i++)
        payload[i] = (char)('a' + i % 26);
    payload[71] = 0;
    expect e7;
    e7.add("tree dsc ...").add(payload + 1).add(" ").add(" type 9\n");
    CHECK_STR(dump(d), e7.text);
    payload[70] = 0;
    expect e8;
    e8.add("tree dsc ").left(payload, 74).add(" ").add(" type 9\n");
    CHECK_STR(dump(d), e8.text);
    d.payload = nullptr;
    expect e9;
    e9.add("tree dsc ").blanks(74).add(" ").add(" type 9\n");
    CHECK_STR(dump(d), e9.text);
}

TEST(gui_screens_are_read_only_with_a_payload)
{
    guiscreen screens[2] = {{0, 0, 1920, 1080, 8888}, {1920, 0, 1280, 1024, 565}};
    data d = packet(type_gui);
    d.kind.gui = {3, 2, 1920, 1080, 8888};
    d.payload = screens;
    CHECK_STR(dump(d), "gui 1920x1080 fmt 8888  realtime 1 windows 1\n"
                       "    screen     0.    0 1920x1080 fmt 8888\n"
                       "    screen  1920.    0 1280x1024 fmt 565\n");
    d.payload = nullptr;
    CHECK_STR(dump(d), "gui 1920x1080 fmt 8888  realtime 1 windows 1\n");
    d.kind.gui.screens = 1;
    d.kind.gui.flags = 2;
    d.payload = screens;
    CHECK_STR(dump(d), "gui 1920x1080 fmt 8888  realtime 0 windows 1\n");
}

TEST(ui_messages)
{
    static const struct { u8 code; s32 x, y; char const* text; } rows[] = {
        {ui_resized, 800, 600, "ui message window resized ==> 800x600\n"},
        {ui_closed, 0, 0, "ui message window closed\n"},
        {ui_moved, -5, 7, "ui message window moved ==> -5.7\n"},
        {ui_leftdown, 1, 2, "ui message left button down at 1.2\n"},
        {ui_rightup, 1, 2, "ui message right button up at 1.2\n"},
        {ui_mousemoved, 3, 4, "ui message mouse moved ==> 3.4\n"},
        {ui_keydown, 0x10001, 0, "ui message key down 65537 0x10001\n"},
        {ui_keyup, 97, 0, "ui message key up 97 0x61\n"},
        {ui_wheeldown, 9, 8, "ui message wheel down at 9.8\n"},
        {ui_paint, 0, 0, "ui message paint window\n"},
        {99, 5, -6, "ui message 99 5 -6\n"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.text);
        data d = packet(type_uimessage);
        d.kind.ui = {row.code, row.x, row.y};
        CHECK_STR(dump(d), row.text);
    }
    kzvtest::setrow(nullptr);
}

TEST(table_rows)
{
    char const* names[] = {"n1", "n2"};
    char const* values[] = {"v1", nullptr};
    data d = packet(type_tablerow);
    d.payload = (void*)"tbl";
    d.kind.tablerow = {2, 3, names, values};
    expect e;
    e.add("table row \"tbl\" id 3");
    e.add("\n[  0] ").left("n1", 20).add(" ").left("v1", 70);
    e.add("\n[  1] ").left("n2", 20).add(" ").blanks(70).add("\n");
    CHECK_STR(dump(d), e.text);
    d.kind.tablerow.names = nullptr;
    d.kind.tablerow.id = 0;
    d.payload = nullptr;
    expect e2;
    e2.add("table row ").add("\n[  0]").blanks(22).left("v1", 70).add("\n[  1]").blanks(22).blanks(70).add("\n");
    CHECK_STR(dump(d), e2.text);
    d.kind.tablerow.values = nullptr;
    CHECK_STR(dump(d), "table row \n");
}

TEST(connections_and_logins)
{
    data d = packet(type_loginrequest);
    d.kind.login = {3, 21, 0x01020304, "u", nullptr};
    CHECK_STR(dump(d), "login request protocol ftp user u pw  1.2.3.4:21\n");
    d = packet(type_newconnection);
    d.kind.connection = {5, 4000, 0x0A010203};
    CHECK_STR(dump(d), "new connection protocol tcp netadr 10.1.2.3:4000\n");
    d.kind.connection.protocol = 2;
    CHECK_STR(dump(d), "new connection protocol --- netadr 10.1.2.3:4000\n");
    d = packet(type_connected);
    d.kind.connected = {6, "broker"};
    CHECK_STR(dump(d), "connected protocol mqtt broker\n");
    d.type = type_disconnected;
    d.kind.connected.text = nullptr;
    CHECK_STR(dump(d), "disconnected protocol mqtt \n");
}

TEST(mqtt_and_subscribe)
{
    static const mqttsender sender = {"dev"};
    data d = packet(type_mqtt);
    d.kind.mqtt = {&sender, "t/1"};
    d.payload = (void*)"msg";
    CHECK_STR(dump(d), "mqtt from dev topic: t/1\nmsg\n");
    d.payload = nullptr;
    d.kind.mqtt.sender = nullptr;
    CHECK_STR(dump(d), "mqtt topic: t/1\n\n");
    d.type = type_subscribe;
    d.kind.mqtt.topic = "x";
    CHECK_STR(dump(d), "subscribe topic: x\n");
}

TEST(registers_print_at_most_their_cap)
{
    u16 values[10] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    data d = packet(type_reg16read);
    d.kind.reg = {1, 16, 10};
    d.payload = values;
    CHECK_STR(dump(d), "register16bit read  device 1 addr 0x0010    16 count   10 000a 000b 000c 000d\n");
    d.type = type_reg16write;
    CHECK_STR(dump(d), "register16bit write device 1 addr 0x0010    16 count   10 000a 000b 000c 000d 000e 000f 0010 0011\n");
    d.kind.reg.count = 2;
    CHECK_STR(dump(d), "register16bit write device 1 addr 0x0010    16 count    2 000a 000b\n");
    d.payload = nullptr;
    d.kind.reg.count = 10;
    CHECK_STR(dump(d), "register16bit write device 1 addr 0x0010    16 count   10\n");
}

TEST(email_dump_ends_its_own_lines)
{
    emailinfoclass mail = {1, "a@b", "c@d", "", nullptr, "r@s", "hi", 86400};
    data d = packet(type_email);
    d.kind.email.email = &mail;
    CHECK_STR(dump(d), "email id 1:\n"
                       "    from:     a@b\n"
                       "    to:       c@d\n"
                       "    reply to: r@s\n"
                       "    subject:  hi\n"
                       "    time:     02.01.1970 00:00:00\n");
    mail.cc = "e@f";
    mail.bcc = "g@h";
    mail.from = nullptr;
    mail.replyto = nullptr;
    CHECK_STR(dump(d), "email id 1:\n"
                       "    from:     \n"
                       "    to:       c@d\n"
                       "    cc:       e@f\n"
                       "    bcc:      g@h\n"
                       "    subject:  hi\n"
                       "    time:     02.01.1970 00:00:00\n");
    d.kind.email.email = nullptr;
    CHECK_STR(dump(d), "email \n");
}

TEST(message_items)
{
    static const u16 wide[] = {'H', 0x20AC, 0};
    messageitem i1 = {item_int, -5, nullptr};
    messageitem i2 = {item_string, 0, "s"};
    messageitem i3 = {item_intarray, 3, nullptr};
    messageitem i4 = {item_string16, 0, wide};
    messageitem i5 = {9, 0, nullptr};
    messageitem i6 = {item_string, 0, nullptr};
    messageitem const* items[] = {&i1, &i2, &i3, &i4, &i5, nullptr, &i6};
    message m = {7, 7, items};
    data d = packet(type_message);
    d.kind.message.msg = &m;
    CHECK_STR(dump(d), "message message command=7\n  int -5\n  str s\n  int[3]\n  str16 H\342\202\254\n  str \n");
    m.items = nullptr;
    CHECK_STR(dump(d), "message message command=7\n");
}

TEST(file_requests)
{
    char const* params[] = {"a=1", "b=2", nullptr};
    char const* cookies[] = {"c=3", nullptr};
    filerequest r;
    memset0(&r, sizeof r);
    r.id = 5;
    r.protocol = protocol_http;
    r.method = method_get;
    r.file = "/index.html";
    r.host = "example.org";
    r.parameters = params;
    r.cookies = cookies;
    r.language[0] = 'd';
    r.language[1] = 'e';
    r.address = 0x7F000001;
    r.port = 80;
    data d = packet(type_filerequest);
    d.kind.request.request = &r;
    CHECK_STR(dump(d), " filerequest ID 5:\n"
                       "    HTTP\n"
                       "    GET\n"
                       "    file:         /index.html\n"
                       "    host:         example.org\n"
                       "    param[   0]:  a=1\n"
                       "    param[   1]:  b=2\n"
                       "    cookie[   0]: c=3\n"
                       "    lang:         de\n"
                       "    connection:   127.0.0.1:80\n"
                       "\n");

    filerequest q;
    memset0(&q, sizeof q);
    q.protocol = protocol_ftp;
    q.method = method_post;
    q.newname = "b";
    q.datasize = 12;
    q.user = "me";
    q.offset = 5000000000ull;
    q.info = "i";
    for (u32 i = 0; i < FILEREQUEST_LANGUAGE; i++)
        q.language[i] = 'l';            // no terminator inside the field
    for (u32 i = 0; i < 3; i++)
        q.agent[i] = 'a';
    d.type = type_renamerequest;
    d.kind.request.request = &q;
    expect e;
    e.add(" renamefilerequest ID 0:\n    FTP\n    POST\n    file:         \n    new:          b\n");
    e.add("    data:         12 bytes\n    lang:         ");
    for (u32 i = 0; i < FILEREQUEST_LANGUAGE; i++)
        e.add("l");
    e.add("\n    user:         me\n    offset:       5000000000\n    agent:        aaa\n    info:         i\n\n");
    CHECK_STR(dump(d), e.text);

    static const struct { s8 type; char const* heading; } headings[] = {
        {26, " savefilerequest ID 0:\n"}, {27, " appendfilerequest ID 0:\n"}, {28, " dirrequest ID 0:\n"},
        {29, " createdirrequest ID 0:\n"}, {30, " fileinforequest ID 0:\n"}, {31, " deletefilerequest ID 0:\n"},
    };
    filerequest empty;
    memset0(&empty, sizeof empty);
    empty.protocol = protocol_gopher;
    empty.newname = "ignored outside renames";
    for (auto const& h : headings) {
        d.type = h.type;
        d.kind.request.request = &empty;
        expect eh;
        eh.add(h.heading).add("    GOPHER\n    file:         \n\n");
        CHECK_STR(dump(d), eh.text);
    }
    d.kind.request.request = nullptr;
    CHECK_STR(dump(d), " \n");
}

TEST(text_objects)
{
    textobject t = {1, 1, 2, 30, 40, 5, "w"};
    data d = packet(type_textobject);
    d.kind.textobject.object = &t;
    CHECK_STR(dump(d), " textobject word    1.   2   30x  40 id    5 w\n");
    t.kind = 2;
    CHECK_STR(dump(d), " textobject type 2\n");
    d.kind.textobject.object = nullptr;
    CHECK_STR(dump(d), " \n");
}

TEST(dump_pieces_wider_than_the_room_are_clipped)
{
    // Each dump piece is formatted in a printf buffer; a 490-character name leaves
    // the %64s conversion no room, so the name is dropped, not written past the end.
    static char payload[600];
    for (u32 i = 0; i < 495; i++)
        payload[i] = 'n';
    payload[495] = 0;
    data d = packet(type_file);
    d.payload = payload;
    d.size = sizeof payload;
    d.kind.file.filekind = '8';
    char const* text = dump(d);
    CHECK(streqbegin(text, "file 64s "));
}

} // namespace
