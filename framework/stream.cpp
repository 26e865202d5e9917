// The stream skeleton. Invariants: readcount = readend - readpos <= readbufsize and
// writecount = writeend - writepos <= writebufsize; a null buffer has size 0. The
// write buffer is freed after every complete flush. A stream with pending output
// stays registered with the scheduler until the output is out or discarded, and
// it calls `startthread` only when it is not registered or its interval changes,
// because every `startthread` re-bases all modules' next steps.
#include "stream.h"
#include "mem.h"
#include "str.h"
#include "sysprocess.h"

namespace kzv {

static const u8 CR = 13, LF = 10;

void stream::initstream(mem* p, char const* modulename, modulecallback cb, u8 kindbyte,
                        u32 chunk, streamdevice const* dev)
{
    initheader(p, modulename, cb, type_bytestream);
    kind.stream.sourcekind = kindbyte;
    readchunk = chunk;
    eol[0] = (char)LF;
    device = dev;
}

void stream::setstate(u16 bits)
{
    flags = (u8)(flags | (bits & 0xff));
    state = (u8)(state | (bits >> 8));
}

void stream::clearstate(u16 bits)
{
    flags = (u8)(flags & ~(bits & 0xff));
    state = (u8)(state & ~(bits >> 8));
}

bool stream::canread() const
{
    return !hasstate(streamstate_error) && isopen() && (access & access_readable);
}

bool stream::canwrite() const
{
    return !hasstate(streamstate_error) && isopen() && (access & access_writable);
}

void stream::registerat(u32 ms)
{
    if (hasstate(streamstate_registered) && interval == ms)
        return;
    process->startthread(this, ms);     // sets the registered bit, unless it had no room
    if (hasstate(streamstate_registered))
        interval = ms;
}

// Pending output needs the scheduler; a stream that is registered already keeps
// its interval (stdio retries at 1 ms).
void stream::keepflushing()
{
    if (!hasstate(streamstate_registered))
        registerat(STREAM_FLUSHMS);
}

// Nothing is pending: a refusal that is over no longer needs the retry step, and
// the device registers again when it refuses the next write. A close that waits
// for the hold keeps its step.
void stream::settle()
{
    if (!(control & control_hold))
        control &= (u8)~control_blocked;
    if (!(control & control_blocked))
        unregister();
}

void stream::unregister()
{
    if (!hasstate(streamstate_registered))
        return;
    process->stopthread(this);
    clearstate(streamstate_registered);
    interval = 0;
}

// ---- reading ----

u8* stream::readbufreserve(u32 n)
{
    return bufferreserve(pool, readbuf, readbufsize, readend, readpos, readcount, n, STREAM_MAXBUFFER);
}

u32 stream::fetch(u32 n)
{
    n = kzv_max(n, 1u);                 // a read of 0 bytes would never end a wait
    u8* room = readbufreserve(n);
    if (!room)
        return 0;
    int k = device->read(this, room, n);
    if (k <= 0)
        return 0;
    u32 got = kzv_min((u32)k, n);       // a device never reports more than it was asked
    readcount += got;
    readend += got;
    control &= (u8)~control_endofinput;
    clearstate(streamstate_endseen);
    return got;
}

// A read found nothing: end seen follows end of input, and the close check runs.
void stream::noinput()
{
    if (control & control_endofinput)
        setstate(streamstate_endseen);
    else
        clearstate(streamstate_endseen);
    checkclosed();
}

sptr stream::read(u8** p, u32 n)
{
    if (!canread())
        return 0;
    if (readcount == 0 && (control & control_endofinput)) {
        noinput();
        return 0;
    }
    if (writecount > 0)
        checkwrite();
    n = kzv_min(n, STREAM_MAXREAD);
    if (!(control & control_endofinput) && readcount < n)
        fetch(kzv_max(readchunk, n - readcount));
    if (readcount == 0) {
        noinput();
        return 0;
    }
    *p = readbuf + readpos;
    n = kzv_min(n, readcount);
    readpos += n;
    readcount -= n;
    return (sptr)n;
}

// Unread bytes are served before end of input is reported, so a stream whose end
// was found while bytes were buffered (or given back) never feeds NULs.
sptr stream::getbyte()
{
    if (!canread())
        return -1;
    if (readcount == 0) {
        if (control & control_endofinput) {
            setstate(streamstate_endseen);
            checkclosed();
            return 0;
        }
        fetch(readchunk);
        if (readcount == 0) {
            noinput();
            return -1;
        }
    }
    readcount--;
    return readbuf[readpos++];
}

sptr stream::giveback(int n)
{
    if (readpos == 0 || n < 0)
        return 0;
    u32 k = (n == 0 || (u32)n > readpos) ? readpos : (u32)n;
    readpos -= k;
    readcount += k;
    return (sptr)k;
}

// The second byte of a CR LF or LF CR pair belongs to the line before it.
bool stream::skiplineendpair()
{
    u8 next = readbuf[readpos];
    bool pair = (linestate == 2 && next == CR) || (linestate == 1 && next == LF);
    linestate = 0;
    if (!pair)
        return false;
    readpos++;
    readcount--;
    return true;
}

// Looks for a line end among the unread bytes from offset `from` on; 0 when none.
sptr stream::scanline(char** p, u32 from)
{
    u8* line = readbuf + readpos;
    for (u32 i = from; i < readcount; i++) {
        u8 c = line[i];
        if (c != CR && c != LF && c != 0)
            continue;
        *p = (char*)line;
        u32 used = i + 1;
        if (c == 0) {
            while (used < readcount && line[used] == 0)
                used++;
        } else {
            line[i] = 0;
            linestate = c == CR ? 1 : 2;
        }
        readpos += used;
        readcount -= used;
        return (sptr)i + 1;
    }
    return 0;
}

// End of input with bytes left: they are the last line.
sptr stream::lastline(char** p)
{
    if (!(control & control_endofinput) || readcount == 0)
        return 0;
    if (!readbufreserve(1))
        return 0;                       // no room for the terminator: the bytes stay
    readbuf[readend] = 0;
    *p = (char*)readbuf + readpos;
    u32 n = readcount;
    readpos = readend;
    readcount = 0;
    return (sptr)n + 1;
}

sptr stream::getline(char** p)
{
    for (;;) {
        if (!canread())
            return 0;
        if (writecount > 0)
            checkwrite();
        if (readcount == 0 && !(control & control_endofinput))
            fetch(readchunk);
        if (readcount == 0) {
            noinput();
            return 0;
        }
        if (skiplineendpair())
            continue;
        // The scan resumes where the last one stopped: earlier bytes held no line end.
        u32 scanned = 0;
        for (;;) {
            sptr n = scanline(p, scanned);
            if (n)
                return n;
            scanned = readcount;
            if (fetch(readchunk) == 0)
                return lastline(p);
            if (!canread())
                return 0;
        }
    }
}

sptr stream::readrecord(data** p, int n)
{
    *p = this;
    size = 0;
    payload = nullptr;
    if (control & control_packetmode)
        return 0;
    u8* bytes = nullptr;
    sptr k = read(&bytes, n > 0 ? (u32)n : 0);
    if (k > 0) {
        size = (u32)k;
        payload = bytes;
    }
    return k;
}

// ---- writing ----

u8* stream::writebufget(u32 n)
{
    u8* room = bufferreserve(pool, writebuf, writebufsize, writeend, writepos, writecount, n,
                             STREAM_MAXBUFFER);
    if (!room)
        return nullptr;
    writecount += n;
    writeend += n;
    return room;
}

void stream::freewritebuf()
{
    if (writebuf)
        pool->free_int(writebuf);
    writebuf = nullptr;
    writebufsize = writeend = writepos = writecount = 0;
}

u32 stream::devicewrite(u8 const* p, u32 n)
{
    int k = device->write(this, p, n);
    if (k <= 0)
        return 0;
    return kzv_min((u32)k, n);
}

sptr stream::writedirect(u8 const* p, u32 n)
{
    u32 k = devicewrite(p, n);
    if (k == n || hasstate(streamstate_direct))
        return (sptr)k;
    if (hasstate(streamstate_error) || (control & control_discard)) {
        checkclosed();                  // the device or its peer is gone: keep nothing
        return (sptr)k;
    }
    u8* room = writebufget(n - k);
    if (!room)
        return (sptr)k;                 // the rest could not be kept: only k were taken
    memcpy(room, p + k, n - k);
    writemode = 3;
    keepflushing();
    return (sptr)n;
}

sptr stream::appendwrite(u8 const* p, u32 n)
{
    u8* room = writebufget(n);
    if (!room)
        return 0;
    memcpy(room, p, n);
    if (!hasstate(streamstate_buffered))
        checkwrite();
    return (sptr)n;
}

// A flush that empties the buffer runs the close check, which closes a stream whose
// input has ended: bytes taken after that would never go out, so they are refused.
sptr stream::writebuffered(u8 const* p, u32 n)
{
    if (hasstate(streamstate_direct)) {
        if (writecount > 0)
            checkwrite();
        if (writecount > 0 || !canwrite())
            return 0;
        return (sptr)devicewrite(p, n);
    }
    if (writelimit == 0)
        return appendwrite(p, n);
    if (hasstate(streamstate_limit)) {
        checkwrite();
        if (!canwrite())
            return 0;
        if (writemode == 0)
            return writedirect(p, n);
    }
    if (hasstate(streamstate_limit))
        return 0;
    if ((u64)n + writecount < writelimit)
        return appendwrite(p, n);
    setstate(streamstate_limit);
    return 0;
}

sptr stream::write(void const* p, u32 n)
{
    if (!canwrite() || n == 0 || !p)
        return 0;
    if (writemode == 0)
        return writedirect((u8 const*)p, n);
    return writebuffered((u8 const*)p, n);
}

void stream::checkwrite()
{
    while (writecount > 0) {
        u32 k = devicewrite(writebuf + writepos, writecount);
        if (k == 0) {
            if (writelimit != 0 && writecount >= writelimit)
                setstate(streamstate_limit);
            checkclosed();
            // Whatever stopped this flush, the scheduler retries what is left.
            if (writecount > 0 && isopen())
                keepflushing();
            return;
        }
        writepos += k;
        writecount -= k;
    }
    settle();
    freewritebuf();
    // Buffering keeps every write appended, so a read inside a group cannot split it.
    writemode = hasstate(streamstate_buffered) ? 3 : 0;
    clearstate(streamstate_limit);
    checkclosed();
}

void stream::setbuffering(bool on)
{
    if (on) {
        setstate(streamstate_buffered);
        writemode = 3;
        return;
    }
    clearstate(streamstate_buffered);
    if (writecount > 0) {
        checkwrite();
        return;
    }
    freewritebuf();
    writemode = 0;
}

sptr stream::writerecord(data const* d)
{
    return d && d->type == type_bytestream ? write(d->payload, d->size) : 0;
}

sptr stream::writebyte(u8 byte) { return write(&byte, 1); }

void stream::setdirect(bool on)
{
    if (on)
        setstate(streamstate_direct);
    else
        clearstate(streamstate_direct);
}

sptr stream::writeline(char const* text)
{
    if (!text)
        return 0;
    clearstate(streamstate_direct);
    bool wasbuffered = hasstate(streamstate_buffered);
    if (!wasbuffered)
        setbuffering(true);
    sptr n = write(text, strlen(text));
    if (n > 0 || text[0] == 0)
        n += write(eol, strlen(eol));
    if (!wasbuffered)
        setbuffering(false);
    return n;
}

void stream::seteol(char const* p)
{
    if (!p)
        return;
    eol[0] = p[0];
    eol[1] = p[0] ? p[1] : 0;
    eol[2] = 0;
}

// ---- lifecycle ----

void stream::checkclosed()
{
    if ((control & control_discard) && writecount > 0)
        dropoutput();
    bool hold = (control & control_hold) != 0;
    bool idle = readcount == 0 && !hold && (writecount == 0 || (control & control_discard));
    bool shut = ((control & control_closereq) && idle) ||
                ((control & control_discard) && readcount == 0) ||
                ((control & control_endofinput) && idle) || hasstate(streamstate_error);
    if (shut)
        clearstate(streamstate_open);
    if (!isopen()) {
        setstate(streamstate_endseen);
        unregister();
    }
}

sptr stream::close()
{
    readcount = readend = readpos = 0;
    setstate(streamstate_closecalled);
    control |= control_endofinput | control_closereq;
    checkclosed();
    if (!isopen()) {
        resetkeepconnections();
        return 1;
    }
    if (writecount > 0)
        keepflushing();
    if (control & control_hold) {
        control |= control_blocked;
        keepflushing();
    }
    return 1;
}

sptr stream::cyclic()
{
    if (writecount > 0)
        checkwrite();
    if (control & control_hold)
        checkclosed();
    if (control & control_discard)
        checkclosed();
    if (!isopen())
        resetkeepconnections();
    return 1;
}

void stream::resetkeepconnections()
{
    resetkeepingpeers([](module* self) {
        stream* s = static_cast<stream*>(self);
        s->device->exit(s, false);
    });
}

void stream::freebuffers()
{
    if (readbuf)
        pool->free_int(readbuf);
    readbuf = nullptr;
    readbufsize = readend = readpos = readcount = 0;
    freewritebuf();
}

void stream::dropoutput()
{
    freewritebuf();
    writemode = hasstate(streamstate_buffered) ? 3 : 0;
    clearstate(streamstate_limit);
}

void stream::restartbuffers()
{
    linestate = 0;
    freebuffers();
    dropoutput();
    // The dropped output no longer needs the scheduler, as after a complete flush.
    settle();
    control &= (u8)~(control_endofinput | control_discard);
    clearstate(streamstate_endseen);
    setstate(streamstate_open);
}

void stream::releasestream()
{
    unregister();
    freebuffers();
}

sptr stream::command(unsigned cmd, int a, int b, void const* p)
{
    switch (cmd) {
    case cmd_cyclic:
        return cyclic();
    case stream_getline:
        return p ? getline((char**)p) : 0;
    case stream_read:
        return p ? read((u8**)p, a > 0 ? (u32)a : 0) : 0;
    case stream_readrecord:
        return p ? readrecord((data**)p, a) : 0;
    case stream_getrecord:
        if (p)
            *(void**)p = nullptr;       // a stream hands out no queued records
        return 0;
    case stream_getbyte:
        return getbyte();
    case stream_giveback:
        return giveback(a);
    case stream_restart:
        restartbuffers();
        return 1;
    case stream_writetext:
        return p ? write(p, strlen((char const*)p)) : 0;
    case stream_write:
        return a > 0 ? write(p, (u32)a) : 0;
    case stream_writerecord:
        return writerecord((data const*)p);
    case stream_writebyte:
        return writebyte((u8)a);
    case stream_writeline:
        return writeline((char const*)p);
    case stream_close:
        return close();
    case stream_reset:
        resetkeepconnections();
        return 1;
    case stream_setbuffering:
        setbuffering(a != 0);
        return 1;
    case stream_setdirect:
        setdirect(a != 0);
        return 1;
    case stream_seteol:
        seteol((char const*)p);
        return 1;
    case stream_setlimit:
        writelimit = (u32)a;
        return 1;
    case stream_pending:
        return (sptr)writecount;
    default:
        return 0;
    }
}

} // namespace kzv
