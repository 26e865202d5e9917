// The application hooks the framework's start-up calls: the memory sizes (the
// framework's defaults) and `mmain`, which makes the application record.
#include "usermain.h"
#include "../../framework/stdio.h"
#include "../../framework/sysprocess.h"

namespace kzv {

static char const BUILD_DATE[] = "Aug  3 2025";
static char const BUILD_TIME[] = "12:55:25";

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    process->builddate = BUILD_DATE;
    process->buildtime = BUILD_TIME;
    usermain* app = (usermain*)process->pool.sgetmem(USERMAIN_RECORDSIZE);
    if (!app) {
        eputs("velkra: no memory for the application");
        process->exitcode = 2;
        process->exit("");
        return;
    }
    app->init(nullptr);
}

} // namespace kzv
