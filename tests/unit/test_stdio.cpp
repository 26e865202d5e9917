// The console stream's record and its replies without a terminal peer; what it
// reads and writes on a real terminal, and the answer written by `puts`, are
// checked end to end against a pseudo-terminal and pipes (tests/e2e).
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/stdio.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

TEST(stdio_record)
{
    stdio s;
    CHECK_STR(s.name, "stdio");
    CHECK_EQ(s.type, type_bytestream);
    CHECK_EQ(s.kind.stream.sourcekind, source_stdio);
    CHECK_EQ(s.readchunk, STDIO_READCHUNK);
    CHECK_EQ(s.access, access_readable | access_writable);
    CHECK(s.isopen());
    CHECK_STR(s.eol, "\n");
    unsigned short columns = 0, rows = 0;
    bool isterminal = false;
    bool known = os_getterminalsize(columns, rows, isterminal);
    CHECK_EQ(s.sizeknown(), known ? 1 : 0);
    CHECK_EQ(s.isterminal(), isterminal ? 1 : 0);
    CHECK_EQ(s.columns(), known ? columns : 80);
    CHECK_EQ(s.rows(), known ? rows : 24);
}

TEST(stdio_replies)
{
    stdio s;
    CHECK_EQ(s.callback(&s, stream_setposition, 5, 0, nullptr), 0);
    CHECK_EQ(s.callback(&s, stream_newconnection, 0, 0, nullptr), 0);
    CHECK_EQ(s.callback(&s, stream_pending, 0, 0, nullptr), 0);
    // A restart leaves the stream open and readable; nothing is done to the terminal.
    CHECK_EQ(s.callback(&s, stream_restart, 0, 0, nullptr), 1);
    CHECK(s.isopen());
    CHECK_EQ(s.access, access_readable | access_writable);
    // A reset keeps the pins' peers and opens the stream again.
    pin reader = {nullptr, nullptr};
    s.in.peer = &reader;
    CHECK_EQ(s.callback(&s, stream_reset, 0, 0, nullptr), 1);
    CHECK(s.in.peer == &reader);
    CHECK(s.isopen());
}

TEST(line_writers_refuse_null)
{
    CHECK_EQ(kzv::puts(nullptr), 0);
    CHECK_EQ(kzv::print(nullptr), 0);
    CHECK_EQ(kzv::eputs(nullptr), 0);
    CHECK_EQ(kzv::eprint(nullptr), 0);
    CHECK_EQ(kzv::eprint(""), 1);                       // the empty text writes nothing
}
