// The argument record. It is filled once per process, behind its flag, from the
// argv and envp arrays of the start block (Linux and macOS alike) (never by walking the string area, which
// holds the kernel's extra strings and may hold empty ones). A null argv or a
// missing first argument (argc 0 on older kernels) leaves the names unset.
#include "os_arguments.h"
#include "../../framework/mem.h"
#include "../../framework/os.h"
#include "../../framework/str.h"

namespace kzv {

static char const* pooltext(mem& pool, char const* s, u32 length)
{
    length = kzv_min(length, ARGTEXT_MAX);
    char* copy = (char*)pool.sgetmem(length + 1);
    if (!copy)
        return nullptr;
    memcpy(copy, s, length);
    copy[length] = 0;
    return copy;
}

// A text under construction in a fixed buffer; appends stop at the capacity and
// say so in `full`.
struct textbuilder {
    char* text;
    u32 length;
    u32 capacity;
    bool full;

    void append(char const* s)
    {
        while (*s && length + 1 < capacity)
            text[length++] = *s++;
        text[length] = 0;
        full = full || *s;
    }
    void cut(u32 n)
    {
        length = kzv_min(length, n);
        text[length] = 0;
    }
    // Drops the last component; "/name" keeps the root.
    void cutatlastslash(bool keeproot)
    {
        char const* slash = strrchr((char const*)text, '/');
        if (slash)
            cut(slash == text && keeproot ? 1 : (u32)(slash - text));
    }
};

static char const* valueof(char const* entry, char const* prefix)
{
    if (!streqbegin(entry, prefix))
        return nullptr;
    char const* value = entry + strlen(prefix);
    return *value ? value : nullptr;    // an empty value counts as unset
}

static void fillenvironment(argumentrecord& r, char const* const* envp, mem& pool)
{
    u32 count = 0;
    while (envp && envp[count] && count < ENVIRONMENT_MAX)
        count++;
    char const** env = (char const**)pool.sgetmem0((u64)(count + 1) * sizeof(char const*));
    if (!env)
        return;
    for (u32 i = 0; i < count; i++) {
        char const* e = envp[i];
        env[i] = e;
        if (char const* v = valueof(e, "USER="))
            r.user = v;
        if (char const* v = valueof(e, "HOME="))
            r.home = r.home ? r.home : v;
        if (char const* v = valueof(e, "PWD="))
            r.workingdir = v;
    }
    r.env = env;
}

static void fillworkingdir(argumentrecord& r, mem& pool, char* scratch)
{
    if (r.workingdir)
        return;
    // A directory name cut short would name another directory.
    u32 length = arguments_currentdir(scratch, ARGSCRATCH_CAPACITY) ? strlen(scratch) : 0;
    r.workingdir = length && length <= ARGTEXT_MAX ? pooltext(pool, scratch, length) : nullptr;
    if (!r.workingdir)
        r.workingdir = ".";
}

// The program name is the base name without its last extension: the directories
// may hold dots of their own (~/.local/bin, /home/john.doe). A leading dot is part
// of the name.
static void fillnames(argumentrecord& r, char const* first, mem& pool)
{
    char const* slash = strchr(first, '/');
    r.invokedname = slash ? slash + 1 : first;
    char const* last = strrchr(first, '/');
    char const* base = last ? last + 1 : first;
    char const* dot = strrchr(base, '.');
    u32 length = dot && dot != base ? (u32)(dot - base) : strlen(base);
    if (length)
        r.programname = pooltext(pool, base, length);
}

static void fillprogramdir(argumentrecord& r, char const* first, mem& pool, char* scratch)
{
    textbuilder dir = {scratch, 0, ARGSCRATCH_CAPACITY, false};
    scratch[0] = 0;
    if (first[0] == '/') {
        dir.append(first);
        dir.cutatlastslash(true);
    } else if (first[0] == '.' && !streq(r.workingdir, ".")) {
        dir.append(r.workingdir);
        char const* rest = first;
        while (streqbegin(rest, "../")) {
            rest += 3;
            dir.cutatlastslash(false);
        }
        if (streqbegin(rest, "./")) {
            dir.append(rest + 1);
        } else {
            if (rest[0] != '/')
                dir.append("/");
            dir.append(rest);
        }
        dir.cutatlastslash(true);
    } else if (strchr(first, '/')) {
        dir.append(first);
        dir.cutatlastslash(true);
    } else {
        dir.append(r.workingdir);
    }
    // A directory that did not fit would name another one: it stays unknown.
    if (!dir.full && dir.length <= ARGTEXT_MAX)
        r.programdir = pooltext(pool, dir.text, dir.length);
}

static void fillarguments(argumentrecord& r, startblock const& b, mem& pool, char* scratch)
{
    u32 count = 0;
    while (count + 1 < (u32)b.argc && b.argv[count + 1])
        count++;
    char const** argv = (char const**)pool.sgetmem0((u64)(count + 1) * sizeof(char const*));
    textbuilder line = {scratch, 0, ARGTEXT_MAX + 1, false};
    scratch[0] = 0;
    for (u32 i = 0; i < count; i++) {
        if (argv)
            argv[i] = b.argv[i + 1];
        if (i)
            line.append(" ");
        line.append(b.argv[i + 1]);
    }
    r.argv = argv;
    r.argc = argv ? count : 0;
    r.argline = count ? pooltext(pool, line.text, line.length) : "";
    if (!r.argline)
        r.argline = "";
}

bool arguments_fill(argumentrecord& r, startblock const& b, mem& pool, char* scratch)
{
    fillenvironment(r, b.envp, pool);
    fillworkingdir(r, pool, scratch);
    char const* first = b.argv && b.argc > 0 ? b.argv[0] : nullptr;
    if (first) {
        fillnames(r, first, pool);
        fillprogramdir(r, first, pool, scratch);
        fillarguments(r, b, pool, scratch);
    } else {
        r.argc = 0;
        r.argv = (char const**)pool.sgetmem0(sizeof(char const*));
        r.argline = "";
    }
    if (r.home && streq(r.home, "/") && r.programdir)
        r.home = r.programdir;
    if (!r.user)
        r.user = "root";
    return first != nullptr;
}

void os_getprogramnameandargs()
{
    if (!process)
        return;
    if (!process->args)
        process->args = (argumentrecord*)process->pool.sgetmem0(sizeof(argumentrecord));
    argumentrecord* r = process->args;
    if (!r || r->filled)
        return;
    r->filled = true;
    static const startblock none = {};
    startblock const* b = (startblock const*)process->entry;
    char scratch[ARGSCRATCH_CAPACITY];
    arguments_fill(*r, b ? *b : none, process->pool, scratch);
}

void os_gethomedir() { os_getprogramnameandargs(); }

} // namespace kzv
