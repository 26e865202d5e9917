// The proof that the pools' red zones work: one byte written just past a pool
// block must stop the run with AddressSanitizer's report. CTest passes this binary
// only when that report appears, so a build whose pools stop poisoning fails here.
#include "../harness/harness.h"
#include "../../framework/mem.h"
#include "../../framework/sysprocess.h"

using namespace kzv;

TEST(write_past_a_pool_block)
{
    static_assert(MEM_REDZONE > 0, "this proof is built only in the sanitizer build");
    u8* p = (u8*)process->pool.getmem(32);
    volatile u8* v = p;
    v[31] = 1;                  // the last byte of the block: fine
    kzvtest::note("writing one byte past a 32-byte pool block");
    v[32] = 1;                  // into the red zone: the sanitizer ends the run here
    CHECK(!"the overrun was not reported");
}
