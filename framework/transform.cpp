// The transform-module skeleton. Input comes either from the peer of the IN pin
// (pulled with 'D', given back with 'G') or from what writers pushed in; output is
// the module's own record (a codec sets it up and calls setready) or bytes in the
// output buffer, handed out through the module's data view. Pointers handed out
// stay valid until the next command on the module.
#include "transform.h"
#include "mem.h"
#include "printf.h"
#include "str.h"
#include "stream.h"
#include "sysprocess.h"

namespace kzv {

static u16 flagwordof(data const* d)
{
    return (u16)(d->flags | (d->state << 8));
}

void transform::setflag(u16 bits)
{
    flags = (u8)(flags | bits);
    state = (u8)(state | bits >> 8);
}

void transform::clearflag(u16 bits)
{
    flags = (u8)(flags & ~bits);
    state = (u8)(state & ~(bits >> 8));
}

void transform::inittransform(mem* p, char const* modulename, modulecallback cb, s8 recordtype,
                              transformcodec const* c)
{
    initheader(p, modulename, cb, recordtype);
    direct.owner = this;
    buffersize = 1024;
    eol[0] = '\n';
    eol[1] = 0;
    codec = c;
    piece.clear();
}

void transform::freeblocks()
{
    if (outbuf)
        pool->free_int(outbuf);
    if (gatherbuf)
        pool->free_int(gatherbuf);
    if (pushedbuf)
        pool->free_int(pushedbuf);
    outbuf = gatherbuf = pushedbuf = nullptr;
    outcapacity = outwrite = outread = outpending = 0;
    gathersize = gathered = 0;
    pushedcapacity = pushedlength = pushedread = 0;
}

void transform::exittransform(bool keep)
{
    if (state & 1)
        process->stopthread(this);
    freeblocks();
    if (codec && codec->exit)
        codec->exit(this);
    (void)keep;             // the concrete module clears and inits its record itself
}

// A fresh module of the same kind, still wired into the same three places. The
// trace and auto-restart settings stay.
void transform::restart()
{
    exittransform(true);
    tflags = 0;
    inputclosed = 0;
    inputstate = tinput_idle;
    linestate = 0;
    mediatype = charset = 0;
    directread = directpending = 0;
    directdata = nullptr;
    lastinput = nullptr;
    passthrough = 0;
    piece.clear();
    clearflag(tstate_error | tstate_stop | tstate_end | tstate_headerset | tstate_inputseen);
    size = 0;
    payload = nullptr;
    memset0(&kind, sizeof kind);
}

// ---- the reader side

// Runs codec steps until something can be handed out or a step makes no progress.
bool transform::produce(u32 max)
{
    if (tflags & tflag_gather)
        while (outpending > 0 && outpending < max && !hasflag(tstate_error) && codec->step(this)) {
        }
    if (tflags & tflag_gaveback) {
        tflags &= (u8)~tflag_gaveback;
        if (outpending < max && !hasflag(tstate_error))
            codec->step(this);
    }
    while (outpending == 0 && directpending == 0 && !(tflags & tflag_ready)) {
        if (hasflag(tstate_error) || !codec->step(this))
            break;
    }
    return outpending > 0 || directpending > 0 || (tflags & tflag_ready);
}

// Bytes go out through the module's own data view, as a byte stream unless the
// codec asked to keep the record's type.
sptr transform::handout(u8 const* bytes, u32 n)
{
    if (!(tflags & tflag_keeptype)) {
        type = type_bytestream;
        memset0(&kind, sizeof kind);
        kind.b[16] = (u8)mediatype;
        kind.b[18] = (u8)charset;
    }
    payload = const_cast<u8*>(bytes);
    size = n;
    return n;
}

// Up to max bytes of a pending run (the codec's block or the output buffer), and
// the run's read position moved past them.
sptr transform::handoutrun(u8 const* base, u32& readpos, u32& pending, u32 max)
{
    u32 n = kzv_min(max, pending);
    handout(base + readpos, n);
    readpos += n;
    pending -= n;
    return n;
}

sptr transform::read(data** out, u32 max)
{
    if (out)
        *out = this;
    if (passthrough)
        return mread(out, max, 0);
    if ((tflags & tflag_routed) && currentpin != &direct) {
        sptr r = direct.call(stream_readrecord, (int)kzv_min(max, 0x7fffffffu), 0, out);
        data* record = out ? *out : nullptr;
        if (record && (flagwordof(record) & tstate_end))
            tflags |= tflag_directend;
        else
            tflags &= (u8)~tflag_directend;
        return r;
    }
    if (hasflag(tstate_error))
        return 0;
    if (hasflag(tstate_end)) {
        if (hasflag(tstate_autorestart))
            restart();
        return 0;
    }
    clearflag(tstate_stop);
    if (max == 0)
        max = 0xFFFFFFFFu;          // no limit asked
    produce(max);
    if (tflags & tflag_ready) {
        tflags = (u8)((tflags & ~tflag_ready) | tflag_handedout);
        outread = outwrite = outpending = 0;
        directread = directpending = 0;
        return size ? size : 1;
    }
    if (directpending > 0)
        return handoutrun(directdata, directread, directpending, max);
    if (outpending > 0)
        return handoutrun(outbuf, outread, outpending, max);
    return 0;
}

sptr transform::read(u8** out, u32 max)
{
    if ((tflags & tflag_routed) && currentpin != &direct)
        return direct.call(stream_read, (int)kzv_min(max, 0x7fffffffu), 0, out);
    data* record = nullptr;
    sptr r = read(&record, max);
    if (out)
        *out = r > 0 && record ? (u8*)record->payload : nullptr;
    return r > 0 && record ? (sptr)record->size : 0;
}

sptr transform::rewind(u32 n)
{
    if (passthrough) {
        mrewind(n);
        return n;
    }
    if ((tflags & tflag_routed) && currentpin != &direct)
        return direct.call(stream_giveback, (int)kzv_min(n, 0x7fffffffu), 0, nullptr);
    tflags |= tflag_gaveback;
    if (tflags & tflag_handedout) {
        tflags = (u8)((tflags & ~tflag_handedout) | tflag_ready);
        return n;
    }
    u32 k;
    if (outread > 0) {
        k = n ? kzv_min(n, outread) : outread;
        outread -= k;
        outpending += k;
    } else {
        k = n ? kzv_min(n, directread) : directread;
        directread -= k;
        directpending += k;
    }
    return k;
}

// A line of the pending output: CR, LF or NUL ends it; CR LF and LF CR count as
// one line end. The result is the line's length plus 1, or 0 for no whole line.
sptr transform::scanline(char** out)
{
    if (outpending > 0 && ((linestate == 1 && outbuf[outread] == '\n') ||
                           (linestate == 2 && outbuf[outread] == '\r'))) {
        outread++;
        outpending--;
    }
    if (outpending > 0)
        linestate = 0;
    for (u32 i = 0; i < outpending; i++) {
        u8 c = outbuf[outread + i];
        if (c != '\r' && c != '\n' && c != 0)
            continue;
        linestate = c == '\r' ? 1 : c == '\n' ? 2 : 0;
        outbuf[outread + i] = 0;
        *out = (char*)outbuf + outread;
        outread += i + 1;
        outpending -= i + 1;
        return i + 1;
    }
    return 0;
}

sptr transform::getline(char** out)
{
    if (!out || hasflag(tstate_error))
        return 0;
    for (;;) {
        sptr r = scanline(out);
        if (r > 0)
            return r;
        u32 before = outpending;
        bool more = false;
        while (!more && !hasflag(tstate_error) && codec->step(this))
            more = outpending > before;
        if (!more)
            return 0;               // the partial line stays pending
    }
}

// ---- the codec side

sptr transform::mread(data** out, u32 max, u32 min)
{
    data* ignored = nullptr;
    if (!out)
        out = &ignored;
    *out = nullptr;
    if (inputstate == tinput_again) {
        inputstate = tinput_idle;
        data* record = lastinput;
        if (!record)
            return 0;
        if (min > 0 && record->type == type_bytestream && record->size < min) {
            // The given-back tail is shorter than asked: gather the rest behind it.
            u8* buffer = (u8*)pool->getmem(min);
            if (!buffer) {
                fail();
                return 0;
            }
            memmove(buffer, record->payload, record->size);
            if (gatherbuf)
                pool->free_int(gatherbuf);
            gatherbuf = buffer;
            gathered = record->size;
            gathersize = min;
            inputstate = tinput_gathering;
            return gather(out, min);
        }
        *out = record;
        return record->size ? record->size : 1;
    }
    if (inputstate == tinput_gathering)
        return gather(out, gathersize);
    if (inputstate != tinput_idle)
        return pushedout(out, max, min);
    if (in.peer)
        return pullpeer(out, max, min);
    if (inputclosed)
        tflags |= tflag_end;
    return 0;
}

// True when a pull from the IN peer brought nothing; the peer's error and end
// flags then carry over to the module.
static bool nothingpulled(transform& t, data const* record, sptr r)
{
    if (record && r > 0)
        return false;
    if (record && (flagwordof(record) & tstate_error))
        t.fail();
    if (record && (flagwordof(record) & tstate_end))
        t.tflags |= tflag_end;
    return true;
}

sptr transform::pullpeer(data** out, u32 max, u32 min)
{
    if (gatherbuf) {
        pool->free_int(gatherbuf);
        gatherbuf = nullptr;
    }
    data* record = nullptr;
    sptr r = in.call(stream_readrecord, (int)kzv_min(max ? max : 0x7fffffffu, 0x7fffffffu), 0, &record);
    if (nothingpulled(*this, record, r))
        return 0;
    lastinput = record;
    setflag(tstate_inputseen);
    if (record->type != type_bytestream) {
        *out = record;
        return r;
    }
    mediatype = record->kind.b[16];
    charset = record->kind.b[18];
    *out = record;
    if (min == 0 || record->size >= min)
        return record->size;
    u8* buffer = (u8*)pool->getmem(min);
    if (!buffer) {
        fail();
        return 0;
    }
    memcpy(buffer, record->payload, record->size);
    gatherbuf = buffer;
    gathered = record->size;
    gathersize = min;
    inputstate = tinput_gathering;
    *out = nullptr;
    return gather(out, min);
}

// Collects exactly `min` bytes from the IN peer across pulls; a surplus is given
// back. While short, the state stays "gathering" and the pull answers 0.
sptr transform::gather(data** out, u32 min)
{
    while (gathered < min) {
        data* record = nullptr;
        sptr r = in.call(stream_readrecord, (int)(min - gathered), 0, &record);
        if (nothingpulled(*this, record, r))
            return 0;
        if (record->type != type_bytestream) {
            fail();                 // a record in the middle of bytes
            return 0;
        }
        u32 take = kzv_min(record->size, min - gathered);
        memcpy(gatherbuf + gathered, record->payload, take);
        gathered += take;
        if (record->size > take)
            in.call(stream_giveback, (int)(record->size - take), 0, nullptr);
    }
    inputstate = tinput_idle;
    piece.clear();
    piece.payload = gatherbuf;
    piece.size = min;
    piece.kind.b[16] = (u8)mediatype;
    piece.kind.b[18] = (u8)charset;
    lastinput = &piece;
    *out = &piece;
    return min;
}

// Hands out what writers pushed in: a record once, bytes up to max (exactly min
// when a minimum is asked and that many are there). Closed and drained: the end.
sptr transform::pushedout(data** out, u32 max, u32 min)
{
    if (inputstate == tinput_record && lastinput) {
        inputstate = tinput_recordout;
        *out = lastinput;
        return lastinput->size ? lastinput->size : 1;
    }
    u32 avail = inputstate == tinput_bytes ? pushedlength - pushedread : 0;
    if (avail > 0 && (min == 0 || avail >= min)) {
        u32 n = min > 0 ? min : max ? kzv_min(max, avail) : avail;
        piece.clear();
        piece.payload = pushedbuf + pushedread;
        piece.size = n;
        pushedread += n;
        lastinput = &piece;
        *out = &piece;
        return n;
    }
    if (inputclosed)
        tflags |= tflag_end;
    return 0;
}

void transform::mrewind(u32 n)
{
    if (n == 0)
        return;
    if (inputstate == tinput_recordout) {
        inputstate = tinput_record;
    } else if (inputstate == tinput_bytes) {
        pushedread -= kzv_min(n, pushedread);
    } else if (inputstate == tinput_idle && lastinput) {
        if (lastinput == &piece) {
            // Gathered bytes: the last n of them come again.
            u32 k = kzv_min(n, piece.size);
            piece.payload = (u8*)piece.payload + (piece.size - k);
            piece.size = k;
            inputstate = tinput_again;
        } else if (lastinput->type == type_bytestream) {
            in.call(stream_giveback, (int)kzv_min(n, 0x7fffffffu), 0, nullptr);
        } else {
            inputstate = tinput_again;
        }
    }
}

// The output buffer grows and compacts as a stream buffer does.
u8* transform::mgetmem(u32 n)
{
    u8* at = bufferreserve(pool, outbuf, outcapacity, outwrite, outread, outpending, n, TRANSFORM_MAXBUFFER);
    if (!at) {
        fail();
        return nullptr;
    }
    outwrite += n;
    outpending += n;
    return at;
}

void transform::munget(u32 n)
{
    n = kzv_min(n, outpending);
    outwrite -= n;
    outpending -= n;
}

void transform::setready()
{
    tflags = (u8)((tflags & ~tflag_handedout) | tflag_ready);
}

// ---- the writer side

// Room for n more pushed bytes, compacting first and growing to the size rounded
// to 16 plus 1024 (plus 256 for a new buffer).
bool transform::reservepushed(u32 n)
{
    if (inputstate != tinput_bytes || pushedread >= pushedlength)
        pushedlength = pushedread = 0;
    if ((u64)pushedcapacity - pushedlength < n && pushedread > 0) {
        memmove(pushedbuf, pushedbuf + pushedread, pushedlength - pushedread);
        pushedlength -= pushedread;
        pushedread = 0;
    }
    if ((u64)pushedcapacity - pushedlength >= n)
        return true;
    u64 want = (((u64)pushedlength + n + 15) & ~(u64)15) + (pushedbuf ? 1024 : 256);
    u8* grown = want > TRANSFORM_MAXBUFFER ? nullptr : (u8*)pool->resize(pushedbuf, want);
    if (!grown)
        return false;
    pushedbuf = grown;
    pushedcapacity = (u32)want;
    return true;
}

sptr transform::writebytes(void const* bytes, u32 n)
{
    if (!reservepushed(n)) {
        fail();
        return 0;
    }
    memcpy(pushedbuf + pushedlength, bytes, n);
    pushedlength += n;
    inputstate = tinput_bytes;
    return n;
}

void transform::drain()
{
    while (!hasflag(tstate_error) && codec->step(this))
        writeout();
    writeout();
}

sptr transform::write(data* record)
{
    if (!record)
        return 0;
    if (inputstate == tinput_bytes && pushedread >= pushedlength) {
        if (pushedbuf)                    // an empty push leaves none
            pool->free_int(pushedbuf);
        pushedbuf = nullptr;
        pushedcapacity = pushedlength = pushedread = 0;
        inputstate = tinput_idle;
    }
    clearflag(tstate_end);
    tflags &= (u8)~tflag_end;
    inputclosed = 0;
    if (out.peer)
        writeout();
    if (record->type == type_bytestream) {
        if (record->size > 0 && !writebytes(record->payload, record->size))
            return 0;
        inputstate = tinput_bytes;
    } else {
        lastinput = record;
        inputstate = tinput_record;
    }
    if (out.peer)
        drain();
    return record->size ? record->size : 1;
}

// Bytes pushed by 'I' and 'J' go in as a byte-stream record; write copies them.
sptr transform::pushbytes(void const* bytes, u32 n)
{
    data record;
    record.payload = const_cast<void*>(bytes);
    record.size = n;
    return write(&record);
}

// Sends what is ready to the peer of the OUT pin. A peer that takes less than it
// was given would lose bytes without a word, so that is an error.
void transform::writeout()
{
    if (!out.peer)
        return;
    if (tflags & tflag_ready) {
        tflags &= (u8)~(tflag_ready | tflag_handedout);
        out.call(stream_writerecord, 0, 0, (data*)this);
    }
    if (directpending > 0) {
        if (out.call(stream_write, (int)directpending, 0, directdata + directread) != (sptr)directpending)
            fail();
        directread += directpending;
        directpending = 0;
    }
    if (outpending > 0) {
        if (out.call(stream_write, (int)outpending, 0, outbuf + outread) != (sptr)outpending)
            fail();
        outread = outwrite = outpending = 0;
    }
}

sptr transform::close()
{
    writeout();
    inputclosed = 1;
    if (out.peer)
        drain();
    return 1;
}

sptr transform::putline(char const* text)
{
    if (!text)
        return 0;
    if (out.peer)
        drain();
    u32 n = strlen(text);
    u32 e = eol[0] ? (eol[1] ? 2 : 1) : 0;
    if (!writebytes(text, n) || (e > 0 && !writebytes(eol, e)))
        return 0;
    clearflag(tstate_end);
    tflags &= (u8)~tflag_end;
    if (out.peer)
        drain();
    return n + e;
}

// ---- commands

sptr transform::command(unsigned cmd, int a, int b, void const* p)
{
    switch (cmd) {
    case cmd_connected:
        clearflag(tstate_end);
        tflags &= (u8)~tflag_end;
        return 1;
    case stream_getline: return getline((char**)const_cast<void*>(p));
    case stream_read: return read((u8**)const_cast<void*>(p), (u32)a);
    case stream_readrecord: return read((data**)const_cast<void*>(p), (u32)a);
    case stream_getrecord: {
        data* record = nullptr;
        sptr r = read(&record, 128);
        if (p)
            *(data**)const_cast<void*>(p) = r > 0 ? record : nullptr;
        return r > 0;
    }
    case stream_getbyte: return -1;
    case stream_giveback: return rewind((u32)a);
    case stream_restart: restart(); return 1;
    case stream_writetext: return p ? pushbytes(p, strlen((char const*)p)) : 0;
    case stream_write: return p && a > 0 ? pushbytes(p, (u32)a) : 0;
    case stream_writerecord: return write((data*)const_cast<void*>(p));
    case stream_writeline: return putline((char const*)p);
    case stream_close: return close();
    case cmd_error:
        fail();
        if (hasflag(tstate_trace))
            eprintf("%s error %u\n", name, (u32)a);
        return 1;
    default:
        return 0;
    }
}

} // namespace kzv
