// The terminal of the UI: raw mode, keys, size and the restore at exit. When
// descriptors 0 and 1 are both terminals they carry the UI; otherwise (an answer
// captured with x=$(...)) the controlling terminal is opened once and carries keys,
// escape sequences, raw mode and size, so descriptor 1 keeps only the answer.
// Raw mode is entered once per process; the settings before it are kept on the
// process and put back by os_exitstdio, which also undoes the screen modes.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "bsdrules.h"
#include "libsystem.h"
#include "macos.h"

namespace kzv {

static bool isterminal(int fd)
{
    bsd::termios t;
    return tcgetattr(fd, &t) == 0;
}

static void chooseterminal()
{
    if (process->platformflags & platform_terminalchosen)
        return;
    process->platformflags |= platform_terminalchosen;
    if (isterminal(0) && isterminal(1))
        return;
    int fd = open("/dev/tty", bsd::O_RDWR | bsd::O_NOCTTY | bsd::O_CLOEXEC);
    if (fd > 2) {
        process->ttyfd = fd;
        return;
    }
    if (fd >= 0)
        close(fd);              // only possible with 0-2 closed behind our back
    if (!isterminal(1))
        process->platformflags |= platform_uionstderr;
}

int terminal_infd()
{
    if (!process)
        return 0;
    chooseterminal();
    return process->ttyfd ? process->ttyfd : 0;
}

int terminal_outfd()
{
    if (!process)
        return 1;
    chooseterminal();
    if (process->ttyfd)
        return process->ttyfd;
    return (process->platformflags & platform_uionstderr) ? 2 : 1;
}

// tcsetattr succeeds when it made any of the changes, so what the terminal holds
// afterwards is read back: raw mode is what the UI needs, whole.
static bool applyraw(int fd, bsd::termios const& raw)
{
    bsd::termios now;
    return tcsetattr(fd, bsd::TCSANOW, &raw) == 0 && tcgetattr(fd, &now) == 0 && bsd_israw(now, raw);
}

// False when the terminal refused raw mode; its settings are then put back as
// they were, and nothing is left to restore at the end. Input that is no
// terminal gets the non-blocking flag alone.
static bool enterraw()
{
    process->platformflags |= platform_raw;
    int fd = terminal_infd();
    bsd::termios old;
    if (tcgetattr(fd, &old) == 0) {
        bsd::termios* saved = (bsd::termios*)process->pool.sgetmem(sizeof(bsd::termios));
        if (saved) {
            *saved = old;
            if (!applyraw(fd, bsd_rawmode(old))) {
                tcsetattr(fd, bsd::TCSANOW, saved);
                process->platformflags |= platform_rawrefused;
                return false;
            }
            process->savedterminal = saved;
        }
    }
    // A descriptor that was non-blocking already stays so at the end: the file
    // description may be shared with the shell that started us.
    int flags = fcntl(fd, bsd::F_GETFL, 0);
    if (flags >= 0 && !(flags & bsd::O_NONBLOCK) && fcntl(fd, bsd::F_SETFL, flags | bsd::O_NONBLOCK) == 0)
        process->platformflags |= platform_setnonblock;
    return true;
}

// Entering twice would save the raw settings as the ones to restore.
bool os_initstdio()
{
    if (process && !(process->platformflags & platform_raw))
        return enterraw();
    return !process || !(process->platformflags & platform_rawrefused);
}

bool os_setstdinsinglemode() { return os_initstdio(); }

void os_setterminalchanged()
{
    if (process)
        process->platformflags |= platform_screenchanged;
}

// A terminal that was there at raw mode and now reads as ended (0 bytes and no
// settings any more: a revoked terminal) or fails with EIO gives no more keys.
// Waiting would poll for ever where the hangup signal is ignored, so the run ends.
// A live terminal whose settings ask for no minimum also reads 0 bytes; its
// settings still answer.
static bool terminalgone(int fd, long r)
{
    if (!process->savedterminal)
        return false;           // not a terminal: a pipe or a file ends its own way
    bsd::termios t;
    return r < 0 || tcgetattr(fd, &t) != 0;
}

int os_stdin(void* buffer, unsigned size)
{
    if (!process || size == 0)
        return 0;
    os_initstdio();
    int fd = terminal_infd();
    long r = read(fd, buffer, size);
    if ((r == 0 || (r < 0 && bsd_errno() == bsd::EIO)) && terminalgone(fd, r)) {
        process->exitcode = 2;
        process->exit("the terminal has gone away");
        return 0;
    }
    if (r <= 0)
        return 0;
    u8 const* bytes = (u8 const*)buffer;
    for (long i = 0; i < r; i++)
        if (bytes[i] == 3)
            process->exit("child ctrl-c");
    return (int)r;
}

// Writes nothing and changes nothing unless raw mode was entered.
void os_exitstdio()
{
    if (!process)
        return;
    process->consolemodule = nullptr;
    if (!(process->platformflags & platform_raw))
        return;
    int fd = terminal_infd();
    if (process->savedterminal)
        tcsetattr(fd, bsd::TCSANOW, (bsd::termios const*)process->savedterminal);
    int flags = fcntl(fd, bsd::F_GETFL, 0);
    if (flags >= 0 && (process->platformflags & platform_setnonblock))
        fcntl(fd, bsd::F_SETFL, flags & ~bsd::O_NONBLOCK);
    process->platformflags &= (u8)~platform_setnonblock;
    if (process->platformflags & platform_screenchanged)
        console_write(terminal_outfd(), TERMINAL_RESTORE, sizeof(TERMINAL_RESTORE) - 1);
}

bool os_getterminalsize(unsigned short& columns, unsigned short& rows, bool& isterminal)
{
    bsd::winsize size = {};
    if (ioctl(terminal_outfd(), bsd::TIOCGWINSZ, &size) != 0) {
        columns = TERMINAL_DEFAULTCOLUMNS;
        rows = TERMINAL_DEFAULTROWS;
        isterminal = false;
        return false;
    }
    // A pseudo-terminal nobody sized reports 0 by 0.
    columns = size.columns ? size.columns : TERMINAL_DEFAULTCOLUMNS;
    rows = size.rows ? size.rows : TERMINAL_DEFAULTROWS;
    isterminal = true;
    return true;
}

} // namespace kzv
