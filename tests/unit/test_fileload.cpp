// Whole-file loading and the path helpers: empty, missing, capped and sparse
// oversized files, the buffer form with its archive fallback, and tables for the
// joins (including ones that do not fit) and the extensions.
#include "../harness/harness.h"
#include "../../framework/fileload.h"
#include "../../framework/filestream.h"
#include "../../framework/mem.h"
#include "../../framework/path.h"
#include "../../framework/resources.h"
#include "../../framework/sysprocess.h"
#include "streamtestfiles.h"

using namespace kzv;
using kzvtest::scratchpath;
using kzvtest::writescratch;

TEST(loadfile_whole)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "whole");
    static u8 content[3000];
    for (u32 i = 0; i < sizeof content; i++)
        content[i] = (u8)(i * 7 + 1);
    CHECK(writescratch(path, content, sizeof content));
    unsigned size = 99;
    char* block = loadfile(path, size);
    CHECK(block != nullptr);
    CHECK_EQ(size, sizeof content);
    if (block) {
        CHECK_MEM(block, content, sizeof content);
        CHECK_EQ(block[sizeof content], 0);
        process->pool.free_int(block);
    }
    CHECK(writescratch(path, "", 0));
    size = 99;
    CHECK(loadfile(path, size) == nullptr);             // empty: nothing to load
    CHECK_EQ(size, 0);
    os_unlink(path);
    CHECK(loadfile(path, size) == nullptr);
    CHECK(loadfile((char const*)nullptr, size) == nullptr);
}

// Sizes at and past the cap, and past 4 GiB where s + 1 wraps in 32 bits: refused
// before anything is allocated or read. The files are sparse.
TEST(loadfile_refuses_oversized_files)
{
    static u64 const sizes[] = {LOADFILE_MAX + 1, 0xFFFFFFFFull, 0x100000005ull};
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "huge");
    for (u64 s : sizes) {
        file f;
        CHECK(f.create(path));
        CHECK(f.setposition(s - 1));
        CHECK_EQ(f.callback(&f, stream_write, 1, 0, "x"), 1);
        f.exit(true);
        CHECK_EQ(os_fsize(path), s);
        unsigned size = 99;
        CHECK(loadfile(path, size) == nullptr);
        CHECK_EQ(size, 0);
    }
    os_unlink(path);
}

TEST(loadfile_into_a_buffer)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "buffer");
    CHECK(writescratch(path, "0123456789", 10));
    char buffer[16];
    memset(buffer, 'z', sizeof buffer);
    CHECK_EQ(loadfile(path, buffer, 4), 4);             // larger than max: max bytes
    CHECK_STR(buffer, "0123");
    CHECK_EQ(loadfile(path, buffer, 15), 10);
    CHECK_STR(buffer, "0123456789");
    CHECK_EQ(loadfile_complete(path, buffer, 6), 6);
    CHECK_MEM(buffer, "012345", 6);
    CHECK(writescratch(path, "", 0));
    CHECK_EQ(loadfile_complete(path, buffer, 6), 0);
    CHECK_EQ(buffer[0], 0);
    CHECK_EQ(loadfile(path, buffer, 6), 0);
    CHECK_STR(buffer, "");
    os_unlink(path);
    buffer[0] = 'z';
    CHECK_EQ(loadfile(path, buffer, 6), 0);             // missing here and in the archive
    CHECK_STR(buffer, "");
    CHECK_EQ(loadfile(path, nullptr, 6), 0);
}

TEST(loadfile_buffer_falls_back_to_the_archive)
{
    resourceentry e;
    CHECK(resource_find("img/info.kzv", e));
    static char buffer[8192];
    CHECK_EQ(loadfile("img/info.kzv", buffer, sizeof buffer - 1), e.size);
    CHECK_MEM(buffer, e.bytes, e.size);
    CHECK_EQ(buffer[e.size], 0);
    CHECK_EQ(loadfile("img/info.kzv", buffer, 100), 100);
    CHECK_MEM(buffer, e.bytes, 100);
    CHECK_EQ(buffer[100], 0);
}

struct joinrow {
    char const* name;
    char const* dir;
    char const* entry;
    u32 capacity;
    bool fits;
    char const* expect;
};

TEST(combinepath_joins_or_refuses)
{
    static joinrow const rows[] = {
        {"root", "/", "etc", 64, true, "/etc"},
        {"dir with slash", "a/", "b", 64, true, "a/b"},
        {"dir without slash", "a", "b", 64, true, "a/b"},
        {"empty dir", "", "b", 64, true, "b"},
        {"null dir", nullptr, "b", 64, true, "b"},
        {"empty name", "a", "", 64, true, "a/"},
        {"exact fit", "abc", "def", 8, true, "abc/def"},
        {"one byte short", "abc", "def", 7, false, ""},
        {"slash already there, exact fit", "abc/", "def", 8, true, "abc/def"},
        {"name alone too long", "", "abcdefgh", 8, false, ""},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        char out[72];
        memset(out, 'z', sizeof out);
        CHECK_EQ(combinepath(out, row.capacity, row.dir, row.entry), row.fits);
        CHECK_STR(out, row.expect);
        CHECK_EQ(out[row.capacity], 'z');               // nothing behind the capacity
    }
    kzvtest::setrow(nullptr);
    char out[32] = "/home/user";
    CHECK(combinepath(out, sizeof out, out, "file.txt"));   // appended in place
    CHECK_STR(out, "/home/user/file.txt");
    CHECK(!combinepath(nullptr, 10, "a", "b"));
    CHECK(!combinepath(out, 0, "a", "b"));
}

// Names of 255 bytes in a path buffer stay whole.
TEST(combinepath_keeps_long_names_whole)
{
    static char name[256];
    for (u32 i = 0; i < 255; i++)
        name[i] = (char)('a' + i % 26);
    static char out[1024];
    CHECK(combinepath(out, sizeof out, "/tmp/some/dir", name));
    CHECK_EQ(strlen(out), 13 + 1 + 255);
    CHECK(!combinepath(out, 13 + 1 + 255, "/tmp/some/dir", name));
    CHECK_STR(out, "");
}

struct extensionrow {
    char const* name;
    char const* path;
    char const* expect;
};

TEST(getfileextension_cases)
{
    static extensionrow const rows[] = {
        {"upper case", "Image.PNG", "png"},
        {"last dot counts", "archive.tar.gz", "gz"},
        {"no dot", "README", ""},
        {"dot in a folder", "dir.d/file", "d/file"},
        {"leading dot folder", "./name", "/name"},
        {"trailing dot", "name.", ""},
        {"cut at 19", "x.ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrs"},
        {"null path", nullptr, ""},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        char out[FILEEXTENSION_CAPACITY + 4];
        memset(out, 'z', sizeof out);
        getfileextension(row.path, out);
        CHECK_STR(out, row.expect);
        CHECK_EQ(out[FILEEXTENSION_CAPACITY], 'z');
    }
    kzvtest::setrow(nullptr);
    getfileextension("a.b", nullptr);                   // no room given: nothing written
}
