// Files through the platform layer: the open modes, reads and writes, seeking and
// sizes, existence, the "file" packet of files, directories, links and dangling
// links (and how much of a link's target it may store), directory listings, and
// the files of a folder that others may write to.
#include "../harness/harness.h"
#include "../../framework/fileload.h"
#include "../../framework/filepacket.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"
#include "test_os_fixture.h"

using namespace kzv;
using namespace kzvtest;

TEST(openmodes)
{
    tempdir dir;
    CHECK(dir.make("modes"));
    char path[256], missing[256];
    dir.join(path, sizeof path, "f");
    dir.join(missing, sizeof missing, "missing");
    static const struct { char const* name; unsigned mode; bool onmissing; bool opens; } cases[] = {
        {"mode 0 opens nothing", 0, false, false},
        {"mode 6 opens nothing", 6, false, false},
        {"mode 1 needs the file", 1, true, false},
        {"mode 2 needs the file", 2, true, false},
        {"mode 4 needs the file", 4, true, false},
        {"mode 5 needs the file", 5, true, false},
        {"mode 3 creates", 3, true, true},
    };
    for (auto const& c : cases) {
        setrow(c.name);
        sys_unlink(missing);
        int fd = os_fopen(c.onmissing ? missing : path, c.mode);
        CHECK_EQ(fd != 0, c.opens);
        if (fd)
            os_close(fd);
    }
    setrow(nullptr);
    CHECK(writefile(path, "hello"));
    for (unsigned mode = 1; mode <= 5; mode++) {
        int fd = os_fopen(path, mode);
        CHECK(fd > 2);
        os_close(fd);
    }
    sys_unlink(missing);
    sys_unlink(path);
    dir.remove();
}

// A refused lock is reported on standard error and does not fail the open.
TEST(lockandclosediagnostics)
{
    tempdir dir;
    CHECK(dir.make("lock"));
    char path[256];
    dir.join(path, sizeof path, "locked");
    CHECK(writefile(path, "x"));
    capture err;
    CHECK(err.begin(2));
    int first = os_fopen(path, 4);
    int second = os_fopen(path, 4);      // its own open file: the lock is taken
    os_close(0);
    char got[512];
    err.end(got, sizeof got);
    char expect[512];
    str_combine(expect, sizeof expect, "could not lock file ", path, "\nclose 0!!\n");
    CHECK_STR(got, expect);
    CHECK(first > 2);
    CHECK(second > 2);
    char c = 0;
    CHECK_EQ(os_read(second, &c, 1), 1);
    os_close(first);
    os_close(second);
    sys_unlink(path);
    dir.remove();
}

TEST(readwriteseeksize)
{
    tempdir dir;
    CHECK(dir.make("rw"));
    char path[256];
    dir.join(path, sizeof path, "data");
    int fd = os_fopen(path, 3);
    CHECK(fd > 2);
    CHECK_EQ(os_write(fd, "0123456789", 10), 10);
    CHECK_EQ(os_fsize(fd), 10);
    CHECK_EQ(os_fseek(fd, 4), 4);
    char buffer[16] = {};
    CHECK_EQ(os_read(fd, buffer, sizeof buffer), 6);
    CHECK_STR(buffer, "456789");
    CHECK_EQ(os_read(fd, buffer, sizeof buffer), 0);     // end of file
    CHECK_EQ(os_fseek(fd, 2), 2);
    CHECK_EQ(os_fsize(fd), 10);                          // and the position is kept
    CHECK_EQ(os_read(fd, buffer, 3), 3);
    CHECK_MEM(buffer, "234", 3);
    os_close(fd);
    CHECK_EQ(os_fsize(path), 10);
    CHECK(os_fileexists(path));
    CHECK(!os_fileexists(dir.path));                     // a directory is no file
    CHECK(os_unlink(path));
    CHECK(!os_unlink(path));
    CHECK(!os_fileexists(path));
    CHECK_EQ(os_fsize(path), 0);
    CHECK_EQ(os_read(-1, buffer, 1), -1);
    dir.remove();
}

// A position past 4 GiB needs the 64-bit seek on the 32-bit CPUs; the file stays
// sparse, so this costs no disk space.
TEST(seekpast4gib)
{
    tempdir dir;
    CHECK(dir.make("large"));
    char path[256];
    dir.join(path, sizeof path, "sparse");
    int fd = os_fopen(path, 3);
    u64 far = 0x100000010ull;
    CHECK_EQ(os_fseek(fd, far), far);
    CHECK_EQ(os_write(fd, "x", 1), 1);
    CHECK_EQ(os_fsize(fd), far + 1);
    os_close(fd);
    CHECK_EQ(os_fsize(path), far + 1);
    char packetbuffer[768];
    str_combine(packetbuffer, sizeof packetbuffer, path, "");
    data file;
    file.payload = packetbuffer;
    file.size = sizeof packetbuffer;
    CHECK(os_fileinfo(file));
    CHECK_EQ(file_size(file), far + 1);
    sys_unlink(path);
    dir.remove();
}

TEST(pipesandnonblocking)
{
    int fds[2];
    CHECK(!sys_failed(sys_pipe(fds)));
    os_setfilenonblock(fds[0]);
    char c;
    CHECK_EQ(os_read(fds[0], &c, 1), 0);                 // would block
    CHECK_EQ(os_fsize(fds[0]), 0);                       // a pipe has no size
    CHECK_EQ(os_write(fds[1], "z", 1), 1);
    CHECK_EQ(os_read(fds[0], &c, 1), 1);
    CHECK_EQ(c, 'z');
    os_close(fds[0]);
    os_close(fds[1]);
}

static void fileinfoof(data& file, char* buffer, u32 capacity, char const* path)
{
    str_combine(buffer, capacity, path, "");
    file.clear();
    file.payload = buffer;
    file.size = capacity;
}

TEST(fileinfokinds)
{
    tempdir dir;
    CHECK(dir.make("info"));
    char regular[256], link[256], dangling[256], dirlink[256];
    dir.join(regular, sizeof regular, "regular");
    dir.join(link, sizeof link, "link");
    dir.join(dangling, sizeof dangling, "dangling");
    dir.join(dirlink, sizeof dirlink, "dirlink");
    CHECK(writefile(regular, "12345"));
    CHECK(!sys_failed(sys_symlink("regular", link)));
    CHECK(!sys_failed(sys_symlink("nowhere/at/all", dangling)));
    CHECK(!sys_failed(sys_symlink("/", dirlink)));
    static const struct {
        char const* entry;
        bool exists;
        u8 kind;
        u8 flags;
        u64 size;
        char const* target;
    } cases[] = {
        {"regular", true, filekind_file, 0, 5, nullptr},
        {"link", true, filekind_file, fileflag_link, 5, "regular"},
        {"dangling", true, filekind_other, fileflag_link, 0, "nowhere/at/all"},
        {"dirlink", true, filekind_directory, fileflag_link, 0, "/"},
        {"", true, filekind_directory, 0, 0, nullptr},            // the directory itself
        {"missing", false, filekind_other, 0, 0, nullptr},
    };
    for (auto const& c : cases) {
        setrow(c.entry[0] ? c.entry : "directory");
        char path[256], buffer[768];
        if (c.entry[0])
            dir.join(path, sizeof path, c.entry);
        else
            str_combine(path, sizeof path, dir.path, "");
        data file;
        fileinfoof(file, buffer, sizeof buffer, path);
        CHECK_EQ(os_fileinfo(file), c.exists);
        CHECK_EQ(file.type, type_file);
        CHECK_EQ(file_kind(file), c.kind);
        CHECK_EQ(file_flags(file) & fileflag_link, c.flags);
        CHECK_EQ(file_size(file), c.size);
        CHECK_STR(buffer, path);
        if (c.target)
            CHECK_STR(buffer + strlen(path) + 1, c.target);
    }
    setrow(nullptr);
    data file;
    char buffer[768];
    fileinfoof(file, buffer, sizeof buffer, regular);
    os_fileinfo(file);
    // Written with 0777 before the mask; the owner can always read and write.
    CHECK_EQ(file_permission(file, 0) & 6, 6);
    int localnow = 0;
    os_getms32_sec1970(localnow);
    s64 age = (s64)localnow - (s64)file_mtime(file);
    CHECK(age >= -2 && age < 600);
    static char const* const entries[] = {"regular", "link", "dangling", "dirlink"};
    for (char const* e : entries)
        dir.removeentry(e);
    dir.remove();
}

// The packet's size is the room of the payload buffer: a link's target goes
// behind the path only as far as that room reaches.
TEST(fileinfolinktargetroom)
{
    tempdir dir;
    CHECK(dir.make("room"));
    char link[256];
    dir.join(link, sizeof link, "l");
    CHECK(!sys_failed(sys_symlink("0123456789", link)));
    u32 pathlength = strlen(link);
    static const struct { char const* name; u32 extra; char const* stored; } cases[] = {
        {"room for all", 11, "0123456789"},
        {"cut to the room", 5, "0123"},
        {"room for the zero only", 1, ""},
    };
    for (auto const& c : cases) {
        setrow(c.name);
        char buffer[300];
        memset(buffer, '#', sizeof buffer);
        data file;
        fileinfoof(file, buffer, pathlength + 1 + c.extra, link);
        CHECK(os_fileinfo(file));
        CHECK_STR(buffer + pathlength + 1, c.stored);
        CHECK_EQ(buffer[pathlength + 1 + c.extra], '#');   // nothing written past the room
    }
    setrow("no room behind the path");
    char buffer[300];
    memset(buffer, '#', sizeof buffer);
    data file;
    fileinfoof(file, buffer, pathlength + 1, link);
    CHECK(os_fileinfo(file));
    CHECK_EQ(file_flags(file) & fileflag_link, fileflag_link);
    CHECK_EQ(buffer[pathlength + 1], '#');
    dir.removeentry("l");
    dir.remove();
}

static bool listed(char const** names, unsigned count, char const* name)
{
    for (unsigned i = 0; i < count; i++)
        if (streq(names[i], name))
            return true;
    return false;
}

TEST(directorylisting)
{
    tempdir dir;
    CHECK(dir.make("list"));
    smem store(&process->pool);
    unsigned count = 99;
    char const** names = os_getdirentries(dir.path, store, count);
    CHECK(names != nullptr);
    CHECK_EQ(count, 0);
    if (names)
        CHECK(names[0] == nullptr);

    // More names than the list's first capacity, one of the longest length.
    char longname[256];
    memset(longname, 'n', 255);
    longname[255] = 0;
    char name[16] = "entry000";
    for (int i = 0; i < 150; i++) {
        name[5] = (char)('0' + i / 100);
        name[6] = (char)('0' + i / 10 % 10);
        name[7] = (char)('0' + i % 10);
        char path[512];
        CHECK(writefile(dir.join(path, sizeof path, name), "x"));
    }
    char path[512];
    CHECK(writefile(dir.join(path, sizeof path, longname), "x"));
    names = os_getdirentries(dir.path, store, count);
    CHECK_EQ(count, 151);
    if (names) {
        CHECK(names[count] == nullptr);
        CHECK(listed(names, count, longname));
        CHECK(listed(names, count, "entry000"));
        CHECK(listed(names, count, "entry149"));
        CHECK(!listed(names, count, "."));
        CHECK(!listed(names, count, ".."));
    }
    unsigned filecount = 99;
    CHECK(os_getdirentries(path, store, filecount) == nullptr);   // a file is no directory
    CHECK_EQ(filecount, 0);
    for (int i = 0; i < 150; i++) {
        name[5] = (char)('0' + i / 100);
        name[6] = (char)('0' + i / 10 % 10);
        name[7] = (char)('0' + i % 10);
        dir.removeentry(name);
    }
    dir.removeentry(longname);
    dir.remove();

    names = os_getdirentries(dir.path, store, count);
    CHECK(names == nullptr);
    CHECK_EQ(count, 0);
}

// The kinds come from the listing itself: a file and a folder are told, a link is
// left to the caller (its target decides), and each kind stays with its name.
TEST(directorylisting_tells_kinds)
{
    tempdir dir;
    CHECK(dir.make("kinds"));
    char path[512];
    CHECK(writefile(dir.join(path, sizeof path, "plain"), "x"));
    CHECK(!sys_failed(sys_mkdir(dir.join(path, sizeof path, "folder"), 0700)));
    CHECK(!sys_failed(sys_symlink("folder", dir.join(path, sizeof path, "link"))));
    smem store(&process->pool);
    unsigned count = 0;
    u8* kinds = nullptr;
    char const** names = os_getdirentries(dir.path, store, count, &kinds);
    CHECK_EQ(count, 3);
    CHECK(names && kinds);
    static const struct { char const* name; u8 kind; } expected[] = {
        {"plain", filekind_file}, {"folder", filekind_directory}, {"link", 0}};
    for (auto const& e : expected) {
        kzvtest::setrow(e.name);
        bool found = false;
        for (unsigned i = 0; names && kinds && i < count; i++)
            if (streq(names[i], e.name)) {
                found = true;
                CHECK_EQ(kinds[i], e.kind);
            }
        CHECK(found);
    }
    kzvtest::setrow(nullptr);
    for (auto const& e : expected)
        dir.removeentry(e.name);
    dir.remove();
}

TEST(workingdirectory)
{
    char wd[512];
    os_getwd(wd);
    CHECK_EQ(wd[0], '/');
    data file;
    char buffer[768];
    fileinfoof(file, buffer, sizeof buffer, wd);
    CHECK(os_fileinfo(file));
    CHECK_EQ(file_kind(file), filekind_directory);
}

// Files in a folder others may write to: a new file is made only under a free
// name and never through a link (a planted link's target is neither written nor
// created), readable and writable by this user alone; the no-link open takes only
// a regular file; a link, a folder or a device is never "our own file".
TEST(sharedfolderfiles)
{
    tempdir dir;
    CHECK(dir.make("shared"));
    char regular[256], link[256], dangling[256], nowhere[256], folder[256], fresh[256], inmissing[256];
    dir.join(regular, sizeof regular, "regular");
    dir.join(link, sizeof link, "link");
    dir.join(dangling, sizeof dangling, "dangling");
    dir.join(nowhere, sizeof nowhere, "nowhere");
    dir.join(folder, sizeof folder, "folder");
    dir.join(fresh, sizeof fresh, "fresh");
    dir.join(inmissing, sizeof inmissing, "missing/fresh");
    CHECK(writefile(regular, "kept"));
    CHECK(!sys_failed(sys_symlink("regular", link)));
    CHECK(!sys_failed(sys_symlink("nowhere", dangling)));
    CHECK(!sys_failed(sys_mkdir(folder, 0700)));
    static const struct { char const* name; char const* path; bool created; bool taken; } creates[] = {
        {"free name", fresh, true, false},
        {"regular file", regular, false, true},
        {"link to a file", link, false, true},
        {"dangling link", dangling, false, true},
        {"folder", folder, false, true},
        {"folder missing", inmissing, false, false},
    };
    for (auto const& c : creates) {
        setrow(c.name);
        bool taken = !c.taken;
        int fd = os_fcreatenew(c.path, taken);
        CHECK_EQ(fd > 2, c.created);
        CHECK_EQ(taken, c.taken);
        if (fd)
            os_close(fd);
    }
    setrow(nullptr);
    kstat st;
    CHECK(!sys_failed(sys_lstat(fresh, &st)));
    CHECK_EQ(st.mode & 0777, 0600u);
    CHECK(sys_failed(sys_lstat(nowhere, &st)));                // nothing made through the link
    char text[8] = {};
    CHECK_EQ(loadfile_complete(regular, text, 7), 4u);
    CHECK_STR(text, "kept");
    static const struct { char const* name; char const* path; bool opens; bool own; } reads[] = {
        {"regular file", regular, true, true},
        {"link to a file", link, false, false},
        {"dangling link", dangling, false, false},
        {"folder", folder, false, false},
        {"device", "/dev/null", false, false},
        {"missing", nowhere, false, false},
    };
    for (auto const& c : reads) {
        setrow(c.name);
        int fd = os_fopennolink(c.path);
        CHECK_EQ(fd > 2, c.opens);
        if (fd) {
            char b[8] = {};
            CHECK_EQ(os_read(fd, b, 7), 4);
            os_close(fd);
        }
        CHECK_EQ(os_isownfile(c.path), c.own);
    }
    setrow(nullptr);
    static char const* const entries[] = {"regular", "link", "dangling", "folder", "fresh"};
    for (char const* entry : entries)
        dir.removeentry(entry);
    dir.remove();
}
