// The console stream and the line writers. A refused terminal write sets
// `control_blocked` and puts the module on the scheduler at 1 ms, so pending
// escape sequences go out as soon as the terminal drains; once every pending byte
// is out the stream leaves the scheduler, so a dialog waiting for a key wakes only
// for its own steps.
// The line writers add a line end unless the text already ends in one (an empty
// text gives the line end alone).
#include "stdio.h"
#include "mem.h"
#include "os.h"
#include "str.h"

namespace kzv {

static int stdiodevread(stream* s, u8* buffer, u32 n) { return ((stdio*)s)->mread(buffer, n); }
static int stdiodevwrite(stream* s, u8 const* bytes, u32 n) { return ((stdio*)s)->mwrite(bytes, n); }
static void stdiodevexit(stream* s, bool keep) { ((stdio*)s)->exit(keep); }

static const streamdevice stdiodevice = {stdiodevread, stdiodevwrite, stdiodevexit};

void stdio::init(mem* p)
{
    memset0(this, sizeof(*this));
    initstream(p, "stdio", stdio_concb, source_stdio, STDIO_READCHUNK, &stdiodevice);
    minit();
}

void stdio::minit()
{
    rawrefused() = os_setstdinsinglemode() ? 0 : 1;
    readchunk = STDIO_READCHUNK;
    access = access_readable | access_writable;
    setstate(streamstate_open);
    unsigned short c = TERMINAL_DEFAULTCOLUMNS, r = TERMINAL_DEFAULTROWS;
    bool terminal = false;
    bool known = os_getterminalsize(c, r, terminal);
    isterminal() = terminal ? 1 : 0;
    sizeknown() = known ? 1 : 0;
    columns() = known ? c : TERMINAL_DEFAULTCOLUMNS;
    rows() = known ? r : TERMINAL_DEFAULTROWS;
}

void stdio::exit(bool keep)
{
    releasestream();
    if (!keep)
        init(pool);
}

int stdio::mread(u8* buffer, u32 n)
{
    int k = os_stdin(buffer, n);
    return k > 0 ? k : 0;
}

int stdio::mwrite(u8 const* bytes, u32 n)
{
    int k = os_stdout_ansi((char const*)bytes, n);
    if (k > 0)
        return k;
    control |= control_blocked;
    registerat(STDIO_RETRYMS);
    return 0;
}

// The skeleton's replies serve every command; 'U' and ']' answer 0 there.
sptr stdio_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    return ((stdio*)self)->command(cmd, a, b, p);
}

int puts(char const* text)
{
    return text && os_puts(text) ? 1 : 0;
}

int print(char const* text)
{
    if (!text)
        return 0;
    u32 n = strlen(text);
    return os_stdout(text, n) == n ? 1 : 0;
}

int eputs(char const* text)
{
    if (!text)
        return 0;
    u32 n = strlen(text);
    os_stderr(text, n);
    if (n == 0 || (text[n - 1] != '\n' && text[n - 1] != '\r'))
        os_stderr("\n", 1);
    return 1;
}

int eprint(char const* text)
{
    if (!text)
        return 0;
    os_stderr(text, strlen(text));
    return 1;
}

void disconnectstdout() { os_disconnectstdout(); }

} // namespace kzv
