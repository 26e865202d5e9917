// Option lookup. The value is parsed where it stands in the argument, so that no
// option is cut before it is read and no search text is built in the caller's
// buffer.
#include "options.h"
#include "str.h"
#include "sysprocess.h"

namespace kzv {

// The text behind the '=' of the first argument "-name=...", or null.
static char const* optionvalue(char const* name)
{
    if (!name)
        return nullptr;
    u32 namelength = strlen(name);
    u32 count = process->getargc();
    for (u32 i = 0; i < count; i++) {
        char const* arg = process->getargv(i);
        if (!arg || arg[0] != '-' || !streqbegin(arg + 1, name) || arg[1 + namelength] != '=')
            continue;
        return strchr(arg, '=') + 1;  // the first '=', also when the name holds one
    }
    return nullptr;
}

bool arggetstring(char const* name, char* out, u32 len, u32* valuelength)
{
    char const* value = optionvalue(name);
    if (valuelength)
        *valuelength = strlen(value);
    if (out)
        out[0] = 0;
    if (!value)
        return false;
    strcpy(out, value, len);
    return true;
}

char const* arggetvalue(char const* name) { return optionvalue(name); }

bool arggetbool(char const* name)
{
    if (!name)
        return false;
    u32 count = process->getargc();
    static u32 const offsets[3] = {1, 2, 0};    // -name, then --name, then name
    for (u32 offset : offsets) {
        for (u32 i = 0; i < count; i++) {
            char const* arg = process->getargv(i);
            if (strlen(arg) > offset && streqbegin(arg + offset, name))
                return true;
        }
    }
    return false;
}

int arggetint(char const* name) { return str_atoisaturated(optionvalue(name)); }

} // namespace kzv
