// The `fileinformation` module: a path described as a "file" record (kind, size,
// time, link flag), either one path given to `open` or, as a filter, one record per
// line read from the stream on its IN pin. A path that does not fit the 768-byte
// buffer with its terminator is refused (kind '='), never cut. A link's target is
// kept behind the path only as far as the buffer reaches; filter records carry no
// target, since their payload is the source's line and no room is known behind it.
#pragma once
#include "module.h"

namespace kzv {

const u32 FILEINFORMATION_PATHCAPACITY = 768;

class fileinformation : public module {
public:
    char path[FILEINFORMATION_PATHCAPACITY];

    fileinformation() { init(nullptr); }
    ~fileinformation() { exit(true); }

    void init(mem* p);
    void exit(bool keep);

    // True when the path's information was read; false with kind '=' for a
    // missing path or one too long for the buffer.
    bool open(char const* p);
    // 'D': *p = the record. 1 for every line of the source (kind '=' when its
    // information is not available); 0 with the source's end seen bit copied
    // when no line came, or when nothing is connected.
    sptr read(data** p, u32 n);

private:
    void resetkeepconnections();
    void clearrecord();
};

sptr fileinformation_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
