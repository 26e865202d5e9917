// The file stream's device side. `position` counts the bytes moved through the
// device, `filesize` is the size as last seen (it grows as writes pass it and is
// re-read when a read finds nothing, since the file may have grown). The end of
// input only clears the open bit; the descriptor stays until close or exit, so
// `checksize` can reopen a growing file.
#include "filestream.h"
#include "mem.h"
#include "os.h"
#include "resources.h"
#include "sysprocess.h"

namespace kzv {

static int filedevread(stream* s, u8* buffer, u32 n) { return ((file*)s)->mread(buffer, n); }
static int filedevwrite(stream* s, u8 const* bytes, u32 n) { return ((file*)s)->mwrite(bytes, n); }
static void filedevexit(stream* s, bool keep) { ((file*)s)->exit(keep); }

static const streamdevice filedevice = {filedevread, filedevwrite, filedevexit};

// One device read asks for at least this much. A file that is empty at open (one
// that is polled while it grows) still reads in whole chunks, never 0 bytes.
static u32 chunkfor(u64 size)
{
    return size == 0 || size > FILE_READCHUNK ? FILE_READCHUNK : (u32)size;
}

file::file(char const* path)
{
    init(nullptr);
    open(path);
}

void file::init(mem* p)
{
    memset0(this, sizeof(*this));
    initstream(p, "file", file_concb, source_file, FILE_READCHUNK, &filedevice);
}

void file::exit(bool keep)
{
    releasestream();
    if (fd)
        os_close(fd);
    fd = 0;
    if (!keep)
        init(pool);
}

bool file::openentry(char const* name)
{
    resourceentry entry;
    if (!resource_find(name, entry)) {
        setstate(streamstate_error);
        return false;
    }
    fromresource = 1;
    resourcedata = entry.bytes;
    filesize() = entry.size;
    access = access_readable;
    readchunk = chunkfor(entry.size);
    setstate(streamstate_open);
    return true;
}

bool file::open(char const* path)
{
    resetkeepconnections();
    if (!path) {
        setstate(streamstate_error);
        return false;
    }
    if (!os_fileexists(path))
        return openentry(path);
    fd = os_fopen(path, 1);
    return openedforreading();
}

bool file::openedforreading()
{
    if (!fd)
        return false;
    filesize() = os_fsize(fd);
    access = access_readable;
    readchunk = chunkfor(filesize());
    setstate(streamstate_open);
    return true;
}

bool file::opennolink(char const* path)
{
    resetkeepconnections();
    fd = path ? os_fopennolink(path) : 0;
    return openedforreading();
}

bool file::openres(char const* name)
{
    resetkeepconnections();
    return openentry(name);
}

bool file::create(char const* path)
{
    resetkeepconnections();
    fd = path ? os_fopen(path, 3) : 0;
    return openedforwriting();
}

bool file::createnew(char const* path, bool& taken)
{
    resetkeepconnections();
    taken = false;
    fd = path ? os_fcreatenew(path, taken) : 0;
    return openedforwriting();
}

bool file::openedforwriting()
{
    if (!fd) {
        setstate(streamstate_error);
        return false;
    }
    access = access_readable | access_writable;
    setstate(streamstate_open);
    return true;
}

int file::mread(u8* buffer, u32 n)
{
    if (fromresource) {
        if (position() >= filesize()) {
            control |= control_endofinput;
            return 0;
        }
        u32 count = (u32)kzv_min((u64)n, filesize() - position());
        memcpy(buffer, resourcedata + position(), count);
        position() += count;
        return (int)count;
    }
    if (!fd) {
        control |= control_endofinput;
        return 0;
    }
    int k = os_read(fd, buffer, n);
    if (k > 0) {
        position() += (u32)k;
        return k;
    }
    if (k < 0 && position() == 0) {
        setstate(streamstate_error);
        return 0;
    }
    filesize() = os_fsize(fd);
    if (position() >= filesize())
        control |= control_endofinput;
    return 0;
}

int file::mwrite(u8 const* bytes, u32 n)
{
    if (!fd)
        return 0;
    int k = os_write(fd, bytes, n);
    if (k < 0) {
        setstate(streamstate_error);
        return 0;
    }
    position() += (u32)k;
    filesize() = kzv_max(filesize(), position());
    return k;
}

bool file::restart()
{
    if (fd)
        os_fseek(fd, 0);
    else if (!fromresource)
        return false;
    position() = 0;
    restartbuffers();
    return true;
}

// Pending output is written before the seek, so it lands where it was meant to;
// output that cannot go out now makes the seek refuse rather than move it.
bool file::setposition(u64 p)
{
    if (!fd && !fromresource)
        return false;
    if (writecount > 0)
        checkwrite();
    if (writecount > 0)
        return false;
    if (fromresource) {
        p = kzv_min(p, filesize());     // an entry never grows into its neighbours
    } else {
        if (os_fseek(fd, p) < 0)
            return false;
        filesize() = kzv_max(filesize(), p);
    }
    position() = p;
    clearbuffers();
    // Input is there again behind the new position, as after `checksize`.
    control &= (u8)~control_endofinput;
    clearstate(streamstate_endseen);
    if (!hasstate(streamstate_error) && !(control & control_closereq))
        setstate(streamstate_open);
    return true;
}

u64 file::checksize()
{
    if (!fd)
        return filesize();
    u64 s = os_fsize(fd);
    if (s > filesize()) {
        control &= (u8)~(control_endofinput | control_discard);
        clearstate(streamstate_endseen);
        setstate(streamstate_open);
        filesize() = s;
        readchunk = chunkfor(s);
    }
    return s;
}

void file::clearbuffers()
{
    freebuffers();
    dropoutput();
}

// One pump step: 0 stop, 1 progress, 2 nothing now (try again later).
int file::step(u32 chunk)
{
    if (hasstate(streamstate_error) || !(access & access_writable))
        return 0;
    checkclosed();
    if (!isopen())
        return 0;
    setbuffering(false);
    clearstate(streamstate_direct);
    if (chunk == 0)
        chunk = readchunk;
    if (writecount > 0)
        checkwrite();
    if (writecount > 0)
        return 2;
    if (!in.peer)
        return 0;
    data* record = nullptr;
    sptr a = in.call(stream_readrecord, (int)kzv_min(chunk, 0x7fffffffu), 0, &record);
    if (!record)
        return 0;
    if (a > 0 && record->type == type_bytestream) {
        // Bytes the file could not keep would be lost without a word: stop as failed.
        if (write(record->payload, record->size) != (sptr)record->size) {
            setstate(streamstate_error);
            return 0;
        }
    }
    u16 sourcestate = (u16)(record->flags | (record->state << 8));
    if (sourcestate & 0x0002)
        restart();                      // the source starts over
    if (sourcestate & (streamstate_error | streamstate_endseen))
        return 0;
    return a == 0 && isopen() ? 2 : 1;
}

int file::run(u32 budgetus, u32 chunk)
{
    if (budgetus > 0) {
        u32 start = os_getus32();
        while (!process->exitrequested) {
            int r = step(chunk);
            if (r == 0)
                return 0;
            if (r == 2 || os_getus32() - start >= budgetus)
                return 1;
        }
        return 0;
    }
    while (!process->exitrequested) {
        int r = step(chunk);
        if (r == 0)
            break;
        if (r == 2)
            process->sleep(this, 1);
    }
    return 0;
}

sptr file_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    file* f = (file*)self;
    switch (cmd) {
    case stream_restart:
        return f->restart() ? 1 : 0;
    case stream_setposition:
        return f->setposition((u64)(u32)b << 32 | (u32)a) ? 1 : 0;
    default:
        return f->command(cmd, a, b, p);
    }
}

} // namespace kzv
