// The `dir` stream: one directory listed as full paths, taken once at open, sorted
// without case and then served from memory. Each entry comes out as a text line
// ('B', 'C') or as a "file" record ('D', 'E'). A path is joined into the 1024-byte
// path buffer only when it fits with its terminator and the LF of 'C'; an entry
// whose path does not fit is skipped, never cut and used. The listing, the names
// and the path buffer live in the module's own store and go with its exit.
#pragma once
#include "mem.h"
#include "stream.h"

namespace kzv {

const u32 DIR_PATHCAPACITY = 1024;      // a full path, its LF and terminator; the link target behind it

// The stream state bits the listing uses, all in the header's flags byte.
enum : u8 {
    dirstate_error = (u8)streamstate_error,
    dirstate_endseen = (u8)streamstate_endseen,
    dirstate_open = (u8)streamstate_open,
};

class dir : public module {
public:
    char const** entries;   // the names, sorted
    u8* entrykinds;         // each name's file kind as the listing told it (0: not told), or null
    u32 entrycount;
    char* dirpath;          // copy of the opened directory path
    u32 entryindex;         // the next entry to hand out
    char* pathbuf;          // DIR_PATHCAPACITY bytes
    smem strings;           // path copy, names, the array and pathbuf
    u8 unreadable;          // the last open could not read the directory (not merely empty)

    dir() { init(nullptr); }
    explicit dir(char const* path);
    ~dir() { exit(true); }

    void init(mem* p);
    void exit(bool keep);

    // True when the directory has at least one entry; otherwise the error bit is
    // set and every read answers 0.
    bool open(char const* path);

    // 'B': *p = the next full path; its length + 1, 0 after the last.
    sptr getline(char** p);
    // 'C': the next full path with LF appended, handed out whole whatever n asks
    // for; its length with the LF, plus 1; 0 after the last.
    sptr read(u8** p, u32 n);
    // 'D'/'E': the next entry as a "file" record in this module's view; null when
    // none is left or its information could not be read (the entry is consumed).
    dir* readpacket();
    // The next entry whose path fits: its name, and its kind where the listing
    // told it (0 for a link or an entry not told, which `examine` looks up).
    // False after the last.
    bool nextname(char const*& name, u8& kind);
    // The kind of the entry `nextname` handed out last, from its file information
    // (a link's target; filekind_other when it cannot be read).
    u8 examine();
    // 'G': back to the previous entry that can be handed out; 0 at the first.
    sptr stepback();
    sptr restart();         // 'H'

private:
    bool entryfits(u32 index) const;
    void resetkeepconnections();
};

sptr dir_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
