// The authority-file reader and the setup request: entries matched by the whole
// display number, only MIT-MAGIC-COOKIE-1, the family rule for other hosts,
// lengths that do not fit the file ending the walk, entries too large for the
// request skipped, and both length fields of the request written whole. Files
// are exact-size pool blocks, so a read past one is an ASan report.
#include "../harness/harness.h"
#include "../../drivers/x11auth.h"
#include "../../drivers/x11proto.h"
#include "../../framework/mem.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"

using namespace kzv;
using namespace kzvtest;

namespace {

char const COOKIE[] = "MIT-MAGIC-COOKIE-1";

struct authfile {
    u8 bytes[8192];
    u32 length = 0;

    void put16(u32 v)
    {
        bytes[length++] = (u8)(v >> 8);
        bytes[length++] = (u8)v;
    }
    void field(void const* p, u32 n)
    {
        put16(n);
        memcpy(bytes + length, p, n);
        length += n;
    }
    authfile& entry(u16 family, char const* address, u32 addresslength, char const* number,
                    char const* name, u8 fill, u32 datalength)
    {
        put16(family);
        field(address, addresslength);
        field(number, strlen(number));
        field(name, strlen(name));
        put16(datalength);
        for (u32 i = 0; i < datalength; i++)
            bytes[length++] = (u8)(fill + i);
        return *this;
    }
    authfile& local(char const* number, u8 fill, u32 datalength = 16)
    {
        return entry(xauth_local, "host", 4, number, COOKIE, fill, datalength);
    }
    // Finds in a copy of exactly the file's size.
    bool find(u32 display, u32 remote, u32 capacity, x11authentry& e, u8*& copy)
    {
        copy = (u8*)process->pool.getmem(length ? length : 1);
        memcpy(copy, bytes, length);
        return x11auth_find(copy, length, display, remote, capacity, e);
    }
};

// The first data byte of the entry found, or 0 when none was.
u32 found(authfile& f, u32 display, u32 remote = 0, u32 capacity = 2048)
{
    x11authentry e;
    u8* copy = nullptr;
    bool ok = f.find(display, remote, capacity, e, copy);
    u32 first = ok && e.datalength ? e.data[0] : 0;
    process->pool.freemem(copy);
    return ok ? first : 0;
}

} // namespace

TEST(authwholedisplaynumber)
{
    authfile f;
    f.local("1", 0x11).local("0", 0x20).local("150", 0x30).local("15", 0x40).local("00", 0x50).local("5", 0x60);
    CHECK_EQ(found(f, 0), 0x20);                // the second entry: the first is display 1
    CHECK_EQ(found(f, 1), 0x11);
    CHECK_EQ(found(f, 15), 0x40);               // not "1" nor "150"
    CHECK_EQ(found(f, 150), 0x30);
    CHECK_EQ(found(f, 5), 0x60);
    CHECK_EQ(found(f, 7), 0);
    CHECK_EQ(found(f, 65535), 0);
}

TEST(authnameandfamily)
{
    authfile f;
    u8 const other[4] = {10, 0, 0, 6}, mine[4] = {10, 0, 0, 5};
    f.entry(xauth_local, "host", 4, "3", "XDM-AUTHORIZATION-1", 0x10, 16)
        .local("3", 0x20)
        .entry(xauth_internet, (char const*)other, 4, "3", COOKIE, 0x30, 16)
        .entry(xauth_internet, (char const*)mine, 4, "3", COOKIE, 0x40, 16)
        .entry(xauth_wild, "", 0, "4", COOKIE, 0x50, 16);
    CHECK_EQ(found(f, 3), 0x20);                // the local host: the first cookie, any family
    CHECK_EQ(found(f, 3, 0x0a000005), 0x40);    // another host: only its own address
    CHECK_EQ(found(f, 3, 0x0a000007), 0);
    CHECK_EQ(found(f, 4, 0x0a000007), 0x50);    // or a wild entry
}

TEST(authlengthsmustfit)
{
    authfile f;
    f.local("0", 0x20);
    u32 whole = f.length;
    f.local("1", 0x30);
    CHECK_EQ(found(f, 1), 0x30);
    for (u32 cut = 0; cut < f.length; cut++) {
        authfile g = f;
        g.length = cut;
        u32 want = cut >= whole ? 0x20 : 0;     // entry 0 is whole from here on
        CHECK_EQ(found(g, 0), want);
        CHECK_EQ(found(g, 1), 0);
    }
    // A bogus length early on ends the walk, whatever follows.
    authfile h = f;
    h.bytes[2] = 0xff;
    h.bytes[3] = 0xff;
    CHECK_EQ(found(h, 0), 0);
    CHECK_EQ(found(h, 1), 0);
    authfile empty;
    CHECK_EQ(found(empty, 0), 0);
    x11authentry e;
    CHECK(!x11auth_find(nullptr, 100, 0, 0, 2048, e));
}

TEST(authwalk)
{
    authfile f;
    f.entry(xauth_local, "odd", 3, "12", COOKIE, 1, 16).entry(xauth_wild, "", 0, "7", "X", 2, 5).local("0", 3, 0);
    u8* copy = (u8*)process->pool.getmem(f.length);
    memcpy(copy, f.bytes, f.length);
    u32 offset = 0, count = 0;
    x11authentry e;
    while (x11auth_next(copy, f.length, offset, e))
        count++;
    CHECK_EQ(count, 3);
    CHECK_EQ(offset, f.length);
    offset = 0;
    CHECK(x11auth_next(copy, f.length, offset, e));
    CHECK_EQ(e.family, xauth_local);
    CHECK_EQ(e.addresslength, 3);
    CHECK_MEM(e.number, "12", 2);
    CHECK_EQ(e.datalength, 16);
    CHECK_EQ(e.data[15], 16);
    process->pool.freemem(copy);
}

TEST(authrequestfitsitsbuffer)
{
    authfile f;
    f.local("2", 0x10, 2100).local("2", 0x20, 300);
    // The first does not fit a 2048-byte request and is passed over.
    CHECK_EQ(found(f, 2, 0, 2048), 0x20);
    CHECK_EQ(found(f, 2, 0, 5000), 0x10);
    CHECK_EQ(found(f, 2, 0, 12 + 20 + 299), 0);

    x11authentry e;
    u8* copy = nullptr;
    CHECK(f.find(2, 0, 2048, e, copy));
    u8 request[2048];
    u32 n = x11auth_setuprequest(request, sizeof request, &e);
    CHECK_EQ(n, 12 + 20 + 300);
    CHECK_EQ(request[0], 'l');
    CHECK_EQ(x11_get16(request + 2), 11);
    CHECK_EQ(x11_get16(request + 4), 0);
    CHECK_EQ(x11_get16(request + 6), 18);
    CHECK_EQ(x11_get16(request + 8), 300);      // both bytes: 0x2c 0x01
    CHECK_MEM(request + 12, COOKIE, 18);
    CHECK_EQ(request[30] | request[31], 0);     // the name padded to 20
    CHECK_EQ(request[32], 0x20);
    CHECK_EQ(request[32 + 299], (u8)(0x20 + 299));
    CHECK_EQ(x11auth_setuprequest(request, n - 1, &e), 0);
    process->pool.freemem(copy);

    u8 bare[12];
    CHECK_EQ(x11auth_setuprequest(bare, sizeof bare, nullptr), 12);
    u8 const want[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    CHECK_MEM(bare, want, 12);
}
