// The dialog application without a display: the dialog word by its ending, the
// help text byte for byte, the record's layout, and whole runs of `usermain::init`
// on made-up command lines that end before a window would open (help, an unknown
// word, over-long path and pattern options, a -folder that is no folder, a
// -textfile name too long, no display at all), each checked for what goes to
// standard output, what goes to standard error and the exit code.
#include "../harness/harness.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../gui/app/dialogword.h"
#include "../../gui/app/helptext.h"
#include "../../gui/app/usermain.h"
#include "test_os_fixture.h"

using namespace kzv;
using kzvtest::capture;

TEST(dialog_word_by_its_ending)
{
    struct { char const* word; dialogkind kind; bool dirmode; } const rows[] = {
        {"file", dialog_chooser, false},
        {"dir", dialog_chooser, true},
        {"info", dialog_message, false},
        {"yesno", dialog_question, false},
        {"yes_no", dialog_question, false},
        {"choosedir", dialog_chooser, true},
        {"pickfile", dialog_chooser, false},
        {"dirfile", dialog_chooser, false},     // "file" is tested first
        {"filedir", dialog_chooser, true},
        {"showinfo", dialog_message, false},
        {"yes", dialog_help, false},
        {"no", dialog_help, false},
        {"FILE", dialog_help, false},           // endings compare with case
        {"files", dialog_help, false},
        {"", dialog_help, false},
        {nullptr, dialog_help, false},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.word ? row.word : "null");
        dialogchoice c = dialog_fromword(row.word);
        CHECK_EQ(c.kind, row.kind);
        CHECK_EQ(c.dirmode, row.dirmode);
    }
}

TEST(dialog_word_from_name_or_first_argument)
{
    struct { char const* name; char const* first; char const* word; } const rows[] = {
        {"velkra", "file", "file"},
        {"velkra-linux-x86_64", "dir", "dir"},
        {"myvelkra2", "", ""},
        {"choosedir", "file", "choosedir"},
        {"yes_no", "info", "yes_no"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        CHECK_STR(dialog_word(row.name, row.first), row.word);
    }
}

TEST(help_text_exactly)
{
    char text[HELPTEXT_CAPACITY];
    static char const expected[] =
        "velkra - toolbox for script GUI \n"
        "\n"
        "V 1.01    built Aug  3 2025 12:55:25\n"
        "\n"
        "More details are in the file readme.md.\n"
        "\n"
        "Examples:\n"
        "\n"
        "velkra file -folder=\"/home\" -filter=\"*.txt\"\n"
        "velkra info -textfile=results.txt\n"
        "velkra yesno -text=\"Are you sure?\"\n"
        "\n"
        "Free to use at your own risk, without any warranty.\n"
        "\n";
    CHECK_EQ(helptext_format(text, sizeof text, "1.01", "Aug  3 2025", "12:55:25"), sizeof expected - 1);
    CHECK_STR(text, expected);
}

TEST(record_layout)
{
    CHECK(USERMAIN_RECORDSIZE >= 4096);
    CHECK(USERMAIN_RECORDSIZE >= sizeof(usermain));
    usermain* u = (usermain*)process->pool.sgetmem(USERMAIN_RECORDSIZE);
    CHECK(u != nullptr);
    if (!u)
        return;
    CHECK(((uptr)u & 15) == 0);
    CHECK((char*)u->linebuffer() == u->text.path);
    CHECK(u->text.statusline == u->text.path + USERMAIN_PATHCAPACITY);
    CHECK(u->text.filter == u->text.statusline + USERMAIN_STATUSCAPACITY);
}

namespace {

// A command line of our own in place of the test binary's, for one run of
// `usermain::init`; the process's exit request and code are put back afterwards.
struct fakerun {
    argumentrecord record;
    argumentrecord* saved;
    char out[4096];
    char err[4096];
    int exitcode;
    int exitstatus;
    bool exitrequested;

    // The command line in place of the test binary's, until `restore`.
    void use(char const* programname, char const* const* argv, char const* const* env)
    {
        static char const* const noenv[] = {nullptr};
        saved = process->args;
        memset0(&record, sizeof record);
        record.programname = programname;
        record.invokedname = programname;
        record.argv = (char const**)argv;
        while (argv[record.argc])
            record.argc++;
        record.env = (char const**)(env ? env : noenv);
        record.filled = true;
        process->args = &record;
    }
    void restore() { process->args = saved; }

    void run(char const* programname, char const* const* argv, char const* const* env)
    {
        use(programname, argv, env);
        usermain* u = (usermain*)process->pool.sgetmem(USERMAIN_RECORDSIZE);
        capture o, e;
        bool capturing = o.begin(1) && e.begin(2);
        if (u)
            u->init(nullptr);
        if (capturing) {
            e.end(err, sizeof err);
            o.end(out, sizeof out);
        }
        exitcode = process->exitcode;
        exitstatus = process->exitstatus;
        exitrequested = process->exitrequested != 0;
        if (u)
            u->finish(nullptr);         // releases whatever the run opened
        process->exitcode = 0;
        process->exitstatus = 0;
        process->exitrequested = 0;
        process->exitreason = nullptr;
        restore();
    }
};

fakerun fr;
char longtext[2048];

char const* longoption(char const* prefix, u32 valuelength)
{
    u32 n = strlen(prefix);
    strcpy(longtext, prefix, sizeof longtext - 1);
    for (u32 i = 0; i < valuelength && n + i < sizeof longtext - 1; i++)
        longtext[n + i] = (char)('a' + i % 26);
    longtext[n + valuelength] = 0;
    return longtext;
}

} // namespace

TEST(help_and_unknown_words_print_the_help_text)
{
    char help[HELPTEXT_CAPACITY];
    helptext_format(help, sizeof help, "1.01", "Aug  3 2025", "12:55:25");
    process->builddate = "Aug  3 2025";
    process->buildtime = "12:55:25";
    struct { char const* name; char const* argv[4]; } const rows[] = {
        {"velkra", {"file", "-help", nullptr}},
        {"velkra", {"yes", nullptr}},
        {"velkra", {nullptr}},
        {"velkra", {"--help", nullptr}},
        {"choose", {"file", nullptr}},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.argv[0] ? row.argv[0] : row.name);
        fr.run(row.name, row.argv, nullptr);
        CHECK_STR(fr.out, help);
        CHECK_STR(fr.err, "");
        CHECK_EQ(fr.exitcode, 0);
        CHECK(!fr.exitrequested);
    }
}

TEST(refusals_end_with_one_line_and_status_2)
{
    static char folderarg[700], filterarg[700], textfilearg[900];
    strcpy(folderarg, longoption("-folder=/", 511), sizeof folderarg - 1);       // 512 bytes
    strcpy(filterarg, longoption("-filter=", 512), sizeof filterarg - 1);
    strcpy(textfilearg, longoption("-textfile=", 768), sizeof textfilearg - 1);
    struct { char const* name; char const* argv[4]; char const* err; } const rows[] = {
        {"folder 512 bytes", {"file", folderarg, nullptr}, "velkra: -folder is longer than 511 bytes\n"},
        {"filter 512 bytes", {"file", filterarg, nullptr}, "velkra: -filter is longer than 511 bytes\n"},
        {"textfile 768 bytes", {"info", textfilearg, nullptr}, "velkra: -textfile is longer than 767 bytes\n"},
        {"missing folder", {"dir", "-folder=/nonexistent-kzv-folder", nullptr},
         "velkra: not a folder: /nonexistent-kzv-folder\n"},
        {"folder is a file", {"file", "-folder=/proc/self/status", nullptr}, "velkra: not a folder: /proc/self/status\n"},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        fr.run("velkra", row.argv, nullptr);
        CHECK_STR(fr.out, "");
        CHECK_STR(fr.err, row.err);
        CHECK_EQ(fr.exitcode, 2);
        CHECK(fr.exitrequested);
    }
}

// -title keeps its first 120 characters whole, however many bytes they take.
TEST(title_cut_between_characters)
{
    static char arg[700], want[700];
    struct { char const* name; u32 lead; char const* tail; u32 kept; } const rows[] = {
        {"119 letters and e-acute", 119, "\xC3\xA9", 121},
        {"120 letters and e-acute", 120, "\xC3\xA9", 120},
        {"118 letters, emoji, letter", 118, "\xF0\x9F\x98\x80" "bc", 123},
        {"120 euro signs", 0, nullptr, 360},
        {"121 letters", 121, "", 120},
        {"invalid bytes count one each", 118, "\xFF\x80\x80", 120},
        {"none", 0, "", 0},
    };
    // Only the title is read: a zeroed record stands for a built one.
    usermain* u = (usermain*)process->pool.getmem0(USERMAIN_RECORDSIZE);
    if (!CHECK(u != nullptr))
        return;
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        strcpy(arg, "-title=", sizeof arg - 1);
        for (u32 i = 0; i < row.lead; i++)
            strcat(arg, "a", sizeof arg - 1);
        for (u32 i = 0; !row.tail && i < 121; i++)
            strcat(arg, "\xE2\x82\xAC", sizeof arg - 1);
        strcat(arg, row.tail, sizeof arg - 1);
        char const* argv[] = {"yesno", arg, nullptr};
        fr.use("velkra", argv, nullptr);
        u->taketitle();
        fr.restore();
        strcpy(want, arg + 7, row.kept);
        CHECK_STR(u->title, want);
    }
    kzvtest::setrow(nullptr);
    process->pool.freemem(u);
}

// Longest accepted values reach the display step, which finds no display here: a
// display number nobody serves (unset, the default display would be tried). The
// missing text file is named on a line of its own first; the run goes on.
TEST(no_display_ends_the_run_at_once)
{
    static char folder[700], filterarg[700], textfilearg[900];
    static char const* const noenv[] = {"DISPLAY=:4711", nullptr};
    strcpy(folder, "-folder=/", sizeof folder - 1);
    strcpy(filterarg, longoption("-filter=", 511), sizeof filterarg - 1);
    strcpy(textfilearg, longoption("-textfile=", 767), sizeof textfilearg - 1);
    struct { char const* name; char const* argv[4]; char const* firstline; } const rows[] = {
        {"file", {"file", folder, filterarg, nullptr}, nullptr},
        {"dir", {"dir", nullptr}, nullptr},
        {"info with a 767-byte missing text file", {"info", textfilearg, nullptr}, "velkra: -textfile "},
        {"yesno", {"yesno", "-text=Sure?", nullptr}, nullptr},
    };
    for (auto const& row : rows) {
        kzvtest::setrow(row.name);
        u32 start = os_getms32();
        fr.run("velkra", row.argv, noenv);
        CHECK(os_getms32() - start < 2000);
        CHECK_STR(fr.out, "");
        char const* last = fr.err;
        if (row.firstline) {
            char const* end = strchr(fr.err, '\n');
            CHECK(streqbegin(fr.err, row.firstline) && end && streqbegin(end - 14, ": no such file\n"));
            last = end ? end + 1 : fr.err;
        }
        CHECK(streqbegin(last, "velkra: "));
        CHECK_EQ(strchr(last, '\n') - last + 1, strlen(last));    // one line
        CHECK_EQ(fr.exitcode, 2);
        CHECK(fr.exitrequested);
    }
}
