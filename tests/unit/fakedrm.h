// A fake DRM device behind the framebuffer back-end's device layer: a card with
// a few connectors, two CRTCs and their encoders, dumb buffers mapped as
// anonymous memory, page flips that complete when the test says so (or at once),
// and a count of every object alive, so that a test sees what an open or close
// left behind. The back-end's flip thread calls in concurrently: the fields it
// reaches go through __atomic builtins.
#pragma once
#include "../harness/harness.h"
#include "../../framework/memprim.h"
#include "../../framework/os.h"
#include "../../platform/linux/framebuffer.h"
#include "../../platform/linux/syscalls.h"

namespace kzvtest {

const u32 FAKE_CONNECTORS = 4;
const u32 FAKE_CRTCS = 2;
const u32 FAKE_CRTCBASE = 200, FAKE_CONNECTORBASE = 100, FAKE_ENCODERBASE = 300, FAKE_FBBASE = 500;
const u32 FAKE_SAVEDFB = 77;
const long FAKE_EACCES = -13, FAKE_EBUSY = -16, FAKE_EINVAL = -22, FAKE_EAGAIN = -11;

inline void atomicadd(u32& v, u32 x) { __atomic_add_fetch(&v, x, __ATOMIC_ACQ_REL); }

struct fakedrm {
    drmdevice ops;              // first: the back-end is handed &ops

    // The card.
    u32 connectors;             // how many GETRESOURCES lists
    u32 connection[FAKE_CONNECTORS];
    u32 modes[FAKE_CONNECTORS];
    u32 currentencoder[FAKE_CONNECTORS];    // the connector's encoder_id (0: none)
    u32 encodercrtc;            // the CRTC id GETENCODER answers (0: none)
    u32 possiblecrtcs;
    u32 width, height;
    u32 pitchalign;             // CREATE_DUMB rounds the pitch up to this
    u32 savedon;                // GETCRTC finds a mode and framebuffer FAKE_SAVEDFB
    u32 growmodes;              // modes added to connector 0 after its first query
    u32 failrequest;            // this request fails (with `failresult`) ...
    long failresult;
    u32 failflipat;             // the page flip of this number (1 = first) fails

    // What the back-end did.
    u32 openflags;
    u32 fdsopen, dumbs, fbs, maps;          // alive
    u32 connectorqueries;
    u32 setcrtcs;
    drmcrtc lastset;
    u32 lastsetconnector;
    u32 handles;
    void* mapped[8];
    u64 mappedsize[8];

    // Flips, shared with the flip thread.
    u32 pending;
    u32 flips;                  // flips requested
    u32 completed;
    u32 wrongorder;             // flips not to the framebuffer after the last one
    u32 autocomplete;           // every read completes the pending flip
    u32 release;                // flips the test lets complete
    u32 reads;

    // The pause of one thread, held back.
    u32 heldthread;             // FB_THREADS: none
    u32 heldms;                 // each pause of that thread lasts this long ...
    u32 holdforever;            // ... or until `letgo` is set
    u32 letgo;
    u32 heldpauses;

    static fakedrm* of(drmdevice* d) { return (fakedrm*)(void*)d; }

    void reset(u32 w = 64, u32 h = 48)
    {
        memset0(this, sizeof(*this));
        ops = {fakeopen, fakeioctl, fakemap, fakeunmap, fakeread, fakeclose, fakepause};
        connectors = 2;
        connection[0] = 2;                  // the first is disconnected
        connection[1] = drmconnection_connected;
        modes[0] = 0;
        modes[1] = 3;
        currentencoder[1] = FAKE_ENCODERBASE + 1;
        encodercrtc = FAKE_CRTCBASE + 1;
        possiblecrtcs = 2;
        width = w;
        height = h;
        pitchalign = 4;
        heldthread = FB_THREADS;
    }

    u32 pitch() const { return (width * 4 + pitchalign - 1) / pitchalign * pitchalign; }
    u32 alive() const { return fdsopen + dumbs + fbs + maps; }

    static long fakeopen(drmdevice* d, char const* path, int flags)
    {
        fakedrm* f = of(d);
        f->openflags = (u32)flags;
        f->fdsopen++;
        return 42;
    }
    static void fakeclose(drmdevice* d, int fd)
    {
        if (fd == 42)
            of(d)->fdsopen--;
    }
    static void* fakemap(drmdevice* d, int fd, u64 length, u64 offset)
    {
        fakedrm* f = of(d);
        long r = sys_mmap(nullptr, (uptr)length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (sys_failedaddress(r))
            return nullptr;
        for (u32 i = 0; i < 8; i++)
            if (!f->mapped[i]) {
                f->mapped[i] = (void*)r;
                f->mappedsize[i] = length;
                break;
            }
        f->maps++;
        return (void*)r;
    }
    static void fakeunmap(drmdevice* d, void* address, u64 length)
    {
        fakedrm* f = of(d);
        for (u32 i = 0; i < 8; i++)
            if (f->mapped[i] == address && f->mappedsize[i] == length) {
                f->mapped[i] = nullptr;
                f->maps--;
                sys_munmap(address, (uptr)length);
            }
    }
    // A vblank event (type 1) ahead of every flip-complete event: the walk must
    // step over events it does not take.
    static long fakeread(drmdevice* d, int fd, void* buffer, u32 capacity)
    {
        fakedrm* f = of(d);
        atomicadd(f->reads, 1);
        if (!fbload(f->pending) || capacity < 64)
            return FAKE_EAGAIN;
        if (!fbload(f->autocomplete)) {
            u32 r = fbload(f->release);
            if (!r || !__atomic_compare_exchange_n(&f->release, &r, r - 1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
                return FAKE_EAGAIN;
        }
        drmeventvblank e[2];
        memset0(e, sizeof e);
        e[0].base.type = 1;
        e[0].base.length = sizeof e[0];
        e[1].base.type = drmevent_flipcomplete;
        e[1].base.length = sizeof e[1];
        e[1].crtcid = f->encodercrtc;
        memcpy(buffer, e, sizeof e);
        fbstore(f->pending, 0);
        atomicadd(f->completed, 1);
        return sizeof e;
    }
    static void fakepause(drmdevice* d, u32 thread, u32 ms)
    {
        fakedrm* f = of(d);
        if (thread != f->heldthread) {
            os_sleep(ms);
            return;
        }
        atomicadd(f->heldpauses, 1);
        if (!fbload(f->holdforever)) {
            os_sleep(f->heldms);
            return;
        }
        for (u32 i = 0; i < 60000 && !fbload(f->letgo); i++)
            os_sleep(1);
    }

    static long fakeioctl(drmdevice* d, int fd, u32 request, void* argument)
    {
        fakedrm* f = of(d);
        if (fd != 42)
            return -9;
        if (request == f->failrequest)
            return f->failresult;
        switch (request) {
        case drmioctl_getresources: return f->getresources(*(drmcardres*)argument);
        case drmioctl_getconnector: return f->getconnector(*(drmconnector*)argument);
        case drmioctl_getencoder: {
            drmencoder& e = *(drmencoder*)argument;
            e.crtcid = f->encodercrtc;
            e.possiblecrtcs = f->possiblecrtcs;
            return 0;
        }
        case drmioctl_createdumb: {
            drmcreatedumb& c = *(drmcreatedumb*)argument;
            if (c.width != f->width || c.height != f->height || c.bpp != 32)
                return FAKE_EINVAL;
            c.handle = ++f->handles;
            c.pitch = f->pitch();
            c.size = (u64)c.pitch * c.height;
            f->dumbs++;
            return 0;
        }
        case drmioctl_addfb: {
            drmfbcmd& c = *(drmfbcmd*)argument;
            if (c.pitch != f->pitch() || c.depth != 24 || c.bpp != 32)
                return FAKE_EINVAL;
            c.fbid = FAKE_FBBASE + c.handle;
            f->fbs++;
            return 0;
        }
        case drmioctl_mapdumb: ((drmmapdumb*)argument)->offset = (u64)((drmmapdumb*)argument)->handle << 32; return 0;
        case drmioctl_rmfb: f->fbs--; return 0;
        case drmioctl_destroydumb: f->dumbs--; return 0;
        case drmioctl_getcrtc: {
            drmcrtc& c = *(drmcrtc*)argument;
            if (f->savedon) {
                c.fbid = FAKE_SAVEDFB;
                c.modevalid = 1;
                c.mode.hdisplay = 1024;
                c.mode.vdisplay = 768;
            }
            return 0;
        }
        case drmioctl_setcrtc: {
            drmcrtc& c = *(drmcrtc*)argument;
            f->setcrtcs++;
            f->lastset = c;
            f->lastsetconnector = c.countconnectors ? *(u32 const*)(uptr)c.connectorids : 0;
            return 0;
        }
        case drmioctl_pageflip: return f->pageflip(*(drmpageflip*)argument);
        default: return FAKE_EINVAL;
        }
    }

    long getresources(drmcardres& r)
    {
        u32 const capacity[4] = {r.countfbs, r.countcrtcs, r.countconnectors, r.countencoders};
        u32 const counts[4] = {0, FAKE_CRTCS, connectors, connectors};
        u64 const arrays[4] = {r.fbids, r.crtcids, r.connectorids, r.encoderids};
        u32 const bases[4] = {FAKE_FBBASE, FAKE_CRTCBASE, FAKE_CONNECTORBASE, FAKE_ENCODERBASE};
        for (u32 a = 0; a < 4; a++)
            for (u32 i = 0; i < counts[a] && i < capacity[a]; i++)
                ((u32*)(uptr)arrays[a])[i] = bases[a] + i;
        r.countfbs = 0;
        r.countcrtcs = FAKE_CRTCS;
        r.countconnectors = connectors;
        r.countencoders = connectors;
        return 0;
    }

    long getconnector(drmconnector& c)
    {
        u32 i = c.connectorid - FAKE_CONNECTORBASE;
        if (i >= connectors)
            return FAKE_EINVAL;
        connectorqueries++;
        u32 n = modes[i];
        if (c.countmodes >= n && n) {
            drmmodeinfo* m = (drmmodeinfo*)(uptr)c.modes;
            for (u32 k = 0; k < n; k++) {
                memset0(&m[k], sizeof m[k]);
                m[k].hdisplay = (u16)(k == 0 ? width : 800);
                m[k].vdisplay = (u16)(k == 0 ? height : 600);
            }
        }
        if (c.countencoders >= 1)
            *(u32*)(uptr)c.encoderids = FAKE_ENCODERBASE + i;
        for (u32 k = 0; k < 2 && k < c.countprops; k++) {
            ((u32*)(uptr)c.propids)[k] = k + 1;
            ((u64*)(uptr)c.propvalues)[k] = 0;
        }
        c.countmodes = n;
        c.countencoders = 1;
        c.countprops = 2;
        c.encoderid = currentencoder[i];
        c.connection = connection[i];
        if (i == 1 && growmodes) {      // a mode appears between the two calls
            modes[i] += growmodes;
            growmodes = 0;
        }
        return 0;
    }

    long pageflip(drmpageflip const& p)
    {
        if (fbload(pending))
            return FAKE_EBUSY;
        u32 n = fbload(flips) + 1;
        if (n == failflipat)
            return FAKE_EINVAL;
        if (p.fbid != FAKE_FBBASE + 1 + (n - 1) % FB_BUFFERS || !(p.flags & drmflip_event))
            atomicadd(wrongorder, 1);
        fbstore(flips, n);
        fbstore(pending, 1);
        return 0;
    }
};

inline fakedrm& thedrm()
{
    static fakedrm f;
    return f;
}

// Puts the fake in the device layer for one test (configured by the test), and
// the kernel's back after it.
struct usefakedrm {
    fakedrm& f;
    explicit usefakedrm(u32 w = 64, u32 h = 48) : f(thedrm())
    {
        f.reset(w, h);
        framebuffer_drm = &f.ops;
    }
    ~usefakedrm()
    {
        fbstore(f.letgo, 1);
        framebuffer_drm = &drmdevice_kernel;
    }
};

// Polls `done` every millisecond for up to `ms`; true once it holds.
template <class F> bool waitfor(F done, u32 ms = 10000)
{
    u32 start = os_getms32();
    while (!done()) {
        if (os_getms32() - start >= ms)
            return false;
        os_sleep(1);
    }
    return true;
}

} // namespace kzvtest
