// kzvtestapp: a small application for the end-to-end tests of the platform layer.
// It runs one module under the scheduler, the way the dialogs do, and exercises
// what the tests look at from outside: the argument record, signals ending the
// loop with the terminal restored, raw keys, the UI terminal when standard output
// is captured, and descriptors 0-2 closed at start.
//   args              the argument record on standard output, one field a line
//   env NAME          the variable's value on standard output (exit code 1 if unset)
//   wait MS           runs until a signal or MS milliseconds have passed
//   raw MS            the same with the terminal raw and its screen modes marked changed
//   keys MS           raw; each key read is reported on standard error as "key N"
//   linger MS         raw; the end of the run waits (up to 20 s) for a second exit
//                     request, saying "exiting" first and then whether one came
//   ui MS             "UI" through the terminal channel and "answer" on standard output
//   fileanswer PATH   writes "file text" into PATH, then "answer" on standard output
//   size              the UI terminal's size on standard output:
//                     "COLUMNSxROWS terminal|unsized|none"
#include "../../framework/module.h"
#include "../../framework/os.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../framework/timers.h"
#include "../../framework/vprinter.h"

namespace kzv {

namespace {

enum appmode : u8 { mode_wait, mode_raw, mode_keys, mode_linger };

const u32 LINGER_MAXMS = 20000;

class testapp : public module {
public:
    u32 startms;
    u32 limitms;
    appmode mode;
};

void printnumber(char const* label, u32 value, bool tostderr)
{
    char digits[16];
    vprinter_int32tostring((int)value, digits);
    if (tostderr) {
        os_stderr(label);
        os_stderr(digits);
        os_stderr("\n");
        return;
    }
    os_stdout(label);
    os_puts(digits);
}

void printfield(char const* name, char const* value)
{
    os_stdout(name);
    os_stdout("=");
    os_puts(value ? value : "(null)");
}

void printargs()
{
    argumentrecord* r = process->getargs();
    if (!r)
        return;
    printnumber("argc=", r->argc, false);
    for (u32 i = 0; i < r->argc; i++)
        printfield("argv", r->argv[i]);
    printfield("programname", r->programname);
    printfield("invokedname", r->invokedname);
    printfield("programdir", r->programdir);
    printfield("home", r->home);
    printfield("user", r->user);
    printfield("workingdir", r->workingdir);
    printfield("argline", r->argline);
    u32 count = 0;
    while (r->env && r->env[count])
        count++;
    printnumber("envcount=", count, false);
}

void readkeys()
{
    u8 keys[64];
    int n = os_stdin(keys, sizeof keys);
    for (int i = 0; i < n; i++)
        printnumber("key ", keys[i], true);
}

// The loop has cleared the exit request before telling the modules '?', so a
// request seen here comes from a signal that arrived during the end itself: a
// handler that the first signal had not uninstalled.
void linger()
{
    os_stderr("exiting\n");
    realtimer watch;
    while (!process->exitrequested && watch.msec() < LINGER_MAXMS)
        os_sleep(1);
    os_stderr(process->exitrequested ? "second request\n" : "no second request\n");
}

sptr testapp_concb(void* self, unsigned cmd, int, int, void const*)
{
    testapp* app = (testapp*)self;
    if (cmd == cmd_exit && app->mode == mode_linger)
        linger();
    if (cmd != cmd_cyclic)
        return 0;
    if (app->mode == mode_keys)
        readkeys();
    if (app->limitms && process->msnow - app->startms >= app->limitms)
        process->exit("");
    return 1;
}

void fileanswer(char const* path)
{
    int fd = os_fopen(path, 3);
    if (!fd) {
        os_stderr("open failed\n");
        process->exitcode = 1;
        return;
    }
    os_write(fd, "file text\n", 10);
    os_close(fd);
    os_puts("answer");
}

void printenv(char const* name)
{
    char value[1000];
    if (process->getenv(name, value, sizeof value))
        os_puts(value);
    else
        process->exitcode = 1;
}

void printsize()
{
    unsigned short columns = 0, rows = 0;
    bool isterminal = true;
    bool known = os_getterminalsize(columns, rows, isterminal);
    char text[16];
    vprinter_int32tostring(columns, text);
    os_stdout(text);
    vprinter_int32tostring(rows, text);
    os_stdout("x");
    os_stdout(text);
    // A terminal that cannot tell its size is a Windows program's standard output
    // that is no console; a size without a terminal is never right.
    os_puts(known && isterminal ? " terminal" : isterminal ? " unsized" : known ? " inconsistent" : " none");
}

void run(appmode mode, u32 limitms)
{
    testapp* app = (testapp*)process->pool.sgetmem0(sizeof(testapp));
    if (!app)
        return;
    app->initheader(&process->pool, "testapp", testapp_concb, type_bytestream);
    app->startms = process->msnow;
    app->limitms = limitms;
    app->mode = mode;
    if (mode != mode_wait) {
        os_initstdio();
        os_setterminalchanged();
    }
    process->startthread(app, 10);
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    char const* command = process->getargv(0);
    char const* value = process->getargv(1);
    u32 ms = (u32)atoi(value);
    if (streq(command, "args")) {
        printargs();
    } else if (streq(command, "env")) {
        printenv(value);
    } else if (streq(command, "wait")) {
        run(mode_wait, ms);
    } else if (streq(command, "raw")) {
        run(mode_raw, ms);
    } else if (streq(command, "keys")) {
        run(mode_keys, ms);
    } else if (streq(command, "linger")) {
        run(mode_linger, ms);
    } else if (streq(command, "ui")) {
        os_stdout_ansi("UI\r\n", 4);
        os_puts("answer");
        run(mode_wait, ms);
    } else if (streq(command, "size")) {
        printsize();
    } else if (streq(command, "fileanswer")) {
        fileanswer(value);
    } else {
        os_stderr("usage: kzvtestapp args | env NAME | wait MS | raw MS | keys MS | linger MS | ui MS | size | fileanswer PATH\n");
        process->exitcode = 2;
    }
}

} // namespace kzv
