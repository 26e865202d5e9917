// System threads: the function runs with its argument on its own stack while the
// caller goes on, the hand-off fields are clear once the start returns, and starts
// in a row each deliver their own argument. The thread ends alone; the process goes on.
// A thread ends with the process that started it, even one killed with SIGKILL,
// and then holds none of its descriptors; an ended thread's stack is given back;
// the lowest page of each stack is a guard.
// Where qemu-user refuses a start and a test checks the refusal instead, its note
// names qemu-user: the guest test runs this program on a real kernel and fails on
// any such note.
#include "../harness/harness.h"
#include "../../framework/os.h"
#include "../../framework/sysprocess.h"
#include "../../platform/linux/linuxos.h"
#include "../../platform/linux/syscalls.h"
#include "test_os_fixture.h"

using namespace kzv;
using namespace kzvtest;

namespace {

const u32 THREADS = 8;
volatile u32 results[THREADS];          // one slot a thread: no two threads write one word
volatile u32 release;

struct job {
    u32 slot;
    u32 value;
};

void worker(void* argument)
{
    job const* j = (job const*)argument;
    char deep[8192];                    // the thread's own stack takes a real frame
    for (u32 i = 0; i < sizeof deep; i++)
        deep[i] = (char)i;
    __asm__ volatile("" ::"r"(deep) : "memory");
    while (!release)
        os_sleep(1);
    results[j->slot] = j->value + (u8)deep[100] - 100;
}

u32 finished()
{
    u32 n = 0;
    for (u32 i = 0; i < THREADS; i++)
        n += results[i] != 0;
    return n;
}

// qemu-user refuses a clone that shares memory without joining the thread
// group, so under it these threads cannot start; there the start must fail
// cleanly. The build says whether this test binary runs under an emulator.
bool refusedbyemulator(bool started)
{
    if (started || !KZV_TESTS_UNDER_EMULATOR)
        return false;
    note("qemu-user refused the clone; checking the failure path only");
    CHECK(process->threadfunction == nullptr);
    CHECK(process->threadargument == nullptr);
    return true;
}

const int E_CHILD = 10;
const u32 STACKKIB = 256;               // what os_startthread maps for each thread

// Every child of this process has ended and been reaped. The threads are clone
// children that signal nobody at their end, so only a wait that takes clone
// children sees them; a thread's memory is gone by the time it can be reaped.
bool reapall(u32 withinms)
{
    u32 start = os_getms32();
    for (;;) {
        int status = 0;
        long r = sys_wait4(-1, &status, WNOHANG | WALL);
        if (r == -E_CHILD)
            return true;
        if (r > 0)
            continue;
        if (os_getms32() - start > withinms)
            return false;
        os_sleep(1);
    }
}

// A whole small file into a static buffer (so that reading it maps nothing);
// false when it does not fit.
char filetext[256 * 1024];
bool readwhole(char const* path, u32& length)
{
    length = 0;
    long fd = sys_open(path, O_RDONLY | O_CLOEXEC, 0);
    if (sys_failed(fd))
        return false;
    for (;;) {
        long r = sys_read((int)fd, filetext + length, sizeof filetext - 1 - length);
        if (r <= 0)
            break;
        length += (u32)r;
    }
    sys_close((int)fd);
    filetext[length] = 0;
    return length < sizeof filetext - 1;
}

u64 hexvalue(char const*& at)
{
    u64 v = 0;
    for (;; at++) {
        char c = *at;
        u32 digit = c >= '0' && c <= '9' ? (u32)(c - '0') : c >= 'a' && c <= 'f' ? (u32)(c - 'a' + 10) : 16;
        if (digit == 16)
            return v;
        v = v * 16 + digit;
    }
}

// One line of /proc/self/maps: "start-end perms ...".
struct mapping {
    u64 start, end;
    char perms[5];
};

// The mappings in the order the kernel lists them (by address); false at the end.
bool nextmapping(char const*& at, mapping& m)
{
    if (!*at)
        return false;
    m.start = hexvalue(at);
    if (*at++ != '-')
        return false;
    m.end = hexvalue(at);
    if (*at++ != ' ')
        return false;
    for (u32 i = 0; i < 4; i++)
        m.perms[i] = at[i] ? *at++ : '?';
    m.perms[4] = 0;
    while (*at && *at++ != '\n') {
    }
    return true;
}

// The process's address space in KiB: VmSize. Under qemu-user /proc/self/status
// describes the emulator itself, which keeps the guest's whole address space
// reserved, so there the guest's own mappings (its /proc/self/maps, which the
// emulator fills) are added up instead.
u64 addressspacekib()
{
    u32 length = 0;
    if (KZV_TESTS_UNDER_EMULATOR) {
        if (!CHECK(readwhole("/proc/self/maps", length)))
            return 0;
        u64 bytes = 0;
        char const* at = filetext;
        mapping m;
        while (nextmapping(at, m))
            bytes += m.end - m.start;
        return bytes / 1024;
    }
    if (!CHECK(readwhole("/proc/self/status", length)))
        return 0;
    char const* line = strstr(filetext, "\nVmSize:");
    if (!CHECK(line != nullptr))
        return 0;
    line += 8;
    while (*line == ' ' || *line == '\t')
        line++;
    u64 kib = 0;
    while (*line >= '0' && *line <= '9')
        kib = kib * 10 + (u64)(*line++ - '0');
    return kib;
}

} // namespace

TEST(threadsrunwiththeirarguments)
{
    static job jobs[THREADS];
    for (u32 i = 0; i < THREADS; i++) {
        jobs[i] = {i, 1000 + i};
        results[i] = 0;
    }
    release = 0;
    for (job& j : jobs) {
        bool ok = os_startthread((void*)worker, &j, 0);
        if (refusedbyemulator(ok))
            return;
        CHECK(ok);
        CHECK(process->threadfunction == nullptr);
    }
    CHECK_EQ(finished(), 0);            // they wait while this thread goes on
    release = 1;
    for (int i = 0; i < 10000 && finished() < THREADS; i++)
        os_sleep(1);
    for (u32 i = 0; i < THREADS; i++)
        CHECK_EQ(results[i], 1000 + i);
}

// Without memory for the stack nothing may be cloned: a child on a stack that
// was never mapped would crash before taking the hand-off, and the start would
// wait for it for ever. The address-space limit is lowered around the one call,
// so that the stack cannot be mapped (qemu-user does not apply this limit, and
// refuses the clone instead).
TEST(nostackmeansnothread)
{
    u64 old[2] = {0, 0};
    CHECK_EQ(sys_prlimit(RLIMIT_AS, nullptr, old), 0);
    u64 tiny[2] = {4096, old[1]};
    static job j = {0, 1};
    results[0] = 0;
    release = 1;
    CHECK_EQ(sys_prlimit(RLIMIT_AS, tiny, nullptr), 0);
    bool started = os_startthread((void*)worker, &j, 0);
    CHECK_EQ(sys_prlimit(RLIMIT_AS, old, nullptr), 0);
    CHECK(!started);
    CHECK(process->threadfunction == nullptr);
    CHECK(process->threadargument == nullptr);
    os_sleep(20);
    CHECK_EQ(results[0], 0);
}

TEST(processmemory)
{
    u8* block = (u8*)os_getmem(100000);
    CHECK(block != nullptr);
    if (!block)
        return;
    bool zero = true;
    for (u32 i = 0; i < 100000; i++)
        zero = zero && block[i] == 0;
    CHECK(zero);
    block[99999] = 1;
    CHECK(os_getmem(0) == nullptr);
    CHECK(os_getmem(-1) == nullptr);
    CHECK_EQ(os_getpid(), sys_getpid());
    CHECK_EQ(os_getpid(), process->pid);
}

namespace {

const u32 STARTED = 64;
volatile u32 ended[STARTED];

void endsoon(void* argument)
{
    volatile u32* mine = (volatile u32*)argument;
    while (!release)
        os_sleep(1);
    *mine = 1;
}

u32 endedcount()
{
    u32 n = 0;
    for (u32 i = 0; i < STARTED; i++)
        n += ended[i];
    return n;
}

} // namespace

// Each thread's stack is there while it runs and gone once it has ended: after 64
// threads have come and gone the address space is as large as before.
TEST(endedthreadsgivebacktheirstacks)
{
    CHECK(reapall(5000));               // the threads of the tests before
    release = 0;
    for (u32 i = 0; i < STARTED; i++)
        ended[i] = 0;
    u64 before = addressspacekib();
    u32 started = 0;
    while (started < STARTED && os_startthread((void*)endsoon, (void*)&ended[started], 0))
        started++;
    if (refusedbyemulator(started > 0)) {
        CHECK_EQ(addressspacekib(), before);    // a refused start keeps no stack either
        return;
    }
    CHECK_EQ(started, STARTED);
    u64 during = addressspacekib();
    CHECK(during >= before + started * STACKKIB);
    release = 1;
    for (u32 i = 0; i < 10000 && endedcount() < started; i++)
        os_sleep(1);
    CHECK_EQ(endedcount(), started);
    CHECK(reapall(5000));
    CHECK_EQ(addressspacekib(), before);
}

namespace {

volatile uptr localaddress;

void showstack(void* argument)
{
    volatile u32 local = 1;
    localaddress = (uptr)&local;
    while (!release)
        os_sleep(1);
    (void)argument;
}

} // namespace

// Directly below the writable part of a thread's stack lies a page nobody can
// read or write, so that an overflow faults instead of running into the mapping
// below.
TEST(stackhasaguardpage)
{
    release = 0;
    localaddress = 0;
    bool started = os_startthread((void*)showstack, nullptr, 0);
    if (refusedbyemulator(started))
        return;
    CHECK(started);
    for (u32 i = 0; i < 5000 && !localaddress; i++)
        os_sleep(1);
    u32 length = 0;
    bool read = CHECK(localaddress != 0) && CHECK(readwhole("/proc/self/maps", length));
    release = 1;
    if (!read)
        return;
    mapping below = {}, m = {};
    bool found = false;
    char const* at = filetext;
    while (!found && nextmapping(at, m)) {
        found = m.start <= localaddress && localaddress < m.end;
        if (!found)
            below = m;
    }
    CHECK(found);
    CHECK_STR(m.perms, "rw-p");
    CHECK_EQ(below.end, m.start);
    CHECK_STR(below.perms, "---p");
    CHECK(below.end - below.start >= 4096);
    CHECK(m.end - m.start >= (STACKKIB - 4) * 1024);
    CHECK(reapall(5000));
}

namespace {

// The thread (or process) started in the child writes its own id into the pipe
// and waits to be ended; the child waits too. A child that could start nothing
// writes 0.
struct holdjob {
    int fd;
    bool asthread;
};

void holdforever(void* argument)
{
    holdjob const* job = (holdjob const*)argument;
    u32 pid = (u32)sys_getpid();
    sys_write(job->fd, &pid, sizeof pid);
    for (;;)
        os_sleep(1000);
}

// The same entry as a thread, with the stack and the start of one, but a
// process of its own (a fork onto the new stack). qemu-user starts these.
long startasprocess(void (*fn)(void*), void* argument)
{
    threadstack* stack = thread_mapstack();
    if (!stack)
        return 0;
    process->threadfunction = (void*)fn;
    process->threadargument = argument;
    long pid = sys_clone(SIGCHLD, stack);
    process->threadfunction = nullptr;
    process->threadargument = nullptr;
    thread_unmapstack(stack);           // this process's copy; the child has its own
    return sys_failed(pid) ? 0 : pid;
}

void startandhold(void* argument)
{
    holdjob const* job = (holdjob const*)argument;
    bool started = job->asthread ? os_startthread((void*)holdforever, (void*)job, 0)
                                 : startasprocess(holdforever, (void*)job) > 0;
    if (!started) {
        u32 none = 0;
        sys_write(job->fd, &none, sizeof none);
    }
    for (;;)
        os_sleep(1000);
}

// Up to `count` bytes from fd, waiting at most `ms` for them; what came.
u32 readwithin(int fd, void* buffer, u32 count, u32 ms)
{
    u32 start = os_getms32(), got = 0;
    while (got < count) {
        u32 spent = os_getms32() - start;
        kpollfd p = {fd, POLL_IN, 0};
        if (spent >= ms || sys_poll(&p, 1, (int)(ms - spent)) <= 0)
            break;
        long r = sys_read(fd, (u8*)buffer + got, count - got);
        if (r <= 0)
            break;
        got += (u32)r;
    }
    return got;
}

// fd reads as ended (every write end closed) within `ms`.
bool closedwithin(int fd, u32 ms)
{
    kpollfd p = {fd, POLL_IN, 0};
    char c;
    return sys_poll(&p, 1, (int)ms) == 1 && sys_read(fd, &c, 1) == 0;
}

// pid has ended: reaped here when this process adopted it, else (where the
// adoption was refused) a zombie or no longer listed in /proc.
bool hasended(long pid, bool adopted)
{
    int status = 0;
    if (adopted)
        return sys_wait4(pid, &status, WNOHANG | WALL) == pid;
    char path[40], digits[16];
    vprinter_int32tostring((s32)pid, digits);
    u32 length = 0;
    if (!str_combine(path, sizeof path, "/proc/", digits, "/stat") || !readwhole(path, length) || length == 0)
        return true;
    char const* state = filetext + length;
    while (state > filetext && *state != ')')
        state--;
    return state[0] == ')' && (state[2] == 'Z' || state[2] == 'X');
}

bool endedwithin(long pid, bool adopted, u32 ms)
{
    u32 start = os_getms32();
    while (!hasended(pid, adopted)) {
        if (os_getms32() - start > ms)
            return false;
        os_sleep(1);
    }
    return true;
}

} // namespace

// A process killed with SIGKILL takes its thread along: within a second the thread
// is gone (this process, which adopts orphans, reaps it) and the pipe the process
// held reads as ended, so no descriptor of the process stays open in the thread.
// The same holds for a child started through the thread entry as a process: that
// is all qemu-user can run, since it starts no thread of this kind. qemu-user
// also refuses the adoption request, so there the ended child is looked up in
// /proc instead of reaped.
TEST(threadendswithitsprocess)
{
    static const struct { char const* name; bool asthread; } cases[] = {
        {"thread", true},
        {"process on a thread's stack", false},
    };
    bool adopts = !sys_failed(sys_prctl(PR_SET_CHILD_SUBREAPER, 1));
    CHECK(adopts || KZV_TESTS_UNDER_EMULATOR);
    if (!adopts)
        note("qemu-user refused the adoption; looking the ended children up in /proc");
    for (auto const& c : cases) {
        setrow(c.name);
        int fds[2];
        if (!CHECK(!sys_failed(sys_pipe(fds))))
            return;
        holdjob job = {fds[1], c.asthread};
        long child = startchildprocess(startandhold, &job);
        sys_close(fds[1]);
        if (!CHECK(child > 0)) {
            sys_close(fds[0]);
            return;
        }
        u32 held = 0;
        CHECK_EQ(readwithin(fds[0], &held, sizeof held, 10000), sizeof held);
        int status = 0;
        sys_kill(child, SIGKILL);
        CHECK_EQ(sys_wait4(child, &status, 0), child);
        u32 killed = os_getms32();
        if (held == 0) {
            CHECK(c.asthread && KZV_TESTS_UNDER_EMULATOR);
            note("qemu-user refused the thread; checking the process's own descriptor only");
        }
        CHECK(closedwithin(fds[0], 1000));
        if (held != 0) {
            u32 left = 1000 - kzv_min(os_getms32() - killed, 1000u);
            bool gone = endedwithin(held, adopts, left);
            CHECK(gone);
            if (!gone) {
                sys_kill(held, SIGKILL);
                sys_wait4(held, &status, WALL);
            }
        }
        sys_close(fds[0]);
    }
    setrow(nullptr);
}

namespace {

void reportdeathsignal(void* argument)
{
    int signal = -1;
    sys_prctl(PR_GET_PDEATHSIG, (unsigned long)&signal);
    sys_write(*(int*)argument, &signal, sizeof signal);
}

} // namespace

// The end of the thread entry (the stack unmapped, then exit, from registers
// alone) leaves a clean exit status, not a fault; the entry asked for SIGKILL at
// the parent's death before it ran the function.
TEST(threadentryendscleanly)
{
    int fds[2];
    if (!CHECK(!sys_failed(sys_pipe(fds))))
        return;
    long pid = startasprocess(reportdeathsignal, &fds[1]);
    CHECK(pid > 0);
    int status = -1;
    if (pid > 0)
        CHECK_EQ(sys_wait4(pid, &status, 0), pid);
    CHECK_EQ(status, 0);                // exited with 0, no signal
    int signal = 0;
    CHECK_EQ(readwithin(fds[0], &signal, sizeof signal, 1000), sizeof signal);
    CHECK_EQ(signal, SIGKILL);
    sys_close(fds[0]);
    sys_close(fds[1]);
}
