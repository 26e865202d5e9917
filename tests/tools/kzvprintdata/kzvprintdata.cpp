// kzvprintdata: packet dumps and the two console channels, for the end-to-end
// tests that check them against os.lstat and real pipes. One command a run:
//   file PATH...   "offset N" (the local time offset in seconds) on standard output,
//                  then for each path the file packet os_fileinfo fills, dumped by
//                  printdata on standard error
//   channels       an answer line through printf and a diagnostic through eprintf
//   long           one printf call of a 600-character text (cut at 500)
#include "../../../framework/data.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"

namespace kzv {

namespace {

// The path, its zero, up to 512 bytes of a link's target and a further zero.
const u32 FILEPAYLOAD = 1024 + 512 + 2;

void dumpfiles()
{
    printf("offset %d\n", os_getlocaltimeoffset());
    static char payload[FILEPAYLOAD];
    for (u32 i = 1; i < process->getargc(); i++) {
        data d;
        strcpy(payload, process->getargv(i), 1023);
        d.payload = payload;
        d.size = sizeof payload;
        if (!os_fileinfo(d))
            eprintf("no such path: %s\n", payload);
        d.printdata();
    }
}

void channels()
{
    printf("answer %s\n", "yes");
    eprintf("diagnostic %d of %u\n", -1, 2u);
}

void longline()
{
    static char text[601];
    for (u32 i = 0; i < 600; i++)
        text[i] = (char)('a' + i % 26);
    printf(text);
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    char const* command = process->getargc() ? process->getargv(0) : "";
    if (streq(command, "file"))
        dumpfiles();
    else if (streq(command, "channels"))
        channels();
    else if (streq(command, "long"))
        longline();
    else {
        eprintf("usage: kzvprintdata file PATH... | channels | long\n");
        process->exitcode = 2;
    }
}

} // namespace kzv
