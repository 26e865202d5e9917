// The process object: start of the clock and the pool, the cooperative scheduler
// and the calendar clock. The scheduler re-reads the slot count and the table
// pointer after every call, since a step may start threads (which may move the
// table) or stop them. A module is marked running while its step is in progress,
// so a nested pass (from `sleep`) never steps it again.
#include "sysprocess.h"
#include "module.h"
#include "os.h"
#include "streamcodes.h"
#include "timeconv.h"
#include "timers.h"

namespace kzv {

sysprocess* process;

namespace {

const u32 SCHED_IDLE = 100000;          // the wait when nothing is due soon
const u32 SCHED_CATCHUP = 2000;         // a step later than this is not caught up
const u32 LOOP_CLOCKPERIOD = 100;       // ms of sleeping between calendar updates
// A signal's exit request that lands between the loop's check and its sleep is
// seen after at most this long, however far away the next step is.
const u32 LOOP_MAXSLEEP = 500;
const u32 SLEEP_CLOCKPERIOD = 500;
const u32 THREAD_GROWTH = 8;

inline bool isdue(u32 now, u32 due) { return (s32)(now - due) >= 0; }

sptr stepmodule(threadentry* t)
{
    module* m = t->owner;
    t->flags |= thread_running;
    sptr r = m->call(cmd_cyclic, 0, 0, nullptr);
    t->flags &= (u8)~thread_running;
    return r;
}

} // namespace

void sysprocess::init(void* entryblock, unsigned blocksize, unsigned step)
{
    memset0(this, sizeof(*this));
    entry = entryblock;
    systemmemory = systemmemorypeak = blocksize;
    pool.created(this, blocksize, sizeof(*this), step);
    int seconds = 0;
    msnowcopy = os_getms32_sec1970(seconds);
    utcseconds = (u32)seconds;
    localtimeoffset = os_getlocaltimeoffset();
    msnow = startms = msnowcopy;
    startseconds = utcseconds;
    calctime();
}

void sysprocess::calctime()
{
    if (utcseconds == lastsecond && year)
        return;
    bool full = !year || utcseconds - lastsecond != 1;
    if (!full) {
        clockseconds++;
        if (++second == 60) {
            second = 0;
            if (++minute == 60) {
                minute = 0;
                full = ++hour == 24;
            }
        }
    }
    if (full) {
        clockseconds = utcseconds;
        time_decode1970(clockseconds, day, month, year, hour, minute, second);
    }
    lastsecond = utcseconds;
}

// One pass over the table. A due module is stepped and its next step moves one
// interval on (caught up one by one while less than 2 s late, else re-based). A due
// time further ahead than the interval allows means the clock went back or jumped:
// the module is stepped at once and re-based.
u32 sysprocess::sched()
{
    u32 now = os_getms32();
    msnow = msnowcopy = now;
    if (!slotcount || !threadtable)
        return SCHED_IDLE;
    u32 wait = SCHED_IDLE;
    u32 ran = 0;
    for (u32 i = 0; i < slotcount; i++) {
        threadentry* t = threadtable[i];
        if (!t || !t->owner)
            continue;
        module* m = t->owner;
        bool idle = !(t->flags & (thread_busy | thread_running));
        u32 due = t->due;
        if (isdue(now, due)) {
            if (idle)
                stepmodule(t);
            now = msnow;
            ran++;
            if (t->owner != m)
                continue;                 // the slot was handed to another module
            if (t->due != due)
                continue;                 // its step re-based every module: that holds
            if (now - due < SCHED_CATCHUP)
                t->due = due + t->interval;
            else
                t->due = now + t->interval;
            continue;
        }
        u32 d = due - now;
        if (d <= kzv_max(t->interval, SCHED_CATCHUP)) {
            wait = kzv_min(wait, d);
            continue;
        }
        if (idle)
            stepmodule(t);
        now = msnow;
        ran++;
        if (t->owner == m)
            t->due = now + t->interval;
        wait = 0;
    }
    return ran ? 0 : wait;
}

static void readclock(sysprocess& p)
{
    int seconds = 0;
    p.msnow = os_getms32_sec1970(seconds);
    p.utcseconds = (u32)seconds;
    p.calctime();
}

static void sendtoall(sysprocess& p, unsigned cmd)
{
    for (u32 i = 0; i < p.slotcount; i++) {
        threadentry* t = p.threadtable[i];
        if (t && t->owner)
            t->owner->call(cmd, 0, 0, nullptr);
    }
}

void sysprocess::loop()
{
    u32 slept = 0;
    while (activethreads > 0 && !exitrequested) {
        u32 w = kzv_min(sched(), LOOP_MAXSLEEP);
        if (w)
            idle(w);
        slept += w;
        if (w == 0 || slept >= LOOP_CLOCKPERIOD) {
            readclock(*this);
            slept = 0;
        }
    }
    exitrequested = 0;
    if (defaulthandler)
        defaulthandler->call(cmd_endofloop, 1, 0, nullptr);
    sendtoall(*this, cmd_exit);
    char const* reason = exitreason;
    if (reason && reason[0]) {
        os_stderr("exit: ");
        os_stderr(reason);
        os_stderr("\n");
    }
    exitrequested = 1;
}

static threadentry* findthread(sysprocess& p, module* m)
{
    for (u32 i = 0; i < p.slotcount; i++) {
        threadentry* t = p.threadtable[i];
        if (t && t->owner == m)
            return t;
    }
    return nullptr;
}

bool sysprocess::idle(u32 ms)
{
    if (wakefd <= 0 || !wakemodule) {
        os_sleep(ms);
        return false;
    }
    if (!os_waitdescriptor(wakefd, wakeonoutput != 0, ms))
        return false;
    threadentry* t = findthread(*this, wakemodule);
    if (t)
        t->due = os_getms32();
    return true;
}

// Waits `ms` while the other modules keep running. When m sleeps inside its own
// step it is marked busy, so the nested passes skip it. No wait overshoots the
// time left. Input on the wake descriptor ends it early, and so does the wake
// module giving up its descriptor: what it awaited has come.
void sysprocess::sleep(module* m, unsigned ms)
{
    realtimer watch;
    if (!activethreads) {
        os_sleep(ms);
        readclock(*this);
        return;
    }
    threadentry* mine = m ? findthread(*this, m) : nullptr;
    if (mine && (mine->flags & thread_running) && !(mine->flags & thread_busy))
        mine->flags |= thread_busy;
    else
        mine = nullptr;
    u32 slept = 0;
    while (activethreads) {
        if (slept > SLEEP_CLOCKPERIOD) {
            readclock(*this);
            slept = 0;
        }
        bool waking = wakemodule != nullptr;
        u32 w = sched();
        if (waking && !wakemodule)
            break;                      // what the wake module awaited has come
        u32 elapsed = watch.msec();
        if (elapsed >= ms)
            break;
        if (w > 0) {
            u32 part = kzv_min(w, ms - elapsed);
            if (idle(part)) {
                sched();                // the woken module reads what came
                break;
            }
            slept += part;
        } else {
            slept++;
        }
        if (watch.msec() >= ms)
            break;
    }
    if (mine)
        mine->flags &= (u8)~thread_busy;
    readclock(*this);
}

// Registers m, or changes its interval; in both cases every module's next step is
// re-based to now + its interval.
void sysprocess::startthread(module* m, unsigned interval)
{
    if (!m)
        return;
    threadentry* t = findthread(*this, m);
    if (!t) {
        t = findthread(*this, nullptr);
        if (t) {
            t->owner = m;
            t->flags = 0;
            activethreads++;
        }
    }
    if (!t) {
        u32 slot = 0;
        while (slot < slotcount && threadtable[slot])
            slot++;
        if (slot == slotcount) {
            u32 bytes = slotcount * (u32)sizeof(threadentry*);
            threadentry** table = (threadentry**)pool.resize0(threadtable, bytes,
                                                              bytes + THREAD_GROWTH * sizeof(threadentry*));
            if (!table)
                return;                   // no memory: m stays unregistered
            threadtable = table;
            slotcount += THREAD_GROWTH;
        }
        t = (threadentry*)pool.sgetmem0(sizeof(threadentry));
        if (!t)
            return;
        t->owner = m;
        threadtable[slot] = t;
        activethreads++;
    }
    t->interval = interval;
    t->due = 0;
    m->state |= 1;
    for (u32 i = 0; i < slotcount; i++) {
        threadentry* e = threadtable[i];
        if (e)
            e->due = msnow + e->interval;
    }
}

void sysprocess::stopthread(module* m)
{
    if (!m)
        return;
    threadentry* t = findthread(*this, m);
    if (!t)
        return;
    t->owner = nullptr;
    activethreads--;
    m->state &= (u8)~1;
}

static module* consolemodule() { return process ? process->consolemodule : nullptr; }

bool consolemodule_write(char const* bytes, u32 count)
{
    module* m = consolemodule();
    if (!m)
        return false;
    m->call(stream_write, (int)count, 0, bytes);
    return true;
}

bool consolemodule_puts(char const* line, u32 length)
{
    module* m = consolemodule();
    if (!m)
        return false;
    m->call(stream_write, (int)length, 0, line);
    m->call(stream_write, 1, 0, "\n");
    return true;
}

// Safe from a signal handler: two plain stores, the flag last.
void sysprocess::exit(char const* reason)
{
    exitreason = reason;
    exitrequested = 1;
}

} // namespace kzv
