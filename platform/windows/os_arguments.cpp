// The argument record on Windows, filled once behind its flag: the program's
// file and folder from the module path, the working directory, the arguments
// from the whole command line (up to the system's 32767 units, split by the
// system's rules), and the environment block, each string converted whole into
// the process pool. A module path or working directory that fills its buffer is
// a failure and leaves the field unknown, never a cut path. The user and
// computer names stay unset, and the home directory is looked up only on demand.
#include "winos.h"
#include "wincmdline.h"
#include "winpath.h"
#include "wintext.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

namespace kzv {

const u32 PATHTEXT_CAPACITY = WINPATH_CAPACITY * 3;    // the UTF-8 of a system path
const u32 ENVIRONMENT_MAX = 1000;                       // environment entries taken
const u32 COMMANDLINE_MAXUNITS = 32767;                 // the system's limit
const u32 ARGLINE_MAX = 999;                            // bytes of the argument line
const s32 CSIDL_APPDATA = 26;

static char const* pooltext(char const* s, u32 length)
{
    char* copy = (char*)process->pool.sgetmem(length + 1);
    if (!copy)
        return nullptr;
    memcpy(copy, s, length);
    copy[length] = 0;
    return copy;
}

// A wide text converted whole into the pool (3 bytes a unit at the most), or null.
static char* poolutf8(u16 const* text, u32 units)
{
    char* out = (char*)process->pool.sgetmem((u64)units * 3 + 1);
    u32 bytes = 0;
    if (out && !wintext_toutf8(text, units, out, units * 3 + 1, bytes))
        out[0] = 0;
    return out;
}

static void fillprogram(argumentrecord& r)
{
    u16 wide[WINPATH_CAPACITY];
    char path[PATHTEXT_CAPACITY];
    u32 n = GetModuleFileNameW(nullptr, wide, WINPATH_CAPACITY);
    if (n == 0 || n >= WINPATH_CAPACITY || !winpath_toprogram(wide, path, sizeof path))
        return;
    char const* slash = strrchr((char const*)path, '/');
    char const* invoked = slash ? slash + 1 : path;
    r.invokedname = pooltext(invoked, strlen(invoked));
    char const* dot = strrchr(invoked, '.');
    u32 length = dot && dot != invoked ? (u32)(dot - invoked) : strlen(invoked);
    if (length)
        r.programname = pooltext(invoked, length);
    if (slash)
        r.programdir = pooltext(path, slash == path ? 1 : (u32)(slash - path));
}

static void fillworkingdir(argumentrecord& r)
{
    u16 wide[WINPATH_CAPACITY];
    char path[PATHTEXT_CAPACITY];
    u32 n = GetCurrentDirectoryW(WINPATH_CAPACITY, wide);
    if (n == 0 || n >= WINPATH_CAPACITY || !winpath_toprogram(wide, path, sizeof path))
        return;
    u32 length = strlen(path);
    if (length > 1 && path[length - 1] == '/')
        length--;
    r.workingdir = pooltext(path, length);
}

// The argument line is the text behind the program's name as typed, cut at a
// character boundary within ARGLINE_MAX bytes.
static char const* argline(char const* arguments)
{
    u32 length = strlen(arguments);
    if (length > ARGLINE_MAX) {
        length = ARGLINE_MAX;
        while (length && ((u8)arguments[length] & 0xC0) == 0x80)
            length--;
    }
    return pooltext(arguments, length);
}

static void fillarguments(argumentrecord& r)
{
    u16 const* line = GetCommandLineW();
    u32 units = 0;
    while (line && units < COMMANDLINE_MAXUNITS && line[units])
        units++;
    char* text = line ? poolutf8(line, units) : nullptr;
    char const* arguments = wincmdline_arguments(text ? text : "");
    u32 length = strlen(arguments);
    char* words = (char*)process->pool.sgetmem(length + 1);
    u32 count = words ? wincmdline_split(arguments, words, nullptr, 0) : 0;
    char const** argv = (char const**)process->pool.sgetmem0((u64)(count + 1) * sizeof(char const*));
    if (!argv)
        count = 0;
    else if (count)
        wincmdline_split(arguments, words, argv, count);
    r.argv = argv;
    r.argc = count;
    r.argline = count ? argline(arguments) : "";
    if (!r.argline)
        r.argline = "";
}

// The block holds NAME=value texts one behind the other and ends with an empty one.
static void fillenvironment(argumentrecord& r)
{
    u16* block = GetEnvironmentStringsW();
    if (!block)
        return;
    u32 count = 0;
    for (u16 const* e = block; *e && count < ENVIRONMENT_MAX; e += strlen(e) + 1)
        count++;
    char const** env = (char const**)process->pool.sgetmem0((u64)(count + 1) * sizeof(char const*));
    u32 i = 0;
    for (u16 const* e = block; env && i < count; e += strlen(e) + 1) {
        char* text = poolutf8(e, strlen(e));
        if (!text)
            break;
        env[i++] = text;
    }
    FreeEnvironmentStringsW(block);
    r.env = env;
}

static argumentrecord* record()
{
    if (!process)
        return nullptr;
    if (!process->args)
        process->args = (argumentrecord*)process->pool.sgetmem0(sizeof(argumentrecord));
    return process->args;
}

void os_getprogramnameandargs()
{
    argumentrecord* r = record();
    if (!r || r->filled)
        return;
    r->filled = true;
    fillprogram(*r);
    fillworkingdir(*r);
    fillarguments(*r);
    fillenvironment(*r);
    win_trimworkingset();
}

// The application-data folder stands for the home directory, in a record that
// is filled first like every other.
void os_gethomedir()
{
    os_getprogramnameandargs();
    argumentrecord* r = record();
    if (!r)
        return;
    winhandle library = LoadLibraryA("Shell32.dll");
    win_shgetspecialfolderpathw get = (win_shgetspecialfolderpathw)win_lookup(library, "SHGetSpecialFolderPathW");
    u16 wide[WINPATH_CAPACITY] = {};
    char path[PATHTEXT_CAPACITY];
    if (get && get(nullptr, wide, CSIDL_APPDATA, 0) && winpath_toprogram(wide, path, sizeof path))
        r->home = pooltext(path, strlen(path));
    if (library)
        FreeLibrary(library);
    win_trimworkingset();
}

} // namespace kzv
