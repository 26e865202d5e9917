// Signals and the start-up and shut-down hooks. SIGHUP (unless the starter had it
// ignored), SIGINT, SIGQUIT and SIGTERM only ask the scheduler loop to end with a
// reason; the loop's end restores the terminal. SIGPIPE is ignored so a write to a
// closed pipe fails instead of ending the process; SIGTTIN and SIGCONT are caught
// and dropped, so a background read of the terminal fails rather than stopping the
// process. Handlers stay installed after each delivery on every CPU.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "startblock.h"
#include "syscalls.h"

namespace kzv {

void sighandler(int signal)
{
    if (!process)
        return;
    switch (signal) {
    case SIGINT: process->exit("CTRL-C"); break;
    case SIGQUIT: process->exit("quit"); break;
    case SIGTERM: process->exit("terminated"); break;
    case SIGHUP: process->exit("hangup"); break;
    default: break;
    }
}

static void* const SIGNAL_IGNORE = (void*)1;   // the kernel's ignore disposition

static void installaction(int signal, void* handler)
{
    ksigaction action;
    sysarch_setaction(action, handler);
    sys_sigaction(signal, &action, nullptr);
}

static bool ignoredbythestarter(int signal)
{
    ksigaction old = {};
    return !sys_failed(sys_sigaction(signal, nullptr, &old)) && old.handler == SIGNAL_IGNORE;
}

void os_initsignals()
{
    installaction(SIGPIPE, SIGNAL_IGNORE);
    // A run started to outlive its terminal (nohup) keeps ignoring the hangup.
    if (!ignoredbythestarter(SIGHUP))
        installaction(SIGHUP, (void*)sighandler);
    static const int caught[] = {SIGINT, SIGQUIT, SIGTERM, SIGCONT, SIGTTIN};
    for (int signal : caught)
        installaction(signal, (void*)sighandler);
}

// A descriptor 0-2 closed by the caller would be handed out by the next open, and
// an answer could land in a file. Each open takes the lowest free number, which is
// the one being filled. /dev/null is opened for reading only: an answer written to
// a closed standard output then fails, and the run says so.
static void fillclosedstdio()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (sys_fcntl(fd, F_GETFD, 0) != -E_BADF)
            continue;
        long r = sys_open("/dev/null", O_RDONLY, 0);
        if (!sys_failed(r) && r != fd)
            sys_close((int)r);
    }
}

void os_init()
{
    fillclosedstdio();
    if (process && process->entry)
        process->initialstack = ((startblock*)process->entry)->initialstack;
    os_initsignals();
}

void os_exit() { os_exitstdio(); }

} // namespace kzv
