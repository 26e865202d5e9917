// The cooperative scheduler. Due times are set by hand relative to the real clock,
// so each case is decided by the scheduler's arithmetic, not by timing luck: catch-up
// one interval at a time, re-basing after 2 s of lag, the far-future rule and long
// intervals, re-basing on startthread, sleep inside a step (no re-entry, others keep
// running), a table that grows during a pass, and the loop's end.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/module.h"
#include "../../framework/sysprocess.h"
#include "../../framework/timers.h"

using namespace kzv;

namespace {

struct counter;
typedef void (*stepaction)(counter& self);

struct counter : module {
    u32 steps;
    u32 depth;               // steps in progress
    u32 maxdepth;
    u32 exits;
    u32 endofloop;
    int endofloopa;
    stepaction action;       // run inside the step
    u32 limit;               // the action runs while steps <= limit
};

sptr counter_concb(void* self, unsigned cmd, int a, int, void const*)
{
    counter& c = *(counter*)self;
    if (cmd == cmd_cyclic) {
        c.steps++;
        c.depth++;
        c.maxdepth = kzv_max(c.maxdepth, c.depth);
        if (c.action && c.steps <= c.limit)
            c.action(c);
        c.depth--;
        return 1;
    }
    if (cmd == cmd_exit)
        c.exits++;
    if (cmd == cmd_endofloop) {
        c.endofloop++;
        c.endofloopa = a;
    }
    return 0;
}

void makecounter(counter& c)
{
    memset0(&c, sizeof(c));
    c.initheader(nullptr, "counter", counter_concb, type_bytestream);
}

threadentry* entryof(module* m)
{
    for (u32 i = 0; i < process->slotcount; i++) {
        threadentry* t = process->threadtable[i];
        if (t && t->owner == m)
            return t;
    }
    return nullptr;
}

void stopall(counter* const* list, u32 count)
{
    for (u32 i = 0; i < count; i++)
        process->stopthread(list[i]);
}

} // namespace

TEST(loop_without_threads_ends_at_once)
{
    counter handler;
    makecounter(handler);
    CHECK_EQ(process->activethreads, 0);
    process->defaulthandler = &handler;
    process->exitreason = nullptr;
    process->exitrequested = 0;
    process->loop();
    CHECK_EQ(handler.endofloop, 1);
    CHECK_EQ(handler.endofloopa, 1);
    CHECK_EQ(handler.exits, 0);                // '?' goes to the table, which is empty
    CHECK_EQ(process->exitrequested, 1);
    process->defaulthandler = nullptr;
    process->exitrequested = 0;
}

// A whole run whose application registers nothing: the loop ends at once, and
// kzvmain hands back the status word the application set, not the process's exit
// code (on Linux the entry ends the process with 0 all the same).
namespace {
void* wholerunblock;
void* givewholerunblock(int) { return wholerunblock; }
void answeryes()
{
    process->exitstatus = 1;
    process->exitcode = 0;
}
} // namespace

TEST(kzvmain_returns_the_status_word)
{
    sysprocess* saved = process;
    memsystemsource savedsource = mem_systemsource;
    wholerunblock = process->pool.getmem0(0x10000);
    if (!CHECK(wholerunblock != nullptr))
        return;
    mem_systemsource = givewholerunblock;
    kzvtest::mmainhook = answeryes;
    int status = kzvmain(nullptr);
    sysprocess* run = process;
    process = saved;
    mem_systemsource = savedsource;
    CHECK(run == wholerunblock);
    CHECK_EQ(status, 1);
    CHECK_EQ(run->exitcode, 0);
    CHECK_EQ(run->activethreads, 0);
    CHECK_EQ(run->exitrequested, 1);
    CHECK(kzvtest::mmainhook == nullptr);
    process->pool.freemem(wholerunblock);
}

TEST(startthread_registers_and_stopthread_frees_the_slot)
{
    counter a, b;
    makecounter(a);
    makecounter(b);
    process->startthread(&a, 100);
    CHECK_EQ(process->activethreads, 1);
    CHECK_EQ(a.state & 1, 1);
    threadentry* t = entryof(&a);
    if (!CHECK(t != nullptr))
        return;
    CHECK_EQ(t->interval, 100);
    CHECK_EQ(t->due, process->msnow + 100);
    process->stopthread(&a);
    CHECK_EQ(process->activethreads, 0);
    CHECK_EQ(a.state & 1, 0);
    process->startthread(&b, 50);               // reuses the stopped entry
    CHECK(entryof(&b) == t);
    b.unregister();                             // what every module's exit does first
    CHECK_EQ(b.state & 1, 0);
    process->stopthread(&b);                    // not registered: no effect
    b.unregister();
    CHECK_EQ(process->activethreads, 0);
}

// Changing one module's interval moves every module's next step to now + its own.
TEST(startthread_rebases_every_module)
{
    counter a, b;
    makecounter(a);
    makecounter(b);
    process->startthread(&a, 100);
    process->startthread(&b, 300);
    entryof(&a)->due = 12345;
    entryof(&b)->due = 777;
    process->startthread(&a, 200);
    CHECK_EQ(process->activethreads, 2);
    CHECK_EQ(entryof(&a)->interval, 200);
    CHECK_EQ(entryof(&a)->due, process->msnow + 200);
    CHECK_EQ(entryof(&b)->due, process->msnow + 300);
    counter* all[] = {&a, &b};
    stopall(all, 2);
}

// 1200 ms late at an interval of 500: three steps, one interval at a time.
TEST(late_steps_are_caught_up_one_by_one)
{
    counter a;
    makecounter(a);
    process->startthread(&a, 500);
    threadentry* t = entryof(&a);
    u32 start = os_getms32() - 1200;
    t->due = start;
    CHECK_EQ(process->sched(), 0);
    CHECK_EQ(t->due, start + 500);
    CHECK_EQ(process->sched(), 0);
    CHECK_EQ(process->sched(), 0);
    CHECK_EQ(a.steps, 3);
    CHECK_EQ(t->due, start + 1500);
    u32 wait = process->sched();
    CHECK_EQ(a.steps, 3);
    CHECK(wait > 0 && wait <= 300);
    process->stopthread(&a);
}

// A step over 2 s late is not caught up, and a due time further ahead than the
// interval means the clock went back or jumped: both step at once and re-base.
TEST(late_or_far_future_steps_at_once_and_rebases)
{
    static const struct { char const* name; s32 offset; u32 interval; } rows[] = {
        {"3 s late", -3000, 100},
        {"5 s ahead of a 100 ms interval", 5000, 100},
        {"9 s ahead of a 5 s interval", 9000, 5000},
    };
    for (auto const& r : rows) {
        kzvtest::setrow(r.name);
        counter a;
        makecounter(a);
        process->startthread(&a, r.interval);
        threadentry* t = entryof(&a);
        t->due = os_getms32() + (u32)r.offset;
        CHECK_EQ(process->sched(), 0);
        CHECK_EQ(a.steps, 1);
        CHECK_EQ(a.maxdepth, 1);
        CHECK_EQ(t->due, process->msnow + r.interval);
        CHECK_EQ(t->flags & thread_running, 0);
        process->stopthread(&a);
    }
    kzvtest::setrow(nullptr);
}

// An interval over 2000 ms waits for its time instead of counting as a jump.
TEST(long_intervals_wait)
{
    counter a;
    makecounter(a);
    process->startthread(&a, 5000);
    u32 wait = process->sched();
    CHECK_EQ(a.steps, 0);
    CHECK(wait > 4000 && wait <= 5000);
    CHECK(process->sched() <= wait);
    CHECK_EQ(a.steps, 0);
    process->stopthread(&a);
}

// Sleeping inside its own step: the others keep stepping and the sleeper is not
// stepped again, not even by the far-future rule.
void sleepinstep(counter& self)
{
    entryof(&self)->due = process->msnow + 100000;
    process->sleep(&self, 60);
}

TEST(sleep_inside_own_step_is_not_reentered)
{
    counter a, b;
    makecounter(a);
    makecounter(b);
    a.action = sleepinstep;
    a.limit = 1;
    process->startthread(&a, 1);
    process->startthread(&b, 5);
    entryof(&a)->due = os_getms32();
    realtimer watch;
    CHECK_EQ(process->sched(), 0);
    u32 elapsed = watch.msec();
    CHECK_EQ(a.steps, 1);
    CHECK_EQ(a.maxdepth, 1);
    CHECK(elapsed >= 60);
    CHECK(b.steps >= 3);
    CHECK_EQ(entryof(&a)->flags, 0);            // busy and running both cleared
    CHECK_EQ(b.maxdepth, 1);
    counter* all[] = {&a, &b};
    stopall(all, 2);
}

// Sleeping for another module inside a step still leaves the stepping one alone.
counter* sleeptarget;
void sleepforother(counter&) { process->sleep(sleeptarget, 40); }

TEST(sleep_for_another_module_does_not_reenter_the_caller)
{
    counter a, b;
    makecounter(a);
    makecounter(b);
    sleeptarget = &b;
    a.action = sleepforother;
    a.limit = 1;
    process->startthread(&a, 1);
    process->startthread(&b, 5);
    entryof(&a)->due = os_getms32();
    process->sched();
    CHECK_EQ(a.maxdepth, 1);
    CHECK_EQ(a.steps, 1);
    CHECK(b.steps >= 2);                        // b is not the one stepping: it runs
    counter* all[] = {&a, &b};
    stopall(all, 2);
}

TEST(sleep_without_threads_just_waits)
{
    CHECK_EQ(process->activethreads, 0);
    realtimer watch;
    process->sleep(nullptr, 30);
    CHECK(watch.msec() >= 30);
}

// A step that registers more modules than the table holds: the table is resized
// (and may move) during the pass, and the new modules are visited in it.
const u32 EXTRAS = 12;
counter* extra;
void startmany(counter&)
{
    for (u32 i = 0; i < EXTRAS; i++) {
        makecounter(extra[i]);
        process->startthread(&extra[i], 0);
    }
}

TEST(table_growing_during_a_pass)
{
    extra = (counter*)process->pool.getmem(EXTRAS * sizeof(counter));
    for (u32 i = 0; i < EXTRAS; i++)
        new (&extra[i]) counter();
    counter a;
    makecounter(a);
    a.action = startmany;
    a.limit = 1;
    process->startthread(&a, 0);
    u32 slots = process->slotcount;
    process->sched();
    CHECK(process->slotcount > slots);
    CHECK_EQ(process->activethreads, EXTRAS + 1);
    u32 visited = 0;
    for (u32 i = 0; i < EXTRAS; i++)
        visited += extra[i].steps > 0;
    CHECK_EQ(visited, EXTRAS);
    process->stopthread(&a);
    for (u32 i = 0; i < EXTRAS; i++)
        process->stopthread(&extra[i]);
    CHECK_EQ(process->activethreads, 0);
    process->pool.freemem(extra);
}

void stopafterthree(counter& self)
{
    if (self.steps == 3)
        process->exit(nullptr);
}

TEST(loop_steps_until_exit_then_tells_everyone)
{
    counter a, b, handler;
    makecounter(a);
    makecounter(b);
    makecounter(handler);
    a.action = stopafterthree;
    a.limit = 100;
    process->defaulthandler = &handler;
    process->exitrequested = 0;
    process->startthread(&a, 2);
    process->startthread(&b, 1000);
    process->loop();
    CHECK_EQ(a.steps, 3);
    CHECK_EQ(a.exits, 1);
    CHECK_EQ(b.exits, 1);
    CHECK_EQ(handler.endofloop, 1);
    CHECK_EQ(handler.endofloopa, 1);
    CHECK_EQ(process->exitrequested, 1);
    process->exitrequested = 0;
    process->defaulthandler = nullptr;
    counter* all[] = {&a, &b};
    stopall(all, 2);
}

void stopself(counter& self) { process->stopthread(&self); }

TEST(loop_ends_when_the_last_thread_stops)
{
    counter a;
    makecounter(a);
    a.action = stopself;
    a.limit = 1;
    process->exitrequested = 0;
    process->startthread(&a, 1);
    process->loop();
    CHECK_EQ(a.steps, 1);
    CHECK_EQ(a.exits, 0);                        // no longer in the table
    process->exitrequested = 0;
}
