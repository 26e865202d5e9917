// The pipe's device side. The platform's local-socket calls answer 0 for "would
// block" and -1 for an error or the end of the stream; -1 ends the connection
// for good, because an X server that went away never comes back on the same
// socket, and polling it would only hang its client.
#include "pipe.h"
#include "os.h"

namespace kzv {

static int pipedevread(stream* s, u8* buffer, u32 n) { return ((pipe*)s)->mread(buffer, n); }
static int pipedevwrite(stream* s, u8 const* bytes, u32 n) { return ((pipe*)s)->mwrite(bytes, n); }
static void pipedevexit(stream* s, bool keep) { ((pipe*)s)->exit(keep); }

static const streamdevice pipedevice = {pipedevread, pipedevwrite, pipedevexit};

void pipe::init(mem* p)
{
    memset0(this, sizeof(*this));
    initstream(p, "pipe", pipe_concb, PIPE_SOURCEKIND, PIPE_READCHUNK, &pipedevice);
    smallpool.init(pool);
}

void pipe::mexit()
{
    if (fd)
        os_close(fd);
    fd = 0;
    connected = 0;
    smallpool.exit(true);
}

void pipe::exit(bool keep)
{
    releasestream();
    mexit();
    if (!keep)
        init(pool);
}

int pipe::open(char const* path)
{
    resetkeepconnections();
    fd = path ? os_unixconnect(path) : 0;
    if (!fd)
        return 1;
    connected = 1;
    access = access_readable | access_writable;
    setstate(streamstate_open);
    return 1;
}

void pipe::restart()
{
    restartbuffers();
}

// The peer is gone: nothing more comes, and what is still queued cannot leave.
void pipe::lose()
{
    if (fd)
        os_close(fd);
    fd = 0;
    connected = 0;
    control |= control_endofinput | control_discard;
}

int pipe::mread(u8* buffer, u32 n)
{
    if (!connected)
        return 0;
    int k = os_socketread(fd, buffer, n);
    if (k > 0)
        return k;
    if (k < 0)
        lose();
    return 0;
}

int pipe::mwrite(u8 const* bytes, u32 n)
{
    if (!connected)
        return 0;
    int k = os_socketsend(fd, bytes, n);
    if (k > 0)
        return k;
    if (k < 0)
        lose();
    return 0;
}

// The skeleton answers every other command; 'U' and ']' answer 0 there.
sptr pipe_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    pipe* s = (pipe*)self;
    if (cmd == stream_restart) {
        s->restart();
        return 1;
    }
    return s->command(cmd, a, b, p);
}

} // namespace kzv
