// Console output: the answer and the help text on descriptor 1, diagnostics on
// descriptor 2, the terminal UI's escape sequences on the UI terminal. Raw mode's
// non-blocking flag reaches descriptors 1 and 2 through the shared terminal, so a
// full terminal answers EAGAIN: that is waited out in 1024 us pauses for up to
// CONSOLE_WAITS without progress, and only hard errors count toward giving up.
#include "../../framework/os.h"
#include "../../framework/module.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "libsystem.h"
#include "macos.h"

namespace kzv {

const u32 CONSOLE_HARDFAILURES = 100;   // consecutive failed writes before the rest is dropped
const u32 CONSOLE_WAITS = 5000;         // pauses without progress before the terminal is given up

u32 console_write(int fd, char const* bytes, u32 count)
{
    u32 done = 0, failures = 0, waits = 0;
    while (done < count) {
        long r = write(fd, bytes + done, count - done);
        if (r > 0) {
            done += (u32)r;
            failures = waits = 0;
            continue;
        }
        int e = r < 0 ? bsd_errno() : 0;
        if (e == bsd::EINTR)
            continue;
        if (e == bsd::EAGAIN) {
            if (++waits > CONSOLE_WAITS)
                break;
        } else if (++failures > CONSOLE_HARDFAILURES) {
            break;
        }
        os_sleep(1);
    }
    return done;
}

unsigned os_stdout(char const* bytes, unsigned count)
{
    if (consolemodule_write(bytes, count))
        return count;
    return console_write(1, bytes, count);
}

unsigned os_stdout(char const* text) { return os_stdout(text, strlen(text)); }

int os_stdout_ansi(char const* bytes, unsigned count)
{
    long r = write(terminal_outfd(), bytes, count);
    return r < 0 ? -bsd_errno() : (int)r;
}

unsigned os_stderr(char const* bytes, unsigned count) { return console_write(2, bytes, count); }

unsigned os_stderr(char const* text) { return console_write(2, text, strlen(text)); }

bool os_puts(char const* line)
{
    if (!line)
        return false;
    u32 length = strlen(line);
    if (consolemodule_puts(line, length))
        return true;
    console_write(1, line, length);
    if (length == 0 || (line[length - 1] != '\n' && line[length - 1] != '\r'))
        return console_write(1, "\n", 1) == 1;
    return true;
}

void os_disconnectstdout()
{
    if (process)
        process->consolemodule = nullptr;
}

} // namespace kzv
