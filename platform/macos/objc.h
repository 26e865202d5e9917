// The Objective-C runtime as the macOS binding reaches it: loaded by path at run
// time through a resolver it is given (the program's dlopen and dlsym, or a
// test's fake), never linked. Every message goes through objc_send, which casts
// objc_msgSend to the exact prototype of the call, since the x86-64 calling
// convention differs by type: an NSRect argument travels in memory, NSPoint and
// CGFloat results come back in xmm registers, BOOL is a signed char and NSInteger
// and NSUInteger are longs. No message here returns a structure too large for
// registers, so objc_msgSend_stret is not needed. The binding record lives in the
// process pool for the whole run, pointed at by a process slot.
#pragma once
#include "../../framework/types.h"

namespace kzv {

typedef void* objid;        // an object or a class
typedef void* objsel;       // a selector
typedef signed char objbool;
typedef long nsinteger;
typedef unsigned long nsuinteger;
typedef double cgfloat;
struct nspoint { cgfloat x, y; };
struct nssize { cgfloat width, height; };
struct nsrect { nspoint origin; nssize size; };
static_assert(sizeof(nsrect) == 32 && sizeof(objbool) == 1 && sizeof(nsuinteger) == 8, "AppKit's x86-64 types");

// How the binding finds the frameworks: a library by path (null when it is not
// there) and a symbol in it (null when missing). The library handles are opaque.
struct frameworkresolver {
    void* (*openlibrary)(char const* path);
    void* (*findsymbol)(void* library, char const* name);
};

// Makes `r` the resolver of every later bind; until then nothing binds.
void cocoa_useresolver(frameworkresolver const* r);
frameworkresolver const* cocoa_resolver();

// The selectors the binding sends, registered once.
enum objcselector : u32 {
    sel_alloc, sel_init, sel_release, sel_close, sel_drain, sel_stringwithutf8string,
    sel_nextevent, sel_sendevent, sel_characters, sel_length, sel_characterat, sel_window,
    sel_runmode, sel_distantpast, sel_locationinwindow, sel_settitle, sel_type, sel_modifierflags,
    sel_deltay, sel_state, sel_mainrunloop, sel_sharedapplication, sel_setactivationpolicy,
    sel_activateignoringotherapps, sel_finishlaunching, sel_initwithcontentrect,
    sel_setreleasedwhenclosed, sel_setlevel, sel_sethidesondeactivate, sel_setopaque,
    sel_makefirstresponder, sel_makekeyandorderfront, sel_standardwindowbutton, sel_settarget,
    sel_setaction, sel_setacceptsmousemovedevents, sel_graphicscontextwithwindow,
    sel_graphicsport, sel_contentview, sel_initwithattributes, sel_initwithformat, sel_setview,
    sel_makecurrentcontext, sel_setvalues, sel_flushbuffer, sel_cleardrawable,
    OBJC_SELECTORCOUNT,
};

// The classes the binding uses, looked up once.
enum objcclass : u32 {
    class_nsstring, class_nsdate, class_nsautoreleasepool, class_nsrunloop, class_nsapplication,
    class_nswindow, class_nsgraphicscontext, class_nsopenglpixelformat, class_nsopenglcontext,
    OBJC_CLASSCOUNT,
};

enum : u8 { objcbinding_usable = 1 };

struct objcbinding {
    void* libobjc;
    objid (*getclass)(char const* name);
    objsel (*getuid)(char const* name);
    void* msgsend;
    objsel selectors[OBJC_SELECTORCOUNT];
    objid classes[OBJC_CLASSCOUNT];
    objid defaultmode;      // NSDefaultRunLoopMode, the NSString its data symbol holds
    objid runloop;          // [NSRunLoop mainRunLoop]
    objid app;              // [NSApplication sharedApplication]
    objid pool;             // the outer autorelease pool, never drained
    u8 flags;
};

// The binding once built, or null.
objcbinding* objc_binding();

inline objsel objc_sel(objcselector s) { return objc_binding()->selectors[s]; }
inline objid objc_class(objcclass c) { return objc_binding()->classes[c]; }

template <class T> struct objc_exact { typedef T type; };

// [self sel args...] with the prototype R (id, SEL, A...) spelled out by the
// caller, so no argument is promoted or passed in the wrong register.
template <class R, class... A> inline R objc_send(objid self, objcselector s, typename objc_exact<A>::type... args)
{
    objcbinding* b = objc_binding();
    return ((R(*)(objid, objsel, A...))b->msgsend)(self, b->selectors[s], args...);
}

// [[cls alloc] init]-style helpers of the common shapes.
inline objid objc_get(objid self, objcselector s) { return objc_send<objid>(self, s); }
inline void objc_do(objid self, objcselector s) { objc_send<void>(self, s); }

} // namespace kzv
