// winpeer: the Windows program's peers for the end-to-end tests under wine.
//   split FILE        each line of FILE (UTF-8) split by the system's own
//                     CommandLineToArgvW: "[word]" lines, then "--"
//   run PROGRAM FILE  each line of FILE handed raw, as the whole command line, to
//                     PROGRAM through CreateProcessW, sharing the standard
//                     handles; "--" after each run
//   clipboard         the GDI back-end's clipboard text (command 161) on standard
//                     output, or "(none)"
//   fault             writes through a null pointer, so that the platform's
//                     exception filter reports it
//   consolekeys MS    reads the console input as the platform's reader thread
//                     reads it (ReadConsoleInputW, one record at a time) for up
//                     to MS milliseconds or until a 'q' is typed, printing one
//                     line per record: "key VK CHAR" for a key press, "event
//                     TYPE" for anything else; "not a console" without one
#include "../../../framework/fileload.h"
#include "../../../framework/os.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"
#include "../../../framework/vprinter.h"
#include "../../../gui/guidriver.h"
#include "../../../platform/windows/winos.h"
#include "../../../platform/windows/wintext.h"

namespace kzv {

struct startupinfo {                // STARTUPINFOW
    u32 size;
    u16* reserved;
    u16* desktop;
    u16* title;
    u32 x, y, xsize, ysize, xchars, ychars, fill, flags;
    u16 show, reserved2size;
    u8* reserved2;
    winhandle input, output, error;
};
static_assert(sizeof(startupinfo) == 104, "STARTUPINFOW");
struct processinformation {
    winhandle process, thread;
    u32 processid, threadid;
};

extern "C" {
__declspec(dllimport) s32 CreateProcessW(u16 const* application, u16* commandline, void* processsecurity,
                                         void* threadsecurity, s32 inherit, u32 flags, void* environment,
                                         u16 const* directory, startupinfo* startup, processinformation* info);
__declspec(dllimport) u32 WaitForSingleObject(winhandle h, u32 ms);
}
const u32 WAIT_OBJECT0 = 0;
typedef u16** (*win_commandlinetoargvw)(u16 const* line, s32* count);
typedef void* (*win_localfree)(void* block);

namespace {

const u32 LINE_CAPACITY = 4096;
const u32 STARTF_USESTDHANDLES = 0x100;
const u32 RUN_WAITMS = 60000;

// The lines of FILE in turn; false at its end.
struct lines {
    char* text;
    char* next;
    bool take(char*& line)
    {
        if (!next || !*next)
            return false;
        line = next;
        char* end = strchr(next, '\n');
        next = end ? end + 1 : nullptr;
        if (end)
            *end = 0;
        return true;
    }
};

bool openlines(char const* path, lines& l)
{
    unsigned size = 0;
    l.text = loadfile(path, size);
    l.next = l.text;
    if (!l.text)
        os_stderr("winpeer: cannot read the file of command lines\n");
    return l.text != nullptr;
}

void split(char const* path)
{
    lines l;
    if (!openlines(path, l))
        return;
    winhandle shell = LoadLibraryA("Shell32.dll");
    win_commandlinetoargvw toargv = (win_commandlinetoargvw)win_lookup(shell, "CommandLineToArgvW");
    win_localfree localfree = (win_localfree)win_lookup(LoadLibraryA("kernel32.dll"), "LocalFree");
    char* line;
    while (toargv && localfree && l.take(line)) {
        u16 wide[LINE_CAPACITY];
        u32 units = 0;
        s32 count = 0;
        u16** words = wintext_toutf16(line, wide, LINE_CAPACITY, units) ? toargv(wide, &count) : nullptr;
        // The first word is the program's name, which the record does not hold.
        for (s32 i = 1; words && i < count; i++) {
            char text[LINE_CAPACITY * 3];
            u32 bytes = 0;
            wintext_toutf8(words[i], WINTEXT_TOEND, text, sizeof text, bytes);
            os_stdout("[");
            os_stdout(text);
            os_puts("]");
        }
        if (words)
            localfree(words);
        os_puts("--");
    }
}

void run(char const* program, char const* path)
{
    lines l;
    if (!openlines(path, l))
        return;
    u16 application[LINE_CAPACITY];
    u32 units = 0;
    if (!wintext_toutf16(program, application, LINE_CAPACITY, units))
        return;
    char* line;
    while (l.take(line)) {
        u16 wide[LINE_CAPACITY];
        if (!wintext_toutf16(line, wide, LINE_CAPACITY, units))
            break;
        startupinfo startup = {};
        startup.size = sizeof startup;
        startup.flags = STARTF_USESTDHANDLES;
        startup.input = GetStdHandle(WIN_STDINPUT);
        startup.output = GetStdHandle(WIN_STDOUTPUT);
        startup.error = GetStdHandle(WIN_STDERROR);
        processinformation info = {};
        if (CreateProcessW(application, wide, nullptr, nullptr, 1, 0, nullptr, nullptr, &startup, &info)) {
            WaitForSingleObject(info.process, RUN_WAITMS);
            CloseHandle(info.thread);
            CloseHandle(info.process);
        } else {
            os_puts("(not started)");
        }
        os_puts("--");
    }
}

void clipboard()
{
    guidriver* d = (guidriver*)process->pool.sgetmem(sizeof(guidriver));
    if (!d)
        return;
    d->init(nullptr);
    d->open(guiopen_noterminal);
    u16 text[LINE_CAPACITY];
    text[0] = 0;
    sptr n = guidriver_concb(d, guicmd_clipboardtext, LINE_CAPACITY, 0, text);
    char out[LINE_CAPACITY * 3];
    u32 bytes = 0;
    wintext_toutf8(text, WINTEXT_TOEND, out, sizeof out, bytes);
    os_puts(n > 0 ? out : "(none)");
    d->exit(true);
}

void printrecord(wininputrecord const& record)
{
    char line[64];
    winkeyevent const& key = record.event.key;
    if (record.eventtype != WIN_KEYEVENT)
        vprinter_format(line, sizeof line, 64, "event %u", (u32)record.eventtype);
    else if (!key.keydown)
        return;                                 // releases say nothing the reader uses
    else
        vprinter_format(line, sizeof line, 64, "key %u %u", (u32)key.virtualkey, (u32)key.character);
    os_puts(line);
}

void consolekeys(char const* text)
{
    int asked = text ? str_atoisaturated(text) : 0;
    u32 limitms = asked > 0 ? (u32)asked : 0;
    winhandle in = GetStdHandle(WIN_STDINPUT);
    u32 mode = 0;
    if (win_isinvalid(in) || !GetConsoleMode(in, &mode)) {
        os_puts("not a console");
        return;
    }
    os_puts("console");
    u32 start = GetTickCount();
    for (u32 passed = 0; passed < limitms; passed = GetTickCount() - start) {
        if (WaitForSingleObject(in, limitms - passed) != WAIT_OBJECT0)
            break;
        wininputrecord record;
        u32 n = 0;
        if (!ReadConsoleInputW(in, &record, 1, &n) || n != 1)
            continue;
        printrecord(record);
        if (record.eventtype == WIN_KEYEVENT && record.event.key.keydown && record.event.key.character == 'q')
            break;
    }
}

void fault()
{
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    char const* command = process->getargv(0);
    if (streq(command, "split")) {
        split(process->getargv(1));
    } else if (streq(command, "run")) {
        run(process->getargv(1), process->getargv(2));
    } else if (streq(command, "clipboard")) {
        clipboard();
    } else if (streq(command, "fault")) {
        fault();
    } else if (streq(command, "consolekeys")) {
        consolekeys(process->getargv(1));
    } else {
        os_stderr("usage: winpeer split FILE | run PROGRAM FILE | clipboard | fault | consolekeys MS\n");
        process->exitcode = 2;
    }
}

} // namespace kzv
