// The layer's record, the standard handles, the writer that gets every byte out,
// and the run-time binding of Winmm and Winsock. A library is loaded once: the
// record keeps the answer, found or not, so a missing library costs one lookup.
#include "winos.h"
#include "../../framework/sysprocess.h"

namespace kzv {

const u32 WRITE_HARDFAILURES = 100;     // consecutive failed writes before the rest is dropped

winstate* win_state()
{
    if (!process)
        return nullptr;
    winstate* s = (winstate*)process->slots[processslot_platform];
    if (!s) {
        s = (winstate*)process->pool.sgetmem0(sizeof(winstate));
        process->slots[processslot_platform] = s;
    }
    return s;
}

static void knowhandles(winstate* s)
{
    if (s->handlesknown)
        return;
    s->output = GetStdHandle(WIN_STDOUTPUT);
    s->error = GetStdHandle(WIN_STDERROR);
    s->handlesknown = true;
}

winhandle win_stdoutput()
{
    winstate* s = win_state();
    if (!s)
        return GetStdHandle(WIN_STDOUTPUT);
    knowhandles(s);
    return s->output;
}

winhandle win_stderror()
{
    winstate* s = win_state();
    if (!s)
        return GetStdHandle(WIN_STDERROR);
    knowhandles(s);
    return s->error;
}

// A pipe takes what it can and a console all of it; a write that fails or takes
// nothing is tried again after 1 ms, up to WRITE_HARDFAILURES times in a row.
u32 win_writeall(winhandle h, char const* bytes, u32 count)
{
    if (win_isinvalid(h))
        return 0;
    u32 done = 0, failures = 0;
    while (done < count) {
        u32 written = 0;
        if (WriteFile(h, bytes + done, count - done, &written, nullptr) && written) {
            done += written;
            failures = 0;
            continue;
        }
        if (++failures > WRITE_HARDFAILURES)
            break;
        Sleep(1);
    }
    return done;
}

void win_trimworkingset() { SetProcessWorkingSetSize(GetCurrentProcess(), ~(uptr)0, ~(uptr)0); }

winproc win_lookup(winhandle library, char const* name) { return library ? GetProcAddress(library, name) : nullptr; }

win_timegettime win_clock()
{
    winstate* s = win_state();
    if (!s)
        return nullptr;
    if (!s->clocktried) {
        s->clocktried = true;
        s->timegettime = (win_timegettime)win_lookup(LoadLibraryA("Winmm.dll"), "timeGetTime");
    }
    return s->timegettime;
}

// Every function is looked up before the table counts as ready: a library of
// another version that lacks one gives no sockets rather than a call through null.
static bool bindsockets(winsocktable& t, winhandle library)
{
    t.socket = (ws_socket)win_lookup(library, "socket");
    t.bind = (ws_bind)win_lookup(library, "bind");
    t.listen = (ws_listen)win_lookup(library, "listen");
    t.accept = (ws_accept)win_lookup(library, "accept");
    t.recv = (ws_recv)win_lookup(library, "recv");
    t.recvfrom = (ws_recvfrom)win_lookup(library, "recvfrom");
    t.send = (ws_send)win_lookup(library, "send");
    t.sendto = (ws_sendto)win_lookup(library, "sendto");
    t.ioctlsocket = (ws_ioctlsocket)win_lookup(library, "ioctlsocket");
    t.connect = (ws_connect)win_lookup(library, "connect");
    t.closesocket = (ws_closesocket)win_lookup(library, "closesocket");
    t.wsacleanup = (ws_wsacleanup)win_lookup(library, "WSACleanup");
    t.wsagetlasterror = (ws_wsagetlasterror)win_lookup(library, "WSAGetLastError");
    t.gethostbyname = (ws_gethostbyname)win_lookup(library, "gethostbyname");
    t.gethostname = (ws_gethostname)win_lookup(library, "gethostname");
    t.setsockopt = (ws_setsockopt)win_lookup(library, "setsockopt");
    t.getsockopt = (ws_getsockopt)win_lookup(library, "getsockopt");
    return t.socket && t.bind && t.listen && t.accept && t.recv && t.recvfrom && t.send && t.sendto &&
           t.ioctlsocket && t.connect && t.closesocket && t.wsacleanup && t.wsagetlasterror && t.gethostbyname &&
           t.gethostname && t.setsockopt && t.getsockopt;
}

winsocktable* win_sockets()
{
    winstate* s = win_state();
    if (!s)
        return nullptr;
    if (!s->socketstried) {
        s->socketstried = true;
        winhandle library = LoadLibraryA("ws2_32.dll");
        ws_wsastartup startup = (ws_wsastartup)win_lookup(library, "WSAStartup");
        alignas(16) u8 wsadata[512];            // WSADATA is 408 bytes on x64
        winsocktable* t = (winsocktable*)process->pool.sgetmem0(sizeof(winsocktable));
        if (t && startup && startup(0x0101, wsadata) == 0 && bindsockets(*t, library)) {
            t->ready = true;
            s->sockets = t;
        }
        win_trimworkingset();
    }
    return s->sockets;
}

} // namespace kzv
