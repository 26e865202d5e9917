// Byte-stream modules: the record, commands and buffering that `file`, `stdio`,
// `pipe` and `tcp` share; each supplies only its device operations. Reads and
// writes never block: output the device refuses stays buffered and the scheduler
// retries it. Buffers belong to the stream (its pool); bytes handed out by 'B',
// 'C' and 'D' stay valid until the next command. A buffer never grows past
// STREAM_MAXBUFFER: a request that cannot be kept leaves both buffers unchanged.
#pragma once
#include "mem.h"
#include "module.h"
#include "streamcodes.h"

namespace kzv {

class stream;

// The device side of a stream. `read` stores up to `count` bytes and answers how
// many (0 for none now); `write` answers how many bytes it took (0 for none now).
// Either may set end of input, discard or the error bit to report the device's
// end. `exit` is the module's own exit: release the device and the buffers, and
// unless `keep`, clear the record and init it again with the same pool.
struct streamdevice {
    int (*read)(stream* s, u8* buffer, u32 count);
    int (*write)(stream* s, u8 const* bytes, u32 count);
    void (*exit)(stream* s, bool keep);
};

// `control` bits.
enum : u8 {
    control_endofinput = 0x01,  // the device has no more input
    control_discard = 0x02,     // the peer is gone: pending output is dropped
    control_closereq = 0x04,    // close was requested
    control_blocked = 0x08,     // output refused (stdio), or close waits for the hold
    control_hold = 0x10,        // stay open at end of input
    control_packetmode = 0x20,  // 'D' hands out connections (tcp); others answer 0
};

// The 16-bit state word: the header's flags byte (low) and state byte (high).
enum : u16 {
    streamstate_error = 0x0001,
    streamstate_endseen = 0x0004,     // nothing more will come
    streamstate_limit = 0x0008,       // the write buffer is at `writelimit`
    streamstate_closecalled = 0x0020,
    streamstate_open = 0x0040,
    streamstate_registered = 0x0100,  // the header's scheduler bit
    streamstate_buffered = 0x0200,
    streamstate_direct = 0x0400,      // 'R': writes go to the device or answer 0
    streamstate_reconnect = 0x0800,   // tcp
    streamstate_trace = 0x4000,       // tcp
};

enum : u8 { access_readable = 1, access_writable = 2 };

const u32 STREAM_MAXREAD = 0x80000;      // one device read asks for at most 512 KiB
// Far above any line, repaint or file chunk the program moves; refusing larger
// buffers keeps every 32-bit offset below wrapping.
const u32 STREAM_MAXBUFFER = 0x4000000;
const u32 STREAM_FLUSHMS = 10;           // retry interval for pending output

// Room for n more bytes behind `end` in a buffer whose live bytes start at `pos`:
// an emptied buffer starts over, live bytes move down (overlap-safe), and the
// buffer grows to a multiple of 256 from `pool`. Null, with the buffer unchanged,
// when the room would pass `maximum` or the pool refuses. Both stream buffers and
// a transform module's output buffer use it; it is inline, so that a module using
// it links no stream code.
inline u8* bufferreserve(mem* pool, u8*& buffer, u32& capacity, u32& end, u32& pos, u32 live,
                         u32 n, u32 maximum)
{
    if (live == 0)
        end = pos = 0;
    if ((u64)capacity - end < n && pos > 0) {
        memmove(buffer, buffer + pos, live);    // the ranges overlap
        end = live;
        pos = 0;
    }
    if ((u64)capacity - end < n) {
        u64 want = ((u64)n + end + 255) & ~(u64)255;
        if (want > maximum)
            return nullptr;
        u8* grown = (u8*)(buffer ? pool->resize(buffer, want) : pool->getmem(want));
        if (!grown)
            return nullptr;
        buffer = grown;
        capacity = (u32)want;
    }
    return buffer + end;
}

class stream : public module {
public:
    u8 control;
    u32 readchunk;          // least bytes one device read asks for
    u32 writelimit;         // most bytes buffered while writes are buffered; 0 = none
    u32 readbufsize;
    u32 readend;            // end of the filled part
    u32 readpos;            // start of the unread bytes; those before can be given back
    u32 readcount;          // readend - readpos
    u32 writebufsize;
    u32 writeend;
    u32 writepos;           // start of the bytes not yet sent
    u32 writecount;
    s32 writemode;          // 0 straight to the device, 3 through the buffer
    s32 linestate;          // 1 last line ended with CR, 2 with LF, else 0
    char eol[3];            // what 'M' appends
    u8 access;
    u8* readbuf;
    u8* writebuf;
    u32 interval;           // the scheduler interval while registered
    streamdevice const* device;

    // Set up by the concrete module's init after it has cleared the record.
    void initstream(mem* p, char const* modulename, modulecallback cb, u8 kindbyte,
                    u32 chunk, streamdevice const* dev);
    // The reply to every command the concrete module does not handle itself.
    sptr command(unsigned cmd, int a, int b, void const* p);

    // The state word.
    u16 stateword() const { return (u16)(flags | (state << 8)); }
    bool hasstate(u16 bits) const { return (stateword() & bits) != 0; }
    void setstate(u16 bits);
    void clearstate(u16 bits);
    bool isopen() const { return hasstate(streamstate_open); }
    bool canread() const;
    bool canwrite() const;

    // Reading.
    u8* readbufreserve(u32 n);
    u32 fetch(u32 n);                       // one device read of n bytes into the buffer
    sptr read(u8** p, u32 n);
    sptr getbyte();
    sptr getline(char** p);
    sptr giveback(int n);

    // Writing.
    u8* writebufget(u32 n);
    sptr write(void const* p, u32 n);
    sptr writerecord(data const* d);       // bytestream records only
    sptr writebyte(u8 byte);
    sptr writeline(char const* text);
    void setdirect(bool on);
    void checkwrite();
    void setbuffering(bool on);
    void seteol(char const* p);

    // Lifecycle.
    void checkclosed();
    sptr close();
    sptr cyclic();
    void resetkeepconnections();
    void restartbuffers();                  // the skeleton's part of 'H'
    void freebuffers();
    void dropoutput();                      // pending output is thrown away
    void releasestream();                   // the skeleton's part of every exit
    void registerat(u32 ms);
    void keepflushing();
    void unregister();
    void settle();                          // nothing pending: off the scheduler unless the hold waits

private:
    sptr writedirect(u8 const* p, u32 n);
    sptr appendwrite(u8 const* p, u32 n);
    sptr writebuffered(u8 const* p, u32 n);
    u32 devicewrite(u8 const* p, u32 n);
    void freewritebuf();
    void noinput();
    bool skiplineendpair();
    sptr scanline(char** p, u32 from);
    sptr lastline(char** p);
    sptr readrecord(data** p, int n);
};

} // namespace kzv
