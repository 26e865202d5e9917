// The DRM framebuffer back-end: kernel mode setting on /dev/dri/card0, three dumb
// buffers shown in turn by page flips, and windows' extra buffers composed into
// them by two drawing threads (top and bottom half of the screen). Only the
// buffer mode is served: a window makes an extra buffer (150, 151), places it
// (152), and the list of placed buffers is handed to the threads (155) when a
// frame is due (154). The back-end is opened only by the driver's flag 4.
// What the threads touch lives in a block of its own (`fbshared`); close stops the
// threads and waits for them, bounded, before anything is released, and keeps
// that block, the lists and the extra buffers (a deliberate leak, said on
// standard error) when a thread has not stopped. Every kernel call goes through
// the device layer (`framebuffer_drm`), which the tests replace with a fake.
#pragma once
#include "drm.h"
#include "drmdevice.h"
#include "../../gui/guidriver.h"
#include "../../gui/image.h"

namespace kzv {

const u32 FB_BUFFERS = 3;           // dumb buffers, framebuffers and ring slots
const u32 FB_LISTS = 3;             // pending lists, in a cycle
const u32 FB_DRAWTHREADS = 2;       // top and bottom half
const u32 FB_THREADS = 1 + FB_DRAWTHREADS;
const u32 FB_LISTGROWTH = 64;       // entries a pending list grows by
const u32 FB_MAXENTRIES = 65536;    // more placed buffers in one frame are refused
const u32 FB_ARENABYTES = 32768;    // query arrays: hundreds of modes, ids and properties
const u32 FB_QUERYTRIES = 4;        // a count that keeps growing between two calls fails the query
const u32 FB_EVENTBYTES = 1024;     // events read at once
const u32 FB_STOPWAITMS = 3000;     // longest wait for the threads at close
const u64 FB_MAXBUFFERBYTES = 0x10000000;   // an extra buffer of at most 256 MiB
const u32 FB_MAXSIDE = 16384;       // mode and buffer sides beyond this are refused

// Thread numbers, as the device layer's pause sees them.
enum : u32 { fbthread_flip = 0, fbthread_top = 1, fbthread_bottom = 2 };

// A window's extra buffer: 32-bit pixels of format 888 or 8888, rows width x 4 bytes.
struct fbbuffer {
    u32 width;
    u32 height;
    u32 format;
    u32* pixels;
};

// A placed buffer: its top left in screen units and a copy of the buffer's record,
// so that the drawing threads never read the window's record.
struct fbentry {
    s32 x;
    s32 y;
    fbbuffer buffer;
};

struct fbpendinglist {
    u32 count;
    u32 capacity;
    fbentry* entries;
    // Bit n: drawing thread n has not yet drawn the list handed over. While it is
    // not 0 the list is the threads' and the module side neither fills, empties
    // nor resizes it.
    u32 holders;
};

// The back-end's part of a window's record.
struct fbwindowpart {
    fbbuffer buffer;
    image bufferimage;      // over the extra buffer (151)
};

// One of the three threads: what it is started with, and its own flag, set as
// its last act.
struct fbthreadstate {
    struct fbshared* shared;
    u32 number;             // fbthread_
    u32 started;            // set by the module side before the start
    u32 stopped;            // set by the thread as it ends
};

// The device state shared with the threads. Fields marked shared are u32, read
// with acquire loads and written with release stores (or atomic updates).
struct fbshared {
    drmdevice* device;
    int fd;                 // -1: not open
    u32 stop;               // shared: bit 0 asks the threads to end; stays set
    u32 credits;            // shared: frames the module side may still hand over
    u32 failed;             // shared: a page flip failed, the flips have ended
    u32 width;              // the mode's, in pixels
    u32 height;
    u32 crtcid;
    u32 connectorid;
    u32 crtcindex;          // position of the CRTC in GETRESOURCES' list
    u32 pitch;              // of the dumb buffer created last, bytes
    u64 size;
    u32 handle;
    u32 displayed;          // shared: the framebuffer flipped to last
    u32 drawing;            // shared: the framebuffer the threads draw into
    u32 flips;              // shared: completed flips
    u32 factor;             // shared: enlargement of every entry, 1 or 2
    u32 writeindex;         // the ring slot the next list goes to
    u32 readindex[FB_DRAWTHREADS];
    u32 handles[FB_BUFFERS];
    u32 fbids[FB_BUFFERS];
    u32 pitches[FB_BUFFERS];
    u64 sizes[FB_BUFFERS];
    u32* pixels[FB_BUFFERS];
    u32 ring[FB_BUFFERS];   // shared: pending list index + 1, 0 while empty
    fbpendinglist lists[FB_LISTS];
    fbthreadstate threads[FB_THREADS];
    u8 crtcsaved;           // `saved` holds the CRTC as found
    u8 crtcset;             // our mode is on the CRTC
    drmpageflip flip;
    drmconnector connector;
    drmmodeinfo mode;
    drmcrtc saved;
    u32 arenaused;
    alignas(8) u8 arena[FB_ARENABYTES];
};

// Accesses to the shared words: acquire loads and release stores.
inline u32 fbload(u32 const& v) { return __atomic_load_n(&v, __ATOMIC_ACQUIRE); }
inline void fbstore(u32& v, u32 x) { __atomic_store_n(&v, x, __ATOMIC_RELEASE); }

class framebuffer : public module {
public:
    fbshared* shared;       // null when the device is not open
    u32 current;            // the pending list 152 appends to
    guiwindow** windows;    // windows with an extra buffer, freed at close
    u32 windowcount;
    u32 windowcapacity;
    char const* failure;    // why the open failed

    void init(mem* p);      // an empty, closed record
    void exit(bool keep);
    void mexit();

    // Opens the device: on success the ready flag, the display information and
    // the default handler are set; on failure the failed flag and `failure`.
    bool open();
    void close();           // idempotent; every command afterwards answers 0
    sptr command(unsigned code, int a, int b, guiwindow* w);

    static fbwindowpart* part(guiwindow* w) { return w->backendfields<fbwindowpart>(); }

private:
    bool fail(char const* why);
    bool opendevice();
    bool startthreads(fbshared* s);
    bool stopthreads(fbshared* s);
    void releasedevice(fbshared* s);
    void releasewindows();
    bool haswindow(guiwindow* w) const;
    bool listwindow(guiwindow* w);
    bool isheld(u32 const* pixels) const;
    sptr createbuffer(guiwindow* w, u32 width, u32 height);
    sptr getbufferimage(guiwindow* w);
    sptr setbuffer(guiwindow* w, s32 x, s32 y);
    sptr framedue();
    sptr flip();
};

sptr framebuffer_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The device layer the back-end opens; the kernel's unless a test put its own.
extern drmdevice* framebuffer_drm;

// The device queries and mode setting of the open, and the release of what they
// took (framebufferdevice.cpp). Each answers false with a reason in `why`.
bool fbdevice_open(fbshared* s, char const*& why);
void fbdevice_release(fbshared* s);

// The threads (framebufferthreads.cpp).
void fbthread_flipmain(void* state);
void fbthread_drawmain(void* state);

// Composes one entry into one half (0 top, 1 bottom) of a framebuffer of
// width x height pixels whose rows are `stride` pixels apart. With factor 2 the
// screen is width / 2 by height / 2 units and each unit 2 x 2 pixels; any other
// factor draws as 1. The half boundary is (height / f) / 2 units. The entry is cut
// to its half and to the screen, its left and top parts by moving the source start;
// 8888 pixels with alpha 5 or less are skipped. Touches no memory outside the
// rectangle it draws.
void fbcompose(u32* target, u32 stride, u32 width, u32 height, u32 factor, u32 half, fbentry const& e);

// The Linux driver's flag-4 open: 1 when the framebuffer is ready (kind 7), else
// 0 with the driver's `failure` set; a back-end opened earlier stays.
int framebuffer_openfor(guidriver& d);

} // namespace kzv
