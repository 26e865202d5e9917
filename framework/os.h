// The platform contract: the only way portable code reaches the operating system.
// Each platform layer (platform/linux, platform/windows, platform/macos) supplies one
// body for every function here. Descriptors are ints and 0 means "none" in every
// result; paths are UTF-8 with '/' separators. Non-blocking I/O answers 0 (files,
// local sockets, console) or -2 (TCP) for "would block" and -1 for an error.
#pragma once
#include "types.h"

namespace kzv {

class data;
class smem;

// Time.
u32 os_getms32();                          // wall clock in ms, wrapping
u32 os_getms32_sec1970(int& localsec1970); // the same, plus local seconds since 1970
u32 os_getus32();                          // wall clock in microseconds, wrapping
int os_getlocaltimeoffset();               // seconds to add to UTC for local time
void os_sleep(unsigned ms);
// Sleeps up to ms, ending early once fd has bytes to read, its peer has hung up
// or, with `writable`, it takes more output (true then); fd 0 or below sleeps the
// whole time. Where the platform cannot wait on a descriptor it sleeps the whole
// time and answers false.
bool os_waitdescriptor(int fd, bool writable, unsigned ms);

// Memory: a zero-filled block from the system, or null.
void* os_getmem(int size);

// Files.
int os_fopen(char const* path, unsigned mode);   // modes 1..5; 0 when nothing opened
void os_close(int fd);
int os_read(int fd, void* buffer, unsigned count);
int os_write(int fd, void const* buffer, unsigned count);
s64 os_fseek(int fd, u64 position);
void os_setfilenonblock(int fd);
bool os_fileexists(char const* path);
u64 os_fsize(char const* path);
u64 os_fsize(int fd);
bool os_unlink(char const* path);
// Files in a folder that others may write to. A new file for writing, readable
// and writable by this user only, never made through a link: 0 when nothing was
// made, `taken` then telling whether the name exists already (a link counts).
int os_fcreatenew(char const* path, bool& taken);
// An existing regular file for reading, never through a link and never waiting
// (a fifo or a device is refused): 0 otherwise.
int os_fopennolink(char const* path);
// The path itself, a link not followed, is a regular file that belongs to this user.
bool os_isownfile(char const* path);
bool os_fileinfo(data& file);
// The names of a folder, "." and ".." left out. With `kinds`, *kinds is an array
// of the count entries' file kinds where the platform tells them while listing
// (0 for a link or an entry it does not know), or null when it tells none; the
// caller examines those itself.
char const** os_getdirentries(char const* path, smem& store, unsigned& count, u8** kinds = nullptr);
// The working directory; false, with out = "/", when it cannot be read or does
// not fit the 512 bytes with its terminator.
bool os_getwd(char* out512);
// The path begins with the name of a network share or a device ("//server/...",
// "//?/..."), so both of its leading slashes belong to it. False where a leading
// "//" is only the root written twice.
bool os_isnetworkpath(char const* path);

// Console, terminal and signals.
unsigned os_stdout(char const* text);
unsigned os_stdout(char const* bytes, unsigned count);
int os_stdout_ansi(char const* bytes, unsigned count);
unsigned os_stderr(char const* text);
unsigned os_stderr(char const* bytes, unsigned count);
bool os_puts(char const* line);             // false when not all of it was written
// Keys of the UI terminal, without waiting. On Linux and macOS a terminal that has
// gone away (its end, or EIO) ends the run with exit code 2 and the reason "the
// terminal has gone away"; a Windows console that closes ends the process itself,
// and a redirected Windows input that reaches its end ends the run with exit code 2
// and the reason "the input has ended".
int os_stdin(void* buffer, unsigned size);
// Raw mode for the UI terminal, entered once per process. False when the terminal
// refused it (then and on every later call): its settings are as they were, and
// the caller ends the run. Input that is no terminal needs no raw mode: true.
bool os_initstdio();
bool os_setstdinsinglemode();
void os_setterminalchanged();
void os_exitstdio();
void os_disconnectstdout();
// The size of the UI terminal in cells: true where it was read; false with 80 x 24
// where it cannot be told. `isterminal` says whether there is a terminal to draw
// on at all: on Linux and macOS only where its size was read; a Windows program
// draws on its standard output, a console that tells its size or not.
const u16 TERMINAL_DEFAULTCOLUMNS = 80;
const u16 TERMINAL_DEFAULTROWS = 24;
bool os_getterminalsize(unsigned short& columns, unsigned short& rows, bool& isterminal);
// What os_exitstdio writes where the terminal back-end changed the screen modes:
// cursor on, attributes reset, bottom left, mouse reports off, auto-wrap on, newline.
const char TERMINAL_RESTORE[] = "\x1b[?25h\x1b[0m\x1b[999;1f\x1b[?1003l\x1b[?7h\n";
static_assert(sizeof(TERMINAL_RESTORE) - 1 == 32, "restore sequence");
void sighandler(int signal);
void os_initsignals();
void os_init();
void os_exit();

// Sockets.
int os_tcpserver(int port, bool localonly);
int os_tcpaccept(int listener, unsigned& peeraddress);
int os_tcpconnect(unsigned address, unsigned port);
int os_tcpread(int fd, void* buffer, int size);
int os_tcpsend(int fd, void const* bytes, int count);
void os_tcpclose(int fd);
int os_unixconnect(char const* path);
int os_socketread(int fd, void* buffer, unsigned size);
int os_socketsend(int fd, void const* bytes, unsigned count);

// Threads and the process.
bool os_startthread(void* function, void* argument, int priority);
void os_threadentry();
int os_getpid();
void os_getprogramnameandargs();
void os_gethomedir();
[[noreturn]] void os_exitprocess(int status);

} // namespace kzv
