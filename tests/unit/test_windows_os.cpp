// The Windows bodies of the platform contract under wine: files by handle and
// path (modes, failures as -1, the end as 0, the size without losing the
// position), new files under free names only, the file packet, listings of a
// folder and of the drives, names beyond ASCII and beyond the first plane, the
// working directory's form, the clocks, the argument record and the console
// module.
#include "../harness/harness.h"
#include "../../framework/filepacket.h"
#include "../../framework/module.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../platform/windows/winos.h"
#include "streamtestfiles.h"

using namespace kzv;
using namespace kzvtest;

TEST(files_by_mode_and_handle)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "modes");
    int fd = os_fopen(path, 3);
    if (!CHECK(fd != 0))
        return;
    CHECK_EQ(os_write(fd, "0123456789", 10), 10);
    os_close(fd);
    CHECK_EQ(os_fopen(path, 0), 0);
    CHECK_EQ(os_fopen(path, 2), 0);                 // opens nothing on Windows
    CHECK_EQ(os_fopen(path, 6), 0);
    fd = os_fopen(path, 1);
    char buffer[16] = {};
    CHECK_EQ(os_read(fd, buffer, 3), 3);
    CHECK_EQ(os_fsize(fd), 10);
    CHECK_EQ(os_read(fd, buffer, 3), 3);            // the size left the position alone
    CHECK_MEM(buffer, "345", 3);
    CHECK_EQ(os_write(fd, "x", 1), -1);             // a read-only handle refuses
    CHECK_EQ(os_fseek(fd, 8), 8);
    CHECK_EQ(os_read(fd, buffer, 16), 2);
    CHECK_EQ(os_read(fd, buffer, 16), 0);           // the end of the file
    os_close(fd);
    fd = os_fopen(path, 5);
    CHECK(fd != 0);
    CHECK_EQ(os_fseek(fd, 0x100000000ull), (s64)0x100000000ll);   // positions past 4 GiB
    os_close(fd);
    CHECK_EQ(os_fsize(path), 10);
    CHECK(os_fileexists(path));
    CHECK(os_unlink(path));
    CHECK(!os_fileexists(path));
    CHECK(!os_unlink(path));
    CHECK_EQ(os_fsize(path), 0);
    CHECK_EQ(os_fopen(path, 1), 0);
    CHECK_EQ(os_fopen("/tmp/no-drive-letter", 3), 0);     // one '/' and no drive names nothing
    CHECK(os_fileexists(tempfolder()));                   // folders count
}

// A new file only under a free name; the no-link open and the own-file test take
// only a plain file, never a folder.
TEST(files_for_a_shared_folder)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "shared");
    os_unlink(path);
    bool taken = true;
    int fd = os_fcreatenew(path, taken);
    if (!CHECK(fd != 0))
        return;
    CHECK(!taken);
    CHECK_EQ(os_write(fd, "abc", 3), 3);
    os_close(fd);
    CHECK_EQ(os_fcreatenew(path, taken), 0);        // the name is taken now
    CHECK(taken);
    CHECK(os_isownfile(path));
    fd = os_fopennolink(path);
    char buffer[8] = {};
    CHECK_EQ(os_read(fd, buffer, 8), 3);
    CHECK_MEM(buffer, "abc", 3);
    os_close(fd);
    CHECK_EQ(os_fopennolink(tempfolder()), 0);
    CHECK(!os_isownfile(tempfolder()));
    CHECK(os_unlink(path));
    CHECK(!os_isownfile(path));
    CHECK_EQ(os_fopennolink(path), 0);
}

static data filepacket(char* payload, u32 capacity, char const* path)
{
    data d;
    strcpy(payload, path, capacity - 1);
    d.payload = payload;
    d.size = capacity;
    return d;
}

TEST(file_packet_of_a_file_and_a_folder)
{
    char path[SCRATCHPATH_CAPACITY];
    scratchpath(path, "info");
    CHECK(writescratch(path, "12345", 5));
    int localnow = 0;
    os_getms32_sec1970(localnow);
    char payload[SCRATCHPATH_CAPACITY + 520];
    data d = filepacket(payload, sizeof payload, path);
    CHECK(os_fileinfo(d));
    CHECK_EQ(d.type, type_file);
    CHECK_EQ(file_kind(d), filekind_file);
    CHECK_EQ(file_size(d), 5);
    CHECK_EQ(file_permission(d, 0), 7);
    CHECK_EQ(file_permission(d, 2), 7);
    CHECK_EQ(file_flags(d) & fileflag_link, 0);
    // Local time, within a minute of the local clock now.
    s64 age = (s64)localnow - (s64)file_mtime(d);
    CHECK(age > -60 && age < 60);
    os_unlink(path);
    data folder = filepacket(payload, sizeof payload, tempfolder());
    file_setflags(folder, fileflag_link);
    CHECK(os_fileinfo(folder));
    CHECK_EQ(file_kind(folder), filekind_directory);
    CHECK_EQ(file_size(folder), 0);
    CHECK_EQ(file_flags(folder) & fileflag_link, 0);
    data missing = filepacket(payload, sizeof payload, path);
    CHECK(!os_fileinfo(missing));
    CHECK_EQ(file_kind(missing), filekind_other);
}

static bool listed(char const** names, u32 count, char const* name)
{
    for (u32 i = 0; names && i < count; i++)
        if (streq(names[i], name))
            return true;
    return false;
}

TEST(listings_of_the_drives_and_of_a_folder)
{
    smem store;
    unsigned count = 99;
    char const** drives = os_getdirentries("/", store, count);
    if (!CHECK(drives != nullptr))
        return;
    CHECK(listed(drives, count, "c"));
    CHECK(listed(drives, count, "z"));              // wine's view of the Linux root
    CHECK(drives[count] == nullptr);
    for (u32 i = 0; i < count; i++)
        CHECK(drives[i][0] >= 'a' && drives[i][0] <= 'z' && drives[i][1] == 0);

    static char const* const names[] = {"plain.txt", "caf\xC3\xA9 \xE2\x82\xAC.txt", "\xF0\x9F\x98\x80 smile"};
    char paths[3][SCRATCHPATH_CAPACITY];
    for (u32 i = 0; i < 3; i++) {
        scratchpath(paths[i], names[i]);
        CHECK(writescratch(paths[i], "x", 1));
    }
    char const** entries = os_getdirentries(tempfolder(), store, count);
    if (CHECK(entries != nullptr)) {
        char const* slash = strrchr((char const*)paths[1], '/');
        CHECK(listed(entries, count, slash + 1));
        CHECK(listed(entries, count, strrchr((char const*)paths[2], '/') + 1));
        CHECK(!listed(entries, count, "."));
        CHECK(!listed(entries, count, ".."));
    }
    for (u32 i = 0; i < 3; i++) {
        CHECK(os_fileexists(paths[i]));             // the name went both ways whole
        CHECK(os_unlink(paths[i]));
    }
    CHECK(os_getdirentries("/c/no such folder here", store, count) == nullptr);
    CHECK_EQ(count, 0);
    CHECK(os_getdirentries("/tmp", store, count) == nullptr);
}

TEST(working_directory_in_the_program_form)
{
    char wd[512];
    CHECK(os_getwd(wd));
    CHECK_EQ(wd[0], '/');
    CHECK(wd[1] >= 'a' && wd[1] <= 'z');
    CHECK(wd[2] == '/' || wd[2] == 0);
    CHECK(strchr(wd, '\\') == nullptr);
    for (char const* c = wd; *c; c++)
        CHECK(!(*c >= 'A' && *c <= 'Z'));
}

TEST(clocks_move_and_agree)
{
    u32 ms = os_getms32();
    u32 us = os_getus32();
    os_sleep(30);
    u32 msgone = os_getms32() - ms;
    u32 usgone = os_getus32() - us;
    CHECK(msgone >= 25 && msgone < 2000);
    CHECK(usgone >= 25000 && usgone < 2000000);
    CHECK_EQ(os_getlocaltimeoffset(), 0);
    int local = 0;
    os_getms32_sec1970(local);
    u32 utc = os_getutcsec1970();
    CHECK(utc > 1600000000u);
    s64 zone = (s64)(u32)local - (s64)utc;           // the user's zone, in quarter hours
    CHECK(zone > -15 * 3600 && zone < 15 * 3600);
    CHECK_EQ((zone + 15 * 3600 + 30) % 900 / 60, 0);
}

TEST(argument_record_of_the_test_program)
{
    argumentrecord* r = process->getargs();
    if (!CHECK(r != nullptr))
        return;
    CHECK_STR(r->programname, "test_windows_os");
    CHECK_STR(r->invokedname, "test_windows_os.exe");
    CHECK_EQ(r->programdir[0], '/');
    CHECK_EQ(r->argc, 0);
    CHECK_STR(r->argline, "");
    CHECK_STR(r->user, "");
    CHECK_STR(r->computername, "");
    char value[512];
    CHECK(process->getenv("KZV_TESTTMP", value, sizeof value));
    CHECK_STR(value, tempfolder());
    os_gethomedir();
    CHECK_EQ(process->gethomedir()[0], '/');         // the application-data folder
    CHECK(os_fileorresourceexists("img/info.kzv"));
    CHECK(!os_fileorresourceexists("img/none.kzv"));
}

namespace {
struct consolesink : module {
    char text[64];
    u32 length;
};

sptr consolesink_concb(void* self, unsigned cmd, int a, int, void const* p)
{
    consolesink* s = (consolesink*)self;
    if (cmd != 'J')
        return 0;
    for (int i = 0; i < a && s->length + 1 < sizeof s->text; i++)
        s->text[s->length++] = ((char const*)p)[i];
    s->text[s->length] = 0;
    return a;
}
} // namespace

TEST(console_module_takes_standard_output)
{
    consolesink sink = {};
    sink.initheader(nullptr, "sink", consolesink_concb, type_bytestream);
    module* before = process->consolemodule;
    os_saveconsolemodule();
    os_setconsolemodule(&sink);
    CHECK_EQ(os_stdout("ab", 2), 2);
    os_puts("cd");
    CHECK_STR(sink.text, "abcd\n");
    os_restoreconsolemodule();
    CHECK(process->consolemodule == before);
    os_setconsolemodule(&sink);
    os_exitstdio();
    CHECK(process->consolemodule == nullptr);
    process->consolemodule = before;
}
