// The pipe stream against a real Unix-domain listener made with the kernel calls:
// a connect where nobody listens leaves the stream unopened, bytes go both ways,
// a write larger than the socket takes is finished from the scheduler, and the
// peer's going away ends the stream (end of input, discard, socket closed once)
// instead of being polled for ever.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/pipe.h"
#include "../../framework/sysprocess.h"
#include "test_os_fixture.h"

using namespace kzv;
using namespace kzvtest;

namespace {

struct listener {
    tempdir dir;
    char path[256];
    int fd;

    bool make(char const* name)
    {
        fd = 0;
        if (!dir.make(name))
            return false;
        dir.join(path, sizeof path, "X0");
        long s = sys_socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (sys_failed(s))
            return false;
        ksockaddrun a = {};
        a.family = AF_UNIX;
        for (u32 i = 0; path[i] && i < sizeof a.path - 1; i++)
            a.path[i] = path[i];
        if (sys_failed(sys_bind((int)s, &a, sizeof a)) || sys_failed(sys_listen((int)s, 4))) {
            sys_close((int)s);
            return false;
        }
        fd = (int)s;
        return true;
    }
    // The server's end of the next connection, non-blocking.
    int accept()
    {
        long c = sys_accept(fd, nullptr, nullptr);
        if (sys_failed(c))
            return 0;
        long flags = sys_fcntl((int)c, F_GETFL, 0);
        sys_fcntl((int)c, F_SETFL, flags | O_NONBLOCK);
        return (int)c;
    }
    void remove()
    {
        if (fd)
            sys_close(fd);
        dir.removeentry("X0");
        dir.remove();
    }
};

// A pipe connected to a listener of its own, and the server's end of it.
struct connection {
    listener l;
    pipe p;
    int server;

    bool make(char const* name)
    {
        server = 0;
        if (!l.make(name))
            return false;
        p.open(l.path);
        server = l.accept();
        return server > 2 && p.isopen();
    }
    void remove()
    {
        if (server)
            sys_close(server);
        l.remove();
    }
};

// A block of `total` bytes from the pool filled with a pattern, or null.
u8* patternblock(u32 total)
{
    u8* block = (u8*)process->pool.getmem(total);
    for (u32 i = 0; block && i < total; i++)
        block[i] = (u8)(i * 7 + (i >> 9));
    return block;
}

sptr cmd(pipe& p, unsigned c, int a = 0, void const* q = nullptr)
{
    return p.callback(&p, c, a, 0, q);
}

bool isclosed(int fd) { return sys_fcntl(fd, F_GETFD, 0) == -E_BADF; }

// Reads what the pipe delivers within a few seconds, polling with 1 ms pauses.
u32 readall(pipe& p, u8* out, u32 capacity, u32 want)
{
    u32 n = 0;
    for (int i = 0; i < 5000 && n < want; i++) {
        u8* bytes = nullptr;
        sptr k = cmd(p, stream_read, (int)(capacity - n), &bytes);
        if (k > 0) {
            memcpy(out + n, bytes, (u32)k);
            n += (u32)k;
        } else {
            os_sleep(1);
        }
    }
    return n;
}

} // namespace

TEST(pipenobodylistens)
{
    tempdir dir;
    CHECK(dir.make("pipe0"));
    char path[256];
    dir.join(path, sizeof path, "X0");
    pipe p;
    CHECK_STR(p.name, "pipe");
    CHECK_EQ(p.kind.stream.sourcekind, 54);
    CHECK_EQ(p.open(path), 1);
    CHECK(!p.isopen());
    CHECK_EQ(p.connected, 0);
    CHECK_EQ(p.fd, 0);
    CHECK_EQ(cmd(p, stream_write, 5, "hello"), 0);
    CHECK_EQ(cmd(p, stream_pending), 0);
    u8* bytes = nullptr;
    CHECK_EQ(cmd(p, stream_read, 10, &bytes), 0);
    CHECK_EQ(p.open(nullptr), 1);
    CHECK(!p.isopen());
    dir.remove();
}

TEST(pipebothways)
{
    listener l;
    CHECK(l.make("pipe1"));
    pipe p;
    CHECK_EQ(p.open(l.path), 1);
    CHECK(p.isopen());
    CHECK_EQ(p.connected, 1);
    int server = l.accept();
    CHECK(server > 2);
    CHECK_EQ(cmd(p, stream_write, 5, "hello"), 5);
    CHECK_EQ(cmd(p, stream_pending), 0);
    char got[16] = {};
    CHECK_EQ(sys_read(server, got, sizeof got), 5);
    CHECK_MEM(got, "hello", 5);

    CHECK_EQ(sys_write(server, "0123456789", 10), 10);
    u8 in[16];
    CHECK_EQ(readall(p, in, 6, 6), 6);
    CHECK_MEM(in, "012345", 6);
    CHECK_EQ(cmd(p, stream_giveback, 2), 2);            // the reader takes back its last two
    CHECK_EQ(readall(p, in, sizeof in, 6), 6);
    CHECK_MEM(in, "456789", 6);

    // Restart keeps the connection: the next bytes still arrive.
    CHECK_EQ(cmd(p, stream_restart), 1);
    CHECK(p.isopen());
    CHECK_EQ(p.connected, 1);
    CHECK_EQ(sys_write(server, "xy", 2), 2);
    CHECK_EQ(readall(p, in, sizeof in, 2), 2);
    CHECK_MEM(in, "xy", 2);

    int fd = p.fd;
    p.exit(false);
    CHECK(isclosed(fd));
    CHECK_EQ(p.fd, 0);
    sys_close(server);
    l.remove();
}

// More than both socket buffers hold: the write takes it all, 'V' shows what waits,
// and the scheduler's steps send the rest in order.
TEST(pipelargewrite)
{
    connection c;
    CHECK(c.make("pipe2"));
    pipe& p = c.p;
    int server = c.server;
    const u32 total = 3 << 20;
    u8* block = patternblock(total);
    u8* seen = (u8*)process->pool.getmem(total);
    CHECK(block && seen);
    if (!block || !seen)
        return;
    CHECK_EQ(cmd(p, stream_write, (int)total, block), (sptr)total);
    CHECK(cmd(p, stream_pending) > 0);
    CHECK(p.hasstate(streamstate_registered));
    u32 n = 0;
    for (int i = 0; i < 20000 && n < total; i++) {
        long r = sys_read(server, seen + n, total - n);
        if (r > 0)
            n += (u32)r;
        else
            p.callback(&p, cmd_cyclic, 0, 0, nullptr);
    }
    CHECK_EQ(n, total);
    CHECK_MEM(seen, block, total);
    CHECK_EQ(cmd(p, stream_pending), 0);
    CHECK(!p.hasstate(streamstate_registered));
    process->pool.freemem(block);
    process->pool.freemem(seen);
    c.remove();
}

// The server goes away: bytes it sent before are still read, then the stream
// ends; nothing is polled for ever and the socket is closed exactly once.
TEST(pipepeergone)
{
    listener l;
    CHECK(l.make("pipe3"));
    pipe p;
    p.open(l.path);
    int server = l.accept();
    CHECK(server > 2);
    int fd = p.fd;
    CHECK_EQ(sys_write(server, "bye", 3), 3);
    sys_close(server);
    u8 in[8];
    CHECK_EQ(readall(p, in, sizeof in, 3), 3);
    CHECK_MEM(in, "bye", 3);
    u8* bytes = nullptr;
    CHECK_EQ(cmd(p, stream_read, 8, &bytes), 0);
    CHECK(isclosed(fd));
    CHECK_EQ(p.fd, 0);
    CHECK(!p.isopen());
    CHECK(p.hasstate(streamstate_endseen));
    CHECK_EQ(cmd(p, stream_write, 3, "abc"), 0);

    // A descriptor that reuses the number is not closed by the stream's exit.
    int other = os_fopen("/dev/null", 1);
    CHECK(other > 0);
    p.exit(false);
    CHECK(!isclosed(other));
    os_close(other);
    l.remove();
}

// The peer stops reading and goes away while output is queued: the send error
// drops the queue and closes the stream; the scheduler entry goes with it.
TEST(pipesendafterpeergone)
{
    connection c;
    CHECK(c.make("pipe4"));
    pipe& p = c.p;
    const u32 total = 2 << 20;
    u8* block = patternblock(total);
    CHECK(block);
    if (!block)
        return;
    CHECK_EQ(cmd(p, stream_write, (int)total, block), (sptr)total);
    CHECK(cmd(p, stream_pending) > 0);
    sys_close(c.server);
    c.server = 0;
    for (int i = 0; i < 100 && p.isopen(); i++)
        p.callback(&p, cmd_cyclic, 0, 0, nullptr);
    CHECK(!p.isopen());
    CHECK_EQ(p.fd, 0);
    CHECK_EQ(cmd(p, stream_pending), 0);
    CHECK(!p.hasstate(streamstate_registered));
    process->pool.freemem(block);
    c.remove();
}
