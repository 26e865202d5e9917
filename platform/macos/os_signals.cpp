// Signals and the start-up and shut-down hooks. SIGINT, SIGQUIT, SIGTERM and
// SIGHUP (unless the starter had it ignored) only ask the scheduler loop to end
// with a reason; the loop's end restores the terminal. SIGPIPE is ignored so a
// write to a closed pipe fails instead of ending the process, and SIGTTIN so a
// background read of the terminal fails instead of stopping it. Handlers set
// with signal() stay installed after each delivery on macOS.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "libsystem.h"

namespace kzv {

void sighandler(int signal)
{
    if (!process)
        return;
    switch (signal) {
    case bsd::SIGINT: process->exit("CTRL-C"); break;
    case bsd::SIGQUIT: process->exit("quit"); break;
    case bsd::SIGTERM: process->exit("terminated"); break;
    case bsd::SIGHUP: process->exit("hangup"); break;
    default: break;
    }
}

static bsd_sighandler const SIGNAL_IGNORE = (bsd_sighandler)1;   // SIG_IGN

void os_initsignals()
{
    signal(bsd::SIGPIPE, SIGNAL_IGNORE);
    signal(bsd::SIGTTIN, SIGNAL_IGNORE);
    static const int caught[] = {bsd::SIGINT, bsd::SIGQUIT, bsd::SIGTERM};
    for (int s : caught)
        signal(s, sighandler);
    // A run started to outlive its terminal (nohup) keeps ignoring the hangup.
    if (signal(bsd::SIGHUP, sighandler) == SIGNAL_IGNORE)
        signal(bsd::SIGHUP, SIGNAL_IGNORE);
}

// A descriptor 0-2 closed by the caller would be handed out by the next open, and
// an answer could land in a file. Each open takes the lowest free number, which is
// the one being filled. /dev/null is opened for reading only: an answer written to
// a closed standard output then fails, and the run says so.
static void fillclosedstdio()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, bsd::F_GETFD, 0) != -1 || bsd_errno() != bsd::EBADF)
            continue;
        int r = open("/dev/null", bsd::O_RDONLY);
        if (r >= 0 && r != fd)
            close(r);
    }
}

void os_init()
{
    fillclosedstdio();
    os_initsignals();
}

void os_exit() { os_exitstdio(); }

} // namespace kzv
