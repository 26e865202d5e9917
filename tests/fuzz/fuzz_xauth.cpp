// libFuzzer target for the X authority-file reader (built with clang++
// -fsanitize=fuzzer,address by tests/fuzz/run_fuzz_x11.sh). The first four bytes
// pick the display number, the remote address and the request capacity; the rest
// is the file, copied into a heap block of exactly its size, so any read past it
// is an ASan report. The entry found must lie inside the file and satisfy every
// rule of the search, and the setup request built from it must fit its buffer.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "../../drivers/x11auth.h"

using namespace kzv;

namespace {

bool inside(u8 const* file, u32 size, u8 const* p, u32 n)
{
    return p >= file && (u64)(p - file) + n <= size;
}

void checkentry(u8 const* file, u32 size, x11authentry const& e, u32 display, u32 remote, u32 capacity)
{
    if (!inside(file, size, e.address, e.addresslength) || !inside(file, size, e.number, e.numberlength) ||
        !inside(file, size, e.name, e.namelength) || !inside(file, size, e.data, e.datalength))
        abort();
    if (e.namelength != 18 || memcmp(e.name, "MIT-MAGIC-COOKIE-1", 18) != 0)
        abort();
    u32 number = 0;
    for (u32 i = 0; i < e.numberlength; i++) {
        if (e.number[i] < '0' || e.number[i] > '9' || (i == 0 && e.number[i] == '0' && e.numberlength > 1))
            abort();
        number = number * 10 + (u32)(e.number[i] - '0');
    }
    if (e.numberlength == 0 || e.numberlength > 10 || number != display)
        abort();
    if (remote && e.family != xauth_wild && !(e.family == xauth_internet && e.addresslength == 4))
        abort();
    u8* request = (u8*)malloc(capacity ? capacity : 1);
    u32 n = x11auth_setuprequest(request, capacity, &e);
    if (n == 0 || n > capacity || request[0] != 'l' ||
        (u32)(request[6] | request[7] << 8) != e.namelength || (u32)(request[8] | request[9] << 8) != e.datalength)
        abort();
    free(request);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 4)
        return 0;
    u32 display = data[0] % 40;
    u32 remote = (data[1] & 1) ? 0x0a000005u : 0;
    u32 capacity = 12 + (u32)data[2] * 16 + (u32)(data[3] & 0x0f) * 4096;
    u32 length = (u32)(size - 4);
    u8* file = (u8*)malloc(length ? length : 1);
    memcpy(file, data + 4, length);

    u32 offset = 0, entries = 0;
    x11authentry e;
    while (x11auth_next(file, length, offset, e)) {
        if (offset > length)
            abort();
        entries++;
    }
    if (x11auth_find(file, length, display, remote, capacity, e))
        checkentry(file, length, e, display, remote, capacity);
    else if (entries == 0 && length >= 10 && x11auth_find(file, length, display, 0, 0x100000, e))
        abort();                    // nothing walked, yet something found
    free(file);
    return 0;
}
