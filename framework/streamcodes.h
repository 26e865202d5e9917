// The stream command codes. A stream answers all of them on its module callback;
// transform and codec modules answer those that move bytes and records; every
// other module gives the default replies of module.h. The letters are the module
// protocol itself, so a code never changes its value.
#pragma once

namespace kzv {

enum : unsigned {
    stream_getline = 'B', stream_read = 'C', stream_readrecord = 'D', stream_getrecord = 'E',
    stream_getbyte = 'F', stream_giveback = 'G', stream_restart = 'H', stream_writetext = 'I',
    stream_write = 'J', stream_writerecord = 'K', stream_writebyte = 'L', stream_writeline = 'M',
    stream_close = 'N', stream_reset = 'P', stream_setbuffering = 'Q', stream_setdirect = 'R',
    stream_seteol = 'S', stream_setlimit = 'T', stream_setposition = 'U', stream_pending = 'V',
    stream_newconnection = ']',
};

} // namespace kzv
