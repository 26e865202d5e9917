// The directory listing stream on real folders under /tmp: the sort order, the
// three forms of joined paths, the commands and their results, records with their
// kinds and link flags, entries that vanish after the listing, and the length rule
// of the path buffer at its exact boundary (a path that would not fit with its LF
// and terminator is skipped, never cut), with link targets that must stay inside it.
#include "../harness/harness.h"
#include "../../framework/dir.h"
#include "../../framework/filepacket.h"
#include "../../framework/sysprocess.h"
#include "dirtestfixture.h"

using namespace kzv;
using kzvtest::dirfixture;
using kzvtest::repeated;

namespace {

dirfixture fx;

// The name part of the next 'B' line, or null at the end.
char const* nextname(dir& d)
{
    char* line = nullptr;
    sptr r = d.call('B', 0, 0, &line);
    if (r <= 0)
        return nullptr;
    CHECK_EQ(r, strlen(line) + 1);
    char const* slash = strrchr(line, '/');
    return slash ? slash + 1 : line;
}

} // namespace

TEST(sorted_without_case_in_signed_byte_order)
{
    CHECK(fx.make("order"));
    // '_' (0x5F) sorts before letters; a UTF-8 lead byte is negative as a signed
    // byte, so it sorts before ASCII; a prefix sorts first.
    char const* names[] = {"b", "A", "c", "_u", "\xC3\xA9t\xC3\xA9", "ab", "a", "B2"};
    for (char const* n : names)
        CHECK(fx.file(fx.root, n));
    dir d;
    CHECK(d.open(fx.root));
    CHECK_EQ(d.entrycount, 8);
    char const* expected[] = {"\xC3\xA9t\xC3\xA9", "_u", "A", "ab", "b", "B2", "c"};
    char const* got = nextname(d);
    CHECK_STR(got, "\xC3\xA9t\xC3\xA9");
    // "a" and "A" compare equal without case; both come between "_u" and "ab".
    char const* second = nextname(d);
    CHECK_STR(second, "_u");
    char third[8];
    strcpy(third, nextname(d), sizeof third - 1);   // the line buffer is reused by the next read
    char const* fourth = nextname(d);
    CHECK((streq(third, "A") && streq(fourth, "a")) || (streq(third, "a") && streq(fourth, "A")));
    for (u32 i = 3; i < 7; i++)
        CHECK_STR(nextname(d), expected[i]);
    CHECK(nextname(d) == nullptr);
    fx.clean();
}

TEST(joined_path_forms)
{
    CHECK(fx.make("forms"));
    CHECK(fx.file(fx.root, "x"));
    char withslash[200];
    CHECK(str_combine(withslash, sizeof withslash, fx.root, "/"));
    struct { char const* name; char const* dirpath; char const* suffix; } const rows[] = {
        {"plain path gets a slash", fx.root, "/x"},
        {"trailing slash adds only the name", withslash, "x"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        dir d;
        CHECK(d.open(row.dirpath));
        char* line = nullptr;
        CHECK_EQ(d.call('B', 0, 0, &line), strlen(fx.root) + 3);
        char expected[256];
        str_combine(expected, sizeof expected, row.dirpath, row.suffix);
        CHECK_STR(line, expected);
    }
    kzvtest::setrow(nullptr);
    dir root("/");
    char* line = nullptr;
    CHECK(root.call('B', 0, 0, &line) > 1);
    CHECK(line && line[0] == '/' && line[1] != '/' && line[1] != 0);
    fx.clean();
}

TEST(commands_and_end_seen)
{
    CHECK(fx.make("commands"));
    CHECK(fx.file(fx.root, "one"));
    CHECK(fx.file(fx.root, "two"));
    dir d(fx.root);
    CHECK(d.flags & dirstate_open);
    u8* bytes = nullptr;
    u32 rootlength = strlen(fx.root);
    // 'C': the path with its LF, and the answer is that length plus 1.
    CHECK_EQ(d.call('C', 1024, 0, &bytes), rootlength + 4 + 1 + 1);
    CHECK(bytes && bytes[rootlength + 4] == '\n' && bytes[rootlength + 5] == 0);
    CHECK_EQ(d.call('G', 0, 0, nullptr), 1);        // back to "one"
    CHECK_STR(nextname(d), "one");
    CHECK_STR(nextname(d), "two");
    CHECK_EQ(d.call('C', 1024, 0, &bytes), 0);
    CHECK(d.flags & dirstate_endseen);
    CHECK_EQ(d.call('H', 0, 0, nullptr), 1);
    CHECK(!(d.flags & dirstate_endseen));
    CHECK_STR(nextname(d), "one");
    CHECK_EQ(d.call('G', 0, 0, nullptr), 1);
    CHECK_EQ(d.call('G', 0, 0, nullptr), 0);        // at the first entry
    struct { unsigned cmd; sptr reply; } const fixed[] = {
        {'F', -1}, {'>', 1}, {'S', 1}, {'W', 1}, {'^', 1}, {'I', 0}, {'J', 0}, {'?', 0},
    };
    for (auto const& f : fixed)
        CHECK_EQ(d.call(f.cmd, 0, 0, nullptr), (u64)f.reply);
    fx.clean();
}

TEST(records_kinds_sizes_and_links)
{
    CHECK(fx.make("records"));
    char sub[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.folder(fx.root, "a-folder", sub));
    CHECK(fx.file(fx.root, "b-file", "12345"));
    CHECK(fx.link(fx.root, "c-link", "b-file"));
    CHECK(fx.link(fx.root, "d-dangling", "nothing-here"));
    dir d(fx.root);
    struct { char const* name; u8 kind; u8 flags; u64 size; char const* target; } const rows[] = {
        {"a-folder", filekind_directory, 0, 0, nullptr},
        {"b-file", filekind_file, 0, 5, nullptr},
        {"c-link", filekind_file, fileflag_link, 5, "b-file"},
        {"d-dangling", filekind_other, fileflag_link, 0, "nothing-here"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        data* record = nullptr;
        CHECK_EQ(d.call('D', 0, 0, &record), 1);
        CHECK(record == &d);
        CHECK_EQ(d.type, type_file);
        CHECK_EQ(d.size, DIR_PATHCAPACITY);
        char const* path = (char const*)d.payload;
        CHECK(streqend(path, row.name));
        CHECK_EQ(file_kind(d), row.kind);
        CHECK_EQ(file_flags(d) & fileflag_link, row.flags);
        CHECK_EQ(file_size(d), row.size);
        if (row.target)
            CHECK_STR(path + strlen(path) + 1, row.target);
    }
    kzvtest::setrow(nullptr);
    data* record = &d;
    CHECK_EQ(d.call('E', 0, 0, &record), 0);
    CHECK(record == nullptr);
    CHECK(d.flags & dirstate_endseen);
    fx.clean();
}

// Names with the kinds the listing told: a folder and a file come told, links
// are looked up by `examine` (the target's kind; other for a dangling one), and a
// path too long for the buffer is skipped as 'B' skips it.
TEST(names_with_told_kinds_and_examined_links)
{
    CHECK(fx.make("told"));
    char sub[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.folder(fx.root, "a-folder", sub));
    CHECK(fx.file(fx.root, "B-file", "12345"));
    CHECK(fx.link(fx.root, "c-link", "a-folder"));
    CHECK(fx.link(fx.root, "d-dangling", "nothing-here"));
    dir d(fx.root);
    struct { char const* name; u8 told; u8 examined; } const rows[] = {
        {"a-folder", filekind_directory, filekind_directory},
        {"B-file", filekind_file, filekind_file},
        {"c-link", 0, filekind_directory},
        {"d-dangling", 0, filekind_other},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        char const* name = nullptr;
        u8 kind = 99;
        CHECK(d.nextname(name, kind));
        CHECK_STR(name, row.name);
        CHECK_EQ(kind, row.told);
        CHECK_EQ(d.examine(), row.examined);
    }
    kzvtest::setrow(nullptr);
    char const* name = nullptr;
    u8 kind = 0;
    CHECK(!d.nextname(name, kind));
    CHECK(d.flags & dirstate_endseen);
    fx.clean();

    CHECK(fx.make("toldlong"));
    char deep[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.deepfolder(800, deep));
    char longname[256];
    CHECK(fx.file(deep, repeated(longname, 'b', 222)));   // 800 + 1 + 222 + 2 > 1024: skipped
    CHECK(fx.file(deep, "d"));
    dir l(deep);
    CHECK(l.nextname(name, kind));
    CHECK_STR(name, "d");
    CHECK_EQ(l.examine(), filekind_file);
    CHECK(!l.nextname(name, kind));
    fx.clean();
}

TEST(vanished_entry_is_consumed)
{
    CHECK(fx.make("vanish"));
    CHECK(fx.file(fx.root, "a"));
    CHECK(fx.file(fx.root, "b"));
    dir d(fx.root);
    char path[kzvtest::FIXTURE_PATHCAPACITY];
    sys_unlink(dirfixture::join(path, fx.root, "a"));
    data* record = nullptr;
    CHECK_EQ(d.call('E', 0, 0, &record), 0);        // "a" is gone
    CHECK(record == nullptr);
    CHECK_EQ(d.call('E', 0, 0, &record), 1);        // the next command moves on
    CHECK(streqend((char const*)record->payload, "/b"));
    fx.clean();
}

TEST(empty_missing_and_file_paths_fail)
{
    CHECK(fx.make("empty"));
    char path[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.file(fx.root, "plain"));
    char const* const paths[] = {nullptr, "", "/nonexistent-kzv-folder", dirfixture::join(path, fx.root, "plain")};
    for (char const* p : paths) {
        kzvtest::setrow(p ? p : "null");
        dir d;
        CHECK(!d.open(p));
        CHECK(d.flags & dirstate_error);
        char* line = nullptr;
        data* record = nullptr;
        CHECK_EQ(d.call('B', 0, 0, &line), 0);
        CHECK_EQ(d.call('C', 100, 0, &line), 0);
        CHECK_EQ(d.call('D', 0, 0, &record), 0);
    }
    kzvtest::setrow("empty folder");
    sys_unlink(path);
    dir d;
    CHECK(!d.open(fx.root));
    CHECK(d.flags & dirstate_error);
    fx.clean();
}

// A folder path of 800 bytes: with '/' and a name of n bytes the path is 801 + n
// long, and it fits with its LF and terminator while 801 + n + 2 <= 1024, i.e. for
// names up to 221 bytes.
TEST(path_buffer_boundary_skips_and_never_cuts)
{
    CHECK(fx.make("long"));
    char deep[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.deepfolder(800, deep));
    char name[256];
    CHECK(fx.file(deep, repeated(name, 'a', 221)));       // 800 + 1 + 221 + 2 = 1024: fits
    CHECK(fx.file(deep, repeated(name, 'b', 222)));       // one byte too long: skipped
    CHECK(fx.file(deep, repeated(name, 'c', 255)));       // skipped
    CHECK(fx.file(deep, "d"));
    char target[600];
    repeated(target, 't', 520);                          // longer than any room behind a path
    CHECK(fx.link(deep, repeated(name, 'e', 200), target));
    dir d(deep);
    CHECK_EQ(d.entrycount, 5);
    u8* bytes = nullptr;
    CHECK_EQ(d.call('C', 0, 0, &bytes), 1022 + 2);
    CHECK(bytes && bytes[1022] == '\n' && bytes[1023] == 0);
    CHECK_STR(nextname(d), "d");                         // "b..." and "c..." were skipped
    data* record = nullptr;
    CHECK_EQ(d.call('D', 0, 0, &record), 1);             // the link: target stored only within 1024
    char const* path = (char const*)d.payload;
    CHECK_EQ(strlen(path), 1001);
    CHECK_EQ(file_flags(d) & fileflag_link, fileflag_link);
    char const* stored = path + 1002;
    CHECK_EQ(strlen(stored), 1024 - 1002 - 1);
    CHECK_EQ(d.call('B', 0, 0, &bytes), 0);
    // 'G' from the end goes back over the skipped entries to the last one handed out.
    CHECK_EQ(d.call('G', 0, 0, nullptr), 1);
    CHECK(streqend((char const*)nextname(d), "eeee"));
    CHECK_EQ(d.call('H', 0, 0, nullptr), 1);
    CHECK(streqend((char const*)nextname(d), "aaaa"));
    fx.clean();
}

TEST(folder_path_too_long_for_any_entry)
{
    CHECK(fx.make("toolong"));
    char deep[kzvtest::FIXTURE_PATHCAPACITY];
    CHECK(fx.deepfolder(1021, deep));
    CHECK(fx.file(deep, "x"));                           // 1021 + 1 + 1 + 2 = 1025
    dir d(deep);
    CHECK_EQ(d.entrycount, 1);
    char* line = nullptr;
    CHECK_EQ(d.call('B', 0, 0, &line), 0);
    CHECK(d.flags & dirstate_endseen);
    CHECK_EQ(d.call('G', 0, 0, nullptr), 0);
    fx.clean();
}

TEST(reopen_takes_a_new_listing_and_keeps_connections)
{
    CHECK(fx.make("reopen"));
    CHECK(fx.file(fx.root, "first"));
    dir d(fx.root);
    dir other;
    connect(d.out, other.in);
    CHECK(fx.file(fx.root, "second"));
    CHECK_EQ(d.entrycount, 1);                           // the listing does not follow changes
    CHECK(d.open(fx.root));
    CHECK_EQ(d.entrycount, 2);
    CHECK(d.out.peer == &other.in);
    CHECK_STR(nextname(d), "first");
    CHECK_STR(nextname(d), "second");
    fx.clean();
}
