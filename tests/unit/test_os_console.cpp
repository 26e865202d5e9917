// Console output: the line rules of os_puts with and without a console module,
// os_stdout and os_stderr on their descriptors, and the answer written whole
// through a non-blocking pipe that fills up and is drained by another process.
#include "../harness/harness.h"
#include "../../framework/module.h"
#include "../../framework/sysprocess.h"
#include "test_os_fixture.h"

using namespace kzv;
using namespace kzvtest;

namespace {

// A console module that records what it is handed.
struct recorder : module {
    char bytes[256];
    u32 length;
    u32 calls;
};

sptr recorder_concb(void* self, unsigned cmd, int a, int, void const* p)
{
    recorder* r = (recorder*)self;
    if (cmd != 'J')
        return 0;
    r->calls++;
    for (int i = 0; i < a && r->length + 1 < sizeof r->bytes; i++)
        r->bytes[r->length++] = ((char const*)p)[i];
    r->bytes[r->length] = 0;
    return a;
}

struct linecase {
    char const* name;
    char const* line;
    char const* written;        // on descriptor 1
    char const* handed;         // to a console module
    u32 calls;
};

const linecase linecases[] = {
    {"plain line", "yes", "yes\n", "yes\n", 2},
    {"ends in a newline", "line\n", "line\n", "line\n\n", 2},
    {"ends in a carriage return", "cr\r", "cr\r", "cr\r\n", 2},
    {"empty line", "", "\n", "\n", 2},
    {"null", nullptr, "", "", 0},
};

} // namespace

TEST(putswithoutconsolemodule)
{
    for (linecase const& c : linecases) {
        setrow(c.name);
        capture cap;
        CHECK(cap.begin(1));
        CHECK_EQ(os_puts(c.line), c.line != nullptr);
        char got[64];
        cap.end(got, sizeof got);
        CHECK_STR(got, c.written);
    }
}

TEST(putswithconsolemodule)
{
    for (linecase const& c : linecases) {
        setrow(c.name);
        recorder r;
        r.length = r.calls = 0;
        r.bytes[0] = 0;
        r.initheader(&process->pool, "recorder", recorder_concb, type_bytestream);
        process->consolemodule = &r;
        os_puts(c.line);
        process->consolemodule = nullptr;
        CHECK_STR(r.bytes, c.handed);
        CHECK_EQ(r.calls, c.calls);
    }
    setrow(nullptr);
    recorder r;
    r.length = r.calls = 0;
    r.initheader(&process->pool, "recorder", recorder_concb, type_bytestream);
    process->consolemodule = &r;
    CHECK_EQ(os_stdout("abc", 3), 3);
    os_disconnectstdout();
    CHECK(process->consolemodule == nullptr);
    CHECK_STR(r.bytes, "abc");
}

TEST(stdoutandstderrdescriptors)
{
    capture out, err;
    CHECK(out.begin(1));
    CHECK(err.begin(2));
    CHECK_EQ(os_stdout("answer"), 6);
    CHECK_EQ(os_stdout("xyz", 2), 2);
    CHECK_EQ(os_stderr("diagnostic"), 10);
    CHECK_EQ(os_stderr("!?", 1), 1);
    char gotout[64], goterr[64];
    err.end(goterr, sizeof goterr);
    out.end(gotout, sizeof gotout);
    CHECK_STR(gotout, "answerxy");
    CHECK_STR(goterr, "diagnostic!");
}

namespace {

const u32 BIGANSWER = 300000;           // several times a pipe's capacity

struct drainjob {
    int from;                           // the pipe's read end
    int report;                         // where the child writes the count and the sum
};

void drainer(void* argument)
{
    drainjob* job = (drainjob*)argument;
    os_sleep(50);                       // let the writer meet a full pipe first
    u8 buffer[4096];
    u32 result[2] = {0, 0};
    while (result[0] < BIGANSWER) {
        long r = sys_read(job->from, buffer, sizeof buffer);
        if (r <= 0)
            break;
        for (long i = 0; i < r; i++)
            result[1] += buffer[i];
        result[0] += (u32)r;
        if (result[0] % 65536 < 4096)
            os_sleep(5);                // drain slowly, so "would block" comes more than once
    }
    sys_write(job->report, result, sizeof result);
}

} // namespace

// The terminal's non-blocking flag reaches descriptor 1 too: "would block" is
// waited out and the answer arrives whole. A child process drains the pipe.
TEST(answerwrittenwholethroughfullpipe)
{
    char* big = (char*)process->pool.getmem(BIGANSWER);
    CHECK(big != nullptr);
    if (!big)
        return;
    u32 sum = 0;
    for (u32 i = 0; i < BIGANSWER; i++) {
        big[i] = (char)('a' + i % 26);
        sum += (u8)big[i];
    }
    int report[2];
    CHECK(!sys_failed(sys_pipe(report)));
    capture cap;
    CHECK(cap.begin(1));
    os_setfilenonblock(cap.pipe[1]);    // the same open pipe as descriptor 1
    drainjob job = {cap.pipe[0], report[1]};
    bool started = CHECK(startchildprocess(drainer, &job));
    u32 written = 0;
    if (!started) {
        sys_close(report[1]);           // the read below then ends at once
    } else {
        written = os_stdout(big, BIGANSWER);
    }
    u32 result[2] = {0, 0};
    long n = sys_read(report[0], result, sizeof result);
    char rest[8];
    cap.end(rest, sizeof rest);
    CHECK_EQ(written, BIGANSWER);
    CHECK_EQ(n, sizeof result);
    CHECK_EQ(result[0], BIGANSWER);
    CHECK_EQ(result[1], sum);
    sys_close(report[0]);
    if (started)
        sys_close(report[1]);
    process->pool.freemem(big);
}

// A write to a pipe nobody reads fails instead of ending the process.
TEST(closedpipedoesnotkill)
{
    capture cap;
    CHECK(cap.begin(1));
    sys_close(cap.pipe[0]);
    cap.pipe[0] = (int)sys_dup(0);      // something for end() to close
    CHECK_EQ(os_stdout("lost", 4), 0);
    CHECK(!os_puts("lost"));            // and the answer says it was not written
    int fd = cap.pipe[0];
    sys_dup2(cap.saved, 1);
    sys_close(cap.saved);
    sys_close(cap.pipe[1]);
    sys_close(fd);
}
