// The process object: clock, cooperative scheduler, process pool, argument record,
// exit request and status. It lies at the start of the process's first memory
// block, reached through the global `process`. Only the scheduler's thread uses it;
// a signal handler only calls `exit`, which writes the volatile flag and a pointer.
#pragma once
#include "mem.h"

namespace kzv {

class module;

struct threadentry {        // a scheduler slot; a static block, reused after stopthread
    u8 flags;               // bit 0 busy (inside sleep), bit 1 running (its step is in progress)
    u32 interval;           // ms
    u32 due;                // ms clock of the next step
    module* owner;          // null when the slot is stopped
};
enum : u8 { thread_busy = 1, thread_running = 2 };

struct argumentrecord {
    u32 argc;               // arguments after the program name
    char const* computername;
    char const* user;
    char const* programname;
    char const* invokedname;
    char const* programdir;
    char const* home;
    char const* workingdir;
    char const** argv;
    char const** env;       // null-terminated NAME=value
    char const* argline;
    bool filled;            // filled once; later getters only read
    bool defaulted;         // empty fields have their defaults
};

enum : u8 {                 // platform flag byte
    platform_offsetknown = 1, platform_raw = 2, platform_screenchanged = 4,
    platform_terminalchosen = 8,    // the UI terminal's descriptors are decided (ttyfd)
    platform_uionstderr = 16,       // no terminal but descriptor 2 takes the UI output
    platform_setnonblock = 32,      // raw mode made the UI input non-blocking; the end undoes it
    platform_rawrefused = 64,       // the terminal refused raw mode and kept its settings
};

// Owners of the process's `slots`, one index each, so that no two layers share one.
enum : u32 {
    processslot_currentwindow = 0,  // the top-level window opened last (gui/window.h)
    processslot_currentgui = 1,     // the widget container opened last (gui/gui.h)
    processslot_platform = 2,       // the platform layer's own record (Windows: handles, bindings,
                                    // input ring; macOS: the Objective-C runtime binding)
    processslot_windowsystem = 3,   // the binding of the system's window calls (Windows: GDI;
                                    // macOS: CoreGraphics)
};

class sysprocess {
public:
    volatile u8 exitrequested;
    u32 hour, minute, second;
    u32 day, month, year;
    u32 clockseconds;
    u32 msnowcopy;
    u32 utcseconds;
    u32 lastsecond;
    u32 startseconds;
    s32 localtimeoffset;
    u32 msnow;
    u32 startms;
    u32 slotcount;
    u32 activethreads;
    u64 systemmemory;
    u64 systemmemorypeak;
    int exitstatus;         // the status word (the question dialog: 1 after "yes")
    int exitcode;           // what the process ends with: 0, or 2 when it could not go on
    threadentry** threadtable;
    void* entry;            // the platform's start block
    char const* volatile exitreason;
    argumentrecord* args;
    module* defaulthandler;
    module* connectionprovider;     // carries tcp connections when set; the program sets none
    // While set, an idle wait also ends when this descriptor has input (or, with
    // wakeonoutput, takes more output): its module is then stepped at once, and a
    // `sleep` returns early so that its caller looks again at what it waits for
    // (as it does when the module clears the pair). The X11 client sets it while a
    // caller waits on the server; 0 and null otherwise.
    int wakefd;
    u8 wakeonoutput;
    module* wakemodule;
    char const* builddate;
    char const* buildtime;

    // Platform layer state (the Linux, macOS and Windows bodies use what they need).
    u8 platformflags;
    s32 cachedoffset;       // minutes west of Greenwich x 60
    int pid;
    void* savedterminal;    // settings of the terminal before raw mode
    int ttyfd;              // the terminal used for the UI when stdout is not one; 0 none
    module* consolemodule;
    void* volatile threadfunction;   // hand-off to a starting thread
    void* volatile threadargument;
    void* initialstack;     // the kernel's initial stack: argc, argv[], 0, envp[], 0

    // Slots other layers keep on the process (terminal back-end, widget container ...).
    void* slots[16];

    mem pool;

    // The process object over its own block: the pool manages the rest of it.
    void init(void* entry, unsigned blocksize, unsigned step);
    void calctime();                // the calendar fields up to utcseconds
    // One pass: 0 when a module was due, else ms until the nearest step (100000
    // when nothing is due soon or no slot exists).
    u32 sched();
    void loop();                    // until an exit is requested or no thread is left
    void sleep(module* m, unsigned ms);   // the others keep running; m is not stepped
    // Sleeps ms, or less when the wake descriptor gets input: true then, with the
    // wake module due at once.
    bool idle(u32 ms);
    // Registers m (or changes its interval); every module's next step is then
    // now + its interval. Without memory m stays unregistered.
    void startthread(module* m, unsigned interval);
    void stopthread(module* m);
    void exit(char const* reason);  // keeps the pointer; safe from a signal handler
    u32 getargc();
    char const* getargv(u32 i);     // "" beyond the count
    char const* getprogramname();   // "???" when the platform has none
    char const* gethomedir();
    // Copies the value of `name` (any case) into out, at most capacity - 1 and 999
    // characters, terminated. False, out untouched, when there is no such variable.
    bool getenv(char const* name, char* out, u32 capacity);
    argumentrecord* getargs();      // filled on first use; null only without memory
};

extern sysprocess* process;

// Standard output taken by the installed console module instead of the
// platform's own: false, with nothing written, when there is none. A line goes
// as two writes, the line and then its "\n".
bool consolemodule_write(char const* bytes, u32 count);
bool consolemodule_puts(char const* line, u32 length);

// The run: the platform entry calls it with its start block and ends the process
// with the returned status.
int kzvmain(void* entry);

// Application hooks.
void memoryinit(unsigned& blocksize, unsigned& step);
void mmain();

} // namespace kzv
