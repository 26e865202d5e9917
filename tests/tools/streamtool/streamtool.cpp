// streamtool: drives the console and file streams from the command line, so that
// the end-to-end tests can check them against real pipes, pseudo-terminals and
// files. One command a run; the answer channel carries only what the command
// writes, diagnostics go to standard error.
//   puts TEXT          `puts` of the text          print TEXT    `print` of the text
//   eputs TEXT         `eputs` of the text         bigputs N     `puts` of N bytes (a-z repeated)
//   cat NAME           the file stream's bytes (disk first, then the archive); status 1 if it cannot open
//   load NAME MAX      `loadfile` into a buffer of MAX + 1 bytes, the bytes on standard output
//   loadwhole NAME     `loadfile` of the whole file; status 1 when it answers null
//   keys MS            the stdio stream for MS ms: "size K COLUMNS ROWS" then "keys" and the
//                      hexadecimal bytes read through 'F', on standard output
//   ttywrite N MS      N bytes (a-z repeated) through the stdio stream's 'J', then waits up to
//                      MS ms for them to drain; "drained" or "pending K" on standard error
#include "../../../framework/fileload.h"
#include "../../../framework/filestream.h"
#include "../../../framework/mem.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/stdio.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"

namespace kzv {

namespace {

enum toolmode : u8 { tool_keys, tool_ttywrite };

class streamtool : public module {
public:
    stdio console;
    toolmode mode;
    u32 startms;
    u32 limitms;
    u32 keycount;
    u8 keys[256];
};

char* pattern(u32 n)
{
    char* text = (char*)process->pool.getmem((u64)n + 1);
    if (!text)
        return nullptr;
    for (u32 i = 0; i < n; i++)
        text[i] = (char)('a' + i % 26);
    text[n] = 0;
    return text;
}

void finishkeys(streamtool* t)
{
    printf("size %u %u %u\n", (u32)t->console.sizeknown(), (u32)t->console.columns(),
           (u32)t->console.rows());
    print("keys");
    for (u32 i = 0; i < t->keycount; i++)
        printf(" %02x", (u32)t->keys[i]);
    print("\n");
}

void stepkeys(streamtool* t)
{
    for (;;) {
        sptr c = t->console.callback(&t->console, stream_getbyte, 0, 0, nullptr);
        if (c < 0)
            break;
        if (t->keycount < sizeof t->keys)
            t->keys[t->keycount++] = (u8)c;
    }
}

sptr streamtool_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    streamtool* t = (streamtool*)self;
    if (cmd != cmd_cyclic)
        return 0;
    bool late = process->msnow - t->startms >= t->limitms;
    if (t->mode == tool_keys) {
        stepkeys(t);
        if (late) {
            finishkeys(t);
            process->exit("");
        }
        return 1;
    }
    sptr pending = t->console.callback(&t->console, stream_pending, 0, 0, nullptr);
    if (pending == 0) {
        eprintf("drained\n");
        process->exit("");
    } else if (late) {
        eprintf("pending %u\n", (u32)pending);
        process->exitcode = 3;
        process->exit("");
    }
    return 1;
}

void startconsole(toolmode mode, u32 limitms)
{
    streamtool* t = (streamtool*)process->pool.getmem0(sizeof(streamtool));
    if (!t) {
        eputs("no memory");
        process->exitcode = 2;
        return;
    }
    t->initheader(nullptr, "streamtool", streamtool_concb, type_bytestream);
    t->console.init(nullptr);
    t->mode = mode;
    t->startms = process->msnow;
    t->limitms = limitms;
    process->startthread(t, 5);
    if (mode != tool_ttywrite)
        return;
    u32 n = (u32)atoi(process->getargv(1));
    char* text = pattern(n);
    if (!text || t->console.callback(&t->console, stream_write, (int)n, 0, text) != (sptr)n) {
        eputs("write refused");
        process->exitcode = 2;
    }
    if (text)
        process->pool.free_int(text);
}

int cat(char const* name)
{
    file f(name);
    if (!f.isopen())
        return 1;
    u8* bytes = nullptr;
    for (;;) {
        sptr n = f.callback(&f, stream_read, 4096, 0, &bytes);
        if (n <= 0)
            break;
        os_stdout((char const*)bytes, (unsigned)n);
    }
    return 0;
}

int load(char const* name, u32 max)
{
    u8* buffer = (u8*)process->pool.getmem((u64)max + 1);
    if (!buffer)
        return 2;
    unsigned n = loadfile(name, buffer, max);
    os_stdout((char const*)buffer, n);
    process->pool.free_int(buffer);
    return 0;
}

int loadwhole(char const* name)
{
    unsigned size = 0;
    char* block = loadfile(name, size);
    if (!block)
        return 1;
    os_stdout(block, size);
    process->pool.free_int(block);
    return 0;
}

int bigputs(u32 n)
{
    char* text = pattern(n);
    if (!text)
        return 2;
    puts(text);
    process->pool.free_int(text);
    return 0;
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    char const* command = process->getargv(0);
    char const* arg = process->getargv(1);
    int status = 0;
    if (streq(command, "puts"))
        puts(arg);
    else if (streq(command, "print"))
        print(arg);
    else if (streq(command, "eputs"))
        eputs(arg);
    else if (streq(command, "bigputs"))
        status = bigputs((u32)atoi(arg));
    else if (streq(command, "cat"))
        status = cat(arg);
    else if (streq(command, "load"))
        status = load(arg, (u32)atoi(process->getargv(2)));
    else if (streq(command, "loadwhole"))
        status = loadwhole(arg);
    else if (streq(command, "keys"))
        startconsole(tool_keys, (u32)atoi(arg));
    else if (streq(command, "ttywrite"))
        startconsole(tool_ttywrite, (u32)atoi(process->getargv(2)));
    else {
        eputs("usage: streamtool puts|print|eputs|bigputs|cat|load|loadwhole|keys|ttywrite ...");
        status = 2;
    }
    if (status)
        process->exitcode = status;
}

} // namespace kzv
