// The file stream on real files under /tmp and on the linked resource archive,
// and the archive lookup on hand-made archives with damaged tables. Seeks past
// the end, output pending at a seek, files that grow while read, the pump from a
// connected source, and archive entries that must never grow into their
// neighbours.
#include "../harness/harness.h"
#include "../../framework/filestream.h"
#include "../../framework/mem.h"
#include "../../framework/resources.h"
#include "../../framework/sysprocess.h"
#include "streamtestfiles.h"

using namespace kzv;
using kzvtest::scratchpath;
using kzvtest::readscratch;
using kzvtest::writescratch;

namespace {

void put32(u8* p, u32 v)
{
    p[0] = (u8)v, p[1] = (u8)(v >> 8), p[2] = (u8)(v >> 16), p[3] = (u8)(v >> 24);
}

u32 get32(u8 const* p) { return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24; }

// Two entries laid out by the archive rule: "a/one" = "12345" at 32, "two" = "xyz"
// at 48, names at 64 and 72, the table at 76; 100 bytes.
const u32 SMALLARCHIVE = 100;

void buildarchive(u8* a)
{
    memset0(a, SMALLARCHIVE);
    memcpy(a, "kzv \xCD\xEF\x38", 7);
    put32(a + 8, 2);
    put32(a + 12, 76);
    memcpy(a + 32, "12345", 5);
    memcpy(a + 48, "xyz", 3);
    memcpy(a + 64, "a/one", 6);
    memcpy(a + 72, "two", 4);
    u32 const table[6] = {64, 32, 5, 72, 48, 3};
    for (u32 i = 0; i < 6; i++)
        put32(a + 76 + 4 * i, table[i]);
}

struct archiverow {
    char const* name;
    u32 patchoffset;            // 0: no patch
    u32 patchvalue;
    u32 length;
    char const* lookup;
    bool found;
    u32 dataoffset, size;
};

} // namespace

TEST(resource_lookup_refuses_damaged_archives)
{
    static archiverow const rows[] = {
        {"first entry", 0, 0, SMALLARCHIVE, "a/one", true, 32, 5},
        {"second entry", 0, 0, SMALLARCHIVE, "two", true, 48, 3},
        {"unknown name", 0, 0, SMALLARCHIVE, "three", false, 0, 0},
        {"prefix of a name", 0, 0, SMALLARCHIVE, "a/on", false, 0, 0},
        {"name longer than the stored one", 0, 0, SMALLARCHIVE, "a/one2", false, 0, 0},
        {"bad magic", 0, 0x2076007a, SMALLARCHIVE, "a/one", false, 0, 0},
        {"other kind byte", 4, 0x39efcd, SMALLARCHIVE, "a/one", false, 0, 0},
        {"block shorter than the header", 0, 0, 31, "a/one", false, 0, 0},
        {"table past the end", 12, 90, SMALLARCHIVE, "a/one", false, 0, 0},
        {"12 x count wraps in 32 bits", 8, 0x15555556, SMALLARCHIVE, "a/one", false, 0, 0},
        {"name offset past the end, next entry still found", 76, 5000, SMALLARCHIVE, "two", true, 48, 3},
        {"name offset past the end", 76, 5000, SMALLARCHIVE, "a/one", false, 0, 0},
        {"data past the end", 96, 0xfffffff0, SMALLARCHIVE, "two", false, 0, 0},
        {"data offset past the end", 92, 0xffffff00, SMALLARCHIVE, "two", false, 0, 0},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        static u8 archive[SMALLARCHIVE];
        buildarchive(archive);
        if (row.patchoffset || row.patchvalue)
            put32(archive + row.patchoffset, row.patchvalue);
        resourceentry e = {archive, 77};
        CHECK_EQ(resource_find(archive, row.length, row.lookup, e), row.found);
        CHECK(e.bytes == (row.found ? archive + row.dataoffset : nullptr));
        CHECK_EQ(e.size, row.size);
    }
    kzvtest::setrow(nullptr);
    static u8 archive[SMALLARCHIVE];
    buildarchive(archive);
    resourceentry e;
    CHECK(!resource_find(archive, SMALLARCHIVE, nullptr, e));
    CHECK(!resource_find(nullptr, SMALLARCHIVE, "a/one", e));
}

// The linked archive follows the layout rule: data from 32, each entry and the
// name area at (end + 16) & ~15, names padded to 4, then the table.
TEST(linked_archive_layout)
{
    u8 const* a = binary_tmp_resfile;
    u32 length = binary_tmp_resfile_length;
    CHECK_MEM(a, "kzv \xCD\xEF\x38\x00", 8);
    CHECK_EQ(get32(a + 8), 3);
    static char const* const names[3] = {"fnt/droidmono#_960", "img/info.kzv", "img/question.kzv"};
    u32 table = get32(a + 12);
    CHECK((u64)table + 36 <= length);
    u32 expectdata = 32, end = 0;
    for (u32 i = 0; i < 3; i++) {
        kzvtest::setrow(names[i]);
        u8 const* entry = a + table + 12 * i;
        CHECK_EQ(get32(entry + 4), expectdata);
        end = get32(entry + 4) + get32(entry + 8);
        expectdata = (end + 16) & ~15u;
        resourceentry e;
        CHECK(resource_find(names[i], e));
        CHECK(e.bytes == a + get32(entry + 4));
        CHECK_EQ(e.size, get32(entry + 8));
        CHECK_MEM(e.bytes, "kzv ", 4);
        if (i > 0)
            CHECK_EQ(e.size, 4128);                     // a 32 x 32 kzv-57 icon
    }
    kzvtest::setrow(nullptr);
    u32 nameoffset = expectdata;                         // the name area follows the last entry
    for (u32 i = 0; i < 3; i++) {
        CHECK_EQ(get32(a + table + 12 * i), nameoffset);
        CHECK_STR((char const*)a + nameoffset, names[i]);
        nameoffset += (strlen(names[i]) + 1 + 3) & ~3u;
    }
    CHECK_EQ(table, nameoffset);
    CHECK(getresourcepointer("fnt/droidmono#_960") == a + 32);
    CHECK(getresourcepointer("fnt/none") == nullptr);
    CHECK(getresourcepointer(nullptr) == nullptr);
}

TEST(write_then_read_back)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "roundtrip");
    {
        file f;
        CHECK(f.create(path));
        CHECK_EQ(f.callback(&f, stream_write, 11, 0, "hello world"), 11);
        CHECK_EQ(f.position(), 11);
        CHECK_EQ(f.filesize(), 11);
        CHECK_EQ(f.callback(&f, stream_close, 0, 0, nullptr), 1);
        CHECK_EQ(f.fd, 0);                              // closed and reset
    }
    file f(path);
    CHECK(f.isopen());
    CHECK_EQ(f.filesize(), 11);
    CHECK_EQ(f.readchunk, 11);                          // no more than the file holds
    CHECK_EQ(f.kind.stream.sourcekind, source_file);
    u8* p = nullptr;
    CHECK_EQ(f.callback(&f, stream_read, 100, 0, &p), 11);
    CHECK_MEM(p, "hello world", 11);
    CHECK_EQ(f.callback(&f, stream_read, 100, 0, &p), 0);
    CHECK(f.hasstate(streamstate_endseen));
    CHECK(!f.isopen());
    CHECK(f.fd != 0);                                   // kept, so that it can grow
    CHECK_EQ(f.callback(&f, stream_write, 1, 0, "x"), 0);   // opened for reading only
    CHECK_EQ(f.callback(&f, stream_restart, 0, 0, nullptr), 1);
    CHECK_EQ(f.callback(&f, stream_read, 5, 0, &p), 5);
    CHECK_MEM(p, "hello", 5);
    f.exit(true);
    CHECK_EQ(f.fd, 0);
    os_unlink(path);
}

TEST(missing_names_and_directories)
{
    file f("/tmp/kzvstream-no-such-file");
    CHECK(!f.isopen());
    CHECK(f.hasstate(streamstate_error));
    u8* p = nullptr;
    CHECK_EQ(f.callback(&f, stream_read, 10, 0, &p), 0);
    CHECK(!f.open("/tmp"));                             // a directory: the archive has no such entry
    CHECK(f.hasstate(streamstate_error));
    CHECK(!f.open(nullptr));
    CHECK(!f.create("/tmp/kzvstream-no-such-dir/x"));
    CHECK_EQ(f.callback(&f, stream_restart, 0, 0, nullptr), 0);  // neither descriptor nor entry
    CHECK_EQ(f.callback(&f, stream_setposition, 5, 0, nullptr), 0);
}

TEST(archive_entries_are_served_in_place)
{
    resourceentry e;
    CHECK(resource_find("img/info.kzv", e));
    file f;
    CHECK(f.open("img/info.kzv"));                      // no such file here: the archive serves it
    CHECK_EQ(f.fromresource, 1);
    CHECK_EQ(f.fd, 0);
    CHECK_EQ(f.filesize(), e.size);
    u8* p = nullptr;
    u32 total = 0;
    bool same = true;
    for (;;) {
        sptr n = f.callback(&f, stream_read, 1000, 0, &p);
        if (n <= 0)
            break;
        same = same && memcmp(p, e.bytes + total, (u32)n) == 0;
        total += (u32)n;
    }
    CHECK_EQ(total, e.size);
    CHECK(same);
    CHECK_EQ(f.callback(&f, stream_write, 1, 0, "x"), 0);   // read-only
    CHECK_EQ(f.callback(&f, stream_restart, 0, 0, nullptr), 1);  // rewinds an entry too
    CHECK(f.isopen());
    CHECK_EQ(f.callback(&f, stream_read, 4, 0, &p), 4);
    CHECK_MEM(p, "kzv ", 4);
    // A seek past the entry stops at its end: the bytes behind it are not the entry's.
    CHECK_EQ(f.callback(&f, stream_setposition, (int)e.size + 100, 0, nullptr), 1);
    CHECK_EQ(f.position(), e.size);
    CHECK_EQ(f.filesize(), e.size);
    CHECK_EQ(f.callback(&f, stream_read, 10, 0, &p), 0);
    CHECK_EQ(f.callback(&f, stream_setposition, 4, 1, nullptr), 1);   // 4 + 2^32
    CHECK_EQ(f.position(), e.size);
    CHECK_EQ(f.callback(&f, stream_setposition, (int)e.size - 2, 0, nullptr), 1);
    if (CHECK_EQ(f.callback(&f, stream_read, 10, 0, &p), 2))     // the seek reopened it
        CHECK_MEM(p, e.bytes + e.size - 2, 2);
    CHECK(f.openres("fnt/droidmono#_960"));
    CHECK(f.resourcedata == getresourcepointer("fnt/droidmono#_960"));
    CHECK(!f.openres("img/none.kzv"));
    CHECK(f.hasstate(streamstate_error));
}

TEST(seek_past_the_end_grows_the_file)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "seek");
    file f;
    CHECK(f.create(path));
    CHECK_EQ(f.callback(&f, stream_write, 3, 0, "abc"), 3);
    CHECK_EQ(f.callback(&f, stream_setposition, 10, 0, nullptr), 1);
    CHECK_EQ(f.filesize(), 10);
    CHECK_EQ(f.position(), 10);
    CHECK_EQ(f.callback(&f, stream_write, 1, 0, "z"), 1);
    CHECK_EQ(f.filesize(), 11);
    // The halves are unsigned: a = -2 is 0xFFFFFFFE, not a negative offset.
    CHECK_EQ(f.callback(&f, stream_setposition, -2, 0, nullptr), 1);
    CHECK_EQ(f.position(), 0xFFFFFFFEull);
    f.exit(true);
    u8 back[16];
    CHECK_EQ(readscratch(path, back, sizeof back), 11);
    CHECK_MEM(back, "abc\0\0\0\0\0\0\0z", 11);
    os_unlink(path);
}

TEST(seek_writes_pending_output_first)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "pending");
    file f;
    CHECK(f.create(path));
    CHECK_EQ(f.callback(&f, stream_setbuffering, 1, 0, nullptr), 1);
    CHECK_EQ(f.callback(&f, stream_write, 3, 0, "abc"), 3);
    CHECK_EQ(f.callback(&f, stream_pending, 0, 0, nullptr), 3);
    CHECK_EQ(f.callback(&f, stream_setposition, 1, 0, nullptr), 1);
    CHECK_EQ(f.callback(&f, stream_pending, 0, 0, nullptr), 0);
    CHECK_EQ(f.callback(&f, stream_write, 1, 0, "X"), 1);
    CHECK_EQ(f.callback(&f, stream_close, 0, 0, nullptr), 1);
    CHECK(f.isopen());                                  // until the scheduler has flushed it
    process->sleep(nullptr, 50);
    CHECK_EQ(f.fd, 0);                                  // then it closed and reset itself
    u8 back[8];
    CHECK_EQ(readscratch(path, back, sizeof back), 3);
    CHECK_MEM(back, "aXc", 3);
    os_unlink(path);
}

TEST(growing_file_reopens_with_checksize)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "grow");
    CHECK(writescratch(path, "", 0));
    file f(path);
    CHECK(f.isopen());
    CHECK_EQ(f.readchunk, FILE_READCHUNK);              // empty at open: still whole chunks
    CHECK_EQ(f.callback(&f, stream_getbyte, 0, 0, nullptr), -1);
    CHECK(!f.isopen());                                 // the end closes it, the descriptor stays
    CHECK_EQ(f.checksize(), 0);
    CHECK(!f.isopen());
    int fd = os_fopen(path, 5);
    CHECK(fd != 0);
    CHECK_EQ(os_write(fd, "ab\n", 3), 3);
    os_close(fd);
    CHECK_EQ(f.checksize(), 3);
    CHECK(f.isopen());
    CHECK_EQ(f.readchunk, 3);
    char* line = nullptr;
    CHECK_EQ(f.callback(&f, stream_getline, 0, 0, &line), 3);
    CHECK_STR(line, "ab");
    os_unlink(path);
}

namespace {

// A source that hands out a script of records through 'D'.
struct sourcestep {
    char const* bytes;
    u16 state;                  // the record's state word
};

class scriptsource : public module {
public:
    data record;
    sourcestep const* steps;
    u32 count, next;
};

sptr scriptsource_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    scriptsource* s = (scriptsource*)self;
    if (cmd != stream_readrecord)
        return 0;
    *(data**)p = &s->record;
    s->record.clear();
    if (s->next >= s->count) {
        s->record.flags = (u8)streamstate_endseen;
        return 0;
    }
    sourcestep const& step = s->steps[s->next++];
    s->record.payload = (void*)step.bytes;
    s->record.size = strlen(step.bytes);
    s->record.flags = (u8)step.state;
    s->record.state = (u8)(step.state >> 8);
    return (sptr)s->record.size;
}

} // namespace

TEST(pump_from_a_source)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "pump");
    static sourcestep const steps[] = {
        {"abc", 0},
        {"", 0},                                        // nothing now: try again
        {"", 0x0002},                                   // the source starts over
        {"xy", 0},
    };
    scriptsource src;
    memset0(&src, sizeof src);
    src.initheader(nullptr, "source", scriptsource_concb, type_bytestream);
    src.steps = steps;
    src.count = 4;
    file f;
    CHECK(f.create(path));
    connect(&src, &f);
    CHECK_EQ(f.step(0), 1);
    CHECK_EQ(f.step(0), 2);
    CHECK_EQ(f.step(0), 2);
    CHECK_EQ(f.position(), 0);                          // rewound
    CHECK_EQ(f.run(0, 0), 0);                           // the rest, until the source ends
    CHECK_EQ(src.next, 4);
    f.exit(true);
    u8 back[8];
    CHECK_EQ(readscratch(path, back, sizeof back), 3);
    CHECK_MEM(back, "xyc", 3);
    os_unlink(path);
}

TEST(copy_an_entry_through_the_pump)
{
    char path[kzvtest::SCRATCHPATH_CAPACITY];
    scratchpath(path, "copy");
    resourceentry e;
    CHECK(resource_find("img/question.kzv", e));
    file src("img/question.kzv");
    file dst;
    CHECK(dst.create(path));
    connect(&src, &dst);
    CHECK_EQ(dst.run(1000000, 100), 0);                 // a budget that outlasts the copy
    dst.exit(true);
    static u8 back[5000];
    CHECK_EQ(readscratch(path, back, sizeof back), e.size);
    CHECK_MEM(back, e.bytes, e.size);
    os_unlink(path);
}
