// The file information module: one path through `open` (kinds, size, time, links,
// the 768-byte bound at its edge) and the filter over a connected stream, checked
// with a real file stream of path lines, so that a link target written behind a
// line would show up as a damaged next line.
#include "../harness/harness.h"
#include "../../framework/dir.h"
#include "../../framework/fileinformation.h"
#include "../../framework/filepacket.h"
#include "../../framework/filestream.h"
#include "../../framework/sysprocess.h"
#include "dirtestfixture.h"

using namespace kzv;
using kzvtest::dirfixture;
using kzvtest::repeated;

namespace {

dirfixture fx;
char scratch[kzvtest::FIXTURE_PATHCAPACITY];

} // namespace

TEST(open_kinds_sizes_and_time)
{
    CHECK(fx.make("open"));
    CHECK(fx.file(fx.root, "f", "hello"));
    char sub[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.folder(fx.root, "sub", sub));
    int localnow = 0;
    os_getms32_sec1970(localnow);
    fileinformation fi;
    CHECK_EQ(fi.type, type_bytestream);
    CHECK(fi.open(dirfixture::join(scratch, fx.root, "f")));
    CHECK_EQ(fi.type, type_file);
    CHECK_EQ(file_kind(fi), filekind_file);
    CHECK_EQ(file_size(fi), 5);
    CHECK_EQ(file_flags(fi), 0);
    CHECK(file_mtime(fi) + 5 >= (u32)localnow && file_mtime(fi) <= (u32)localnow + 5);
    CHECK_STR((char const*)fi.payload, scratch);
    CHECK(fi.open(sub));
    CHECK_EQ(file_kind(fi), filekind_directory);
    CHECK(!fi.open(dirfixture::join(scratch, fx.root, "missing")));
    CHECK_EQ(file_kind(fi), filekind_other);
    CHECK(!fi.open(nullptr));
    CHECK_EQ(file_kind(fi), filekind_other);
    fx.clean();
}

// 767 characters and the terminator fill the buffer; one more is refused with the
// buffer left empty, so no cut path is ever described.
TEST(open_path_bound)
{
    CHECK(fx.make("bound"));
    char deep[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.deepfolder(765, deep));
    char name[8];
    CHECK(fx.file(deep, "x", "abc"));
    fileinformation fi;
    CHECK(fi.open(dirfixture::join(scratch, deep, "x")));       // 767 characters
    CHECK_EQ(strlen(scratch), 767);
    CHECK_EQ(file_size(fi), 3);
    CHECK(fx.file(deep, repeated(name, 'y', 2), "abc"));
    CHECK(!fi.open(dirfixture::join(scratch, deep, "yy")));     // 768 characters
    CHECK_EQ(file_kind(fi), filekind_other);
    CHECK_EQ(fi.path[0], 0);
    fx.clean();
}

TEST(open_link_target_stays_inside_the_buffer)
{
    CHECK(fx.make("links"));
    CHECK(fx.file(fx.root, "real", "1234567"));
    CHECK(fx.link(fx.root, "short", "real"));
    char deep[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.deepfolder(700, deep));
    char target[600];
    CHECK(fx.link(deep, "l", repeated(target, 'q', 500)));
    fileinformation fi;
    CHECK(fi.open(dirfixture::join(scratch, fx.root, "short")));
    CHECK_EQ(file_flags(fi) & fileflag_link, fileflag_link);
    CHECK_EQ(file_size(fi), 7);
    CHECK_STR(fi.path + strlen(fi.path) + 1, "real");
    // A path of 702 bytes: the target gets 768 - 702 - 2 bytes and its zero.
    CHECK(fi.open(dirfixture::join(scratch, deep, "l")));
    CHECK_EQ(file_flags(fi) & fileflag_link, fileflag_link);
    CHECK_EQ(strlen(fi.path + 703), 768 - 702 - 2);
    // The next open of a plain file clears the link flag.
    CHECK(fi.open(dirfixture::join(scratch, fx.root, "real")));
    CHECK_EQ(file_flags(fi) & fileflag_link, 0);
    fx.clean();
}

TEST(filter_over_a_directory_stream)
{
    CHECK(fx.make("filterdir"));
    CHECK(fx.file(fx.root, "a", "1"));
    CHECK(fx.file(fx.root, "b", "22"));
    dir d(fx.root);
    fileinformation fi;
    connect(d.out, fi.in);
    data* record = nullptr;
    CHECK_EQ(fi.call('D', 0, 0, &record), 1);
    CHECK(record == &fi);
    CHECK_EQ(file_size(fi), 1);
    CHECK_EQ(fi.call('D', 0, 0, &record), 1);
    CHECK_EQ(file_size(fi), 2);
    CHECK(!(fi.flags & streamstate_endseen));
    CHECK_EQ(fi.call('D', 0, 0, &record), 0);
    CHECK(fi.flags & streamstate_endseen);               // copied from the source
    CHECK_EQ(fi.call('E', 0, 0, &record), 0);
    CHECK(record == nullptr);
    fx.clean();
}

// Lines of a text file: a link, a missing path and a plain file. Filter records
// carry no target, so the link's line leaves the next line in the read buffer whole.
TEST(filter_over_path_lines)
{
    CHECK(fx.make("filterlines"));
    CHECK(fx.file(fx.root, "plain", "abcd"));
    CHECK(fx.link(fx.root, "link", "plain"));
    char list[1024];
    char linkpath[256], plainpath[256];
    dirfixture::join(linkpath, fx.root, "link");
    dirfixture::join(plainpath, fx.root, "plain");
    CHECK(str_combine(list, sizeof list, linkpath, "\n"));
    CHECK(str_combine(list, sizeof list, list, "/nonexistent-kzv\n"));
    CHECK(str_combine(list, sizeof list, list, plainpath, "\n"));
    CHECK(fx.file(fx.root, "list.txt", list));
    file source(dirfixture::join(scratch, fx.root, "list.txt"));
    fileinformation fi;
    connect(source.out, fi.in);
    struct { char const* path; u8 kind; u8 link; u64 size; } const rows[] = {
        {linkpath, filekind_file, fileflag_link, 4},
        {"/nonexistent-kzv", filekind_other, 0, 0},
        {plainpath, filekind_file, 0, 4},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.path);
        data* record = nullptr;
        CHECK_EQ(fi.call('D', 0, 0, &record), 1);
        CHECK_STR((char const*)fi.payload, row.path);
        CHECK_EQ(fi.size, strlen(row.path));
        CHECK_EQ(file_kind(fi), row.kind);
        CHECK_EQ(file_flags(fi) & fileflag_link, row.link);
        CHECK_EQ(file_size(fi), row.size);
    }
    kzvtest::setrow(nullptr);
    data* record = nullptr;
    CHECK_EQ(fi.call('D', 0, 0, &record), 0);
    CHECK(fi.flags & streamstate_endseen);
    fx.clean();
}

TEST(unconnected_filter_and_fixed_replies)
{
    fileinformation fi;
    data* record = nullptr;
    CHECK_EQ(fi.call('D', 0, 0, &record), 0);
    CHECK(record == &fi);
    struct { unsigned cmd; sptr reply; } const fixed[] = {
        {'F', -1}, {'>', 1}, {'S', 1}, {'W', 1}, {'^', 1}, {'I', 0}, {'B', 0}, {'?', 0},
    };
    for (auto const& f : fixed)
        CHECK_EQ(fi.call(f.cmd, 0, 0, nullptr), (u64)f.reply);
}
