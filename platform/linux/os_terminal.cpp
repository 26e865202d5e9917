// The terminal of the UI: raw mode, keys, size and the restore at exit. When
// descriptors 0 and 1 are both terminals they carry the UI; otherwise (an answer
// captured with x=$(...)) the controlling terminal is opened once and carries keys,
// escape sequences, raw mode and size, so descriptor 1 keeps only the answer.
// Raw mode is entered once per process; the settings before it are kept on the
// process and put back by os_exitstdio, which also undoes the screen modes.
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "linuxos.h"
#include "syscalls.h"

namespace kzv {

static bool isterminal(int fd)
{
    ktermios t;
    return !sys_failed(sys_ioctl(fd, TCGETS, &t));
}

static void chooseterminal()
{
    if (process->platformflags & platform_terminalchosen)
        return;
    process->platformflags |= platform_terminalchosen;
    if (isterminal(0) && isterminal(1))
        return;
    long fd = sys_open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC, 0);
    if (!sys_failed(fd) && fd > 2) {
        process->ttyfd = (int)fd;
        return;
    }
    if (!sys_failed(fd))
        sys_close((int)fd);     // only possible with 0-2 closed behind our back
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

// Raw: no input translation or flow control, eight-bit characters with the modem
// lines ignored (baud rate and receiver kept), no echo, no line editing and no
// signals from keys, so Ctrl-C arrives as the byte 3. Output processing stays.
static ktermios rawsettings(ktermios const& old)
{
    ktermios raw = old;
    raw.iflag = 0;
    raw.lflag = 0;
    raw.cflag = (old.cflag & ~(u32)(CSIZE | PARENB)) | CS8 | CLOCAL;
    return raw;
}

// The kernel may take a request in part (a driver keeps control bits it cannot
// change), so what the terminal holds afterwards is read back: raw mode is what
// the UI needs, and the flags that make it must all be there.
static bool applyraw(int fd, ktermios const& raw)
{
    ktermios now;
    if (sys_failed(sys_ioctl(fd, TCSETS, (void*)&raw)) || sys_failed(sys_ioctl(fd, TCGETS, &now)))
        return false;
    u32 control = CSIZE | PARENB | CLOCAL;
    return now.iflag == raw.iflag && now.lflag == raw.lflag && (now.cflag & control) == (raw.cflag & control);
}

// False when the terminal refused raw mode; its settings are then put back as
// they were, and nothing is left to restore at the end. Input that is no
// terminal gets the non-blocking flag alone.
static bool enterraw()
{
    process->platformflags |= platform_raw;
    int fd = terminal_infd();
    ktermios old;
    if (!sys_failed(sys_ioctl(fd, TCGETS, &old))) {
        ktermios* saved = (ktermios*)process->pool.sgetmem(sizeof(ktermios));
        if (saved) {
            *saved = old;
            if (!applyraw(fd, rawsettings(old))) {
                sys_ioctl(fd, TCSETS, saved);
                process->platformflags |= platform_rawrefused;
                return false;
            }
            process->savedterminal = saved;
        }
    }
    // A descriptor that was non-blocking already stays so at the end: the file
    // description may be shared with the shell that started us.
    long flags = sys_fcntl(fd, F_GETFL, 0);
    if (!sys_failed(flags) && !(flags & O_NONBLOCK) && !sys_failed(sys_fcntl(fd, F_SETFL, flags | O_NONBLOCK)))
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
// settings any more: the kernel hangs up every open descriptor of a closed
// terminal) or fails with EIO (hung up, or our process group orphaned) gives no
// more keys. Waiting would poll for ever where the hangup signal is ignored, so
// the run ends. A live terminal whose settings ask for no minimum also reads 0
// bytes; its settings still answer.
static bool terminalgone(int fd, long r)
{
    if (!process->savedterminal)
        return false;           // not a terminal: a pipe or a file ends its own way
    ktermios t;
    return r == -E_IO || (r == 0 && sys_failed(sys_ioctl(fd, TCGETS, &t)));
}

int os_stdin(void* buffer, unsigned size)
{
    if (!process || size == 0)
        return 0;
    os_initstdio();
    int fd = terminal_infd();
    long r = sys_read(fd, buffer, size);
    if ((r == 0 || r == -E_IO) && terminalgone(fd, r)) {
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

void os_exitstdio()
{
    if (!process)
        return;
    process->consolemodule = nullptr;
    if (!(process->platformflags & platform_raw))
        return;
    int fd = terminal_infd();
    if (process->savedterminal)
        sys_ioctl(fd, TCSETS, process->savedterminal);
    long flags = sys_fcntl(fd, F_GETFL, 0);
    if (!sys_failed(flags) && (process->platformflags & platform_setnonblock))
        sys_fcntl(fd, F_SETFL, flags & ~(long)O_NONBLOCK);
    process->platformflags &= (u8)~platform_setnonblock;
    if (process->platformflags & platform_screenchanged)
        console_write(terminal_outfd(), TERMINAL_RESTORE, sizeof(TERMINAL_RESTORE) - 1);
}

bool os_getterminalsize(unsigned short& columns, unsigned short& rows, bool& isterminal)
{
    kwinsize size;
    if (sys_failed(sys_ioctl(terminal_outfd(), TIOCGWINSZ, &size))) {
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
