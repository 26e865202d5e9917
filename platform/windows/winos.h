// What the Windows bodies of the os_ functions share among themselves; not part
// of the platform contract. The layer's state lives in one record taken from the
// process pool and kept in the process's platform slot: the standard handles,
// the clock and Winsock bindings, and the console-input ring that the reader
// thread fills. Libraries other than KERNEL32, USER32 and GDI32 are loaded by
// name when first needed, and a table counts as bound only when every function
// in it was found.
#pragma once
#include "win32.h"

namespace kzv {

class module;

const u32 WININPUT_RINGSIZE = 4096;     // a power of two: the indices wrap by mask

enum : u8 { wininput_none = 0, wininput_console = 1, wininput_bytes = 2 };

struct wininput {
    u8* ring;
    winhandle handle;
    winhandle thread;
    u16 writeindex;         // the reader thread's alone
    u16 readindex;          // os_stdin's alone
    u16 count;              // shared: changed with atomic operations on both sides
    u8 kind;
    u8 ended;               // the redirected input reached its end: set by the thread
    bool endseen;           // os_stdin found the ring empty after the end, at endms
    u32 endms;
    u16 pendinghigh;        // a high surrogate waiting for its low half
};

typedef uptr (*ws_socket)(s32 family, s32 type, s32 protocol);
typedef s32 (*ws_bind)(uptr s, void const* address, s32 length);
typedef s32 (*ws_listen)(uptr s, s32 backlog);
typedef uptr (*ws_accept)(uptr s, void* address, s32* length);
typedef s32 (*ws_recv)(uptr s, void* buffer, s32 length, s32 flags);
typedef s32 (*ws_recvfrom)(uptr s, void* buffer, s32 length, s32 flags, void* from, s32* fromlength);
typedef s32 (*ws_send)(uptr s, void const* bytes, s32 length, s32 flags);
typedef s32 (*ws_sendto)(uptr s, void const* bytes, s32 length, s32 flags, void const* to, s32 tolength);
typedef s32 (*ws_ioctlsocket)(uptr s, s32 command, u32* argument);
typedef s32 (*ws_connect)(uptr s, void const* address, s32 length);
typedef s32 (*ws_closesocket)(uptr s);
typedef s32 (*ws_wsacleanup)();
typedef s32 (*ws_wsagetlasterror)();
typedef void* (*ws_gethostbyname)(char const* name);
typedef s32 (*ws_gethostname)(char* name, s32 length);
typedef s32 (*ws_setsockopt)(uptr s, s32 level, s32 name, void const* value, s32 length);
typedef s32 (*ws_getsockopt)(uptr s, s32 level, s32 name, void* value, s32* length);
typedef s32 (*ws_wsastartup)(u16 version, void* data);

struct winsocktable {
    ws_socket socket;
    ws_bind bind;
    ws_listen listen;
    ws_accept accept;
    ws_recv recv;
    ws_recvfrom recvfrom;
    ws_send send;
    ws_sendto sendto;
    ws_ioctlsocket ioctlsocket;
    ws_connect connect;
    ws_closesocket closesocket;
    ws_wsacleanup wsacleanup;
    ws_wsagetlasterror wsagetlasterror;
    ws_gethostbyname gethostbyname;
    ws_gethostname gethostname;
    ws_setsockopt setsockopt;
    ws_getsockopt getsockopt;
    bool ready;
};

// The console output as it was before the terminal back-end drew on it.
struct winconsolesaved {
    bool changed;               // the back-end changed the screen modes
    bool modesaved;             // standard output is a console: its mode and code page are kept
    u32 mode;
    u32 codepage;
};

struct winstate {
    winhandle output;           // standard output, asked once
    winhandle error;
    bool handlesknown;
    winconsolesaved console;
    module* savedconsole;       // the copy of the console module
    winsocktable* sockets;
    bool socketstried;
    win_timegettime timegettime;
    bool clocktried;
    s64 counterfrequency;       // of QueryPerformanceCounter; 0 before it was asked
    wininput input;
};

// The layer's record on the process; null before the process exists or without memory.
winstate* win_state();
winhandle win_stdoutput();
winhandle win_stderror();
// Writes every byte unless the handle fails for good; the bytes written.
u32 win_writeall(winhandle h, char const* bytes, u32 count);
void win_trimworkingset();
// Binds timeGetTime from "Winmm.dll" on the first call; null when it is missing.
win_timegettime win_clock();
// The Winsock table bound on first use, or null when it could not be bound.
winsocktable* win_sockets();
// A function of a loaded library, or null.
winproc win_lookup(winhandle library, char const* name);

// The Windows-only functions of the layer.
void os_setconsolemodule(module* m);
void os_saveconsolemodule();
void os_restoreconsolemodule();
u32 os_getutcsec1970();                 // UTC seconds since 1970 by the calendar rule
// The path exists on disk (os_fileexists) or names an entry of the linked resource archive.
bool os_fileorresourceexists(char const* path);

} // namespace kzv
