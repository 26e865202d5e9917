// The socket calls of the CPUs that have them as ordinary system calls (x86-64 and
// ARM EABI). The wrappers name each call by its socketcall number on every CPU;
// here that number selects the system call. Included by the CPU headers after the
// numbers and the trap.
#pragma once

namespace kzv {

inline long sysarch_socketcall(int call, long const* args)
{
    static const long numbers[15] = {0, SYS_socket, SYS_bind, SYS_connect, SYS_listen, SYS_accept,
                                     0, 0, 0, 0, 0, 0, 0, 0, SYS_setsockopt};
    if (call <= 0 || call > 14 || !numbers[call])
        return -38;             // ENOSYS
    return systrap(numbers[call], args[0], args[1], args[2], args[3], args[4]);
}

} // namespace kzv
