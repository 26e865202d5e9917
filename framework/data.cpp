// Packet names and the packet dump. Every dump piece is one formatted call into a
// printsink, so a dump goes to standard error or, for tests, into memory. Strings
// may be null (printed as ""), and payload arrays are read only up to their count
// and a cap; a file packet's name and link target are read within its size.
#include "data.h"
#include "filepacket.h"
#include "mem.h"
#include "printf.h"
#include "str.h"
#include "vprinterfloat.h"

namespace kzv {

void data::clear()
{
    memset0(this, sizeof(data));
    type = type_bytestream;
}

static char const* const typenames[] = {
    "bytestream", "file", "record", "IP", "time", "terminal", "rdbin", "scanline", "tone", "sound",
    "json", "http error", "tree", "aac", "gui", "ui message", "table row", "table end",
    "login request", "", "", "", "", "", "", "", "", "new connection", "http", "email", "mqtt",
    "subscribe", "connected", "disconnected", "message", "filesystem", "usb", "register16bit read ",
    "register16bit write", "single bit write", "dns request",
};
static_assert(sizeof(typenames) / sizeof(typenames[0]) == type_dnsrequest - type_bytestream + 1, "one name per code");

char const* data::gettypestring() const
{
    if (type == type_textobject)
        return "";
    if (type < type_bytestream || type > type_dnsrequest)
        return "---";
    return typenames[type - type_bytestream];
}

char const* data::getmimestring(u8 code)
{
    static const struct { u8 code; char const* name; } names[] = {
        {2, "directory"}, {3, "html"}, {6, "text"}, {8, "image"}, {9, "binary"}, {10, "pdf"},
        {11, "cso"}, {12, "audio"}, {13, "audio aac"}, {14, "audio mpeg"}, {15, "search"},
        {16, "gz"}, {17, "tgz"}, {18, "zip"}, {20, "json"}, {35, "ods"}, {36, "xlsx"}, {37, "xls"},
    };
    for (auto const& n : names)
        if (n.code == code)
            return n.name;
    return "?";
}

char const* data::getprotocolstring(u8 protocol)
{
    switch (protocol) {
    case protocol_http: return "http";
    case protocol_ftp: return "ftp";
    case protocol_gopher: return "gopher";
    case protocol_tcp: return "tcp";
    case protocol_mqtt: return "mqtt";
    default: return "---";
    }
}

void data::checkdefaults()
{
    if (type == type_file) {
        kind.file.permission[0] = kind.file.permission[1] = kind.file.permission[2] = 7;
        kind.file.filekind = '8';
    } else if (type == type_sound) {
        if (!kind.sound.channels)
            kind.sound.channels = 2;
        if (!kind.sound.bits)
            kind.sound.bits = 16;
        if (!kind.sound.rate)
            kind.sound.rate = 44100;
    }
}

static bool isempty(char const* s) { return !s || !*s; }

// A string of the payload at `offset` when it ends within the payload's `size`
// bytes, else null. A size of 0 states no bound, and the producer's string is taken.
static char const* payloadstring(data const& d, u32 offset)
{
    char const* p = (char const*)d.payload;
    if (!p)
        return nullptr;
    if (d.size == 0)
        return p + offset;
    for (u32 i = offset; i < d.size; i++)
        if (!p[i])
            return p + offset;
    return nullptr;
}

static void printbytestream(data const& d, printsink& out)
{
    kindbytestream const& k = d.kind.stream;
    printto(out, "data %u bytes ", d.size);
    switch (k.sourcekind) {
    case source_stdio:
        printto(out, "stdio %dx%d tty=%u ", k.source.stdio.columns, k.source.stdio.rows, k.source.stdio.isterminal);
        break;
    case source_file: printto(out, "file pos %u size %u ", k.source.file.position, k.source.file.filesize); break;
    case source_udp: printto(out, "udp %i:%u ", k.source.net.address, k.source.net.port); break;
    case source_tcp: printto(out, "tcp %i:%u ", k.source.net.address, k.source.net.port); break;
    case source_process: printto(out, "process pid %u exitcode %d ", k.source.process.pid, k.source.process.exitcode); break;
    default: break;
    }
    if (k.mime)
        printto(out, "mime %s ", data::getmimestring(k.mime));
    if (k.charset == charset_latin1)
        printto(out, "latin-1 ");
}

static char const* filekindword(u8 kind)
{
    switch (kind) {
    case filekind_directory: return "dir   ";
    case filekind_file: return "file  ";
    case filekind_block: return "bldev ";
    case filekind_char: return "chdev ";
    case filekind_pipe: return "pipe  ";
    case filekind_socket: return "sock  ";
    case filekind_other: return "?     ";
    default: return nullptr;
    }
}

// The 18-character size column of a file line.
static void printfilesize(kindfile const& k, printsink& out)
{
    bool device = k.filekind == '9' || k.filekind == ':';
    bool unknown = k.flags & 2;
    if (k.filesize == 0 && device)
        printto(out, "          %3u,%3u ", k.major, k.minor);
    else if (k.filesize == 0 && k.filekind != '8')
        printto(out, "                  ");
    else if (unknown)
        printto(out, "size unknown      ");
    else
        printto(out, "size %12u ", k.filesize);
}

static void printfile(data const& d, printsink& out)
{
    kindfile const& k = d.kind.file;
    char const* name = payloadstring(d, 0);
    printto(out, "%64s ", name);            // null prints as blanks
    bool link = k.flags & 1;
    printto(out, link ? "link to " : "        ");
    char const* word = filekindword(k.filekind);
    if (word)
        printto(out, "%s", word);
    else
        printto(out, "type %u ", k.filekind);
    printfilesize(k, out);
    printto(out, "perm %u%u%u ", k.permission[0], k.permission[1], k.permission[2]);
    printto(out, "%D", k.mtime);
    if (link)
        printto(out, " %s", name ? payloadstring(d, strlen(name) + 1) : nullptr);
}

static void printrdbin(data const& d, printsink& out)
{
    kindrdbin const& k = d.kind.rdbin;
    if (!isempty(k.deviceid))
        printto(out, "devid %s ", k.deviceid);
    switch (k.code) {
    case 184: {
        printto(out, "regs read adr %u cnt %u id %u  ", k.address, k.count, k.id);
        u16 const* values = (u16 const*)d.payload;
        u32 n = values ? kzv_min(k.count, 6u) : 0;
        for (u32 i = 0; i < n; i++)
            printto(out, " %u", values[i]);
        printto(out, "...");
        break;
    }
    case 187: printto(out, "regs written adr %u cnt %u id %u", k.address, k.count, k.id); break;
    case 188: printto(out, "ram written adr 0x%x cnt %u id %u", k.address, k.count, k.id); break;
    case 189: printto(out, "flash written adr 0x%x cnt %u id %u", k.address, k.count, k.id); break;
    case 190: printto(out, "backupregister written reg %u v %u id %u", k.address, k.count, k.id); break;
    case 191: printto(out, "eeprom read adr %u 0x%x cnt %u id %u", k.address, k.address, k.count, k.id); break;
    case 192: printto(out, "sram read adr %u 0x%x cnt %u id %u", k.address, k.address, k.count, k.id); break;
    case 193: printto(out, "realtime 32 data id %u cnt %u", k.id, k.count); break;
    default: printto(out, "code %u", k.code); break;
    }
}

static void printscanline(data const& d, printsink& out)
{
    kindscanline const& k = d.kind.scanline;
    printto(out, "%ux%u ln %d format %u ", k.width, k.height, k.line, k.pixelformat);
    if (k.flags & 1)
        printto(out, "upsidedown ");
    if (k.flags & 2)
        printto(out, "interlaced ");
    if (k.flags & 4)
        printto(out, "analog ");
}

static void printtone(data const& d, printsink& out)
{
    kindtone const& k = d.kind.tone;
    if (k.frequency)
        printto(out, "ch %2u %5uHz %4ums dev %2u", k.channel, k.frequency, k.length, k.device);
    else
        printto(out, "ch %2u     -- %5ums dev %2u", k.channel, k.length, k.device);
    printto(out, " dur %3u.%03us", k.duration / 1000, k.duration % 1000);
    if (k.devices)
        printto(out, " devs %2u", k.devices);
    if (k.channels)
        printto(out, " chs %2u", k.channels);
    printto(out, " inst %3u", k.instrument);
}

static void printsound(data const& d, printsink& out)
{
    data filled = d;                    // the defaults show in the dump, the packet stays as it is
    filled.checkdefaults();
    kindsound const& k = filled.kind.sound;
    u32 bytespersample = k.bits <= 8 ? 1 : k.bits <= 16 ? 2 : 4;
    u32 samples = d.size / (k.channels * bytespersample);
    printto(out, "channels %u bits %u rate %u ==> samples %u", k.channels, k.bits, k.rate, samples);
    if (k.flags & 1)
        printto(out, " (silence)");
}

static void printhttperror(data const& d, printsink& out)
{
    printto(out, "%u", d.kind.httperror.status);
    char const* text = (char const*)d.payload;
    if (!isempty(text))
        printto(out, " %s", text);
}

// Node state: bit 1 ends a branch, bit 0 continues it.
static void printtree(data const& d, printsink& out)
{
    kindtree const& k = d.kind.tree;
    printto(out, (k.flags & 2) ? ((k.flags & 1) ? "cne" : "end") : ((k.flags & 1) ? "cnt" : "dsc"));
    char const* path = (char const*)d.payload;
    u32 n = strlen(path);
    if (n < 71)
        printto(out, " %74s ", path);
    else
        printto(out, " ...%s ", path + n - 70);
    switch (k.valuetype) {
    case 1: printto(out, " %12d (i)", k.value.i); break;
    case 2: printto(out, "     %8h (i100)", k.value.i); break;
    case 3: printto(out, "       %12.6f (f)", k.value.f); break;
    case 4: printto(out, "       %12.6f (d)", vprinter_tofloat(k.value.d)); break;
    case 5: printto(out, " \"%70s\"", payloadstring(d, k.stringoffset)); break;
    default: printto(out, " type %u", k.valuetype); break;
    }
}

static void printaac(data const& d, printsink& out)
{
    kindaac const& k = d.kind.aac;
    printto(out, "%4u bytes", d.size);
    printto(out, " freq[%2u] %5u", k.frequencyindex, k.frequency);
    printto(out, " t %u", k.t);
    printto(out, " ch %u", k.ch);
    printto(out, " f %u", k.f);
    printto(out, " v %u", k.v);
    printto(out, " bf %4u", k.bf);
}

static void printgui(data const& d, printsink& out)
{
    kindgui const& k = d.kind.gui;
    printto(out, "%ux%u fmt %u  realtime %u windows %u", k.width, k.height, k.format, k.flags & 1, (k.flags >> 1) & 1);
    guiscreen const* screens = (guiscreen const*)d.payload;
    if (k.screens < 2 || !screens)
        return;
    for (u32 i = 0; i < k.screens; i++) {
        guiscreen const& s = screens[i];
        printto(out, "\n    screen %5d.%5d %4dx%4d fmt %u", s.x, s.y, s.width, s.height, s.format);
    }
}

static void printuimessage(data const& d, printsink& out)
{
    enum : u8 { none, position, key };
    static const struct { u8 code; u8 arguments; char const* format; } messages[] = {
        {ui_resized, position, "window resized ==> %dx%d"}, {ui_closed, none, "window closed"},
        {ui_moved, position, "window moved ==> %d.%d"}, {ui_leftdown, position, "left button down at %d.%d"},
        {ui_leftup, position, "left button up at %d.%d"}, {ui_middledown, position, "middle button down at %d.%d"},
        {ui_middleup, position, "middle button up at %d.%d"}, {ui_rightdown, position, "right button down at %d.%d"},
        {ui_rightup, position, "right button up at %d.%d"}, {ui_mousemoved, position, "mouse moved ==> %d.%d"},
        {ui_keydown, key, "key down %u 0x%x"}, {ui_keyup, key, "key up %u 0x%x"},
        {ui_wheelup, position, "wheel up at %d.%d"}, {ui_wheeldown, position, "wheel down at %d.%d"},
        {ui_paint, none, "paint window"},
    };
    kinduimessage const& k = d.kind.ui;
    for (auto const& m : messages) {
        if (m.code != k.code)
            continue;
        if (m.arguments == position)
            printto(out, m.format, k.x, k.y);
        else if (m.arguments == key)
            printto(out, m.format, k.x, k.x);
        else
            printto(out, m.format);
        return;
    }
    printto(out, "%u %d %d", k.code, k.x, k.y);
}

static void printtablerow(data const& d, printsink& out)
{
    kindtablerow const& k = d.kind.tablerow;
    char const* table = (char const*)d.payload;
    if (!isempty(table))
        printto(out, "\"%s\" ", table);
    if (k.id)
        printto(out, "id %u", k.id);
    if (!k.values)
        return;
    for (u32 i = 0; i < k.columns; i++) {
        if (k.names)
            printto(out, "\n[%3u] %20s %70s", i, k.names[i], k.values[i]);
        else
            printto(out, "\n[%3u]                      %70s", i, k.values[i]);
    }
}

static void printregisters(data const& d, printsink& out, u32 cap)
{
    kindregister const& k = d.kind.reg;
    printto(out, "device %u addr 0x%04x %5u count %4u", k.device, k.address, k.address, k.count);
    u16 const* values = (u16 const*)d.payload;
    u32 n = values ? kzv_min((u32)k.count, cap) : 0;
    for (u32 i = 0; i < n; i++)
        printto(out, " %04x", values[i]);
}

static void printmqtt(data const& d, printsink& out)
{
    kindmqtt const& k = d.kind.mqtt;
    if (k.sender)
        printto(out, "from %s ", k.sender->name);
    if (d.type == type_subscribe) {
        printto(out, "topic: %s", k.topic);
        return;
    }
    printto(out, "topic: %s\n", k.topic);
    printto(out, "%s", (char const*)d.payload);
}

void data::printdata() const
{
    printsink out = printsink_console(channel_stderr);
    printdata(out);
}

static void printtime(data const& d, printsink& out)
{
    kindtime const& k = d.kind.time;
    printto(out, "%02u.%02u.%04u %02u:%02u:%02u gmt %d min", k.day, k.month, k.year, k.hour, k.minute, k.second,
            k.gmtoffset);
}

static void printterminal(data const& d, printsink& out)
{
    kindterminal const& k = d.kind.terminal;
    printto(out, "%dx%d cursor at %d.%d  vt100lines=%d colors=%d tabs=%d", k.columns, k.rows, k.cursorcolumn,
            k.cursorrow, k.linedrawing & 1, k.colours, k.tabwidth);
}

static void printlogin(data const& d, printsink& out)
{
    kindlogin const& k = d.kind.login;
    printto(out, "protocol %s user %s pw %s %i:%u", data::getprotocolstring(k.protocol), k.user, k.password,
            k.address, k.port);
}

static void printusb(data const& d, printsink& out)
{
    kindusb const& k = d.kind.usb;
    printto(out, "vendor %04x product %04x \"%s\" \"%s\"", k.vendor, k.product, k.manufacturer, k.productname);
}

static void printbitwrite(data const& d, printsink& out)
{
    kindbitwrite const& k = d.kind.bitwrite;
    printto(out, "device %u addr 0x%04x %5u value %u", k.device, k.address, k.address, k.value);
}

static bool isrequest(s8 type) { return type >= type_filerequest && type <= type_renamerequest; }

// The record dumps; the email and message dumps end their own lines and answer
// true, a missing record prints nothing.
static bool printrecords(data const& d, printsink& out)
{
    if (isrequest(d.type) && d.kind.request.request)
        d.kind.request.request->print(out, d.type);
    if (d.type == type_textobject && d.kind.textobject.object)
        d.kind.textobject.object->print(out);
    if (d.type == type_email && d.kind.email.email) {
        d.kind.email.email->print(out);
        return true;
    }
    if (d.type == type_message && d.kind.message.msg) {
        d.kind.message.msg->print(out);
        return true;
    }
    return false;
}

void data::printdata(printsink& out) const
{
    printto(out, "%s ", gettypestring());
    switch (type) {
    case type_bytestream: printbytestream(*this, out); break;
    case type_file: printfile(*this, out); break;
    case type_record: printto(out, "addr %08x len %8u", kind.record.address, size); break;
    case type_ip: printto(out, "%s %i", kind.ip.name, kind.ip.address); break;
    case type_time: printtime(*this, out); break;
    case type_terminal: printterminal(*this, out); break;
    case type_rdbin: printrdbin(*this, out); break;
    case type_scanline: printscanline(*this, out); break;
    case type_tone: printtone(*this, out); break;
    case type_sound: printsound(*this, out); break;
    case type_httperror: printhttperror(*this, out); break;
    case type_tree: printtree(*this, out); break;
    case type_aac: printaac(*this, out); break;
    case type_gui: printgui(*this, out); break;
    case type_uimessage: printuimessage(*this, out); break;
    case type_tablerow: printtablerow(*this, out); break;
    case type_tableend:
        if (kind.tableend.id)
            printto(out, "id %u", kind.tableend.id);
        break;
    case type_loginrequest: printlogin(*this, out); break;
    case type_newconnection:
        printto(out, "protocol %s netadr %i:%u", getprotocolstring(kind.connection.protocol),
                kind.connection.address, kind.connection.port);
        break;
    case type_mqtt: case type_subscribe: printmqtt(*this, out); break;
    case type_connected: case type_disconnected:
        printto(out, "protocol %s %s", getprotocolstring(kind.connected.protocol), kind.connected.text);
        break;
    case type_filesystem:
        printto(out, "%s total %m free %m", (char const*)payload, kind.filesystem.total, kind.filesystem.free);
        break;
    case type_usb: printusb(*this, out); break;
    case type_reg16read: printregisters(*this, out, 4); break;
    case type_reg16write: printregisters(*this, out, 8); break;
    case type_bitwrite: printbitwrite(*this, out); break;
    case type_dnsrequest: printto(out, "%s", kind.dns.name); break;
    default:
        if (printrecords(*this, out))
            return;
        break;
    }
    printto(out, "\n");
}

void message::print(printsink& out) const
{
    printto(out, "message command=%u\n", command);
    if (!items)
        return;
    for (u32 i = 0; i < count; i++) {
        messageitem const* item = items[i];
        if (!item)
            continue;
        switch (item->type) {
        case item_int: printto(out, "  int %d\n", item->value); break;
        case item_string: printto(out, "  str %s\n", (char const*)item->pointer); break;
        case item_intarray: printto(out, "  int[%u]\n", item->value); break;
        case item_string16: printto(out, "  str16 %s\n", (u16 const*)item->pointer); break;
        default: break;
        }
    }
}

void emailinfoclass::print(printsink& out) const
{
    printto(out, "id %u:\n", id);
    printto(out, "    from:     %s\n", from);
    printto(out, "    to:       %s\n", to);
    if (!isempty(cc))
        printto(out, "    cc:       %s\n", cc);
    if (!isempty(bcc))
        printto(out, "    bcc:      %s\n", bcc);
    if (!isempty(replyto))
        printto(out, "    reply to: %s\n", replyto);
    printto(out, "    subject:  %s\n", subject);
    printto(out, "    time:     %D\n", time);
}

// An inline text field, terminated or not, as a terminated copy.
template <u32 N> static char const* inlinetext(char const (&field)[N], char (&copy)[N + 1])
{
    u32 i = 0;
    for (; i < N && field[i]; i++)
        copy[i] = field[i];
    copy[i] = 0;
    return copy;
}

static void printlist(printsink& out, char const* format, char const* const* list)
{
    if (!list)
        return;
    for (u32 i = 0; list[i]; i++)
        printto(out, format, i, list[i]);
}

void filerequest::print(printsink& out, s8 type) const
{
    static char const* const headings[] = {
        "filerequest ID %u:\n", "savefilerequest ID %u:\n", "appendfilerequest ID %u:\n", "dirrequest ID %u:\n",
        "createdirrequest ID %u:\n", "fileinforequest ID %u:\n", "deletefilerequest ID %u:\n",
        "renamefilerequest ID %u:\n",
    };
    if (isrequest(type))
        printto(out, headings[type - type_filerequest], id);
    if (protocol == protocol_http)
        printto(out, "    HTTP\n");
    else if (protocol == protocol_gopher)
        printto(out, "    GOPHER\n");
    else if (protocol == protocol_ftp)
        printto(out, "    FTP\n");
    if (method == method_get)
        printto(out, "    GET\n");
    else if (method == method_post)
        printto(out, "    POST\n");
    printto(out, "    file:         %s\n", file);
    if (type == type_renamerequest && !isempty(newname))
        printto(out, "    new:          %s\n", newname);
    if (!isempty(host))
        printto(out, "    host:         %s\n", host);
    printlist(out, "    param[%4u]:  %s\n", parameters);
    printlist(out, "    cookie[%4u]: %s\n", cookies);
    if (datasize)
        printto(out, "    data:         %u bytes\n", datasize);
    char languagecopy[FILEREQUEST_LANGUAGE + 1], agentcopy[FILEREQUEST_AGENT + 1];
    if (language[0])
        printto(out, "    lang:         %s\n", inlinetext(language, languagecopy));
    if (!isempty(user))
        printto(out, "    user:         %s\n", user);
    if (address || port)
        printto(out, "    connection:   %i:%u\n", address, port);
    if (offset)
        printto(out, "    offset:       %u\n", offset);
    if (agent[0])
        printto(out, "    agent:        %s\n", inlinetext(agent, agentcopy));
    if (!isempty(info))
        printto(out, "    info:         %s\n", info);
}

void textobject::print(printsink& out) const
{
    printto(out, "textobject ");
    if (kind == 1)
        printto(out, "word %4d.%4d %4dx%4d id %4u %s", x, y, width, height, id, text);
    else
        printto(out, "type %u", kind);
}

} // namespace kzv
