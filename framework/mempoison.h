// The pools' use of the sanitizer's manual poisoning: free pool memory and the red
// zone behind each block are marked unaddressable, so that the sanitizer sees
// overruns inside our own pools. Outside the sanitizer build both calls vanish.
#pragma once
#include "types.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" void __asan_poison_memory_region(void const volatile*, unsigned long);
extern "C" void __asan_unpoison_memory_region(void const volatile*, unsigned long);

namespace kzv {
inline void mem_poison(void const* p, u32 n)
{
    if (n)
        __asan_poison_memory_region(p, n);
}
inline void mem_unpoison(void const* p, u32 n)
{
    if (n)
        __asan_unpoison_memory_region(p, n);
}
} // namespace kzv
#else
namespace kzv {
inline void mem_poison(void const*, u32) {}
inline void mem_unpoison(void const*, u32) {}
} // namespace kzv
#endif
