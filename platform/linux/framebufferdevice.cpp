// Opening the DRM device for the framebuffer back-end, and giving everything back.
// Facts relied on:
// - GETRESOURCES and GETCONNECTOR answer the real counts whatever capacity they
//   were given, and fill an array only up to (GETCONNECTOR: only when it holds
//   all of) its capacity; a count may grow between two calls (a hot-plug), so a
//   second answer above the capacity means "ask again".
// - GETCONNECTOR with no room for modes probes the outputs first.
// - An encoder's `possiblecrtcs` is a bit mask over GETRESOURCES' CRTC positions.
// - Mode setting needs the master role: while a display server holds it,
//   SETCRTC fails, and the open fails with everything given back.
// - A dumb buffer's pitch is the driver's choice and may exceed width x 4.
// Every array of a query is carved from the shared block's arena with its bound
// checked; the arena is reset for each connector.
#include "framebuffer.h"
#include "../../framework/memprim.h"
#include "../../framework/stdio.h"
#include "syscalls.h"

namespace kzv {

const char FB_DEVICEPATH[] = "/dev/dri/card0";

static bool drmcall(fbshared* s, u32 request, void* argument)
{
    return !sys_failed(s->device->ioctl(s->device, s->fd, request, argument));
}

// Room for count items of `itemsize` bytes, 8-aligned; null when it does not fit.
static void* carve(fbshared* s, u32 count, u32 itemsize)
{
    u64 bytes = ((u64)count * itemsize + 7) & ~(u64)7;
    if (bytes > FB_ARENABYTES - s->arenaused)
        return nullptr;
    void* p = s->arena + s->arenaused;
    s->arenaused += (u32)bytes;
    return p;
}

static u32 lesser(u32 a, u32 b) { return a < b ? a : b; }

// The four id lists of the card; the arena keeps them for the whole open.
static bool getresources(fbshared* s, drmcardres& res)
{
    for (u32 attempt = 0; attempt < FB_QUERYTRIES; attempt++) {
        s->arenaused = 0;
        memset0(&res, sizeof res);
        if (!drmcall(s, drmioctl_getresources, &res))
            return false;
        u32 fbs = res.countfbs, crtcs = res.countcrtcs, connectors = res.countconnectors,
            encoders = res.countencoders;
        void* fbids = carve(s, fbs, 4);
        void* crtcids = carve(s, crtcs, 4);
        void* connectorids = carve(s, connectors, 4);
        void* encoderids = carve(s, encoders, 4);
        if (!fbids || !crtcids || !connectorids || !encoderids)
            return false;
        res.fbids = (uptr)fbids;
        res.crtcids = (uptr)crtcids;
        res.connectorids = (uptr)connectorids;
        res.encoderids = (uptr)encoderids;
        if (!drmcall(s, drmioctl_getresources, &res))
            return false;
        if (res.countfbs > fbs || res.countcrtcs > crtcs || res.countconnectors > connectors ||
            res.countencoders > encoders)
            continue;
        return true;
    }
    return false;
}

// One connector's query into `s->connector`, its arrays carved after `base`.
// False when the query fails or does not fit.
static bool getconnector(fbshared* s, u32 id, u32 base)
{
    drmconnector& c = s->connector;
    for (u32 attempt = 0; attempt < FB_QUERYTRIES; attempt++) {
        s->arenaused = base;
        memset0(&c, sizeof c);
        c.connectorid = id;
        if (!drmcall(s, drmioctl_getconnector, &c))
            return false;
        u32 modes = c.countmodes, props = c.countprops, encoders = c.countencoders;
        // With no modes one scratch mode is given, so that the second call does
        // not probe again.
        void* modearray = carve(s, modes ? modes : 1, sizeof(drmmodeinfo));
        void* propids = carve(s, props, 4);
        void* propvalues = carve(s, props, 8);
        void* encoderids = carve(s, encoders, 4);
        if (!modearray || !propids || !propvalues || !encoderids)
            return false;
        c.modes = (uptr)modearray;
        c.countmodes = modes ? modes : 1;
        c.propids = (uptr)propids;
        c.propvalues = (uptr)propvalues;
        c.encoderids = (uptr)encoderids;
        if (!drmcall(s, drmioctl_getconnector, &c))
            return false;
        if (c.countmodes > (modes ? modes : 1) || c.countprops > props || c.countencoders > encoders)
            continue;
        c.countmodes = modes ? lesser(c.countmodes, modes) : 0;
        return true;
    }
    return false;
}

// The first connector that answers, is connected and has a mode; its first mode.
static bool findconnector(fbshared* s, drmcardres const& res)
{
    u32 base = s->arenaused;
    u32 const* ids = (u32 const*)(uptr)res.connectorids;
    for (u32 i = 0; i < res.countconnectors; i++) {
        if (!getconnector(s, ids[i], base))
            continue;
        drmconnector const& c = s->connector;
        if (c.connection != drmconnection_connected || c.countmodes == 0)
            continue;
        memcpy(&s->mode, (void const*)(uptr)c.modes, sizeof s->mode);
        s->connectorid = ids[i];
        return s->mode.hdisplay && s->mode.vdisplay && s->mode.hdisplay <= FB_MAXSIDE &&
               s->mode.vdisplay <= FB_MAXSIDE;
    }
    return false;
}

static bool getencoder(fbshared* s, u32 id, drmencoder& e)
{
    memset0(&e, sizeof e);
    e.encoderid = id;
    return drmcall(s, drmioctl_getencoder, &e);
}

static bool crtcposition(drmcardres const& res, u32 crtcid, u32& position)
{
    u32 const* ids = (u32 const*)(uptr)res.crtcids;
    for (u32 i = 0; i < res.countcrtcs; i++)
        if (ids[i] == crtcid) {
            position = i;
            return true;
        }
    return false;
}

// The CRTC of the connector's encoder; when the connector has none, or its
// encoder drives none, the first CRTC that one of its encoders can drive.
static bool findcrtc(fbshared* s, drmcardres const& res)
{
    drmconnector const& c = s->connector;
    drmencoder e;
    if (c.encoderid && getencoder(s, c.encoderid, e) && e.crtcid &&
        crtcposition(res, e.crtcid, s->crtcindex)) {
        s->crtcid = e.crtcid;
        return true;
    }
    u32 const* encoders = (u32 const*)(uptr)c.encoderids;
    u32 const* crtcs = (u32 const*)(uptr)res.crtcids;
    for (u32 i = 0; i < c.countencoders; i++) {
        if (!getencoder(s, encoders[i], e))
            continue;
        for (u32 k = 0; k < res.countcrtcs && k < 32; k++)
            if (e.possiblecrtcs & (1u << k)) {
                s->crtcid = crtcs[k];
                s->crtcindex = k;
                return true;
            }
    }
    return false;
}

// A dumb buffer of the mode's size, its framebuffer and its mapping.
static bool createbuffer(fbshared* s, u32 i)
{
    drmcreatedumb create;
    memset0(&create, sizeof create);
    create.width = s->width;
    create.height = s->height;
    create.bpp = 32;
    if (!drmcall(s, drmioctl_createdumb, &create))
        return false;
    s->handles[i] = create.handle;
    s->handle = create.handle;
    s->pitch = create.pitch;
    s->size = create.size;
    // The drawing threads write pitch / 4 pixels a row for every row: both must fit.
    if (create.pitch % 4 || create.pitch / 4 < s->width || create.size < (u64)create.pitch * s->height)
        return false;
    drmfbcmd fb;
    memset0(&fb, sizeof fb);
    fb.width = s->width;
    fb.height = s->height;
    fb.pitch = create.pitch;
    fb.bpp = 32;
    fb.depth = 24;
    fb.handle = create.handle;
    if (!drmcall(s, drmioctl_addfb, &fb))
        return false;
    s->fbids[i] = fb.fbid;
    drmmapdumb map;
    memset0(&map, sizeof map);
    map.handle = create.handle;
    if (!drmcall(s, drmioctl_mapdumb, &map))
        return false;
    s->pixels[i] = (u32*)s->device->map(s->device, s->fd, create.size, map.offset);
    if (!s->pixels[i])
        return false;
    s->pitches[i] = create.pitch;
    s->sizes[i] = create.size;
    return true;
}

static bool setmode(fbshared* s)
{
    drmcrtc crtc;
    memset0(&crtc, sizeof crtc);
    crtc.crtcid = s->crtcid;
    crtc.connectorids = (uptr)&s->connectorid;
    crtc.countconnectors = 1;
    crtc.fbid = s->fbids[0];
    crtc.modevalid = 1;
    crtc.mode = s->mode;
    if (!drmcall(s, drmioctl_setcrtc, &crtc))
        return false;
    s->crtcset = 1;
    return true;
}

bool fbdevice_open(fbshared* s, char const*& why)
{
    long fd = s->device->open(s->device, FB_DEVICEPATH, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (sys_failed(fd)) {
        why = "no DRM device at /dev/dri/card0";
        return false;
    }
    s->fd = (int)fd;
    drmcardres res;
    if (!getresources(s, res)) {
        why = "the DRM device's resources could not be read";
        return false;
    }
    if (res.countconnectors == 0) {
        why = "the DRM device lists no connectors";
        return false;
    }
    if (!findconnector(s, res)) {
        why = "no connected DRM connector with a mode";
        return false;
    }
    s->width = s->mode.hdisplay;
    s->height = s->mode.vdisplay;
    if (!findcrtc(s, res)) {
        why = "no CRTC can drive the connector";
        return false;
    }
    for (u32 i = 0; i < FB_BUFFERS; i++)
        if (!createbuffer(s, i)) {
            why = "the framebuffers could not be made";
            return false;
        }
    s->arenaused = 0;
    memset0(&s->saved, sizeof s->saved);
    s->saved.crtcid = s->crtcid;
    if (!drmcall(s, drmioctl_getcrtc, &s->saved)) {
        why = "the CRTC could not be read";
        return false;
    }
    s->crtcsaved = 1;
    if (!setmode(s)) {
        why = "the mode could not be set (another program holds the display)";
        return false;
    }
    return true;
}

// The CRTC as it was found; one that was off is switched off again.
static void restorecrtc(fbshared* s)
{
    if (!s->crtcset || !s->crtcsaved)
        return;
    drmcrtc crtc;
    memset0(&crtc, sizeof crtc);
    crtc.crtcid = s->crtcid;
    if (s->saved.modevalid && s->saved.fbid) {
        crtc.connectorids = (uptr)&s->connectorid;
        crtc.countconnectors = 1;
        crtc.fbid = s->saved.fbid;
        crtc.x = s->saved.x;
        crtc.y = s->saved.y;
        crtc.modevalid = 1;
        crtc.mode = s->saved.mode;
    }
    if (!drmcall(s, drmioctl_setcrtc, &crtc))
        eputs("framebuffer: the screen could not be given back");
    s->crtcset = 0;
}

// Gives back what the open took, newest first; safe on a half-done open.
void fbdevice_release(fbshared* s)
{
    if (s->fd < 0)
        return;
    restorecrtc(s);
    for (u32 i = 0; i < FB_BUFFERS; i++) {
        if (s->pixels[i])
            s->device->unmap(s->device, s->pixels[i], s->sizes[i]);
        s->pixels[i] = nullptr;
        if (s->fbids[i]) {
            u32 id = s->fbids[i];
            drmcall(s, drmioctl_rmfb, &id);
        }
        s->fbids[i] = 0;
        if (s->handles[i]) {
            drmdestroydumb d = {s->handles[i]};
            drmcall(s, drmioctl_destroydumb, &d);
        }
        s->handles[i] = 0;
    }
    s->device->close(s->device, s->fd);
    s->fd = -1;
}

} // namespace kzv
