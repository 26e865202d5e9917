// The Cocoa and Quartz binding; see cocoa.h. Facts relied on: the message shapes
// of AppKit on x86-64 (objc.h); NSEventMaskAny is every bit; NSBackingStoreBuffered
// is 2 and NSWindowCloseButton 0; CGBitmapContextCreate with bitmap info 0x2006
// (32-bit little-endian, first byte skipped) reads our 888 words as they lie in
// memory; CGDisplayBounds gives a display's rectangle in global coordinates with
// the origin at the top left of the main display, while Cocoa's origin is the
// main display's bottom left.
#include "cocoa.h"
#include "cocoatables.h"
#include "../../framework/mem.h"
#include "../../framework/memprim.h"
#include "../../framework/printf.h"
#include "../../framework/sysprocess.h"
#include "../../gui/pixelformat.h"

namespace kzv {

static char const* const COCOA_PATH = "/System/Library/Frameworks/Cocoa.framework/Cocoa";
static char const* const LIBOBJC_PATH = "/usr/lib/libobjc.dylib";
static char const* const COREGRAPHICS_PATHS[] = {
    "/System/Library/Frameworks/ApplicationServices.framework/Frameworks/CoreGraphics.framework/CoreGraphics",
    "/System/Library/Frameworks/CoreGraphics.framework/CoreGraphics",
};

const nsuinteger NSEVENTMASK_ANY = ~(nsuinteger)0;
const nsuinteger NSBACKING_BUFFERED = 2;
const nsuinteger NSWINDOW_CLOSEBUTTON = 0;
const nsinteger NSWINDOWLEVEL_FULLSCREEN = 25;
const u32 CGBITMAP_888 = 0x2006;        // kCGBitmapByteOrder32Little | kCGImageAlphaNoneSkipFirst
const u32 COCOA_EVENTSPERPASS = 256;    // the rest waits for the next pass

static char const* const SELECTORNAMES[OBJC_SELECTORCOUNT] = {
    "alloc", "init", "release", "close", "drain", "stringWithUTF8String:",
    "nextEventMatchingMask:untilDate:inMode:dequeue:", "sendEvent:", "characters", "length", "characterAtIndex:",
    "window", "runMode:beforeDate:", "distantPast", "locationInWindow", "setTitle:", "type", "modifierFlags",
    "deltaY", "state", "mainRunLoop", "sharedApplication", "setActivationPolicy:", "activateIgnoringOtherApps:",
    "finishLaunching", "initWithContentRect:styleMask:backing:defer:", "setReleasedWhenClosed:", "setLevel:",
    "setHidesOnDeactivate:", "setOpaque:", "makeFirstResponder:", "makeKeyAndOrderFront:",
    "standardWindowButton:", "setTarget:", "setAction:", "setAcceptsMouseMovedEvents:",
    "graphicsContextWithWindow:", "graphicsPort", "contentView", "initWithAttributes:",
    "initWithFormat:shareContext:", "setView:", "makeCurrentContext", "setValues:forParameter:", "flushBuffer",
    "clearDrawable",
};

static char const* const CLASSNAMES[OBJC_CLASSCOUNT] = {
    "NSString", "NSDate", "NSAutoreleasePool", "NSRunLoop", "NSApplication", "NSWindow", "NSGraphicsContext",
    "NSOpenGLPixelFormat", "NSOpenGLContext",
};
const u32 OBJC_REQUIREDCLASSES = class_nsgraphicscontext + 1;   // the OpenGL ones are OpenGL's to require

static frameworkresolver const* resolver;

void cocoa_useresolver(frameworkresolver const* r) { resolver = r; }

frameworkresolver const* cocoa_resolver() { return resolver; }

objcbinding* objc_binding() { return process ? (objcbinding*)process->slots[processslot_platform] : nullptr; }

cgbinding* cg_binding() { return process ? (cgbinding*)process->slots[processslot_windowsystem] : nullptr; }

bool cocoa_bindall(void* library, char const* const* names, void* const* slots, u32 count)
{
    if (!resolver || !library)
        return false;
    for (u32 i = 0; i < count; i++) {
        void* p = resolver->findsymbol(library, names[i]);
        if (!p)
            return false;
        memcpy(slots[i], &p, sizeof p);
    }
    return true;
}

// ---- the runtime binding ------------------------------------------------------

static bool bindruntime(objcbinding* b)
{
    if (!resolver)
        return false;
    void* cocoa = resolver->openlibrary(COCOA_PATH);   // AppKit and Foundation stay loaded
    b->libobjc = resolver->openlibrary(LIBOBJC_PATH);
    if (!cocoa || !b->libobjc)
        return false;
    static char const* const names[] = {"objc_getClass", "sel_getUid", "objc_msgSend"};
    void* const slots[] = {&b->getclass, &b->getuid, &b->msgsend};
    if (!cocoa_bindall(b->libobjc, names, slots, 3))
        return false;
    for (u32 i = 0; i < OBJC_SELECTORCOUNT; i++)
        if (!(b->selectors[i] = b->getuid(SELECTORNAMES[i])))
            return false;
    for (u32 i = 0; i < OBJC_CLASSCOUNT; i++)
        b->classes[i] = b->getclass(CLASSNAMES[i]);
    for (u32 i = 0; i < OBJC_REQUIREDCLASSES; i++)
        if (!b->classes[i])
            return false;
    // A data symbol: the address of the variable that holds the NSString.
    objid const* mode = (objid const*)resolver->findsymbol(cocoa, "NSDefaultRunLoopMode");
    return mode && (b->defaultmode = *mode) != nullptr;
}

// The outer autorelease pool comes first, so that what the application object
// autoreleases on its way up has a pool.
static void startapplication(objcbinding* b)
{
    b->pool = objc_get(objc_get(objc_class(class_nsautoreleasepool), sel_alloc), sel_init);
    b->runloop = objc_get(objc_class(class_nsrunloop), sel_mainrunloop);
    b->app = objc_get(objc_class(class_nsapplication), sel_sharedapplication);
    if (!b->app || !b->runloop)
        return;
    objc_send<objbool, nsinteger>(b->app, sel_setactivationpolicy, 0);   // a regular application
    objc_send<void, objbool>(b->app, sel_activateignoringotherapps, 1);
    objc_do(b->app, sel_finishlaunching);
    b->flags |= objcbinding_usable;
}

bool os_initobjc()
{
    if (!process)
        return false;
    objcbinding* b = objc_binding();
    if (b)
        return (b->flags & objcbinding_usable) != 0;
    b = (objcbinding*)process->pool.sgetmem0(sizeof(objcbinding));
    if (!b)
        return false;
    process->slots[processslot_platform] = b;
    if (bindruntime(b))
        startapplication(b);
    return (b->flags & objcbinding_usable) != 0;
}

// ---- the CoreGraphics binding and the screens ---------------------------------

static bool bindcoregraphics(cgbinding* g)
{
    for (char const* path : COREGRAPHICS_PATHS)
        if (!g->library)
            g->library = resolver->openlibrary(path);
    static char const* const names[] = {
        "CGColorSpaceCreateDeviceRGB", "CGBitmapContextCreate", "CGColorSpaceRelease", "CGBitmapContextCreateImage",
        "CGContextDrawImage", "CGContextFlush", "CGImageRelease", "CGContextRelease", "CGMainDisplayID",
        "CGDisplayIDToOpenGLDisplayMask", "CGGetActiveDisplayList", "CGDisplayBounds",
    };
    void* const slots[] = {
        &g->colorspacecreatedevicergb, &g->bitmapcontextcreate, &g->colorspacerelease, &g->bitmapcontextcreateimage,
        &g->contextdrawimage, &g->contextflush, &g->imagerelease, &g->contextrelease, &g->maindisplayid,
        &g->displayidtoopengldisplaymask, &g->getactivedisplaylist, &g->displaybounds,
    };
    static_assert(sizeof(names) / sizeof(*names) == sizeof(slots) / sizeof(*slots), "one slot a name");
    return cocoa_bindall(g->library, names, slots, sizeof(names) / sizeof(*names));
}

static bool readscreens(cgbinding* g)
{
    cgdisplayid ids[QUARTZ_MAXSCREENS];
    u32 count = 0;
    if (g->getactivedisplaylist(QUARTZ_MAXSCREENS, ids, &count) != 0 || count == 0)
        return false;
    count = kzv_min(count, QUARTZ_MAXSCREENS);
    g->screens = (quartzscreen*)process->pool.sgetmem0(count * sizeof(quartzscreen));
    if (!g->screens)
        return false;
    cgdisplayid main = g->maindisplayid();
    for (u32 i = 0; i < count; i++) {
        nsrect r = g->displaybounds(ids[i]);
        quartzscreen& s = g->screens[i];
        s.x = cocoa_pixels(r.origin.x);
        s.y = cocoa_pixels(r.origin.y);
        s.width = cocoa_pixels(r.size.width);
        s.height = cocoa_pixels(r.size.height);
        s.display = ids[i];
        if (ids[i] == main || i == 0)
            g->mainheight = s.height;
    }
    g->screencount = count;
    return true;
}

bool os_initquartz(quartzscreen const*& screens, u32& count)
{
    screens = nullptr;
    count = 0;
    if (!process)
        return false;
    cgbinding* g = cg_binding();
    if (!g) {
        g = (cgbinding*)process->pool.sgetmem0(sizeof(cgbinding));
        if (!g)
            return false;
        process->slots[processslot_windowsystem] = g;
        if (os_initobjc() && bindcoregraphics(g) && readscreens(g))
            g->flags |= cgbinding_usable;
    }
    if (!(g->flags & cgbinding_usable))
        return false;
    screens = g->screens;
    count = g->screencount;
    return true;
}

// ---- windows ------------------------------------------------------------------

static bool usable()
{
    cgbinding* g = cg_binding();
    objcbinding* b = objc_binding();
    return g && b && (g->flags & cgbinding_usable) && (b->flags & objcbinding_usable) && g->screencount;
}

// A window at least the size of the first screen covers it, without a title bar.
static bool cuttoscreen(guiwindow* w, quartzscreen const& first)
{
    if (first.width <= 0 || first.height <= 0 || w->width < first.width || w->height < first.height)
        return false;
    w->width = (u16)kzv_min<s32>(first.width, GUIWINDOW_MAXSIDE);
    w->height = (u16)kzv_min<s32>(first.height, GUIWINDOW_MAXSIDE);
    w->flags = (u8)((w->flags & ~guiwindow_titlebar) | guiwindow_fullscreen);
    return true;
}

// The close button's click must reach the pump (163), not close the window.
static void detachclosebutton(quartzwindow* q)
{
    q->closebutton = objc_send<objid, nsuinteger>(q->window, sel_standardwindowbutton, NSWINDOW_CLOSEBUTTON);
    if (!q->closebutton)
        return;
    objc_send<void, objid>(q->closebutton, sel_settarget, nullptr);
    objc_send<void, objsel>(q->closebutton, sel_setaction, nullptr);
}

static void settitle(objid window, char const* title)
{
    // Autoreleased, not ours: the string lives in the outer pool.
    objid text = objc_send<objid, char const*>(objc_class(class_nsstring), sel_stringwithutf8string, title);
    if (text)                   // null for a title that is not UTF-8
        objc_send<void, objid>(window, sel_settitle, text);
}

int os_quartzopenwindow(guiwindow* w)
{
    if (!w || !usable())
        return 0;
    cgbinding* g = cg_binding();
    quartzwindow* q = quartz_part(w);
    memset0(q, sizeof(*q));
    w->format = pixfmt_888;
    objid window = objc_get(objc_class(class_nswindow), sel_alloc);
    if (!window)
        return 0;
    bool full = cuttoscreen(w, g->screens[0]);
    bool titled = (w->flags & guiwindow_titlebar) && w->title && w->title[0];
    q->stylemask = cocoa_stylemask(titled, full);
    q->rect[0] = (double)w->x;
    q->rect[1] = cocoa_windowy(g->mainheight, w->y, w->height);
    q->rect[2] = (double)w->width;
    q->rect[3] = (double)w->height;
    nsrect content = {{q->rect[0], q->rect[1]}, {q->rect[2], q->rect[3]}};
    window = objc_send<objid, nsrect, nsuinteger, nsuinteger, objbool>(window, sel_initwithcontentrect, content,
                                                                        q->stylemask, NSBACKING_BUFFERED, 1);
    if (!window)
        return 0;               // a failed init has released the allocation itself
    q->window = window;
    // Released by our close alone; Cocoa's own release at close would free it twice.
    objc_send<void, objbool>(window, sel_setreleasedwhenclosed, 0);
    if (full) {
        objc_send<void, nsinteger>(window, sel_setlevel, NSWINDOWLEVEL_FULLSCREEN);
        objc_send<void, objbool>(window, sel_sethidesondeactivate, 1);
    }
    objc_send<void, objbool>(window, sel_setopaque, 1);
    if (titled)
        settitle(window, w->title);
    objc_send<objbool, objid>(window, sel_makefirstresponder, window);
    objc_send<void, objid>(window, sel_makekeyandorderfront, nullptr);
    if (q->stylemask & 2)
        detachclosebutton(q);
    objc_send<void, objbool>(window, sel_setacceptsmousemovedevents, 1);
    q->graphicscontext = objc_send<objid, objid>(objc_class(class_nsgraphicscontext), sel_graphicscontextwithwindow,
                                                 window);
    q->graphicsport = q->graphicscontext ? objc_get(q->graphicscontext, sel_graphicsport) : nullptr;
    g->opening = w;
    return 1;
}

static void releasebackbuffer(guiwindow* w)
{
    quartzwindow* q = quartz_part(w);
    cgbinding* g = cg_binding();
    if (q->bitmapcontext && g)
        g->contextrelease(q->bitmapcontext);
    q->bitmapcontext = nullptr;
    if (q->backbuffer) {
        if (w->pixels == q->backbuffer)
            w->pixels = nullptr;
        q->bufferpool->freemem(q->backbuffer);
    }
    q->backbuffer = nullptr;
}

// A second 147 replaces the first buffer. 0 when the pool or CoreGraphics refuses.
int os_quartzcreatebackbuffer(guiwindow* w, u32 count, mem* pool)
{
    if (!w || !pool || !usable() || !quartz_part(w)->window)
        return 0;
    cgbinding* g = cg_binding();
    quartzwindow* q = quartz_part(w);
    releasebackbuffer(w);
    u64 bytes = (u64)w->width * w->height * 4;
    u8* pixels = bytes ? (u8*)pool->getmem0(bytes) : nullptr;
    if (!pixels)
        return 0;
    void* space = g->colorspacecreatedevicergb();
    void* context = space ? g->bitmapcontextcreate(pixels, w->width, w->height, 8, (usize)w->width * 4, space,
                                                   CGBITMAP_888)
                          : nullptr;
    if (space)
        g->colorspacerelease(space);
    if (!context) {
        pool->freemem(pixels);
        return 0;
    }
    q->backbuffer = pixels;
    q->bufferpool = pool;
    q->bitmapcontext = context;
    return 1;
}

int os_quartzgetbackbuffer(guiwindow* w)
{
    if (!w || !quartz_part(w)->backbuffer)
        return 0;
    w->stride = (u32)w->width * 4;
    w->pixels = quartz_part(w)->backbuffer;
    return 1;
}

int os_quartzupdatewindow(guiwindow* w)
{
    if (!w || !(w->flags & guiwindow_shown) || !usable())
        return 0;
    quartzwindow* q = quartz_part(w);
    cgbinding* g = cg_binding();
    if (!q->bitmapcontext || !q->graphicsport)
        return 0;
    void* picture = g->bitmapcontextcreateimage(q->bitmapcontext);
    if (!picture)
        return 0;
    nsrect all = {{0, 0}, {(double)w->width, (double)w->height}};
    g->contextdrawimage(q->graphicsport, all, picture);
    g->contextflush(q->graphicsport);
    g->imagerelease(picture);
    return 1;
}

int os_quartzupdatewindow(guiwindow*, u16, u16, u16, u16) { return 1; }

int os_quartzcreatebuffer(guiwindow*, u32, u32, mem*) { return 1; }

int os_quartzsetbuffer(u32, u32, guiwindow*, mem*) { return 1; }

// A window closed already, or never opened, is left alone.
void os_quartzclosewindow(guiwindow* w, mem*)
{
    if (!w)
        return;
    cgbinding* g = cg_binding();
    if (g && g->opening == w)
        g->opening = nullptr;
    w->flags &= (u8)~guiwindow_shown;
    quartzwindow* q = quartz_part(w);
    releasebackbuffer(w);
    if (q->window && objc_binding()) {
        objc_do(q->window, sel_close);
        objc_do(q->window, sel_release);
    }
    q->window = nullptr;
    q->graphicscontext = nullptr;
    q->graphicsport = nullptr;
    q->closebutton = nullptr;
}

// ---- events -------------------------------------------------------------------

guiwindow* os_getwin(objid event, guiwindow* const* list, u32 count)
{
    if (!event || !list)
        return nullptr;
    objid window = objc_get(event, sel_window);
    if (!window)
        return nullptr;
    for (u32 i = 0; i < count; i++)
        if (list[i] && quartz_part(list[i])->window == window)
            return list[i];
    return nullptr;
}

u32 os_quartzconvertch(u32 character, u32 modifiers) { return cocoa_keycode(character, modifiers); }

struct eventpoint { s32 x, y; };

static eventpoint locate(guiwindow* w, objid event)
{
    nspoint p = objc_send<nspoint>(event, sel_locationinwindow);
    return {cocoa_pixels(p.x), cocoa_eventy(w->height, p.y)};
}

static void sendat(guiwindow* w, u32 code, objid event)
{
    eventpoint at = locate(w, event);
    guiwindow_sendevent(w, code, at.x, at.y);
}

// In the content: 165. Above it, in the title bar: Cocoa tracks the click (a drag,
// or the close button), then a set close button means 163. True when the event
// went to Cocoa here.
static bool leftdown(guiwindow* w, objid event)
{
    if (!w)
        return false;
    eventpoint at = locate(w, event);
    if (at.y >= 0) {
        guiwindow_sendevent(w, ui_leftdown, at.x, at.y);
        return false;
    }
    objc_send<void, objid>(objc_binding()->app, sel_sendevent, event);
    objid button = quartz_part(w)->closebutton;
    if (button && objc_send<nsinteger>(button, sel_state))
        guiwindow_sendevent(w, ui_closed, 0, 0);
    return true;
}

// Dead keys and input methods give an empty string: no key then.
static void sendkey(guiwindow* w, u32 code, objid event, u32 modifiers)
{
    objid characters = objc_get(event, sel_characters);
    if (!characters || objc_send<nsuinteger>(characters, sel_length) == 0)
        return;
    u16 c = objc_send<u16, nsuinteger>(characters, sel_characterat, 0);
    guiwindow_sendevent(w, code, (int)os_quartzconvertch(c, modifiers), 0);
}

static void appkitdefined(guiwindow* w)
{
    cgbinding* g = cg_binding();
    if (g && g->opening) {
        g->opening->flags |= guiwindow_shown;
        g->opening = nullptr;
    } else if (w) {
        guiwindow_sendevent(w, ui_paint, 0, 0);
    }
}

static void scroll(guiwindow* w, objid event)
{
    double turn = objc_send<cgfloat>(event, sel_deltay) * 1000;
    if (turn < 0)
        sendat(w, ui_wheeldown, event);
    else if (turn > 0)
        sendat(w, ui_wheelup, event);
}

static void handleevent(objid event, guiwindow* const* list, u32 count, u32& modifiers)
{
    u32 type = (u32)objc_send<nsuinteger>(event, sel_type);
    cocoaevent e = cocoa_eventfor(type);
    guiwindow* w = os_getwin(event, list, count);
    bool passed = false;
    switch (e.action) {
    case cocoa_button:
        if (w)
            sendat(w, e.code, event);
        break;
    case cocoa_leftdown: passed = leftdown(w, event); break;
    case cocoa_key:
        if (w)
            sendkey(w, e.code, event, modifiers);
        break;
    case cocoa_flagschanged: modifiers = cocoa_modifiers(objc_send<nsuinteger>(event, sel_modifierflags)); break;
    case cocoa_appkitdefined: appkitdefined(w); break;
    case cocoa_scroll:
        if (w)
            scroll(w, event);
        break;
    case cocoa_silent: break;
    case cocoa_unknown: eprintf("osgui msg=%d\n", (int)type); break;
    }
    // The events are Cocoa's (autoreleased): passed on, never released here.
    if (e.tococoa && !passed)
        objc_send<void, objid>(objc_binding()->app, sel_sendevent, event);
}

// Never blocks: the run loop runs until a date long past, and the queue is read
// without waiting.
void os_quartzgetmessages(guiwindow* const* list, u32 count, u32& modifiers)
{
    objcbinding* b = objc_binding();
    if (!b || !(b->flags & objcbinding_usable))
        return;
    objid pool = objc_get(objc_get(objc_class(class_nsautoreleasepool), sel_alloc), sel_init);
    objid past = objc_get(objc_class(class_nsdate), sel_distantpast);
    objc_send<objbool, objid, objid>(b->runloop, sel_runmode, b->defaultmode, past);
    for (u32 n = 0; n < COCOA_EVENTSPERPASS; n++) {
        objid event = objc_send<objid, nsuinteger, objid, objid, objbool>(b->app, sel_nextevent, NSEVENTMASK_ANY,
                                                                            nullptr, b->defaultmode, 1);
        if (!event)
            break;
        handleevent(event, list, count, modifiers);
    }
    if (pool)
        objc_do(pool, sel_drain);
}

} // namespace kzv
