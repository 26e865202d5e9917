// The directory listing. Its state is the stream bits error, end seen and open. Entries are joined into `pathbuf` with a bounded join whose capacity keeps
// one byte for the LF of 'C', so every path handed out has room for its LF and
// terminator; what lies behind the terminator is room for a link's target, which
// `os_fileinfo` fills only as far as the 1024 bytes reach.
#include "dir.h"
#include "filepacket.h"
#include "os.h"
#include "path.h"
#include "str.h"
#include "sysprocess.h"

namespace kzv {

dir::dir(char const* path)
{
    init(nullptr);
    open(path);
}

void dir::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "dir", dir_concb, type_bytestream);
    strings.init(pool);
}

void dir::exit(bool keep)
{
    unregister();
    strings.freemem();
    entries = nullptr;
    entrykinds = nullptr;
    entrycount = entryindex = 0;
    dirpath = pathbuf = nullptr;
    if (!keep)
        init(pool);
}

void dir::resetkeepconnections()
{
    module_resetkeepingpeers(*this);
}

bool dir::open(char const* path)
{
    resetkeepconnections();
    dirpath = path ? strings.setstr(path) : nullptr;
    unsigned count = 0;
    entries = dirpath ? os_getdirentries(dirpath, strings, count, &entrykinds) : nullptr;
    unreadable = entries ? 0 : 1;
    entrycount = entries ? count : 0;
    pathbuf = entrycount ? (char*)strings.getmem(DIR_PATHCAPACITY) : nullptr;
    if (!pathbuf) {
        entries = nullptr;
        entrykinds = nullptr;
        entrycount = 0;
        flags |= dirstate_error;
        return false;
    }
    qsort(entries, entrycount, entrykinds);
    flags |= dirstate_open;
    return true;
}

// The path, its LF and its terminator fit in the buffer (the same test as the join).
bool dir::entryfits(u32 index) const
{
    u32 n = strlen(dirpath);
    bool slash = n > 0 && dirpath[n - 1] != '/';
    return (u64)n + (slash ? 1 : 0) + strlen(entries[index]) + 2 <= DIR_PATHCAPACITY;
}

sptr dir::getline(char** p)
{
    memset0(&kind, sizeof(kind));
    type = type_bytestream;
    checkdefaults();
    while (pathbuf && entryindex < entrycount) {
        char const* name = entries[entryindex++];
        if (!combinepath(pathbuf, DIR_PATHCAPACITY - 1, dirpath, name))
            continue;       // too long for the buffer: skipped, never cut
        if (p)
            *p = pathbuf;
        return (sptr)strlen(pathbuf) + 1;
    }
    flags |= dirstate_endseen;
    return 0;
}

sptr dir::read(u8** p, u32)
{
    char* line = nullptr;
    sptr r = getline(&line);
    if (!r)
        return 0;
    u32 n = (u32)r - 1;
    line[n] = '\n';
    line[n + 1] = 0;
    if (p)
        *p = (u8*)line;
    return (sptr)n + 2;
}

dir* dir::readpacket()
{
    if (!getline(nullptr))
        return nullptr;
    memset0(&kind, sizeof(kind));
    type = type_file;
    checkdefaults();
    payload = pathbuf;
    size = DIR_PATHCAPACITY;
    return os_fileinfo(*this) ? this : nullptr;
}

bool dir::nextname(char const*& name, u8& kind)
{
    for (; pathbuf && entryindex < entrycount; entryindex++) {
        if (!entryfits(entryindex))
            continue;       // too long for the buffer: skipped, as getline skips it
        name = entries[entryindex];
        kind = entrykinds ? entrykinds[entryindex] : 0;
        entryindex++;
        return true;
    }
    flags |= dirstate_endseen;
    return false;
}

u8 dir::examine()
{
    memset0(&kind, sizeof(kind));
    type = type_file;
    checkdefaults();
    if (entryindex == 0 || !combinepath(pathbuf, DIR_PATHCAPACITY - 1, dirpath, entries[entryindex - 1]))
        return filekind_other;
    payload = pathbuf;
    size = DIR_PATHCAPACITY;
    return os_fileinfo(*this) ? file_kind(*this) : (u8)filekind_other;
}

sptr dir::stepback()
{
    flags &= (u8)~dirstate_endseen;
    for (u32 i = entryindex; i > 0; i--) {
        if (entryfits(i - 1)) {
            entryindex = i - 1;
            return 1;
        }
    }
    return 0;
}

sptr dir::restart()
{
    flags &= (u8)~dirstate_endseen;
    entryindex = 0;
    return 1;
}

sptr dir_concb(void* self, unsigned cmd, int a, int, void const* p)
{
    dir* d = (dir*)self;
    switch (cmd) {
    case stream_getline:
        return d->getline((char**)p);
    case stream_read:
        return d->read((u8**)p, (u32)a);
    case stream_readrecord:
        if (p)
            *(data**)p = d;
        return d->readpacket() ? 1 : 0;
    case stream_getrecord: {
        dir* record = d->readpacket();
        if (p)
            *(data**)p = record;
        return record ? 1 : 0;
    }
    case stream_getbyte:
        return -1;
    case stream_giveback:
        return d->stepback();
    case stream_restart:
        return d->restart();
    default:
        break;
    }
    sptr reply = 0;
    return module_defaultreply(cmd, p, reply) ? reply : 0;
}

} // namespace kzv
