// Our own declarations of the Win32 calls, records and numbers that the Windows
// layer uses: KERNEL32, USER32 and GDI32 are linked; the libraries bound at run
// time (Winmm, ws2_32, Shell32) appear only as the prototypes their looked-up
// addresses are cast to. x64 has one calling convention, so no decoration is
// needed. Handles are pointers whose values fit 32 bits, so the layer hands them
// across the platform contract as ints and sign-extends them back; wide text is
// UTF-16 in u16 units (wchar_t is 16 bits only here).
#pragma once
#include "../../framework/types.h"

namespace kzv {

typedef void* winhandle;
typedef void (*winproc)();                   // what GetProcAddress answers; cast before use

// The handle value that CreateFileW, FindFirstFileW and GetStdHandle answer on failure.
inline winhandle win_invalidhandle() { return (winhandle)(sptr)-1; }
inline bool win_isinvalid(winhandle h) { return !h || h == win_invalidhandle(); }
// An int descriptor and a handle: handles fit 32 bits and come back sign-extended.
inline int win_handletoint(winhandle h) { return (int)(sptr)h; }
inline winhandle win_inttohandle(int fd) { return (winhandle)(sptr)fd; }

struct winsystemtime {
    u16 year, month, dayofweek, day, hour, minute, second, milliseconds;
};
struct winfiletime {
    u32 low, high;                          // 100 ns since 1601, UTC
};
struct winfileattributes {                  // WIN32_FILE_ATTRIBUTE_DATA
    u32 attributes;
    winfiletime created, accessed, written;
    u32 sizehigh, sizelow;
};
static_assert(sizeof(winfileattributes) == 36, "WIN32_FILE_ATTRIBUTE_DATA");
struct winfinddata {                        // WIN32_FIND_DATAW
    u32 attributes;
    winfiletime created, accessed, written;
    u32 sizehigh, sizelow;
    u32 reserved0, reserved1;
    u16 name[260];
    u16 alternatename[14];
};
static_assert(sizeof(winfinddata) == 592, "WIN32_FIND_DATAW");

struct winkeyevent {                        // KEY_EVENT_RECORD
    s32 keydown;
    u16 repeatcount;
    u16 virtualkey;
    u16 scancode;
    u16 character;
    u32 controlkeys;
};
struct wininputrecord {                     // INPUT_RECORD
    u16 eventtype;
    u16 padding;
    union {
        winkeyevent key;
        u8 other[16];
    } event;
};
static_assert(sizeof(wininputrecord) == 20, "INPUT_RECORD");
struct winconsolecoord { s16 x, y; };       // COORD
struct winconsolebufferinfo {               // CONSOLE_SCREEN_BUFFER_INFO
    winconsolecoord size;                   // the whole buffer, in cells
    winconsolecoord cursor;
    u16 attributes;
    s16 left, top, right, bottom;           // the visible window, inclusive
    winconsolecoord largestwindow;
};
static_assert(sizeof(winconsolebufferinfo) == 22, "CONSOLE_SCREEN_BUFFER_INFO");

struct winexceptionrecord {
    u32 code;
    u32 flags;
    winexceptionrecord* next;
    void* address;
    u32 parametercount;
    uptr information[15];
};
struct winexceptionpointers {
    winexceptionrecord* record;
    void* context;
};

struct winpoint { s32 x, y; };
struct winrect { s32 left, top, right, bottom; };
struct winmsg {
    winhandle window;
    u32 message;
    uptr wparam;
    sptr lparam;
    u32 time;
    winpoint point;
    u32 privatepart;
};
static_assert(sizeof(winmsg) == 48, "MSG");

typedef sptr (*winwindowproc)(winhandle window, u32 message, uptr wparam, sptr lparam);
struct winwndclass {                        // WNDCLASSW
    u32 style;
    winwindowproc proc;
    s32 classextra;
    s32 windowextra;
    winhandle instance;
    winhandle icon;
    winhandle cursor;
    winhandle background;
    u16 const* menuname;
    u16 const* classname;
};
static_assert(sizeof(winwndclass) == 72, "WNDCLASSW");
struct winpaintstruct {
    winhandle dc;
    s32 erase;
    winrect paint;
    s32 restore;
    s32 incupdate;
    u8 reserved[32];
};
static_assert(sizeof(winpaintstruct) == 72, "PAINTSTRUCT");
struct winmonitorinfo {                     // MONITORINFOEXA
    u32 size;
    winrect monitor;
    winrect work;
    u32 flags;
    char device[32];
};
static_assert(sizeof(winmonitorinfo) == 72, "MONITORINFOEXA");
struct winbitmapinfo {                      // BITMAPINFOHEADER and one colour entry
    u32 size;
    s32 width;
    s32 height;
    u16 planes;
    u16 bitcount;
    u32 compression;
    u32 sizeimage;
    s32 xpelspermeter;
    s32 ypelspermeter;
    u32 colorsused;
    u32 colorsimportant;
    u32 colors[1];
};
static_assert(sizeof(winbitmapinfo) == 44, "BITMAPINFO");
typedef s32 (*winmonitorenumproc)(winhandle monitor, winhandle dc, winrect* rect, sptr data);
typedef u32 (*winthreadproc)(void* argument);
typedef s32 (*winctrlhandler)(u32 event);
typedef s32 (*winexceptionfilter)(winexceptionpointers* pointers);

struct winsockaddrin {                      // sockaddr_in, the same on every system
    u16 family;
    u16 port;                               // network order
    u32 address;                            // network order
    u8 zero[8];
};
static_assert(sizeof(winsockaddrin) == 16, "sockaddr_in");

// Numbers.
enum : u32 {
    WIN_STDINPUT = (u32)-10, WIN_STDOUTPUT = (u32)-11, WIN_STDERROR = (u32)-12,
    WIN_GENERICREAD = 0x80000000u, WIN_GENERICWRITE = 0x40000000u,
    WIN_SHAREREAD = 1, WIN_SHAREWRITE = 2, WIN_SHAREDELETE = 4,
    WIN_CREATENEW = 1, WIN_CREATEALWAYS = 2, WIN_OPENEXISTING = 3,
    WIN_ATTRIBUTE_READONLY = 1, WIN_ATTRIBUTE_DIRECTORY = 0x10, WIN_ATTRIBUTE_NORMAL = 0x80,
    WIN_ATTRIBUTE_DEVICE = 0x40, WIN_ATTRIBUTE_REPARSEPOINT = 0x400, WIN_FLAG_OPENREPARSEPOINT = 0x00200000,
    WIN_FILEBEGIN = 0, WIN_FILECURRENT = 1, WIN_FILEEND = 2,
    WIN_INVALIDSETFILEPOINTER = 0xffffffffu,
    WIN_ERROR_BROKENPIPE = 109, WIN_ERROR_HANDLEEOF = 38, WIN_ERROR_NOMOREFILES = 18,
    WIN_ERROR_FILEEXISTS = 80, WIN_ERROR_ALREADYEXISTS = 183,
    WIN_ERROR_INSUFFICIENTBUFFER = 122,
    WIN_MEMCOMMIT = 0x1000, WIN_MEMRESERVE = 0x2000, WIN_PAGEREADWRITE = 4,
    WIN_KEYEVENT = 1,
    WIN_CONSOLE_PROCESSEDOUTPUT = 1, WIN_CONSOLE_VIRTUALTERMINAL = 4, WIN_CPUTF8 = 65001,
    WIN_CTRLCEVENT = 0, WIN_CTRLSHUTDOWNEVENT = 6,
    WIN_SEMFAILCRITICALERRORS = 1, WIN_SEMNOGPFAULTERRORBOX = 2, WIN_SEMNOOPENFILEERRORBOX = 0x8000,
    WIN_EXCEPTIONCONTINUESEARCH = 0,
    WIN_GETFILEEXINFOSTANDARD = 0,
    WIN_MONITORINFOF_PRIMARY = 1,
    WIN_CFUNICODETEXT = 13,
    WIN_PMREMOVE = 1,
    WIN_SRCCOPY = 0xcc0020,
    WIN_DIBRGBCOLORS = 0,
    WIN_BITSPIXEL = 12,
    WIN_SWNORMAL = 1,
    WIN_CSDBLCLKS = 8,
    WIN_IDCARROW = 32512,
    WIN_WSPOPUP = 0x80000000u, WIN_WSCAPTION = 0x00C00000u,
    WIN_WSFRAMEPARTS = 0x008A0000u,         // border, system menu, minimise box
    WIN_SWPKEEPPOSITION = 1282,             // no move, no bits copied, no changing message
};

// Window messages.
enum : u32 {
    WM_PAINT = 15, WM_CLOSE = 16, WM_KEYDOWN = 256, WM_KEYUP = 257, WM_CHAR = 258,
    WM_MOUSEMOVE = 512, WM_LBUTTONDOWN = 513, WM_LBUTTONUP = 514, WM_LBUTTONDBLCLK = 515,
    WM_RBUTTONDOWN = 516, WM_RBUTTONUP = 517, WM_MOUSEWHEEL = 522,
};

// Winsock.
enum : u32 {
    WS_AFINET = 2, WS_SOCKSTREAM = 1, WS_IPPROTOTCP = 6, WS_SOLSOCKET = 0xffff,
    WS_SOSNDBUF = 0x1001, WS_SORCVBUF = 0x1002, WS_SOERROR = 0x1007,
    WS_FIONBIO = 0x8004667eu, WS_EWOULDBLOCK = 10035, WS_ENOTCONN = 10057,
};
const uptr WS_INVALIDSOCKET = ~(uptr)0;

extern "C" {
// KERNEL32
__declspec(dllimport) winhandle GetStdHandle(u32 which);
__declspec(dllimport) s32 WriteFile(winhandle h, void const* bytes, u32 count, u32* written, void* overlapped);
__declspec(dllimport) s32 ReadFile(winhandle h, void* buffer, u32 count, u32* read, void* overlapped);
__declspec(dllimport) winhandle CreateFileW(u16 const* path, u32 access, u32 share, void* security, u32 disposition,
                                            u32 attributes, winhandle templatefile);
__declspec(dllimport) s32 CloseHandle(winhandle h);
__declspec(dllimport) u32 SetFilePointer(winhandle h, s32 low, s32* high, u32 method);
__declspec(dllimport) s32 GetFileAttributesExW(u16 const* path, u32 level, void* info);
__declspec(dllimport) s32 DeleteFileW(u16 const* path);
__declspec(dllimport) winhandle FindFirstFileW(u16 const* pattern, winfinddata* data);
__declspec(dllimport) s32 FindNextFileW(winhandle find, winfinddata* data);
__declspec(dllimport) s32 FindClose(winhandle find);
__declspec(dllimport) u32 GetLogicalDrives();
__declspec(dllimport) u32 GetCurrentDirectoryW(u32 capacity, u16* buffer);
__declspec(dllimport) u32 GetModuleFileNameW(winhandle module, u16* buffer, u32 capacity);
__declspec(dllimport) winhandle GetModuleHandleW(u16 const* name);
__declspec(dllimport) u16* GetCommandLineW();
__declspec(dllimport) u16* GetEnvironmentStringsW();
__declspec(dllimport) s32 FreeEnvironmentStringsW(u16* block);
__declspec(dllimport) void* VirtualAlloc(void* address, uptr size, u32 type, u32 protect);
__declspec(dllimport) void Sleep(u32 ms);
__declspec(dllimport) void GetLocalTime(winsystemtime* t);
__declspec(dllimport) void GetSystemTime(winsystemtime* t);
__declspec(dllimport) u32 GetTickCount();
__declspec(dllimport) s32 QueryPerformanceCounter(s64* count);
__declspec(dllimport) s32 QueryPerformanceFrequency(s64* frequency);
__declspec(dllimport) s32 FileTimeToLocalFileTime(winfiletime const* utc, winfiletime* local);
__declspec(dllimport) s32 FileTimeToSystemTime(winfiletime const* time, winsystemtime* out);
__declspec(dllimport) winhandle LoadLibraryA(char const* name);
__declspec(dllimport) winproc GetProcAddress(winhandle module, char const* name);
__declspec(dllimport) s32 FreeLibrary(winhandle module);
__declspec(dllimport) s32 SetConsoleCtrlHandler(winctrlhandler handler, s32 add);
__declspec(dllimport) u32 SetErrorMode(u32 mode);
__declspec(dllimport) winexceptionfilter SetUnhandledExceptionFilter(winexceptionfilter filter);
__declspec(dllimport) [[noreturn]] void ExitProcess(u32 code);
__declspec(dllimport) u32 GetCurrentProcessId();
__declspec(dllimport) winhandle GetCurrentProcess();
__declspec(dllimport) s32 SetProcessWorkingSetSize(winhandle process, uptr minimum, uptr maximum);
__declspec(dllimport) winhandle CreateThread(void* security, uptr stack, winthreadproc start, void* argument,
                                             u32 flags, u32* id);
__declspec(dllimport) s32 ReadConsoleInputW(winhandle h, wininputrecord* records, u32 count, u32* read);
__declspec(dllimport) s32 GetConsoleMode(winhandle h, u32* mode);
__declspec(dllimport) s32 SetConsoleMode(winhandle h, u32 mode);
__declspec(dllimport) u32 GetConsoleOutputCP();
__declspec(dllimport) s32 SetConsoleOutputCP(u32 codepage);
__declspec(dllimport) s32 GetConsoleScreenBufferInfo(winhandle h, winconsolebufferinfo* info);
__declspec(dllimport) u32 GetLastError();
__declspec(dllimport) void SetLastError(u32 error);
__declspec(dllimport) void* GlobalLock(winhandle memory);
__declspec(dllimport) s32 GlobalUnlock(winhandle memory);
__declspec(dllimport) uptr GlobalSize(winhandle memory);

// USER32
__declspec(dllimport) s32 EnumDisplayMonitors(winhandle dc, winrect const* clip, winmonitorenumproc proc, sptr data);
__declspec(dllimport) winhandle GetDC(winhandle window);
__declspec(dllimport) s32 ReleaseDC(winhandle window, winhandle dc);
__declspec(dllimport) s32 GetMonitorInfoA(winhandle monitor, winmonitorinfo* info);
__declspec(dllimport) u16 RegisterClassW(winwndclass const* wc);
__declspec(dllimport) winhandle LoadCursorW(winhandle instance, u16 const* name);
__declspec(dllimport) winhandle LoadIconA(winhandle instance, char const* name);
__declspec(dllimport) winhandle CreateWindowExW(u32 exstyle, u16 const* classname, u16 const* title, u32 style, s32 x,
                                                s32 y, s32 width, s32 height, winhandle parent, winhandle menu,
                                                winhandle instance, void* param);
__declspec(dllimport) s32 GetClientRect(winhandle window, winrect* rect);
__declspec(dllimport) s32 GetWindowRect(winhandle window, winrect* rect);
__declspec(dllimport) s32 AdjustWindowRectEx(winrect* rect, u32 style, s32 menu, u32 exstyle);
__declspec(dllimport) s32 SetWindowPos(winhandle window, winhandle after, s32 x, s32 y, s32 cx, s32 cy, u32 flags);
__declspec(dllimport) s32 ShowWindow(winhandle window, s32 command);
__declspec(dllimport) s32 ValidateRect(winhandle window, winrect const* rect);
__declspec(dllimport) s32 SetForegroundWindow(winhandle window);
__declspec(dllimport) s32 DestroyWindow(winhandle window);
__declspec(dllimport) s32 PeekMessageW(winmsg* msg, winhandle window, u32 first, u32 last, u32 remove);
__declspec(dllimport) s32 TranslateMessage(winmsg const* msg);
__declspec(dllimport) sptr DispatchMessageW(winmsg const* msg);
__declspec(dllimport) sptr DefWindowProcW(winhandle window, u32 message, uptr wparam, sptr lparam);
__declspec(dllimport) winhandle BeginPaint(winhandle window, winpaintstruct* paint);
__declspec(dllimport) s32 EndPaint(winhandle window, winpaintstruct const* paint);
__declspec(dllimport) s32 OpenClipboard(winhandle owner);
__declspec(dllimport) winhandle GetClipboardData(u32 format);
__declspec(dllimport) s32 CloseClipboard();

// GDI32
__declspec(dllimport) s32 GetDeviceCaps(winhandle dc, s32 index);
__declspec(dllimport) winhandle CreateCompatibleDC(winhandle dc);
__declspec(dllimport) winhandle CreateDIBSection(winhandle dc, winbitmapinfo const* info, u32 usage, void** bits,
                                                 winhandle section, u32 offset);
__declspec(dllimport) winhandle SelectObject(winhandle dc, winhandle object);
__declspec(dllimport) s32 DeleteDC(winhandle dc);
__declspec(dllimport) s32 DeleteObject(winhandle object);
__declspec(dllimport) s32 BitBlt(winhandle dc, s32 x, s32 y, s32 width, s32 height, winhandle source, s32 sx, s32 sy,
                                 u32 rop);
}

// The calls of the libraries bound at run time.
typedef u32 (*win_timegettime)();
typedef s32 (*win_shgetspecialfolderpathw)(winhandle owner, u16* path, s32 folder, s32 create);

} // namespace kzv
