// A fake Objective-C runtime and fake Cocoa, CoreGraphics and OpenGL, written
// from what the macOS binding expects of them, so that the binding's logic runs on
// Linux. objc_msgSend is a few lines of x86-64 code that keeps every argument
// register (rdi-r9, xmm0-7, rax) and the stack as the caller left them, asks
// fake_lookup for the typed method of the receiver's class and the selector, and
// jumps to it: the method then receives the arguments exactly as the binding's
// cast passed them (Linux x86-64 passes them as macOS x86-64 does). Every message
// and every CoreGraphics and OpenGL call is logged in order with its arguments.
// Objects know who owns them: alloc'd and Create'd ones belong to the caller,
// everything else to Cocoa or to the autorelease pool current when it was made;
// releasing what one does not own, releasing twice, and messaging an object whose
// pool was drained are counted as faults. Scripted events come out of
// nextEventMatchingMask:untilDate:inMode:dequeue:. One test binary includes this.
#pragma once
#include "../harness/harness.h"
#include "../../framework/memprim.h"
#include "../../framework/str.h"
#include "../../framework/sysprocess.h"
#include "../../platform/macos/cocoa.h"

// The message send: look the method up with self and the selector, then jump.
__asm__(".text\n.globl fake_objc_msgSend\n.type fake_objc_msgSend,@function\nfake_objc_msgSend:\n"
        "  push %rdi\n  push %rsi\n  push %rdx\n  push %rcx\n  push %r8\n  push %r9\n  push %rax\n"
        "  sub $128, %rsp\n"
        "  movdqu %xmm0, 0(%rsp)\n  movdqu %xmm1, 16(%rsp)\n  movdqu %xmm2, 32(%rsp)\n  movdqu %xmm3, 48(%rsp)\n"
        "  movdqu %xmm4, 64(%rsp)\n  movdqu %xmm5, 80(%rsp)\n  movdqu %xmm6, 96(%rsp)\n  movdqu %xmm7, 112(%rsp)\n"
        "  call fake_lookup\n  mov %rax, %r11\n"
        "  movdqu 0(%rsp), %xmm0\n  movdqu 16(%rsp), %xmm1\n  movdqu 32(%rsp), %xmm2\n  movdqu 48(%rsp), %xmm3\n"
        "  movdqu 64(%rsp), %xmm4\n  movdqu 80(%rsp), %xmm5\n  movdqu 96(%rsp), %xmm6\n  movdqu 112(%rsp), %xmm7\n"
        "  add $128, %rsp\n"
        "  pop %rax\n  pop %r9\n  pop %r8\n  pop %rcx\n  pop %rdx\n  pop %rsi\n  pop %rdi\n"
        "  jmp *%r11\n");

extern "C" void fake_objc_msgSend();
extern "C" void* fake_lookup(void* self, void* selector);

namespace fakemac {

using namespace kzv;
using namespace kzvtest;

// ---- objects, selectors, pools --------------------------------------------------

const u32 MAXOBJECTS = 512;
const u32 MAXSELECTORS = 96;
const u32 MAXLOG = 2048;
const u32 TEXTCAPACITY = 64;

enum : u8 { owner_caller = 1, owner_cocoa = 2, owner_pool = 3 };

struct object {
    char const* cls;        // class name; classes have isclass set
    bool isclass;
    u8 owner;
    u32 pool;               // the pool that holds it (owner_pool)
    u32 releases;
    bool dead;              // released by its owner or drained with its pool
    // What some kinds carry.
    u16 text[TEXTCAPACITY];     // NSString, UTF-16 units
    u32 length;
    u64 type;               // NSEvent
    object* window;
    nspoint location;
    object* characters;
    u64 modifierflags;
    double deltay;
    bool closeafter;        // sending it to Cocoa sets the window's close button
    object* closebutton;    // NSWindow
    object* contentview;
    s64 state;              // NSButton
    bool closed;            // NSWindow
    bool releasedwhenclosed;
    u64 data[4];            // CoreGraphics records: what they were made with
};

struct call {
    object* receiver;       // null for a C function
    char const* name;       // selector or function
    u64 a[9];
    double d[6];
};

struct scriptedevent {
    u64 type;
    object* window;
    double x, y;
    s32 keys;               // characters: -1 no string, 0 the empty string, 1 `key`
    u32 key;
    u64 modifierflags;
    double deltay;
    bool closeafter;
};

struct world {
    object objects[MAXOBJECTS];
    u32 objectcount;
    char selectors[MAXSELECTORS][64];
    u32 selectorcount;
    call log[MAXLOG];
    u32 logcount;
    u32 faults;             // ownership faults, unknown messages, range exceptions
    char const* lastfault;
    u32 poolstack[16];
    u32 pooldepth;
    u32 nextpool;
    object* poolobjects[16];
    scriptedevent events[64];
    u32 eventcount, eventnext;
    u32 displays;           // how many CGGetActiveDisplayList reports
    nsrect bounds[4];
    u32 maindisplay;        // index of the main display
    bool noopengl;          // the OpenGL framework is missing
    bool nocoregraphics;
    bool legacycgpath;      // only the second CoreGraphics path exists
    object* app;
    object* runloop;
    object* port;           // the last graphicsPort handed out
    u32 gltextures;
    long (*threadof)();     // when set, each window records the thread that made it in data[0]
};

inline world& w()
{
    static world state;
    return state;
}

inline void fault(char const* why)
{
    w().faults++;
    w().lastfault = why;
}

inline object* newobject(char const* cls, u8 owner)
{
    world& s = w();
    if (s.objectcount == MAXOBJECTS) {
        fault("object table full");
        return &s.objects[0];
    }
    object* o = &s.objects[s.objectcount++];
    memset0(o, sizeof(*o));
    o->cls = cls;
    o->owner = owner;
    if (owner == owner_pool) {
        if (!s.pooldepth)
            fault("autoreleased with no pool in place");
        o->pool = s.pooldepth ? s.poolstack[s.pooldepth - 1] : 0;
    }
    return o;
}

inline object* classobject(char const* name)
{
    world& s = w();
    for (u32 i = 0; i < s.objectcount; i++)
        if (s.objects[i].isclass && streq(s.objects[i].cls, name))
            return &s.objects[i];
    object* o = newobject(name, owner_cocoa);
    o->isclass = true;
    return o;
}

inline bool isobject(void* p)
{
    world& s = w();
    return p >= (void*)s.objects && p < (void*)(s.objects + s.objectcount);
}

inline call& logcall(object* receiver, char const* name)
{
    world& s = w();
    static call overflow;
    if (s.logcount == MAXLOG) {
        fault("log full");
        return overflow;
    }
    call& c = s.log[s.logcount++];
    memset0(&c, sizeof c);
    c.receiver = receiver;
    c.name = name;
    return c;
}

inline void release(object* o)
{
    if (o->owner != owner_caller)
        fault("released an object it does not own");
    else if (o->dead)
        fault("released twice");
    o->releases++;
    o->dead = true;
}

// ---- the methods ----------------------------------------------------------------

inline object* self(objid p) { return (object*)p; }
inline char const* selname(objsel s) { return (char const*)s; }

inline objid m_alloc(objid cls, objsel s)
{
    logcall(self(cls), selname(s));
    object* o = newobject(self(cls)->cls, owner_caller);
    if (streq(o->cls, "NSWindow"))
        o->releasedwhenclosed = true;
    return o;
}
inline objid m_init(objid o, objsel s)
{
    logcall(self(o), selname(s));
    if (streq(self(o)->cls, "NSAutoreleasePool")) {
        world& z = w();
        z.poolobjects[z.pooldepth] = self(o);
        z.poolstack[z.pooldepth++] = ++z.nextpool;
    }
    return o;
}
inline void m_release(objid o, objsel s)
{
    logcall(self(o), selname(s));
    release(self(o));
}
inline void m_drain(objid o, objsel s)
{
    logcall(self(o), selname(s));
    world& z = w();
    if (!z.pooldepth || z.poolobjects[z.pooldepth - 1] != self(o)) {
        fault("drained a pool that is not the innermost");
        return;
    }
    u32 id = z.poolstack[--z.pooldepth];
    for (u32 i = 0; i < z.objectcount; i++)
        if (z.objects[i].owner == owner_pool && z.objects[i].pool == id)
            z.objects[i].dead = true;
    self(o)->dead = true;       // a drained pool is gone
}
inline objid m_shared(objid cls, objsel s)
{
    logcall(self(cls), selname(s));
    if (!w().app)
        w().app = newobject("NSApplication", owner_cocoa);
    return w().app;
}
inline objid m_mainrunloop(objid cls, objsel s)
{
    logcall(self(cls), selname(s));
    if (!w().runloop)
        w().runloop = newobject("NSRunLoop", owner_cocoa);
    return w().runloop;
}
inline objid m_distantpast(objid cls, objsel s)
{
    logcall(self(cls), selname(s));
    return newobject("NSDate", owner_pool);
}
inline objbool m_setactivationpolicy(objid o, objsel s, nsinteger policy)
{
    logcall(self(o), selname(s)).a[0] = (u64)policy;
    return 1;
}
inline void m_boolarg(objid o, objsel s, objbool flag) { logcall(self(o), selname(s)).a[0] = (u64)(u8)flag; }
inline void m_none(objid o, objsel s) { logcall(self(o), selname(s)); }
inline void m_idarg(objid o, objsel s, objid arg) { logcall(self(o), selname(s)).a[0] = (u64)arg; }
inline objbool m_runmode(objid o, objsel s, objid mode, objid date)
{
    call& c = logcall(self(o), selname(s));
    c.a[0] = (u64)mode;
    c.a[1] = (u64)date;
    return 1;
}
inline objid m_stringwithutf8(objid cls, objsel s, char const* text)
{
    logcall(self(cls), selname(s)).a[0] = (u64)text;
    object* o = newobject("NSString", owner_pool);
    while (text[o->length] && o->length < TEXTCAPACITY)
        o->text[o->length] = (u8)text[o->length], o->length++;
    return o;
}
inline nsuinteger m_length(objid o, objsel s)
{
    logcall(self(o), selname(s));
    return self(o)->length;
}
inline u16 m_characterat(objid o, objsel s, nsuinteger i)
{
    logcall(self(o), selname(s)).a[0] = i;
    if (i >= self(o)->length) {
        fault("NSRangeException: characterAtIndex: past the end");
        return 0;
    }
    return self(o)->text[i];
}
inline objid m_initwindow(objid o, objsel s, nsrect r, nsuinteger style, nsuinteger backing, objbool defer)
{
    call& c = logcall(self(o), selname(s));
    c.d[0] = r.origin.x, c.d[1] = r.origin.y, c.d[2] = r.size.width, c.d[3] = r.size.height;
    c.a[0] = style, c.a[1] = backing, c.a[2] = (u64)(u8)defer;
    object* b = newobject("NSButton", owner_cocoa);
    self(o)->closebutton = b;
    self(o)->contentview = newobject("NSView", owner_cocoa);
    if (w().threadof)
        self(o)->data[0] = (u64)w().threadof();
    return o;
}
inline void m_setreleasedwhenclosed(objid o, objsel s, objbool flag)
{
    m_boolarg(o, s, flag);
    self(o)->releasedwhenclosed = flag != 0;
}
inline void m_intarg(objid o, objsel s, nsinteger v) { logcall(self(o), selname(s)).a[0] = (u64)v; }
inline objbool m_makefirstresponder(objid o, objsel s, objid responder)
{
    logcall(self(o), selname(s)).a[0] = (u64)responder;
    return 1;
}
inline objid m_standardwindowbutton(objid o, objsel s, nsuinteger which)
{
    logcall(self(o), selname(s)).a[0] = which;
    return which == 0 ? self(o)->closebutton : nullptr;
}
inline void m_setaction(objid o, objsel s, objsel action) { logcall(self(o), selname(s)).a[0] = (u64)action; }
inline void m_close(objid o, objsel s)
{
    logcall(self(o), selname(s));
    self(o)->closed = true;
    // A window that releases itself when closed would now be gone.
    if (self(o)->releasedwhenclosed)
        self(o)->dead = true;
}
inline objid m_graphicscontextwithwindow(objid cls, objsel s, objid window)
{
    logcall(self(cls), selname(s)).a[0] = (u64)window;
    return newobject("NSGraphicsContext", owner_pool);
}
inline objid m_graphicsport(objid o, objsel s)
{
    logcall(self(o), selname(s));
    w().port = newobject("CGContext", owner_cocoa);
    return w().port;
}
inline objid m_contentview(objid o, objsel s)
{
    logcall(self(o), selname(s));
    return self(o)->contentview;
}
inline nsinteger m_state(objid o, objsel s)
{
    logcall(self(o), selname(s));
    return self(o)->state;
}
inline objid m_nextevent(objid o, objsel s, nsuinteger mask, objid until, objid mode, objbool dequeue)
{
    call& c = logcall(self(o), selname(s));
    c.a[0] = mask, c.a[1] = (u64)until, c.a[2] = (u64)mode, c.a[3] = (u64)(u8)dequeue;
    world& z = w();
    if (z.eventnext == z.eventcount)
        return nullptr;
    scriptedevent const& e = z.events[z.eventnext++];
    object* ev = newobject("NSEvent", owner_pool);
    ev->type = e.type;
    ev->window = e.window;
    ev->location = {e.x, e.y};
    ev->modifierflags = e.modifierflags;
    ev->deltay = e.deltay;
    ev->closeafter = e.closeafter;
    if (e.keys >= 0) {
        ev->characters = newobject("NSString", owner_pool);
        ev->characters->text[0] = (u16)e.key;
        ev->characters->length = (u32)e.keys;
    }
    return ev;
}
inline void m_sendevent(objid o, objsel s, objid event)
{
    logcall(self(o), selname(s)).a[0] = (u64)event;
    if (!isobject(event) || self(event)->dead)
        fault("sendEvent: with an event that is gone");
    else if (self(event)->closeafter && self(event)->window)
        self(event)->window->closebutton->state = 1;
}
inline nsuinteger m_type(objid o, objsel s) { logcall(self(o), selname(s)); return self(o)->type; }
inline objid m_window(objid o, objsel s) { logcall(self(o), selname(s)); return self(o)->window; }
inline nspoint m_location(objid o, objsel s) { logcall(self(o), selname(s)); return self(o)->location; }
inline objid m_characters(objid o, objsel s) { logcall(self(o), selname(s)); return self(o)->characters; }
inline nsuinteger m_modifierflags(objid o, objsel s) { logcall(self(o), selname(s)); return self(o)->modifierflags; }
inline cgfloat m_deltay(objid o, objsel s) { logcall(self(o), selname(s)); return self(o)->deltay; }
inline objid m_initwithattributes(objid o, objsel s, u32 const* attributes)
{
    call& c = logcall(self(o), selname(s));
    for (u32 i = 0; i < 4 && attributes; i++) {
        c.a[i] = attributes[i];
        if (!attributes[i])
            break;
    }
    return o;
}
inline objid m_initwithformat(objid o, objsel s, objid format, objid share)
{
    call& c = logcall(self(o), selname(s));
    c.a[0] = (u64)format, c.a[1] = (u64)share;
    return o;
}
inline void m_setvalues(objid o, objsel s, s32 const* values, nsinteger parameter)
{
    call& c = logcall(self(o), selname(s));
    c.a[0] = values ? (u64)*values : 0xDEAD;
    c.a[1] = (u64)parameter;
}

struct method {
    char const* cls;        // "+Name" for class methods, "*" for any instance
    char const* sel;
    void* fn;
};

inline method const* methods()
{
    static const method table[] = {
        {"+*", "alloc", (void*)m_alloc},
        {"*", "init", (void*)m_init},
        {"*", "release", (void*)m_release},
        {"NSAutoreleasePool", "drain", (void*)m_drain},
        {"+NSApplication", "sharedApplication", (void*)m_shared},
        {"+NSRunLoop", "mainRunLoop", (void*)m_mainrunloop},
        {"+NSDate", "distantPast", (void*)m_distantpast},
        {"+NSString", "stringWithUTF8String:", (void*)m_stringwithutf8},
        {"+NSGraphicsContext", "graphicsContextWithWindow:", (void*)m_graphicscontextwithwindow},
        {"NSApplication", "setActivationPolicy:", (void*)m_setactivationpolicy},
        {"NSApplication", "activateIgnoringOtherApps:", (void*)m_boolarg},
        {"NSApplication", "finishLaunching", (void*)m_none},
        {"NSApplication", "nextEventMatchingMask:untilDate:inMode:dequeue:", (void*)m_nextevent},
        {"NSApplication", "sendEvent:", (void*)m_sendevent},
        {"NSRunLoop", "runMode:beforeDate:", (void*)m_runmode},
        {"NSString", "length", (void*)m_length},
        {"NSString", "characterAtIndex:", (void*)m_characterat},
        {"NSWindow", "initWithContentRect:styleMask:backing:defer:", (void*)m_initwindow},
        {"NSWindow", "setReleasedWhenClosed:", (void*)m_setreleasedwhenclosed},
        {"NSWindow", "setLevel:", (void*)m_intarg},
        {"NSWindow", "setHidesOnDeactivate:", (void*)m_boolarg},
        {"NSWindow", "setOpaque:", (void*)m_boolarg},
        {"NSWindow", "setTitle:", (void*)m_idarg},
        {"NSWindow", "makeFirstResponder:", (void*)m_makefirstresponder},
        {"NSWindow", "makeKeyAndOrderFront:", (void*)m_idarg},
        {"NSWindow", "standardWindowButton:", (void*)m_standardwindowbutton},
        {"NSWindow", "setAcceptsMouseMovedEvents:", (void*)m_boolarg},
        {"NSWindow", "close", (void*)m_close},
        {"NSWindow", "contentView", (void*)m_contentview},
        {"NSButton", "setTarget:", (void*)m_idarg},
        {"NSButton", "setAction:", (void*)m_setaction},
        {"NSButton", "state", (void*)m_state},
        {"NSGraphicsContext", "graphicsPort", (void*)m_graphicsport},
        {"NSEvent", "type", (void*)m_type},
        {"NSEvent", "window", (void*)m_window},
        {"NSEvent", "locationInWindow", (void*)m_location},
        {"NSEvent", "characters", (void*)m_characters},
        {"NSEvent", "modifierFlags", (void*)m_modifierflags},
        {"NSEvent", "deltaY", (void*)m_deltay},
        {"NSOpenGLPixelFormat", "initWithAttributes:", (void*)m_initwithattributes},
        {"NSOpenGLContext", "initWithFormat:shareContext:", (void*)m_initwithformat},
        {"NSOpenGLContext", "setView:", (void*)m_idarg},
        {"NSOpenGLContext", "makeCurrentContext", (void*)m_none},
        {"NSOpenGLContext", "setValues:forParameter:", (void*)m_setvalues},
        {"NSOpenGLContext", "flushBuffer", (void*)m_none},
        {"NSOpenGLContext", "clearDrawable", (void*)m_none},
        {nullptr, nullptr, nullptr},
    };
    return table;
}

inline void* badmessage() { return nullptr; }

inline void* lookup(object* o, char const* sel)
{
    if (!isobject(o)) {
        fault(o ? "message to something that is no object" : "message to nil");
        return (void*)badmessage;
    }
    if (o->dead)
        fault("message to an object that is gone");
    for (method const* m = methods(); m->cls; m++) {
        bool classmethod = m->cls[0] == '+';
        char const* cls = classmethod ? m->cls + 1 : m->cls;
        if (classmethod != o->isclass || !streq(m->sel, sel))
            continue;
        if (streq(cls, "*") || streq(cls, o->cls))
            return m->fn;
    }
    fault("unknown message");
    return (void*)badmessage;
}

// ---- the runtime's C functions --------------------------------------------------

inline objid getclass(char const* name)
{
    static char const* const known[] = {"NSString", "NSDate", "NSAutoreleasePool", "NSRunLoop", "NSApplication",
                                        "NSWindow", "NSGraphicsContext", "NSOpenGLPixelFormat", "NSOpenGLContext"};
    for (char const* k : known)
        if (streq(k, name))
            return classobject(k);
    return nullptr;
}

inline objsel getuid(char const* name)
{
    world& s = w();
    for (u32 i = 0; i < s.selectorcount; i++)
        if (streq(s.selectors[i], name))
            return s.selectors[i];
    if (s.selectorcount == MAXSELECTORS)
        return nullptr;
    strcpy(s.selectors[s.selectorcount], name, 63);
    return s.selectors[s.selectorcount++];
}

// ---- CoreGraphics -----------------------------------------------------------------

inline object* cgobject(void* p, char const* kind)
{
    if (!isobject(p) || !streq(((object*)p)->cls, kind)) {
        fault("CoreGraphics given the wrong object");
        return nullptr;
    }
    return (object*)p;
}
inline void* cg_colorspace()
{
    logcall(nullptr, "CGColorSpaceCreateDeviceRGB");
    return newobject("CGColorSpace", owner_caller);
}
inline void* cg_bitmapcontext(void* data, usize width, usize height, usize bits, usize bytesperrow, void* space,
                              u32 info)
{
    call& c = logcall(nullptr, "CGBitmapContextCreate");
    c.a[0] = (u64)data, c.a[1] = width, c.a[2] = height, c.a[3] = bits, c.a[4] = bytesperrow, c.a[5] = (u64)space;
    c.a[6] = info;
    cgobject(space, "CGColorSpace");
    object* o = newobject("CGContext", owner_caller);
    o->data[0] = (u64)data;
    return o;
}
inline void cg_release(void* p, char const* name, char const* kind)
{
    logcall(nullptr, name).a[0] = (u64)p;
    if (object* o = cgobject(p, kind))
        release(o);
}
inline void cg_colorspacerelease(void* p) { cg_release(p, "CGColorSpaceRelease", "CGColorSpace"); }
inline void cg_imagerelease(void* p) { cg_release(p, "CGImageRelease", "CGImage"); }
inline void cg_contextrelease(void* p) { cg_release(p, "CGContextRelease", "CGContext"); }
inline void* cg_createimage(void* context)
{
    logcall(nullptr, "CGBitmapContextCreateImage").a[0] = (u64)context;
    cgobject(context, "CGContext");
    return newobject("CGImage", owner_caller);
}
inline void cg_drawimage(void* context, nsrect r, void* image)
{
    call& c = logcall(nullptr, "CGContextDrawImage");
    c.a[0] = (u64)context, c.a[1] = (u64)image;
    c.d[0] = r.origin.x, c.d[1] = r.origin.y, c.d[2] = r.size.width, c.d[3] = r.size.height;
    if (object* o = cgobject(image, "CGImage"))
        if (o->dead)
            fault("drew a released image");
}
inline void cg_flush(void* context) { logcall(nullptr, "CGContextFlush").a[0] = (u64)context; }
inline cgdisplayid cg_maindisplay() { return 100 + w().maindisplay; }
inline u32 cg_openglmask(cgdisplayid d)
{
    logcall(nullptr, "CGDisplayIDToOpenGLDisplayMask").a[0] = d;
    return 1u << (d - 100);
}
inline s32 cg_activedisplays(u32 max, cgdisplayid* ids, u32* count)
{
    call& c = logcall(nullptr, "CGGetActiveDisplayList");
    c.a[0] = max;
    u32 n = kzv_min(w().displays, max);
    for (u32 i = 0; i < n; i++)
        ids[i] = 100 + i;
    *count = n;
    return 0;
}
inline nsrect cg_bounds(cgdisplayid d)
{
    u32 i = d - 100;
    return i < 4 ? w().bounds[i] : nsrect{};
}

// ---- OpenGL -------------------------------------------------------------------------

inline call& gl(char const* name) { return logcall(nullptr, name); }
inline void gl_gentextures(s32 n, u32* t)
{
    gl("glGenTextures").a[0] = (u64)n;
    for (s32 i = 0; i < n; i++)
        t[i] = ++w().gltextures;
}
inline void gl_deletetextures(s32 n, u32 const* t)
{
    call& c = gl("glDeleteTextures");
    c.a[0] = (u64)n;
    c.a[1] = n > 0 ? t[0] : 0;
}
inline void gl_clear(u32 mask) { gl("glClear").a[0] = mask; }
inline void gl_bindtexture(u32 target, u32 texture)
{
    call& c = gl("glBindTexture");
    c.a[0] = target, c.a[1] = texture;
}
inline void gl_begin(u32 mode) { gl("glBegin").a[0] = mode; }
inline void gl_end() { gl("glEnd"); }
inline void gl_texcoord2i(s32 s, s32 t)
{
    call& c = gl("glTexCoord2i");
    c.a[0] = (u64)s, c.a[1] = (u64)t;
}
inline void gl_vertex2i(s32 x, s32 y)
{
    call& c = gl("glVertex2i");
    c.a[0] = (u64)x, c.a[1] = (u64)y;
}
inline void gl_teximage2d(u32 target, s32 level, s32 internal, s32 width, s32 height, s32 border, u32 format, u32 type,
                          void const* pixels)
{
    call& c = gl("glTexImage2D");
    c.a[0] = target, c.a[1] = (u64)level, c.a[2] = (u64)internal, c.a[3] = (u64)width, c.a[4] = (u64)height;
    c.a[5] = (u64)border, c.a[6] = format, c.a[7] = type, c.a[8] = (u64)pixels;
}
inline void gl_texsubimage2d(u32 target, s32 level, s32 x, s32 y, s32 width, s32 height, u32 format, u32 type,
                             void const* pixels)
{
    call& c = gl("glTexSubImage2D");
    c.a[0] = target, c.a[1] = (u64)level, c.a[2] = (u64)x, c.a[3] = (u64)y, c.a[4] = (u64)width;
    c.a[5] = (u64)height, c.a[6] = format, c.a[7] = type, c.a[8] = (u64)pixels;
}
inline void gl_texparameteri(u32 target, u32 name, s32 value)
{
    call& c = gl("glTexParameteri");
    c.a[0] = target, c.a[1] = name, c.a[2] = (u64)value;
}
inline void gl_pixelstorei(u32 name, s32 value)
{
    call& c = gl("glPixelStorei");
    c.a[0] = name, c.a[1] = (u64)value;
}
inline void gl_texturerange(u32 target, s32 length, void const* p)
{
    call& c = gl("glTextureRangeAPPLE");
    c.a[0] = target, c.a[1] = (u64)length, c.a[2] = (u64)p;
}
inline void gl_enable(u32 cap) { gl("glEnable").a[0] = cap; }
inline void gl_disable(u32 cap) { gl("glDisable").a[0] = cap; }
inline void gl_blendfunc(u32 s, u32 d)
{
    call& c = gl("glBlendFunc");
    c.a[0] = s, c.a[1] = d;
}
inline void gl_matrixmode(u32 mode) { gl("glMatrixMode").a[0] = mode; }
inline void gl_loadidentity() { gl("glLoadIdentity"); }
inline void gl_ortho(double l, double r, double b, double t, double n, double f)
{
    call& c = gl("glOrtho");
    c.d[0] = l, c.d[1] = r, c.d[2] = b, c.d[3] = t, c.d[4] = n, c.d[5] = f;
}

// ---- the resolver ----------------------------------------------------------------

enum : uptr { lib_cocoa = 1, lib_objc = 2, lib_cg = 3, lib_opengl = 4 };

struct symbol { uptr library; char const* name; void* address; };

inline objid& defaultmodevariable()
{
    static objid mode;
    return mode;
}

inline symbol const* symbols()
{
    static const symbol table[] = {
        {lib_objc, "objc_getClass", (void*)getclass},
        {lib_objc, "sel_getUid", (void*)getuid},
        {lib_objc, "objc_msgSend", (void*)fake_objc_msgSend},
        {lib_cocoa, "NSDefaultRunLoopMode", (void*)&defaultmodevariable()},
        {lib_cg, "CGColorSpaceCreateDeviceRGB", (void*)cg_colorspace},
        {lib_cg, "CGBitmapContextCreate", (void*)cg_bitmapcontext},
        {lib_cg, "CGColorSpaceRelease", (void*)cg_colorspacerelease},
        {lib_cg, "CGBitmapContextCreateImage", (void*)cg_createimage},
        {lib_cg, "CGContextDrawImage", (void*)cg_drawimage},
        {lib_cg, "CGContextFlush", (void*)cg_flush},
        {lib_cg, "CGImageRelease", (void*)cg_imagerelease},
        {lib_cg, "CGContextRelease", (void*)cg_contextrelease},
        {lib_cg, "CGMainDisplayID", (void*)cg_maindisplay},
        {lib_cg, "CGDisplayIDToOpenGLDisplayMask", (void*)cg_openglmask},
        {lib_cg, "CGGetActiveDisplayList", (void*)cg_activedisplays},
        {lib_cg, "CGDisplayBounds", (void*)cg_bounds},
        {lib_opengl, "glGenTextures", (void*)gl_gentextures},
        {lib_opengl, "glDeleteTextures", (void*)gl_deletetextures},
        {lib_opengl, "glClear", (void*)gl_clear},
        {lib_opengl, "glBindTexture", (void*)gl_bindtexture},
        {lib_opengl, "glBegin", (void*)gl_begin},
        {lib_opengl, "glEnd", (void*)gl_end},
        {lib_opengl, "glTexCoord2i", (void*)gl_texcoord2i},
        {lib_opengl, "glVertex2i", (void*)gl_vertex2i},
        {lib_opengl, "glTexImage2D", (void*)gl_teximage2d},
        {lib_opengl, "glTexSubImage2D", (void*)gl_texsubimage2d},
        {lib_opengl, "glTexParameteri", (void*)gl_texparameteri},
        {lib_opengl, "glPixelStorei", (void*)gl_pixelstorei},
        {lib_opengl, "glTextureRangeAPPLE", (void*)gl_texturerange},
        {lib_opengl, "glEnable", (void*)gl_enable},
        {lib_opengl, "glDisable", (void*)gl_disable},
        {lib_opengl, "glBlendFunc", (void*)gl_blendfunc},
        {lib_opengl, "glMatrixMode", (void*)gl_matrixmode},
        {lib_opengl, "glLoadIdentity", (void*)gl_loadidentity},
        {lib_opengl, "glOrtho", (void*)gl_ortho},
        {0, nullptr, nullptr},
    };
    return table;
}

inline void* openlibrary(char const* path)
{
    logcall(nullptr, "dlopen").a[0] = (u64)path;
    world& s = w();
    if (streq(path, "/System/Library/Frameworks/Cocoa.framework/Cocoa"))
        return (void*)lib_cocoa;
    if (streq(path, "/usr/lib/libobjc.dylib"))
        return (void*)lib_objc;
    if (streq(path, "/System/Library/Frameworks/ApplicationServices.framework/Frameworks/"
                    "CoreGraphics.framework/CoreGraphics"))
        return s.nocoregraphics || s.legacycgpath ? nullptr : (void*)lib_cg;
    if (streq(path, "/System/Library/Frameworks/CoreGraphics.framework/CoreGraphics"))
        return s.nocoregraphics ? nullptr : (void*)lib_cg;
    if (streq(path, "/System/Library/Frameworks/OpenGL.framework/Versions/Current/OpenGL"))
        return s.noopengl ? nullptr : (void*)lib_opengl;
    return nullptr;
}

inline void* findsymbol(void* library, char const* name)
{
    for (symbol const* s = symbols(); s->name; s++)
        if (s->library == (uptr)library && streq(s->name, name))
            return s->address;
    return nullptr;
}

inline frameworkresolver const& resolver()
{
    static const frameworkresolver r = {openlibrary, findsymbol};
    return r;
}

// ---- a fresh world ----------------------------------------------------------------

const nsrect DISPLAY_1440 = {{0, 0}, {1440, 900}};

// Forgets every object and call and both binding records (they stay in the
// process pool), with one 1440 x 900 display.
inline void reset(u32 displays = 1)
{
    world& s = w();
    memset0(&s, sizeof s);
    s.displays = displays;
    s.bounds[0] = DISPLAY_1440;
    s.bounds[1] = {{1440, -300}, {1920, 1200}};     // a taller display right of the main one
    defaultmodevariable() = newobject("NSString", owner_cocoa);
    process->slots[processslot_platform] = nullptr;
    process->slots[processslot_windowsystem] = nullptr;
    cocoa_useresolver(&resolver());
}

inline void script(scriptedevent const& e)
{
    world& s = w();
    if (s.eventcount < 64)
        s.events[s.eventcount++] = e;
}

// The calls from `from` on, one name each, as a check against `expected`
// (null-terminated); the first difference is reported.
inline bool callsare(u32 from, char const* const* expected)
{
    world& s = w();
    u32 i = 0;
    for (; expected[i]; i++) {
        if (from + i >= s.logcount) {
            note("missing call:");
            note(expected[i]);
            return false;
        }
        if (!streq(s.log[from + i].name, expected[i])) {
            note("call differs, got then wanted:");
            note(s.log[from + i].name);
            note(expected[i]);
            return false;
        }
    }
    return true;
}

// The first call named `name` from `from` on, or null.
inline call* findcall(char const* name, u32 from = 0)
{
    world& s = w();
    for (u32 i = from; i < s.logcount; i++)
        if (streq(s.log[i].name, name))
            return &s.log[i];
    return nullptr;
}

inline u32 countcalls(char const* name, u32 from = 0)
{
    u32 n = 0;
    world& s = w();
    for (u32 i = from; i < s.logcount; i++)
        n += streq(s.log[i].name, name) ? 1 : 0;
    return n;
}

} // namespace fakemac

extern "C" void* fake_lookup(void* self, void* selector)
{
    return fakemac::lookup((fakemac::object*)self, (char const*)selector);
}
