// Console output: the answer and the help text on descriptor 1, diagnostics on
// descriptor 2, the terminal UI's escape sequences on the UI terminal. Raw mode's
// non-blocking flag reaches descriptors 1 and 2 through the shared terminal, so a
// full terminal answers EAGAIN: that is waited out in 1 ms steps for up to
// CONSOLE_WAITMS without progress, and only hard errors count toward giving up.
#include "../../framework/os.h"
#include "../../framework/module.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "linuxos.h"
#include "syscalls.h"

namespace kzv {

const u32 CONSOLE_HARDFAILURES = 100;   // consecutive failed writes before the rest is dropped
const u32 CONSOLE_WAITMS = 5000;        // a terminal that takes nothing for 5 s is given up

u32 console_write(int fd, char const* bytes, u32 count)
{
    u32 done = 0, failures = 0, waits = 0;
    while (done < count) {
        long r = sys_write(fd, bytes + done, count - done);
        if (r > 0) {
            done += (u32)r;
            failures = waits = 0;
            continue;
        }
        if (r == -E_INTR)
            continue;
        if (r == -E_AGAIN) {
            if (++waits > CONSOLE_WAITMS)
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
    long r = sys_write(terminal_outfd(), bytes, count);
    return (int)r;
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
    if (console_write(1, line, length) != length)
        return false;
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
