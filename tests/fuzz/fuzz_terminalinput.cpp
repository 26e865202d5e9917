// libFuzzer target for the terminal key decoder (built with clang++ -fsanitize=
// fuzzer,address by tests/fuzz/run_fuzz_terminal.sh). The input is what a terminal
// sends; it reaches the renderer through a scripted stream peer in pieces whose
// sizes, and the clock steps between them, come from the input itself, so reports
// and sequences split at every point and the Esc timeout are tried. Every key code
// must be a byte, a special key, or a mouse report with a known kind on a cell the
// byte form can name; one call takes a bounded number of bytes.
#include <stdint.h>
#include <stdlib.h>

#include "fuzzprocess.h"
#include "../../drivers/ansiterminal.h"
#include "../../framework/stream.h"

using namespace kzv;

namespace {

struct scriptpeer : public module {
    u8 const* bytes;
    u32 count;
    u32 pos;
};

sptr scriptpeer_concb(void* self, unsigned cmd, int, int, void const*)
{
    scriptpeer* s = (scriptpeer*)self;
    if (cmd == stream_getbyte)
        return s->pos < s->count ? s->bytes[s->pos++] : -1;
    return 0;
}

void checkkey(u32 k)
{
    if (k < 0x100)
        return;
    if (k >= guikey_left && k <= guikey_f1 + 3)
        return;
    u32 kind = key_kind(k);
    bool mouse = kind >= mouse_leftdown && kind <= mouse_moved;
    if (!mouse || key_column(k) > 222 || key_row(k) > 222 || (k >> 24))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    fuzzprocess_start();
    if (size < 1)
        return 0;
    scriptpeer peer;
    memset0(&peer, sizeof(peer));
    peer.initheader(nullptr, "script", scriptpeer_concb, type_bytestream);
    peer.kind.stream.sourcekind = source_stdio;
    ansiterminal t;
    connect(peer.out, t.in);
    u32 seed = data[0];
    u8 const* input = data + 1;
    u32 length = (u32)size - 1;
    u32 at = 0;
    while (at < length) {
        seed = seed * 1103515245u + 12345u;
        u32 piece = 1 + (seed >> 16) % 17;
        if (piece > length - at)
            piece = length - at;
        // Each piece in a heap block of its own size: a read past it is a report.
        u8* copy = (u8*)malloc(piece);
        for (u32 i = 0; i < piece; i++)
            copy[i] = input[at + i];
        peer.bytes = copy;
        peer.count = piece;
        peer.pos = 0;
        for (u32 calls = 0;; calls++) {
            u32 before = peer.pos;
            u32 k = t.termgetkey();
            if (peer.pos - before > TERM_KEYBYTES)
                abort();
            if (!k && peer.pos == peer.count && !t.keys.haspushback())
                break;
            checkkey(k);
            if (calls > 4 * piece + 8)
                abort();            // bytes must be used up, never circle
        }
        free(copy);
        peer.bytes = nullptr;
        peer.count = 0;
        process->msnow += (seed >> 8) % 160;
        checkkey(t.termgetkey());
        at += piece;
    }
    t.exit(true);
    return 0;
}
