// The `file` stream: a file on disk or one entry of the linked resource archive.
// A name that is no file on disk (missing, or a directory) is looked up in the
// archive, so a disk file of the same name overrides an embedded one. Archive
// entries are read-only and served from the block in place; seeks on them stay
// inside the entry. `run`/`step` pump a connected source into the file. The
// descriptor and both buffers belong to the module and go with its exit.
#pragma once
#include "stream.h"

namespace kzv {

const u32 FILE_READCHUNK = 1024;

class file : public stream {
public:
    u8 fromresource;            // 1 while an archive entry is read from memory
    int fd;                     // 0 = none
    u8 const* resourcedata;

    file() { init(nullptr); }
    explicit file(char const* path);
    ~file() { exit(true); }

    void init(mem* p);
    void exit(bool keep);

    // The view's kind words: the size as last known and the device position.
    u64& filesize() { return kind.stream.source.file.filesize; }
    u64& position() { return kind.stream.source.file.position; }

    bool open(char const* path);
    bool openres(char const* name);
    bool create(char const* path);
    // For files in a folder that others may write to (os_fopennolink and
    // os_fcreatenew): only a regular file on disk, never through a link, and a new
    // file only where the name is free (`taken` says when it is not).
    bool opennolink(char const* path);
    bool createnew(char const* path, bool& taken);
    bool restart();
    bool setposition(u64 p);
    u64 checksize();
    void clearbuffers();

    int step(u32 chunk);
    int run(u32 budgetus, u32 chunk);

    int mread(u8* buffer, u32 n);
    int mwrite(u8 const* bytes, u32 n);

private:
    bool openentry(char const* name);
    bool openedforreading();    // the state after fd was opened (or not)
    bool openedforwriting();
};

sptr file_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
