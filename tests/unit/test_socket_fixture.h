// Loopback sockets for the socket and tcp stream tests: a listening port found
// free at run time and a poll for a non-blocking answer, both bounded.
#pragma once
#include "../../framework/os.h"

namespace kzvtest {

using namespace kzv;

const u32 LOOPBACK = 0x7f000001u;

// A free port near one picked from the process id, so parallel runs do not meet;
// a port that another program holds is skipped.
inline int listenonfreeport(int& port)
{
    for (int i = 0; i < 200; i++) {
        port = 20000 + (os_getpid() * 7 + i * 131) % 40000;
        int fd = os_tcpserver(port, true);
        if (fd)
            return fd;
    }
    return 0;
}

// Calls attempt() each millisecond until it answers something other than "not
// now" (0, or -2 for TCP), for at most three seconds; 0 when it never did.
template <class F> int pollfor(F attempt)
{
    for (int i = 0; i < 3000; i++) {
        int r = attempt();
        if (r != -2 && r != 0)
            return r;
        os_sleep(1);
    }
    return 0;
}

} // namespace kzvtest
