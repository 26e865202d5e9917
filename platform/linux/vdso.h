// The kernel's vDSO clock of the freestanding programs: found once at the start
// from the auxiliary vector behind the environment, before anything else runs;
// null where the kernel maps no vDSO (qemu-user) or the program was started by a
// C library, and the clock is then read with the system call.
#pragma once
#include "sysarch.h"

namespace kzv {

typedef int (*vdsogettimeofday)(ktimeval* time, ktimezone* zone);

// envp is the kernel's environment array on the initial stack.
void vdso_find(char const* const* envp);
vdsogettimeofday vdso_gettimeofday();
// True when the auxiliary vector names a vDSO.
bool vdso_mapped(char const* const* envp);

} // namespace kzv
