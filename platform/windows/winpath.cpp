// Path forms. A drive path of the program is '/', an ASCII letter, then '/' or
// the end: "/x" becomes "x:\" and "/x/rest" becomes "x:\rest". Everything that is
// not absolute in the program's sense (".", "dir/file", "C:/dir") keeps its text
// and only changes its separators, "." becoming ".\" so that it names the
// working directory as a folder.
#include "winpath.h"
#include "wintext.h"
#include "../../framework/str.h"

namespace kzv {

static bool isletter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

static void toseparator(u16* s, u16 from, u16 to)
{
    for (; *s; s++)
        if (*s == from)
            *s = to;
}

bool winpath_tosystem(char const* path, u16* out, u32 capacity)
{
    if (!out || capacity == 0)
        return false;
    out[0] = 0;
    if (!path)
        return false;
    u32 units = 0;
    if (path[0] == '.' && path[1] == 0)
        return wintext_toutf16(".\\", out, capacity, units);
    if (path[0] == '/' && path[1] != '/') {
        bool drive = isletter(path[1]) && (path[2] == '/' || path[2] == 0);
        if (!drive || capacity < 4)
            return false;
        out[0] = (u16)path[1];
        out[1] = ':';
        out[2] = '\\';
        char const* rest = path[2] ? path + 3 : path + 2;
        if (!wintext_toutf16(rest, out + 3, capacity - 3, units)) {
            out[0] = 0;
            return false;
        }
    } else if (!wintext_toutf16(path, out, capacity, units)) {
        return false;
    }
    toseparator(out, '/', '\\');
    return true;
}

bool winpath_isnetwork(char const* path)
{
    return path && path[0] == '/' && path[1] == '/' && path[2] && path[2] != '/';
}

bool winpath_toprogram(u16 const* path, char* out, u32 capacity)
{
    u32 bytes = 0;
    if (!wintext_toutf8(path, WINTEXT_TOEND, out, capacity, bytes))
        return false;
    for (u32 i = 0; i < bytes; i++)
        out[i] = out[i] == '\\' ? '/' : str_chartolower(out[i]);
    if (bytes >= 2 && isletter(out[0]) && out[1] == ':') {
        out[1] = out[0];
        out[0] = '/';
    }
    return true;
}

} // namespace kzv
