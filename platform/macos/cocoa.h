// The Cocoa and Quartz binding: the Objective-C runtime, Cocoa and CoreGraphics
// bound at run time through the resolver, and on top of them the window
// operations of the Quartz back-ends: open, back buffer, update, close, the event
// pump and the key translation. Only the functions that are called are looked up
// and required. Ownership follows Cocoa's rules: the binding releases exactly what
// it alloc'd (or a CoreGraphics Create function made), never an object it was
// handed; each pump pass drains an autorelease pool of its own. Both binding
// records live in the process pool for the run. All calls run on the thread that
// makes them; the pump runs in the back-end's scheduler step.
#pragma once
#include "objc.h"
#include "../../gui/guiwindow.h"

namespace kzv {

class mem;

typedef u32 cgdisplayid;

// One display: where it lies in the global top-left coordinates of CoreGraphics.
struct quartzscreen {
    s32 x, y, width, height;
    cgdisplayid display;
};
static_assert(sizeof(quartzscreen) == 20, "screen list entry");

const u32 QUARTZ_MAXSCREENS = 8;

// The OpenGL functions (bound by os_initquartzopengl) that the OpenGL windows call.
struct glfunctions {
    void (*gentextures)(s32 n, u32* textures);
    void (*deletetextures)(s32 n, u32 const* textures);
    void (*clear)(u32 mask);
    void (*bindtexture)(u32 target, u32 texture);
    void (*begin)(u32 mode);
    void (*end)();
    void (*texcoord2i)(s32 s, s32 t);
    void (*vertex2i)(s32 x, s32 y);
    void (*teximage2d)(u32 target, s32 level, s32 internalformat, s32 width, s32 height, s32 border, u32 format,
                       u32 type, void const* pixels);
    void (*texsubimage2d)(u32 target, s32 level, s32 x, s32 y, s32 width, s32 height, u32 format, u32 type,
                          void const* pixels);
    void (*texparameteri)(u32 target, u32 name, s32 value);
    void (*pixelstorei)(u32 name, s32 value);
    void (*texturerangeapple)(u32 target, s32 length, void const* pointer);
    void (*enable)(u32 capability);
    void (*disable)(u32 capability);
    void (*blendfunc)(u32 source, u32 destination);
    void (*matrixmode)(u32 mode);
    void (*loadidentity)();
    void (*ortho)(double left, double right, double bottom, double top, double nearz, double farz);
};

enum : u8 { cgbinding_usable = 1, cgbinding_gltried = 2, cgbinding_glusable = 4 };

struct cgbinding {
    void* library;
    void* (*colorspacecreatedevicergb)();
    void* (*bitmapcontextcreate)(void* data, usize width, usize height, usize bitspercomponent, usize bytesperrow,
                                 void* colorspace, u32 bitmapinfo);
    void (*colorspacerelease)(void* colorspace);
    void* (*bitmapcontextcreateimage)(void* context);
    void (*contextdrawimage)(void* context, nsrect where, void* image);
    void (*contextflush)(void* context);
    void (*imagerelease)(void* image);
    void (*contextrelease)(void* context);
    cgdisplayid (*maindisplayid)();
    u32 (*displayidtoopengldisplaymask)(cgdisplayid display);
    s32 (*getactivedisplaylist)(u32 maxdisplays, cgdisplayid* displays, u32* count);
    nsrect (*displaybounds)(cgdisplayid display);
    u32 screencount;
    s32 mainheight;         // of the main display, where Cocoa's y starts
    quartzscreen* screens;
    guiwindow* opening;     // the window whose first AppKit-defined event marks it shown
    void* opengl;
    glfunctions gl;
    u8 flags;
};

// The back-end part of a guiwindow on this platform.
struct quartzwindow {
    u32 stylemask;
    objid window;           // alloc'd: closed and released by the close
    objid graphicscontext;  // handed out by Cocoa: never released here
    void* graphicsport;     // the context's CGContext: never released here
    objid closebutton;
    u8* backbuffer;
    mem* bufferpool;        // where the back buffer came from
    void* bitmapcontext;    // made by CGBitmapContextCreate: released by the close
    double rect[4];         // content: x, bottom-left y, width, height
    // OpenGL (opengl.h).
    u32 displaymask;
    objid pixelformat;      // alloc'd
    objid glcontext;        // alloc'd
    u32 texture;            // 0 = none
};

inline quartzwindow* quartz_part(guiwindow* w) { return w->backendfields<quartzwindow>(); }

cgbinding* cg_binding();

bool os_initobjc();
// The screen list and its count; false when CoreGraphics or any display is missing.
bool os_initquartz(quartzscreen const*& screens, u32& count);

int os_quartzopenwindow(guiwindow* w);
int os_quartzcreatebackbuffer(guiwindow* w, u32 count, mem* pool);
int os_quartzgetbackbuffer(guiwindow* w);
int os_quartzupdatewindow(guiwindow* w);
int os_quartzupdatewindow(guiwindow* w, u16 x, u16 y, u16 width, u16 height);
void os_quartzclosewindow(guiwindow* w, mem* pool);
int os_quartzcreatebuffer(guiwindow* w, u32 width, u32 height, mem* pool);
int os_quartzsetbuffer(u32 x, u32 y, guiwindow* w, mem* pool);

// The window of `list` (count slots, null ones skipped) that is the event's, or null.
guiwindow* os_getwin(objid event, guiwindow* const* list, u32 count);
// One pass of the event pump over the back-end's window list.
void os_quartzgetmessages(guiwindow* const* list, u32 count, u32& modifiers);
u32 os_quartzconvertch(u32 character, u32 modifiers);

// Looks up every name of `names` in `library` and stores the pointer through the
// matching entry of `slots`; false when one is missing.
bool cocoa_bindall(void* library, char const* const* names, void* const* slots, u32 count);

} // namespace kzv
