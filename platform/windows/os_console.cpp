// Console output and input. The answer and the help text go to the standard
// output handle, every diagnostic to the standard error handle, each written
// whole; a console module, when one is installed, takes standard output instead.
// Input comes from a reader thread that fills a 4096-byte ring: key presses of a
// console as UTF-8, or the bytes of a redirected input one at a time. The ring
// has one writer (the thread) and one reader (os_stdin); only the byte count and
// the end of a redirected input are shared, and they change atomically. Where the
// terminal back-end draws, the console takes UTF-8 and escape sequences; its
// modes are put back at exit.
#include "winos.h"
#include "wintext.h"
#include "../../framework/module.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

namespace kzv {

const u32 INPUT_RETRYMS = 100;          // after a failed console read
// After the end of a redirected input the run goes on this long, so that a lone
// Esc, which the key decoder holds for a while, and the answer it gives come first.
const u32 INPUT_ENDGRACEMS = 500;

unsigned os_stdout(char const* bytes, unsigned count)
{
    if (count == 0)
        return 0;
    if (consolemodule_write(bytes, count))
        return count;
    winhandle h = win_stdoutput();
    return win_isinvalid(h) ? count : win_writeall(h, bytes, count);
}

unsigned os_stdout(char const* text) { return os_stdout(text, strlen(text)); }

int os_stdout_ansi(char const* bytes, unsigned count)
{
    u32 written = 0;
    if (!WriteFile(win_stdoutput(), bytes, count, &written, nullptr))
        return -1;
    return (int)written;
}

unsigned os_stderr(char const* bytes, unsigned count) { return win_writeall(win_stderror(), bytes, count); }

unsigned os_stderr(char const* text) { return os_stderr(text, strlen(text)); }

// The newline always follows, as its own write.
bool os_puts(char const* line)
{
    if (!line)
        return false;
    u32 length = strlen(line);
    if (consolemodule_puts(line, length))
        return true;
    winhandle h = win_stdoutput();
    if (win_isinvalid(h))
        return false;
    if (length && win_writeall(h, line, length) != length)
        return false;
    return win_writeall(h, "\n", 1) == 1;
}

void os_disconnectstdout()
{
    if (process)
        process->consolemodule = nullptr;
}

void os_setconsolemodule(module* m)
{
    if (process)
        process->consolemodule = m;
}

void os_saveconsolemodule()
{
    if (winstate* s = win_state())
        s->savedconsole = process->consolemodule;
}

void os_restoreconsolemodule()
{
    if (winstate* s = win_state())
        process->consolemodule = s->savedconsole;
}

// The console keeps its own input modes: there is no raw mode to enter or leave.
bool os_initstdio() { return true; }
bool os_setstdinsinglemode() { return true; }

// The terminal back-end draws with UTF-8 text and escape sequences. A console
// takes them as such only with its output code page at UTF-8 and its
// virtual-terminal processing on; both are put back at exit. Standard output that
// is no console (a pipe to a terminal program) passes the bytes as they are.
void os_setterminalchanged()
{
    winstate* s = win_state();
    if (!s || s->console.changed)
        return;
    s->console.changed = true;
    winhandle h = win_stdoutput();
    u32 mode = 0;
    if (win_isinvalid(h) || !GetConsoleMode(h, &mode))
        return;
    s->console.modesaved = true;
    s->console.mode = mode;
    s->console.codepage = GetConsoleOutputCP();
    SetConsoleMode(h, mode | WIN_CONSOLE_PROCESSEDOUTPUT | WIN_CONSOLE_VIRTUALTERMINAL);
    SetConsoleOutputCP(WIN_CPUTF8);
}

// The screen modes are undone once, by the first end that comes (kzvmain's own,
// or an end of the process from elsewhere).
void os_exitstdio()
{
    if (!process)
        return;
    process->consolemodule = nullptr;
    winstate* s = win_state();
    if (!s || !s->console.changed)
        return;
    s->console.changed = false;
    winhandle h = win_stdoutput();
    if (win_isinvalid(h))
        return;
    win_writeall(h, TERMINAL_RESTORE, sizeof(TERMINAL_RESTORE) - 1);
    if (s->console.modesaved) {
        SetConsoleMode(h, s->console.mode);
        SetConsoleOutputCP(s->console.codepage);
    }
}

// The UI is drawn on standard output whatever it is; only a console can tell its
// size, as the cells of its visible window.
bool os_getterminalsize(unsigned short& columns, unsigned short& rows, bool& isterminal)
{
    columns = TERMINAL_DEFAULTCOLUMNS;
    rows = TERMINAL_DEFAULTROWS;
    winhandle h = win_stdoutput();
    isterminal = !win_isinvalid(h);
    winconsolebufferinfo info;
    if (!isterminal || !GetConsoleScreenBufferInfo(h, &info))
        return false;
    s32 c = (s32)info.right - info.left + 1;
    s32 r = (s32)info.bottom - info.top + 1;
    if (c <= 0 || r <= 0)
        return false;                       // a window we cannot believe
    columns = (unsigned short)c;
    rows = (unsigned short)r;
    return true;
}

// ---- the reader thread ----

static void queuebyte(wininput& in, u8 b)
{
    if (__atomic_load_n(&in.count, __ATOMIC_ACQUIRE) >= WININPUT_RINGSIZE)
        return;                             // full: the byte is dropped
    in.ring[in.writeindex] = b;
    in.writeindex = (u16)((in.writeindex + 1) & (WININPUT_RINGSIZE - 1));
    __atomic_add_fetch(&in.count, (u16)1, __ATOMIC_RELEASE);
}

static void queuecode(wininput& in, u32 code)
{
    char bytes[4];
    u32 n = wintext_encode(code, bytes);
    for (u32 i = 0; i < n; i++)
        queuebyte(in, (u8)bytes[i]);
}

// A character outside the first plane comes as two key events, one per surrogate.
static void queuecharacter(wininput& in, u16 unit)
{
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (in.pendinghigh)
            queuecode(in, in.pendinghigh);
        in.pendinghigh = unit;
        return;
    }
    if (in.pendinghigh && unit >= 0xDC00 && unit <= 0xDFFF) {
        queuecode(in, 0x10000 + ((u32)(in.pendinghigh - 0xD800) << 10) + (unit - 0xDC00));
        in.pendinghigh = 0;
        return;
    }
    if (in.pendinghigh)
        queuecode(in, in.pendinghigh);
    in.pendinghigh = 0;
    queuecode(in, unit);
}

// Keys that a console reports by their virtual key alone, with no character (the
// cursor keys and Delete everywhere; Esc on some consoles), are queued as the
// bytes a terminal sends for them, which the terminal back-end's key decoder reads.
static const struct { u16 virtualkey; char const* bytes; } KEYSEQUENCES[] = {
    {0x1b, "\x1b"},                      // Esc
    {0x25, "\x1b[D"}, {0x26, "\x1b[A"}, {0x27, "\x1b[C"}, {0x28, "\x1b[B"},   // left, up, right, down
    {0x2e, "\x1b[3~"},                   // Delete
};

static void queuekey(wininput& in, winkeyevent const& key)
{
    if (key.character) {
        queuecharacter(in, key.character);
        return;
    }
    for (auto const& k : KEYSEQUENCES) {
        if (k.virtualkey != key.virtualkey)
            continue;
        for (char const* b = k.bytes; *b; b++)
            queuebyte(in, (u8)*b);
        return;
    }
}

static bool exitrequested() { return process && __atomic_load_n(&process->exitrequested, __ATOMIC_ACQUIRE); }

static void readconsole(wininput& in)
{
    while (!exitrequested()) {
        wininputrecord record;
        u32 n = 0;
        if (!ReadConsoleInputW(in.handle, &record, 1, &n)) {
            Sleep(INPUT_RETRYMS);
            continue;
        }
        winkeyevent const& key = record.event.key;
        if (n == 1 && record.eventtype == WIN_KEYEVENT && key.keydown)
            queuekey(in, key);
    }
}

// A redirected input ends for good at its end: the thread stops there and says so.
static void readbytes(wininput& in)
{
    while (!exitrequested()) {
        u8 b;
        u32 n = 0;
        if (!ReadFile(in.handle, &b, 1, &n, nullptr) || n == 0)
            break;
        queuebyte(in, b);
    }
    __atomic_store_n(&in.ended, (u8)1, __ATOMIC_RELEASE);
}

static u32 readerthread(void* argument)
{
    wininput& in = *(wininput*)argument;
    if (in.kind == wininput_console)
        readconsole(in);
    else
        readbytes(in);
    return 0;
}

// The console kind where standard input is a console, the byte kind otherwise.
static bool startreader(wininput& in)
{
    in.ring = (u8*)process->pool.sgetmem(WININPUT_RINGSIZE);
    in.handle = GetStdHandle(WIN_STDINPUT);
    if (!in.ring || win_isinvalid(in.handle))
        return false;
    u32 mode = 0;
    in.kind = GetConsoleMode(in.handle, &mode) ? wininput_console : wininput_bytes;
    in.thread = CreateThread(nullptr, 0, readerthread, &in, 0, nullptr);
    return in.thread != nullptr;
}

static u32 takebytes(wininput& in, u8* out, u32 size)
{
    u32 n = 0;
    while (n < size && __atomic_load_n(&in.count, __ATOMIC_ACQUIRE) > 0) {
        u8 b = in.ring[in.readindex];
        in.readindex = (u16)((in.readindex + 1) & (WININPUT_RINGSIZE - 1));
        __atomic_sub_fetch(&in.count, (u16)1, __ATOMIC_RELEASE);
        out[n++] = b;
        if (b == 3)
            process->exit("child ctrl-c");
    }
    return n;
}

// No key can come after the end, so a dialog waiting for one would wait for ever.
static void noticeend(wininput& in)
{
    if (!__atomic_load_n(&in.ended, __ATOMIC_ACQUIRE) || exitrequested())
        return;
    u32 now = GetTickCount();
    if (!in.endseen) {
        in.endseen = true;
        in.endms = now;
        return;
    }
    if (now - in.endms < INPUT_ENDGRACEMS)
        return;
    process->exitcode = 2;
    process->exit("the input has ended");
}

int os_stdin(void* buffer, unsigned size)
{
    winstate* s = win_state();
    if (!s || size == 0)
        return 0;
    wininput& in = s->input;
    if (in.kind == wininput_none && !startreader(in)) {
        in.kind = wininput_bytes;
        in.ring = nullptr;                  // no input, and no second try either
        in.ended = 1;
    }
    u32 n = in.ring && in.thread ? takebytes(in, (u8*)buffer, size) : 0;
    if (n == 0)
        noticeend(in);
    return (int)n;
}

} // namespace kzv
