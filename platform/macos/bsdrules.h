// The arithmetic of the macOS platform bodies, kept apart from the system calls so
// that the host build tests it: raw terminal mode, the local time offset, the
// length of a pause, the kind and device numbers of a stat record, and the exit
// status the program ends with.
#pragma once
#include "bsd.h"

namespace kzv {

// Raw mode as the macOS body sets it: no echo, no line editing, keys still raise
// signals (ISIG stays, so Ctrl-C is SIGINT); one byte satisfies a read, with no
// timer. The input, output and control flags stay as they were.
bsd::termios bsd_rawmode(bsd::termios const& old);
// The terminal holds all of raw mode as asked: the local flags and the read's
// minimum and timer. tcsetattr answers success when it made any one change.
bool bsd_israw(bsd::termios const& now, bsd::termios const& asked);

// Seconds to subtract from UTC for local time: minutes west times 60, less an
// hour while daylight saving time is in force.
s32 bsd_localoffset(s32 minuteswest, s32 dsttime);

// A pause of ms milliseconds lasts ms x 1024 microseconds.
bsd::timespec bsd_sleeptime(u32 ms);

// The "file" packet's kind of a stat mode, and a device's major and minor number
// cut to 8 bits each (dev_t keeps the major in its top byte).
u8 bsd_filekind(u32 mode);
u8 bsd_major(s32 rdev);
u8 bsd_minor(s32 rdev);

// The program's exit status: 2 after a fatal end, else the status word (1 after
// "yes", 0 after every other answer).
int bsd_exitstatus(int exitcode, int statusword);

} // namespace kzv
