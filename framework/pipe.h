// The `pipe` stream: the stream skeleton over a connected Unix-domain socket (the
// X server's local socket). A connect that fails leaves the stream unopened, so
// its owner can give up at once. A read or send error, or the peer's end of the
// stream, is a loss: the socket is closed and end of input and discard are set,
// so the stream closes and its reader sees the end. The socket and the buffers
// belong to the module and go with its exit.
#pragma once
#include "mem.h"
#include "stream.h"

namespace kzv {

const u8 PIPE_SOURCEKIND = 54;         // the kind byte of the bytestream view
const u32 PIPE_READCHUNK = 1024;

class pipe : public stream {
public:
    u8 connected;           // 1 while the socket is connected; device calls need it
    int fd;                 // 0 = none
    smem smallpool;         // made at init, released at exit; nothing uses it yet

    pipe() { init(nullptr); }
    ~pipe() { exit(true); }
    pipe(pipe const&) = delete;
    pipe& operator=(pipe const&) = delete;

    void init(mem* p);
    void exit(bool keep);
    void mexit();

    // Resets the stream (connections kept) and connects to the socket at path.
    // Always 1; the open bit tells whether the connect worked.
    int open(char const* path);
    void restart();         // 'H': buffers emptied, open again; the socket stays

    int mread(u8* buffer, u32 n);
    int mwrite(u8 const* bytes, u32 n);

private:
    void lose();
};

sptr pipe_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
