// `pin::writef`: formats into a 1 KiB scratch buffer of the process pool (capacity
// 1000, text clipped at byte 1023) and hands the text to the peer's owner as 'J'
// (a = length, p = text) with the peer as that owner's current pin. The receiver
// copies the bytes before it returns: the scratch buffer is given back at once.
// Unconnected, or without a scratch buffer, the call answers 0.
#pragma once
#include "module.h"
#include "streamcodes.h"
#include "sysprocess.h"
#include "vprinter.h"

namespace kzv {

const u32 WRITEF_BUFFERSIZE = 1024;
const u32 WRITEF_CAPACITY = 1000;

template <class... A> sptr pin::writef(char const* format, A... args)
{
    u8* scratch = process->pool.gettmp1k();
    if (!scratch)
        return 0;
    vprinterdata d;
    vprinter_begin(&d, (char*)scratch, WRITEF_BUFFERSIZE, WRITEF_CAPACITY, format);
    vprinter_int(&d, args...);
    sptr reply = 0;
    if (peer && peer->owner)
        reply = module_callthrough(peer->owner, peer, stream_write, (int)d.length, 0, scratch);
    process->pool.freetmp1k();
    return reply;
}

} // namespace kzv
