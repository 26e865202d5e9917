// DISPLAY as the display selection reads it: the whole display number after the
// last ':', the screen part checked and ignored, no host or "unix" for the local
// socket, "localhost" and dotted IPv4 addresses over TCP port 6000 + n, other
// host names and ports past 65535 refused, anything else that is set not a
// display name (only an unset DISPLAY goes to the fallbacks), and the value as a
// message shows it.
#include "../harness/harness.h"
#include "../../drivers/x11display.h"
#include "../../framework/str.h"

using namespace kzv;
using namespace kzvtest;

// 255 bytes: the longest host name.
#define HOST15 "abcdefghijklmno"
#define LONGHOST HOST15 HOST15 HOST15 HOST15 HOST15 HOST15 HOST15 HOST15 HOST15 HOST15 HOST15 HOST15 \
    HOST15 HOST15 HOST15 HOST15 HOST15

TEST(displaynames)
{
    struct { char const* display; u32 transport, number, address, port; char const* path; } const rows[] = {
        {":0", x11display_unix, 0, 0, 0, "/tmp/.X11-unix/X0"},
        {":15", x11display_unix, 15, 0, 0, "/tmp/.X11-unix/X15"},
        {":99.0", x11display_unix, 99, 0, 0, "/tmp/.X11-unix/X99"},
        {"unix:7.2", x11display_unix, 7, 0, 0, "/tmp/.X11-unix/X7"},
        {":12345", x11display_unix, 12345, 0, 0, "/tmp/.X11-unix/X12345"},
        {"localhost:10.0", x11display_tcp, 10, 0x7f000001, 6010, ""},
        {"127.0.0.1:3", x11display_tcp, 3, 0x7f000001, 6003, ""},
        {"192.168.1.20:0", x11display_tcp, 0, 0xc0a80114, 6000, ""},
        {"localhost:59535", x11display_tcp, 59535, 0x7f000001, 65535, ""},
        {"localhost:59536", x11display_badhost, 59536, 0, 0, ""},
        {"otherhost:0", x11display_badhost, 0, 0, 0, ""},
        {"256.1.1.1:0", x11display_badhost, 0, 0, 0, ""},
        {"1.2.3:0", x11display_badhost, 0, 0, 0, ""},
        {"1.2.3.4.5:0", x11display_badhost, 0, 0, 0, ""},
        {"::1:0", x11display_badhost, 0, 0, 0, ""},
        {"host::0", x11display_badhost, 0, 0, 0, ""},
        {":65535.65535", x11display_unix, 65535, 0, 0, "/tmp/.X11-unix/X65535"},
        {LONGHOST ":2", x11display_badhost, 2, 0, 0, ""},
        {"", x11display_malformed, 0, 0, 0, ""},
        {":", x11display_malformed, 0, 0, 0, ""},
        {"garbage", x11display_malformed, 0, 0, 0, ""},
        {"host:", x11display_malformed, 0, 0, 0, ""},
        {":abc", x11display_malformed, 0, 0, 0, ""},
        {":-1", x11display_malformed, 0, 0, 0, ""},
        {":100000", x11display_malformed, 0, 0, 0, ""},
        {":65536", x11display_malformed, 0, 0, 0, ""},
        {":123456", x11display_malformed, 0, 0, 0, ""},
        {":1x", x11display_malformed, 0, 0, 0, ""},
        {":0.", x11display_malformed, 0, 0, 0, ""},
        {":0.abc", x11display_malformed, 0, 0, 0, ""},
        {":0.1.2", x11display_malformed, 0, 0, 0, ""},
        {":0.65536", x11display_malformed, 0, 0, 0, ""},
        {":0 ", x11display_malformed, 0, 0, 0, ""},
        {"localhost", x11display_malformed, 0, 0, 0, ""},
        {"local host:0", x11display_malformed, 0, 0, 0, ""},
        {"a\x1b[2Jb:0", x11display_malformed, 0, 0, 0, ""},
        {"h\xc3\xa9:0", x11display_malformed, 0, 0, 0, ""},
        {"x" LONGHOST ":2", x11display_malformed, 0, 0, 0, ""},
    };
    for (auto const& r : rows) {
        setrow(r.display);
        x11displayname d;
        CHECK_EQ(x11_parsedisplay(r.display, d), r.transport);
        CHECK_EQ(d.transport, r.transport);
        if (r.transport != x11display_default)
            CHECK_EQ(d.number, r.number);
        else
            CHECK_EQ(d.number, 0);
        if (r.transport == x11display_tcp) {
            CHECK_EQ(d.address, r.address);
            CHECK_EQ(d.port, r.port);
        }
        CHECK_STR(d.socketpath, r.path);
    }
    setrow(nullptr);
    x11displayname d;
    CHECK_EQ(x11_parsedisplay(nullptr, d), x11display_default);
}

TEST(displayshown)
{
    char shown[X11_SHOWNMAX + 4];
    struct { char const* value; char const* expected; } const rows[] = {
        {"garbage", "garbage"},
        {"", ""},
        {"a\x1b[31mb\tc\x7f\x9b:0", "a?[31mb?c??:0"},
        {"h\xc3\xa9 x:0", "h?? x:0"},
    };
    for (auto const& r : rows) {
        setrow(r.value);
        x11_showdisplay(r.value, shown, sizeof shown);
        CHECK_STR(shown, r.expected);
    }
    setrow("long");
    char value[1000];
    for (u32 i = 0; i < sizeof value - 1; i++)
        value[i] = (char)('a' + i % 26);
    value[sizeof value - 1] = 0;
    x11_showdisplay(value, shown, sizeof shown);
    CHECK_EQ(strlen(shown), X11_SHOWNMAX + 3);
    CHECK(str_eqprefix(shown, value, (int)X11_SHOWNMAX));
    CHECK_STR(shown + X11_SHOWNMAX, "...");
    setrow("small room");
    char small[8];
    x11_showdisplay(value, small, sizeof small);
    CHECK_STR(small, "abcd...");
    setrow(nullptr);
}
