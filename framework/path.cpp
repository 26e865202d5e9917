// Path joining and extensions. `out` may be `dir` itself (appending in place), but
// never `name`, which is read after `out` has been written.
#include "path.h"
#include "str.h"

namespace kzv {

bool combinepath(char* out, u32 capacity, char const* dir, char const* name)
{
    if (!out || capacity == 0)
        return false;
    u32 n = strlen(dir);
    if (n == 0)
        return str_combine(out, capacity, name, "");
    if (dir[n - 1] == '/')
        return str_combine(out, capacity, dir, name);
    return str_combine(out, capacity, dir, "/", name);
}

void getfileextension(char const* path, char* out)
{
    if (!out)
        return;
    out[0] = 0;
    char const* dot = path ? strrchr(path, '.') : nullptr;
    if (!dot)
        return;
    strcpy(out, dot + 1, FILEEXTENSION_CAPACITY - 1);
    str_tolower(out);
}

} // namespace kzv
