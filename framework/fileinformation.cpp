// File information records. Before every fill the kind words are cleared, since
// one record is reused for every line and a platform may leave the link flag as
// it was. The filter's record points into the source's read buffer: it is valid
// until the next command on the source.
#include "fileinformation.h"
#include "filepacket.h"
#include "mem.h"
#include "os.h"
#include "str.h"
#include "stream.h"

namespace kzv {

void fileinformation::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "fileinformation", fileinformation_concb, type_bytestream);
}

void fileinformation::exit(bool keep)
{
    unregister();
    if (!keep)
        init(pool);
}

void fileinformation::resetkeepconnections()
{
    module_resetkeepingpeers(*this);
}

void fileinformation::clearrecord()
{
    memset0(&kind, sizeof(kind));
    type = type_file;
    file_setkind(*this, filekind_other);
}

bool fileinformation::open(char const* p)
{
    resetkeepconnections();
    clearrecord();
    payload = path;
    size = FILEINFORMATION_PATHCAPACITY;
    if (!p || (u64)strlen(p) + 1 > FILEINFORMATION_PATHCAPACITY)
        return false;       // the path stays empty: a cut path would describe another file
    strcpy(path, p, FILEINFORMATION_PATHCAPACITY - 1);
    return os_fileinfo(*this);
}

sptr fileinformation::read(data** p, u32)
{
    if (p)
        *p = this;
    if (!in.peer)
        return 0;
    char* line = nullptr;
    sptr r = in.call(stream_getline, 0, 0, &line);
    if (r <= 0 || !line) {
        module* source = in.peer->owner;
        u8 endseen = (u8)streamstate_endseen;
        flags = (u8)((flags & ~endseen) | (source ? source->flags & endseen : 0));
        return 0;
    }
    clearrecord();
    payload = line;
    size = (u32)r - 1;      // the line alone: no room for a target behind it
    os_fileinfo(*this);
    return 1;
}

sptr fileinformation_concb(void* self, unsigned cmd, int a, int, void const* p)
{
    fileinformation* f = (fileinformation*)self;
    if (cmd == stream_readrecord)
        return f->read((data**)p, (u32)a);
    sptr reply = 0;
    module_defaultreply(cmd, p, reply);
    return reply;
}

} // namespace kzv
