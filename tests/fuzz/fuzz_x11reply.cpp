// libFuzzer target for the X11 client's reading of the server (built with clang++
// -fsanitize=fuzzer,address by tests/fuzz/run_fuzz_x11.sh, over the framework's
// sources). The input is what a server sends: the setup reply, replies, errors
// and events, fed to a real client module through a scripted stream in pieces
// whose size the first byte picks. Once the client is ready it opens a window
// (its id is the setup's resource base, so events can name it), takes a back
// buffer and updates it, so the window side meets the same bytes. The parsers
// each also get the input directly, in exact-size heap copies. Any read or write
// past a block is an ASan report; a run that does not finish hangs the fuzzer.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "../unit/x11fixture.h"
#include "../../framework/os.h"
#include "../../gui/guidriver.h"

using namespace kzv;
using namespace kzvtest;

namespace kzv {
void memoryinit(unsigned&, unsigned&) {}
void mmain() {}
} // namespace kzv

namespace {

const u32 PROCESSBLOCK = 0x400000;
const u32 MAXSTEPS = 4000;

void parsersdirectly(u8 const* data, u32 size)
{
    u8* copy = (u8*)malloc(size ? size : 1);
    memcpy(copy, data, size);
    x11setup s;
    x11_decodesetup(copy, size, s);
    static u16 columns[4][256];
    x11_decodekeymap(copy, size, size ? copy[0] : 8, size > 1 ? copy[1] : 0, columns);
    u32 w = 0, h = 0;
    x11_decodescreenresources(copy, size, w, h);
    char device[64];
    x11_decodedri2connect(copy, size, device, sizeof device);
    char reason[80];
    if (size >= 8)                  // a setup head is 8 bytes: the client keeps a copy of that size
        x11_refusalreason(copy, copy + 8, size - 8, reason, sizeof reason);
    x11event e;
    if (size >= 32)
        x11_decodeevent(copy, e);
    for (u32 i = 0; i + 1 < size && i < 64; i += 2)
        x11_keycode(columns, copy[i], copy[i + 1]);
    free(copy);
}

void windowwork(x11* x, guiwindow* w, bool& opened, u8 selector)
{
    if (!opened) {
        opened = x->command(guicmd_openwindow, 0, 0, w) == 1;
        if (opened) {
            x->command(guicmd_createbackbuffer, 0, 0, w);
            x->command(guicmd_getbackbuffer, 0, 0, w);
            x->command(guicmd_createbuffer, 9, 7, w);
            x->command(guicmd_getbufferimage, 0, 0, w);
        }
        return;
    }
    switch (selector % 6) {
    case 0: x->command(guicmd_update, 0, 0, w); break;
    case 1: x->command(guicmd_update, 3 << 16, (5 << 16) | 4, w); break;
    case 2: x->command(guicmd_setbuffer, (int)(selector % 7) - 3, (int)(selector % 5) - 2, w); break;
    case 3: x->command(guicmd_framedue, 0, 0, w); break;
    case 4: x->command(guicmd_updatewhole, 0, 0, w); break;
    default: break;
    }
}

sptr ignore_concb(void*, unsigned, int, int, void const*) { return 1; }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    void* block = os_getmem((int)PROCESSBLOCK);
    process = (sysprocess*)block;
    process->init(nullptr, PROCESSBLOCK, 0x80000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 2 || size > FAKE_INPUT)
        return 0;
    parsersdirectly(data + 2, (u32)size - 2);

    fakeserver* f = fakeserver::make();
    x11* x = (x11*)process->pool.getmem0(sizeof(x11));
    x->init(nullptr);
    connect(f->out, x->in);
    x->open(0, "", 0);
    x->authmissing = 0;             // said on every run otherwise
    f->chunk = 1 + data[0] % 97;
    f->feed(data + 2, (u32)size - 2);

    module events;
    memset0(&events, sizeof events);
    events.initheader(nullptr, "events", ignore_concb, type_uimessage);
    guiwindow* w = (guiwindow*)process->pool.getmem0(sizeof(guiwindow));
    w->width = (u16)(1 + data[1] % 40);
    w->height = (u16)(1 + data[1] / 40 % 30);
    w->title = "fuzz";
    w->eventpin = &events.in;
    bool opened = false;
    for (u32 step = 0; step < MAXSTEPS && x->connstate != x11state_ended; step++) {
        if (f->inputpos == f->inputlength && step % 16 == 15)
            f->end();               // the server goes away once its bytes are read
        x->cyclic();
        if (x->isready())
            windowwork(x, w, opened, data[(step * 7) % size]);
        f->outputlength = f->outputread = 0;    // what the client sent is not kept
        f->callback(f, cmd_cyclic, 0, 0, nullptr);
    }
    if (x->connstate != x11state_ended && f->inputpos == f->inputlength && f->ended)
        abort();                    // the end of the stream was never seen
    if (opened)
        x->command(guicmd_closewindow, 0, 0, w);
    x->exit(true);
    f->release();
    process->pool.freemem(x);
    process->pool.freemem(w);
    process->exitcode = 0;
    process->exitrequested = 0;
    return 0;
}
