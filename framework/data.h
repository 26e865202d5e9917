// Typed data packets: a type code, a payload length, 24 bytes of type-specific
// words and a payload pointer. Every module record begins with this header, so a
// module can be handed out as a packet of the type it produces.
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

union datakind {            // the type-specific words; each packet kind names its own
    u8 b[24];
    u16 h[12];
    u32 w[6];
    u64 q[3];
};

class data {
public:
    u32 size;               // payload length in bytes
    s8 type;
    u8 flags;
    u8 state;               // module use: bit 0 registered with the scheduler
    u8 spare;
    datakind kind;
    void* payload;

    data() { clear(); }
    void clear();           // zeroes the header and sets type 6
};

static_assert(sizeof(datakind) == 24, "kind words");
static_assert(sizeof(data) == 32 + sizeof(void*), "data header layout");

} // namespace kzv
