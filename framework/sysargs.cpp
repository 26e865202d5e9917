// The argument accessors of the process. The record is taken zeroed from the pool
// and filled by the platform once; fields the platform leaves empty get their
// defaults then, and later calls only read. Environment lookups copy into the
// caller's buffer within its capacity.
#include "os.h"
#include "str.h"
#include "sysprocess.h"

namespace kzv {

namespace {
const u32 ENV_NAMECAPACITY = 512;       // the name, '=' and the terminator
const u32 ENV_VALUEMAX = 999;           // characters copied at most

char const* orelse(char const* s, char const* fallback) { return s && s[0] ? s : fallback; }

void setdefaults(argumentrecord& r)
{
    static char const* const noentries[1] = {nullptr};
    r.computername = orelse(r.computername, "");
    r.user = orelse(r.user, "");
    r.programname = orelse(r.programname, "???");
    r.invokedname = orelse(r.invokedname, "???");
    r.programdir = orelse(r.programdir, "");
    r.home = orelse(r.home, "???");
    r.workingdir = orelse(r.workingdir, "");
    r.argline = r.argline ? r.argline : "";
    if (!r.argv) {
        r.argv = (char const**)noentries;
        r.argc = 0;
    }
    if (!r.env)
        r.env = (char const**)noentries;
}
} // namespace

argumentrecord* sysprocess::getargs()
{
    if (!args)
        args = (argumentrecord*)pool.sgetmem0(sizeof(argumentrecord));
    if (!args)
        return nullptr;
    if (!args->defaulted) {
        // The platform may have filled the record already (its own home-directory
        // lookup does); the defaults are set once, whoever filled it.
        if (!args->filled)
            os_getprogramnameandargs();
        args->filled = true;
        setdefaults(*args);
        args->defaulted = true;
    }
    return args;
}

u32 sysprocess::getargc()
{
    argumentrecord* r = getargs();
    return r ? r->argc : 0;
}

char const* sysprocess::getargv(u32 i)
{
    argumentrecord* r = getargs();
    if (!r || i >= r->argc || !r->argv[i])
        return "";
    return r->argv[i];
}

char const* sysprocess::getprogramname()
{
    argumentrecord* r = getargs();
    return r ? r->programname : "???";
}

char const* sysprocess::gethomedir()
{
    argumentrecord* r = getargs();
    return r ? r->home : "???";
}

bool sysprocess::getenv(char const* name, char* out, u32 capacity)
{
    if (!name || !out || !capacity)
        return false;
    char key[ENV_NAMECAPACITY];
    u32 length = strlen(name);
    if (length + 2 > ENV_NAMECAPACITY)
        return false;                     // no variable has a name this long
    memcpy(key, name, length);
    key[length] = '=';
    key[length + 1] = 0;
    argumentrecord* r = getargs();
    if (!r || !r->env)
        return false;
    for (char const* const* e = r->env; *e; e++) {
        if (!strcaseeqbegin(*e, key))
            continue;
        strcpy(out, strchr(*e, '=') + 1, kzv_min(capacity - 1, ENV_VALUEMAX));
        return true;
    }
    return false;
}

} // namespace kzv
