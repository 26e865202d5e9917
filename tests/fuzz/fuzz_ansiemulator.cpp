// libFuzzer target for the ANSI emulator (built with clang++ -fsanitize=fuzzer,
// address by tests/fuzz/run_fuzz_terminal.sh). The first two input bytes choose
// the screen (1-60 columns, 1-30 rows) and the colour depth; the rest is a terminal
// data stream, written in pieces of sizes taken from the input, each piece in a
// heap block of exactly its size so that a read past it (the dumps of unknown
// sequences) is an ASan report. Between pieces the colour commands, the character
// path and raw cell copies are mixed in. After every piece the cursor must lie on
// the screen (its column may be one past the last: the pending wrap), and the
// scroll region inside it with its top above its bottom.
#include <stdint.h>
#include <stdlib.h>

#include "fuzzprocess.h"
#include "../../drivers/ansiterminal.h"
#include "../../framework/stream.h"

using namespace kzv;

namespace {

struct answersink : public module {
    u32 bytes;
};

sptr answersink_concb(void* self, unsigned cmd, int a, int, void const*)
{
    if (cmd == stream_write && a > 0)
        ((answersink*)self)->bytes += (u32)a;
    return a;
}

void checkstate(ansiterminal const& t)
{
    bool cursor = t.cursorx >= 0 && t.cursorx <= t.columns && t.cursory >= 0 && t.cursory < t.rows;
    bool region = t.emu.scrolltop >= 0 && t.emu.scrollbottom < t.rows &&
                  (t.emu.scrolltop < t.emu.scrollbottom || (t.emu.scrolltop == 0 && t.emu.scrollbottom == 0));
    if (!cursor || !region || t.mode != termmode_emulator)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    fuzzprocess_start();
    if (size < 3)
        return 0;
    static const int depths[4] = {240, 16, 8, 2};
    ansiterminal t;
    if (!t.open(1 + data[0] % 60, 1 + (data[1] & 63) % 30, 0, 0))
        abort();
    t.termsetcolors(depths[data[1] >> 6]);      // for the colour commands below
    answersink sink;
    memset0(&sink, sizeof(sink));
    sink.initheader(nullptr, "sink", answersink_concb, type_bytestream);
    connect(t.out, sink.in);
    u32 seed = data[2];
    u8 const* input = data + 3;
    u32 length = (u32)size - 3;
    for (u32 at = 0; at < length;) {
        seed = seed * 1103515245u + 12345u;
        u32 piece = 1 + (seed >> 16) % 64;
        if (piece > length - at)
            piece = length - at;
        u8* copy = (u8*)malloc(piece);
        for (u32 i = 0; i < piece; i++)
            copy[i] = input[at + i];
        t.writeemu(copy, piece);
        free(copy);
        checkstate(t);
        switch ((seed >> 8) % 16) {
        case 0: t.settextcolor(seed * 2654435761u); break;
        case 1: t.setbackcolor(seed * 40503u); break;
        case 2: t.putcharemu(seed >> 12); break;
        case 3: {
            u32 cells[3] = {seed, seed >> 3, seed << 5};
            t.termputcells((int)(seed % 70) - 5, (int)((seed >> 4) % 40) - 5, cells, (seed >> 20) % 4);
            break;
        }
        case 4: t.termsetcursor((int)(seed % 130) - 30, (int)((seed >> 5) % 70) - 20); break;
        case 5: t.termclear(); break;
        default: break;
        }
        checkstate(t);
        at += piece;
    }
    t.exit(true);
    return 0;
}
