// Typed data packets: a type code, a payload length, 24 bytes of type-specific
// words and a payload pointer. Every module record begins with this header, so a
// module can be handed out as a packet of the type it produces. The packet owns
// nothing: payloads and the pointers in the kind words belong to the producer.
// `printdata` dumps a packet on standard error; it reads payload arrays only up to
// their stated count and a fixed cap, and prints null strings as empty ones.
#pragma once
#include "types.h"

namespace kzv {

enum datatype : s8 {
    type_bytestream = 6, type_file = 7, type_record = 8, type_ip = 9, type_time = 10,
    type_terminal = 11, type_rdbin = 12, type_scanline = 13, type_tone = 14,
    type_sound = 15, type_json = 16, type_httperror = 17, type_tree = 18, type_aac = 19,
    type_gui = 20, type_uimessage = 21, type_tablerow = 22, type_tableend = 23,
    type_loginrequest = 24, type_filerequest = 25, type_savefilerequest = 26,
    type_appendfilerequest = 27, type_dirrequest = 28, type_mkdirrequest = 29,
    type_fileinforequest = 30, type_deleterequest = 31, type_renamerequest = 32,
    type_newconnection = 33, type_http = 34, type_email = 35, type_mqtt = 36,
    type_subscribe = 37, type_connected = 38, type_disconnected = 39, type_message = 40,
    type_filesystem = 41, type_usb = 42, type_reg16read = 43, type_reg16write = 44,
    type_bitwrite = 45, type_dnsrequest = 46, type_textobject = -42,
};

// Bytestream sources, media types and protocols as the kind words carry them.
enum : u8 {
    source_stdio = 47, source_file = 48, source_udp = 49, source_tcp = 50, source_process = 51,
};
enum : u8 { charset_latin1 = 208 };
enum : u8 {
    protocol_http = 1, protocol_ftp = 3, protocol_gopher = 4, protocol_tcp = 5, protocol_mqtt = 6,
};
enum : u8 { method_get = 209, method_post = 210 };
enum : u8 {                 // user-interface message codes (type 21)
    ui_resized = 162, ui_closed = 163, ui_moved = 164, ui_leftdown = 165, ui_leftup = 166,
    ui_middledown = 167, ui_middleup = 168, ui_rightdown = 169, ui_rightup = 170,
    ui_mousemoved = 173, ui_keydown = 174, ui_keyup = 175, ui_wheelup = 177, ui_wheeldown = 178,
    ui_paint = 180,
};

class message;
class emailinfoclass;
class filerequest;
class textobject;

// The kind words of each packet type: naturally aligned, unpacked, 24 bytes at
// offset 8 of the header on every target.
struct kindbytestream {
    union {
        struct { u8 isterminal; u8 sizeknown; u8 rawrefused; u16 columns; u16 rows; } stdio;
        struct { u64 filesize; u64 position; } file;
        struct { u32 address; u16 port; } net;
        struct { s32 exitcode; u32 pid; } process;
    } source;
    u8 mime;
    u8 sourcekind;
    u8 charset;
};
struct kindfile {
    u8 permission[3];       // owner, group, others: 4 read, 2 write, 1 execute
    u8 filekind;            // '7' directory ... '=' other
    u8 flags;               // bit 0 symbolic link, bit 1 size unknown
    u8 major, minor;
    u32 mtime;              // local seconds since 1970
    u32 unused;             // keeps the size at byte 16 where u64 aligns to 4 (i386)
    u64 filesize;
};
struct kindrecord { u32 address; };
struct kindip { u32 address; char const* name; };
struct kindtime { s16 gmtoffset; u16 year; u8 day, month, hour, minute, second; };
struct kindterminal {
    u8 linedrawing; u8 colours; u8 tabwidth;
    s16 columns, rows, cursorcolumn, cursorrow;
};
struct kindrdbin { u8 code; u32 id; u32 address; u32 count; char const* deviceid; };
struct kindscanline {
    u8 flags;               // 1 upside down, 2 interlaced, 4 analog
    u16 pixelformat;
    s32 line;
    u32 width, height;
    u32 const* palette;     // colour words: 2 entries for format 1, 256 for 8 and 332
};
struct kindtone {
    u8 channel, device, channels, devices, instrument;
    u16 frequency;          // Hz, 0 = pause
    u16 length;             // ms
    u32 duration;           // ms
};
struct kindsound { u8 flags; u8 channels; u8 bits; u32 rate; };
struct kindhttperror { u16 status; };
struct kindtree {
    u8 flags;               // bit 0 and bit 1: the node state
    u8 valuetype;           // 1 int, 2 hundredths, 3 float, 4 double, 5 string
    u16 stringoffset;       // of the string value within the payload
    u32 unused;             // keeps the value at byte 8 on every target
    union { s32 i; float f; double d; } value;
};
struct kindaac { u8 t, frequencyindex, v, ch, f; u16 bf; u32 frequency; };
struct kindgui { u8 flags; u8 screens; u16 width, height; u32 format; };
struct guiscreen { s32 x, y, width, height; u32 format; };
struct kinduimessage { u8 code; s32 x; s32 y; };     // x holds the key code of key events
struct kindtablerow { u32 columns; u32 id; char const* const* names; char const* const* values; };
struct kindtableend { u32 id; };
struct kindlogin { u8 protocol; u16 port; u32 address; char const* user; char const* password; };
struct kindrequest { filerequest* request; };
struct kindconnection { u8 protocol; u16 port; u32 address; };
struct kindemail { emailinfoclass* email; };
struct mqttsender { char const* name; };
struct kindmqtt { mqttsender const* sender; char const* topic; };
struct kindconnected { u8 protocol; char const* text; };
struct kindmessage { message* msg; };
struct kindfilesystem { u64 total; u64 free; };
struct kindusb { u16 vendor; u16 product; char const* manufacturer; char const* productname; };
struct kindregister { u16 device; u16 address; u16 count; };
struct kindbitwrite { u8 value; u16 device; u16 address; };
struct kinddns { char const* name; };
struct kindtextobject { textobject* object; };

union datakind {
    u8 b[24];
    u16 h[12];
    u32 w[6];
    u64 q[3];
    kindbytestream stream;
    kindfile file;
    kindrecord record;
    kindip ip;
    kindtime time;
    kindterminal terminal;
    kindrdbin rdbin;
    kindscanline scanline;
    kindtone tone;
    kindsound sound;
    kindhttperror httperror;
    kindtree tree;
    kindaac aac;
    kindgui gui;
    kinduimessage ui;
    kindtablerow tablerow;
    kindtableend tableend;
    kindlogin login;
    kindrequest request;
    kindconnection connection;
    kindemail email;
    kindmqtt mqtt;
    kindconnected connected;
    kindmessage message;
    kindfilesystem filesystem;
    kindusb usb;
    kindregister reg;
    kindbitwrite bitwrite;
    kinddns dns;
    kindtextobject textobject;
};

struct printsink;

class data {
public:
    u32 size;               // payload length in bytes
    s8 type;
    u8 flags;               // with `state`: a stream's little-endian 16-bit state word
    u8 state;               // module use: bit 0 registered with the scheduler
    u8 spare;
    datakind kind;
    void* payload;

    data() { clear(); }
    void clear();           // zeroes the header and sets type 6

    char const* gettypestring() const;      // "---" for codes without a name
    static char const* getmimestring(u8 code);          // "?" for unknown codes
    static char const* getprotocolstring(u8 protocol);  // "---" for unknown codes
    void checkdefaults();   // file: rwx for all and kind file; sound: 2 channels, 16 bits, 44100
    void printdata() const;                 // one line on standard error
    void printdata(printsink& out) const;
};

static_assert(sizeof(datakind) == 24, "kind words");
static_assert(__builtin_offsetof(data, kind) == 8, "kind words start at offset 8");
static_assert(__builtin_offsetof(data, payload) == 32, "payload behind the kind words");
static_assert(sizeof(void*) != 8 || sizeof(data) == 40, "data header is 40 bytes on 64-bit targets");
static_assert(__builtin_offsetof(kindbytestream, mime) == 16, "bytestream media code in byte 16");
static_assert(__builtin_offsetof(kindtree, value) == 8, "tree value in bytes 8-15");
static_assert(__builtin_offsetof(kindfile, mtime) == 8 && __builtin_offsetof(kindfile, filesize) == 16, "file words");

// The payload records some packets point to, printed by their own dumps.
struct messageitem {
    u8 type;                // 1 int, 2 string, 3 int array, 4 UTF-16 string
    s32 value;              // the int, or the array's count
    void const* pointer;
};
enum : u8 { item_int = 1, item_string = 2, item_intarray = 3, item_string16 = 4 };

class message {
public:
    u32 command;
    u32 count;
    messageitem const* const* items;
    void print(printsink& out) const;
};

class emailinfoclass {
public:
    u32 id;
    char const* from;
    char const* to;
    char const* cc;
    char const* bcc;
    char const* replyto;
    char const* subject;
    u32 time;               // seconds since 1970
    void print(printsink& out) const;
};

const u32 FILEREQUEST_LANGUAGE = 32;
const u32 FILEREQUEST_AGENT = 128;

class filerequest {
public:
    u8 protocol;            // 1 HTTP, 3 FTP, 4 GOPHER
    u8 method;              // 209 GET, 210 POST
    u16 port;
    u32 datasize;
    u32 address;
    u32 id;
    u64 offset;
    char const* file;
    char const* info;
    char const* newname;
    char const* host;
    char const* user;
    char const* const* parameters;     // null-terminated
    char const* const* cookies;        // null-terminated
    char language[FILEREQUEST_LANGUAGE];
    char agent[FILEREQUEST_AGENT];
    void print(printsink& out, s8 type) const;
};

class textobject {
public:
    u8 kind;                // 1 word
    s32 x, y, width, height;
    u32 id;
    char const* text;
    void print(printsink& out) const;
};

} // namespace kzv
