// The kernel's mode-setting interface as the framebuffer back-end uses it: the
// ioctl records, their request numbers and the events read from the device.
// Every pointer the kernel reads is a u64 holding the address, so the records
// have one layout on i386 and x86-64; a unit test checks sizes, offsets and
// request numbers against the kernel's own headers.
#pragma once
#include "../../framework/types.h"

namespace kzv {

// A mode as the kernel describes it: timings, then a 32-byte name.
struct drmmodeinfo {
    u32 clock;                  // kHz
    u16 hdisplay, hsyncstart, hsyncend, htotal, hskew;
    u16 vdisplay, vsyncstart, vsyncend, vtotal, vscan;
    u32 vrefresh;
    u32 flags;
    u32 type;
    char name[32];
};
static_assert(sizeof(drmmodeinfo) == 68, "drm_mode_modeinfo");

// GETRESOURCES: four arrays of object ids that the kernel fills up to the
// counts given, answering the real counts.
struct drmcardres {
    u64 fbids;
    u64 crtcids;
    u64 connectorids;
    u64 encoderids;
    u32 countfbs;
    u32 countcrtcs;
    u32 countconnectors;
    u32 countencoders;
    u32 minwidth, maxwidth;
    u32 minheight, maxheight;
};
static_assert(sizeof(drmcardres) == 64, "drm_mode_card_res");

// GETCRTC and SETCRTC. A mode is taken only when `modevalid` is 1; SETCRTC with
// framebuffer 0 and no connectors switches the CRTC off.
struct drmcrtc {
    u64 connectorids;           // u32 ids, read by SETCRTC
    u32 countconnectors;
    u32 crtcid;
    u32 fbid;
    u32 x, y;
    u32 gammasize;
    u32 modevalid;
    drmmodeinfo mode;
};
static_assert(sizeof(drmcrtc) == 104, "drm_mode_crtc");

// GETENCODER: `possiblecrtcs` is a bit mask over the positions of GETRESOURCES'
// CRTC list.
struct drmencoder {
    u32 encoderid;
    u32 encodertype;
    u32 crtcid;                 // 0: bound to no CRTC
    u32 possiblecrtcs;
    u32 possibleclones;
};
static_assert(sizeof(drmencoder) == 20, "drm_mode_get_encoder");

// GETCONNECTOR. A call with `countmodes` 0 makes the kernel probe the outputs;
// arrays are filled only when their capacity holds them, and the counts always
// come back as they are.
struct drmconnector {
    u64 encoderids;             // u32 each
    u64 modes;                  // drmmodeinfo each
    u64 propids;                // u32 each
    u64 propvalues;             // u64 each
    u32 countmodes;
    u32 countprops;
    u32 countencoders;
    u32 encoderid;              // the encoder in use, 0 for none
    u32 connectorid;
    u32 connectortype;
    u32 connectortypeid;
    u32 connection;             // 1 connected, 2 disconnected, 3 unknown
    u32 mmwidth, mmheight;
    u32 subpixel;
    u32 pad;
};
static_assert(sizeof(drmconnector) == 80, "drm_mode_get_connector");

// ADDFB: a framebuffer over a buffer handle, with its pitch in bytes.
struct drmfbcmd {
    u32 fbid;
    u32 width, height;
    u32 pitch;
    u32 bpp;
    u32 depth;
    u32 handle;
};
static_assert(sizeof(drmfbcmd) == 28, "drm_mode_fb_cmd");

// PAGE_FLIP: with the event flag, the device gives a flip-complete event
// carrying `userdata` once the new framebuffer is shown.
struct drmpageflip {
    u32 crtcid;
    u32 fbid;
    u32 flags;
    u32 reserved;
    u64 userdata;
};
static_assert(sizeof(drmpageflip) == 24, "drm_mode_crtc_page_flip");

// CREATE_DUMB answers the handle, the pitch the driver chose (often rounded up
// beyond width x 4) and the size; MAP_DUMB a fake offset for mmap on the device.
struct drmcreatedumb {
    u32 height;
    u32 width;
    u32 bpp;
    u32 flags;
    u32 handle;
    u32 pitch;
    u64 size;
};
static_assert(sizeof(drmcreatedumb) == 32, "drm_mode_create_dumb");

struct drmmapdumb {
    u32 handle;
    u32 pad;
    u64 offset;
};
static_assert(sizeof(drmmapdumb) == 16, "drm_mode_map_dumb");

struct drmdestroydumb {
    u32 handle;
};
static_assert(sizeof(drmdestroydumb) == 4, "drm_mode_destroy_dumb");

// Events read from the device: each starts with its type and its whole length
// in bytes; a flip-complete event is 32 bytes with the flip's user data.
struct drmevent {
    u32 type;
    u32 length;
};
struct drmeventvblank {
    drmevent base;
    u64 userdata;
    u32 tvsec;
    u32 tvusec;
    u32 sequence;
    u32 crtcid;
};
static_assert(sizeof(drmevent) == 8 && sizeof(drmeventvblank) == 32, "drm_event_vblank");

enum : u32 { drmevent_flipcomplete = 2 };
enum : u32 { drmflip_event = 1 };
enum : u32 { drmconnection_connected = 1 };

// Request numbers: read-write ioctls of type 'd', the record size in bits 16-29.
constexpr u32 drm_iowr(u32 nr, u32 size) { return (3u << 30) | (size << 16) | ('d' << 8) | nr; }

enum : u32 {
    drmioctl_getresources = drm_iowr(0xA0, sizeof(drmcardres)),
    drmioctl_getcrtc = drm_iowr(0xA1, sizeof(drmcrtc)),
    drmioctl_setcrtc = drm_iowr(0xA2, sizeof(drmcrtc)),
    drmioctl_getencoder = drm_iowr(0xA6, sizeof(drmencoder)),
    drmioctl_getconnector = drm_iowr(0xA7, sizeof(drmconnector)),
    drmioctl_addfb = drm_iowr(0xAE, sizeof(drmfbcmd)),
    drmioctl_rmfb = drm_iowr(0xAF, sizeof(u32)),
    drmioctl_pageflip = drm_iowr(0xB0, sizeof(drmpageflip)),
    drmioctl_createdumb = drm_iowr(0xB2, sizeof(drmcreatedumb)),
    drmioctl_mapdumb = drm_iowr(0xB3, sizeof(drmmapdumb)),
    drmioctl_destroydumb = drm_iowr(0xB4, sizeof(drmdestroydumb)),
};

} // namespace kzv
