// Scratch folders for the listing tests: /tmp/kzvdir-<pid>-<name>, made with the
// kernel calls directly. Every entry made through the fixture is recorded and
// removed in reverse order by `clean`, so nested folders and links go too.
#pragma once
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/vprinter.h"
#include "../../platform/linux/syscalls.h"

namespace kzvtest {

using namespace kzv;

const u32 FIXTURE_PATHCAPACITY = 2048;
const u32 FIXTURE_MAXENTRIES = 64;

struct dirfixture {
    char root[128];
    char made[FIXTURE_MAXENTRIES][FIXTURE_PATHCAPACITY];
    bool isfolder[FIXTURE_MAXENTRIES];
    u32 count;

    bool make(char const* name)
    {
        count = 0;
        char pid[16];
        vprinter_int32tostring(os_getpid(), pid);
        if (!str_combine(root, sizeof root, "/tmp/kzvdir-", pid, "-") || !str_combine(root, sizeof root, root, name))
            return false;
        return record(root, true, !sys_failed(sys_mkdir(root, 0700)));
    }
    bool record(char const* path, bool folder, bool ok)
    {
        if (!ok || count >= FIXTURE_MAXENTRIES)
            return false;
        strcpy(made[count], path, FIXTURE_PATHCAPACITY - 1);
        isfolder[count++] = folder;
        return true;
    }
    // parent/entry into out (FIXTURE_PATHCAPACITY bytes).
    static char* join(char* out, char const* parent, char const* entry)
    {
        if (!str_combine(out, FIXTURE_PATHCAPACITY, parent, "/", entry))
            out[0] = 0;
        return out;
    }
    bool folder(char const* parent, char const* name, char* out)
    {
        join(out, parent, name);
        return record(out, true, !sys_failed(sys_mkdir(out, 0700)));
    }
    bool file(char const* parent, char const* name, char const* text = "")
    {
        char p[FIXTURE_PATHCAPACITY];
        join(p, parent, name);
        int fd = os_fopen(p, 3);
        if (!fd)
            return false;
        u32 n = strlen(text);
        bool ok = os_write(fd, text, n) == (int)n;
        os_close(fd);
        return record(p, false, ok);
    }
    bool link(char const* parent, char const* name, char const* target)
    {
        char p[FIXTURE_PATHCAPACITY];
        join(p, parent, name);
        return record(p, false, !sys_failed(sys_symlink(target, p)));
    }
    // A chain of folders below root whose path is exactly `length` bytes long
    // (length well above the root's), written to out.
    bool deepfolder(u32 length, char* out)
    {
        char current[FIXTURE_PATHCAPACITY];
        strcpy(current, root, FIXTURE_PATHCAPACITY - 1);
        while (strlen(current) < length) {
            u32 left = length - strlen(current) - 1;     // after the '/'
            if (left == 0)
                return false;
            u32 n = kzv_min(left, (u32)200);
            if (left - n == 1)                       // one byte left would need a name of 0
                n--;
            char name[256];
            for (u32 i = 0; i < n; i++)
                name[i] = (char)('a' + (i % 26));
            name[n] = 0;
            char next[FIXTURE_PATHCAPACITY];
            if (!folder(current, name, next))
                return false;
            strcpy(current, next, FIXTURE_PATHCAPACITY - 1);
        }
        strcpy(out, current, FIXTURE_PATHCAPACITY - 1);
        return strlen(out) == length;
    }
    void clean()
    {
        while (count > 0) {
            count--;
            if (isfolder[count])
                sys_rmdir(made[count]);
            else
                sys_unlink(made[count]);
        }
    }
};

// A name of n bytes, all `c`.
inline char* repeated(char* out, char c, u32 n)
{
    for (u32 i = 0; i < n; i++)
        out[i] = c;
    out[n] = 0;
    return out;
}

} // namespace kzvtest
