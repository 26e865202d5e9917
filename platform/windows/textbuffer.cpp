// The text buffer. Invariants: pending = length - readpos; once a buffer exists,
// capacity >= length + 1 and buffer[length] is 0, so 'B' can terminate a line cut
// by the end of the content in place. Sizes are summed in 64 bits and capped before
// they reach 32-bit fields. Reading takes bytes ('B', 'C', 'D', 'F'); 'G' and 'H'
// give them back. The end flag (state bit 2) is set when a read finds nothing or
// the peer of `readline` has ended, and cleared by every append and by 'H'.
#include "textbuffer.h"
#include "../../framework/filestream.h"
#include "../../framework/memprim.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/strwide.h"
#include "../../framework/sysprocess.h"

namespace kzv {

static const u8 CR = 13, LF = 10;

void textbuffer::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "textbuffer", textbuffer_concb, type_bytestream);
    flags = (u8)streamstate_open;       // a readable stream
    eol1 = (char)LF;
}

void textbuffer::exit(bool keep)
{
    unregister();
    if (buffer)
        pool->free_int(buffer);
    buffer = nullptr;
    if (!keep)
        init(pool);
}

void textbuffer::setend() { flags = (u8)(flags | streamstate_endseen); }
void textbuffer::clearend() { flags = (u8)(flags & ~streamstate_endseen); }
bool textbuffer::atend() { return (flags & streamstate_endseen) != 0; }

void textbuffer::take(u32 n)
{
    readpos += n;
    pending -= n;
}

// ---- appending ----

// Nothing changes until the room is certain: a refused size or an empty pool
// leaves the content, the read position and the given-back history as they were.
u8* textbuffer::reservebytes(u64 n)
{
    u32 base = pending == 0 ? 0 : length;   // everything was read: start over at 0
    if ((u64)capacity < (u64)base + n + 1) {
        u64 want = ((u64)base + n + 256) & ~(u64)255;
        if (want > TEXTBUFFER_MAXCAPACITY)
            return nullptr;
        u8* grown = (u8*)pool->resize(buffer, want);
        if (!grown)
            return nullptr;
        buffer = grown;
        capacity = (u32)want;
    }
    if (pending == 0)
        length = readpos = 0;
    return buffer + length;
}

u8* textbuffer::reserve(unsigned int n) { return reservebytes(n); }

void textbuffer::commit(unsigned int n)
{
    u32 room = capacity > length ? capacity - length - 1 : 0;
    n = kzv_min(n, room);
    if (n == 0)
        return;
    length += n;
    pending += n;
    total += n;
    buffer[length] = 0;
    clearend();
}

// Two parts appended whole or not at all. A part may point into this buffer (a
// line handed out by 'B'): it is found again by its offset after a resize, which
// keeps the old bytes, and it may overlap the room when the content starts over.
bool textbuffer::appendparts(u8 const* a, u32 na, u8 const* b, u32 nb)
{
    u64 n = (u64)na + nb;
    if (n == 0)
        return true;
    uptr offset = (uptr)a - (uptr)buffer;
    bool inside = buffer && offset < capacity;
    u8* room = reservebytes(n);
    if (!room)
        return false;
    if (inside)
        a = buffer + offset;        // the same bytes, wherever the buffer now lies
    memmove(room, a, na);
    if (nb)
        memcpy(room + na, b, nb);
    commit((u32)n);
    return true;
}

u32 textbuffer::write(char const* bytes, unsigned int n)
{
    if (!bytes || n == 0)
        return 0;
    return appendparts((u8 const*)bytes, n, nullptr, 0) ? n : 0;
}

u32 textbuffer::putchar(unsigned short c)
{
    char utf8[4];
    u32 n = str_unicode2utf81byte(c, utf8);
    return appendparts((u8 const*)utf8, n, nullptr, 0) ? n : 0;
}

u32 textbuffer::eollength() const { return eol1 ? (eol2 ? 2 : 1) : 0; }

bool textbuffer::appendline(char const* text)
{
    char eol[2] = {eol1, eol2};
    return appendparts((u8 const*)text, strlen(text), (u8 const*)eol, eollength());
}

u32 textbuffer::putline(char const* text)
{
    if (!text)
        return 0;
    u32 n = strlen(text) + eollength();     // counted first: the text may lie in the buffer
    return appendline(text) ? n : 0;
}

// One character of a 16-bit string as UTF-8 into out (5 bytes with the terminator
// the 3-byte form writes); `units` receives the units it took. A high surrogate
// followed by a low one is one character beyond 0xFFFF; an unpaired surrogate
// keeps its 3-byte form, and 0xFFFF gives nothing, as `putchar` does.
static u32 widechar(char16_t const* s, char* out, u32& units)
{
    u32 high = s[0], low = s[1];
    units = 1;
    if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        u32 code = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
        units = 2;
        out[0] = (char)(0xF0 | (code >> 18));
        out[1] = (char)(0x80 | ((code >> 12) & 0x3F));
        out[2] = (char)(0x80 | ((code >> 6) & 0x3F));
        out[3] = (char)(0x80 | (code & 0x3F));
        return 4;
    }
    return str_unicode2utf81byte((u16)high, out);
}

// Measured first, so that the whole text is appended or none of it.
u32 textbuffer::putwide(char16_t const* text)
{
    if (!text)
        return 0;
    char utf8[5];
    u32 units = 0;
    u64 n = 0;
    for (u32 i = 0; text[i]; i += units)
        n += widechar(text + i, utf8, units);
    if (n == 0)
        return 0;
    u8* room = reservebytes(n);
    if (!room)
        return 0;
    u32 at = 0;
    for (u32 i = 0; text[i]; i += units) {
        u32 k = widechar(text + i, utf8, units);
        memcpy(room + at, utf8, k);
        at += k;
    }
    commit(at);
    return at;
}

void textbuffer::seteol(char const* p)
{
    if (!p)
        return;
    eol1 = p[0];
    eol2 = p[0] ? p[1] : 0;
}

// ---- filling from the peer ----

int textbuffer::readline()
{
    char* line = nullptr;
    if (in.peer && in.call(stream_getline, 0, 0, &line) > 0 && line)
        return appendline(line) ? 1 : 0;
    in.call(cmd_datarequested, 0, 0, nullptr);
    module* peer = in.peer ? in.peer->owner : nullptr;
    if (!peer)
        return 0;
    u16 word = (u16)(peer->flags | (peer->state << 8));
    if (word & streamstate_endseen) {
        setend();
        return 0;
    }
    if ((word & streamstate_error) || !(word & streamstate_open))
        return 0;
    return 2;
}

int textbuffer::fill(unsigned int us)
{
    u32 start = os_getus32();
    while (!process->exitrequested) {
        int r = readline();
        if (r == 0)
            return 0;
        if (r == 2) {
            if (us)
                return 1;
            process->sleep(this, 1);
            continue;
        }
        if (us && os_getus32() - start >= us)     // wraps with the clock
            return 1;
    }
    return 1;
}

// The source's size is reserved first, so a file that cannot fit is refused before
// any byte moves; a file that grows while it is read still stops at the cap. A
// failure later drops what this load appended.
bool textbuffer::loadfrom(stream& source, u64 sizehint)
{
    if (!reservebytes(sizehint))
        return false;
    u32 startlength = length, startpending = pending, starttotal = total;
    bool refused = false;
    for (;;) {
        u8* bytes = nullptr;
        sptr k = source.read(&bytes, TEXTBUFFER_LOADCHUNK);
        if (k <= 0)
            break;
        if (!appendparts(bytes, (u32)k, nullptr, 0)) {
            refused = true;
            break;
        }
    }
    // A read of nothing before the end (a device that would block) is no whole file.
    bool whole = !refused && (source.control & control_endofinput) &&
                 !source.hasstate(streamstate_error);
    if (whole)
        return true;
    length = startlength;
    pending = startpending;
    total = starttotal;
    if (buffer)
        buffer[length] = 0;
    return false;
}

bool textbuffer::loadfile(char const* path)
{
    file source;
    source.init(pool);
    if (!path || !source.open(path))
        return false;
    return loadfrom(source, source.filesize());
}

void textbuffer::removenewlines()
{
    u32 kept = 0, keptbeforeread = 0;
    for (u32 i = 0; i < length; i++) {
        if (i == readpos)
            keptbeforeread = kept;
        u8 c = buffer[i];
        if (c != CR && c != LF)
            buffer[kept++] = c;
    }
    if (readpos >= length)
        keptbeforeread = kept;
    length = kept;
    readpos = keptbeforeread;
    pending = length - readpos;
    if (buffer)
        buffer[length] = 0;
}

// ---- reading ----

// The second byte of a CR LF or LF CR pair belongs to the line before it, also
// when the pair was split across two appends.
void textbuffer::skiplineendpair()
{
    u8 next = buffer[readpos];
    if ((linestate == 1 && next == CR) || (linestate == 2 && next == LF))
        take(1);
    linestate = 0;
}

sptr textbuffer::getline(char** p)
{
    if (pending > 0)
        skiplineendpair();
    if (pending == 0) {
        setend();
        return 0;
    }
    char* line = (char*)buffer + readpos;
    *p = line;
    for (u32 i = 0; i < pending; i++) {
        u8 c = (u8)line[i];
        if (c == CR || c == LF) {
            line[i] = 0;
            linestate = c == LF ? 1 : 2;
            take(i + 1);
            return (sptr)i + 1;
        }
        if (c == 0) {
            // A line terminated here before (and given back) ends at its zero.
            u32 used = i + 1;
            if (used < pending && line[used] == LF)
                used++;
            if (used < pending && line[used] == CR)
                used++;
            take(used);
            return (sptr)i + 1;
        }
    }
    u32 n = pending;
    buffer[length] = 0;                 // always room: capacity >= length + 1
    take(n);
    return (sptr)n + 1;
}

sptr textbuffer::read(u8** p, int n)
{
    if (pending == 0) {
        setend();
        return 0;
    }
    if (n <= 0)
        return 0;
    u32 k = kzv_min((u32)n, pending);
    *p = buffer + readpos;
    take(k);
    return (sptr)k;
}

sptr textbuffer::readrecord(data** p, int n)
{
    *p = this;
    size = 0;
    payload = nullptr;
    u8* bytes = nullptr;
    sptr k = read(&bytes, n);
    if (k > 0) {
        size = (u32)k;
        payload = bytes;
    }
    return k;
}

// 0 once the end flag is set, as a stream answers at the end of its input; the
// read that finds the text exhausted answers -1 and sets the flag.
sptr textbuffer::getbyte()
{
    if (pending > 0) {
        u8 c = buffer[readpos];
        take(1);
        return c;
    }
    if (atend())
        return 0;
    setend();
    return -1;
}

// 0 gives back everything read; a count larger than what was read changes nothing.
sptr textbuffer::giveback(int n)
{
    if (n < 0)
        return 0;
    u32 k = n == 0 ? readpos : (u32)n;
    if (k > readpos)
        return 0;
    readpos -= k;
    pending += k;
    return (sptr)k;
}

sptr textbuffer::restart()
{
    readpos = 0;
    pending = length;
    linestate = 0;
    clearend();
    return 1;
}

sptr textbuffer_concb(void* self, unsigned cmd, int a, int, void const* p)
{
    textbuffer* t = (textbuffer*)self;
    switch (cmd) {
    case cmd_cyclic: case cmd_datarequested: case cmd_error:
        return 1;
    case stream_seteol:
        t->seteol((char const*)p);
        return 1;
    case stream_getline:
        return p ? t->getline((char**)p) : 0;
    case stream_read:
        return p ? t->read((u8**)p, a) : 0;
    case stream_readrecord:
        return p ? t->readrecord((data**)p, a) : 0;
    case stream_getrecord:
        if (p)
            *(void**)p = nullptr;
        return 0;
    case stream_getbyte:
        return t->getbyte();
    case stream_giveback:
        return t->giveback(a);
    case stream_restart:
        return t->restart();
    case stream_writetext:
        return p ? t->write((char const*)p, strlen((char const*)p)) : 0;
    case stream_write:
        return a > 0 ? t->write((char const*)p, (u32)a) : 0;
    case stream_writeline:
        return t->putline((char const*)p);
    default:
        return 0;
    }
}

} // namespace kzv
