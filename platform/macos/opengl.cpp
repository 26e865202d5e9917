// The OpenGL windows; see opengl.h. OpenGL numbers used: GL_PROJECTION 5889,
// GL_TEXTURE_RECTANGLE 34037 (pixel texture coordinates), the storage hint 34236
// with "shared" 34238 and client storage 34226 (Apple's, so the texture reads our
// memory), nearest filtering 9728 for 10241/10240, clamp to edge 33071 for
// 10242/10243, GL_QUADS 7, GL_COLOR_BUFFER_BIT 0x4000, and the pixel layouts: our
// 888 word in memory is BGRA 32993 with UNSIGNED_INT_8_8_8_8_REV 33639; a 565
// word is RGB 6407 with UNSIGNED_SHORT_5_6_5 33635 (red in bits 15-11).
// NSOpenGLPFADoubleBuffer is attribute 5; NSOpenGLCPSwapInterval parameter 222.
#include "opengl.h"
#include "../../framework/mem.h"
#include "../../framework/memprim.h"
#include "../../gui/pixelformat.h"

namespace kzv {

static char const* const OPENGL_PATH = "/System/Library/Frameworks/OpenGL.framework/Versions/Current/OpenGL";

enum : u32 {
    gl_projection = 5889, gl_texturerectangle = 34037, gl_storagehint = 34236, gl_storageshared = 34238,
    gl_clientstorage = 34226, gl_minfilter = 10241, gl_magfilter = 10240, gl_nearest = 9728, gl_wraps = 10242,
    gl_wrapt = 10243, gl_clamptoedge = 33071, gl_quads = 7, gl_colorbufferbit = 0x4000, gl_blend = 3042,
    gl_srcalpha = 770, gl_oneminussrcalpha = 771, gl_rgb = 6407, gl_rgba = 6408, gl_bgra = 32993,
    gl_uint8888rev = 33639, gl_ushort565 = 33635,
};

// Switched off once per context, in this order, so only texturing is left.
static const u32 GL_OFF[] = {2960, 2912, 3024, 3042, 2929, 3008, 3553, 2912, 2896, 3057, 2960, 3552, 3553};

static const u32 PIXELFORMAT_ATTRIBUTES[] = {5, 0};   // double buffered
const nsinteger NSOPENGL_SWAPINTERVAL = 222;

bool os_initquartzopengl()
{
    quartzscreen const* screens;
    u32 count;
    if (!os_initquartz(screens, count))
        return false;
    cgbinding* g = cg_binding();
    if (g->flags & cgbinding_gltried)
        return (g->flags & cgbinding_glusable) != 0;
    g->flags |= cgbinding_gltried;
    frameworkresolver const* r = cocoa_resolver();
    g->opengl = r ? r->openlibrary(OPENGL_PATH) : nullptr;
    glfunctions& f = g->gl;
    static char const* const names[] = {
        "glGenTextures", "glDeleteTextures", "glClear", "glBindTexture", "glBegin", "glEnd", "glTexCoord2i",
        "glVertex2i", "glTexImage2D", "glTexSubImage2D", "glTexParameteri", "glPixelStorei", "glTextureRangeAPPLE",
        "glEnable", "glDisable", "glBlendFunc", "glMatrixMode", "glLoadIdentity", "glOrtho",
    };
    void* const slots[] = {
        &f.gentextures, &f.deletetextures, &f.clear, &f.bindtexture, &f.begin, &f.end, &f.texcoord2i,
        &f.vertex2i, &f.teximage2d, &f.texsubimage2d, &f.texparameteri, &f.pixelstorei, &f.texturerangeapple,
        &f.enable, &f.disable, &f.blendfunc, &f.matrixmode, &f.loadidentity, &f.ortho,
    };
    static_assert(sizeof(names) / sizeof(*names) == sizeof(slots) / sizeof(*slots), "one slot a name");
    bool classes = objc_class(class_nsopenglpixelformat) && objc_class(class_nsopenglcontext);
    if (classes && cocoa_bindall(g->opengl, names, slots, sizeof(names) / sizeof(*names)))
        g->flags |= cgbinding_glusable;
    return (g->flags & cgbinding_glusable) != 0;
}

static glfunctions& gl() { return cg_binding()->gl; }

static bool glready(guiwindow* w)
{
    cgbinding* g = cg_binding();
    return w && g && (g->flags & cgbinding_glusable) && quartz_part(w)->glcontext;
}

static void makecurrent(quartzwindow* q) { objc_do(q->glcontext, sel_makecurrentcontext); }

static bool makecontext(quartzwindow* q)
{
    objid format = objc_get(objc_class(class_nsopenglpixelformat), sel_alloc);
    format = format ? objc_send<objid, u32 const*>(format, sel_initwithattributes, PIXELFORMAT_ATTRIBUTES) : nullptr;
    if (!format)
        return false;
    q->pixelformat = format;
    objid context = objc_get(objc_class(class_nsopenglcontext), sel_alloc);
    context = context ? objc_send<objid, objid, objid>(context, sel_initwithformat, format, nullptr) : nullptr;
    if (!context)
        return false;
    q->glcontext = context;
    objc_send<void, objid>(context, sel_setview, objc_get(q->window, sel_contentview));
    makecurrent(q);
    static const s32 waitforrefresh = 1;
    objc_send<void, s32 const*, nsinteger>(context, sel_setvalues, &waitforrefresh, NSOPENGL_SWAPINTERVAL);
    return true;
}

static void setupcontext(guiwindow* w)
{
    glfunctions& f = gl();
    f.matrixmode(gl_projection);
    f.loadidentity();
    f.ortho(0, (double)w->width, (double)w->height, 0, 0, 1);   // top-left origin
    for (u32 capability : GL_OFF)
        f.disable(capability);
    f.enable(gl_texturerectangle);
}

int os_quartzopenglopenwindow(guiwindow* w)
{
    if (!os_initquartzopengl() || !os_quartzopenwindow(w))
        return 0;
    cgbinding* g = cg_binding();
    quartzwindow* q = quartz_part(w);
    q->displaymask = g->displayidtoopengldisplaymask(g->screens[0].display);
    if (!makecontext(q)) {
        os_quartzopenglclosewindow(w, nullptr);
        return 0;
    }
    setupcontext(w);
    // Drawn straight away: no AppKit-defined event is waited for.
    if (g->opening == w)
        g->opening = nullptr;
    w->flags |= guiwindow_shown;
    return 1;
}

static u32 bytesperpixel(guiwindow* w) { return w->format == pixfmt_565 ? 2 : 4; }
static u32 sourceformat(guiwindow* w) { return w->format == pixfmt_565 ? gl_rgb : gl_bgra; }
static u32 sourcetype(guiwindow* w) { return w->format == pixfmt_565 ? gl_ushort565 : gl_uint8888rev; }

static void deletetextures(guiwindow* w)
{
    quartzwindow* q = quartz_part(w);
    if (q->texture)
        gl().deletetextures(1, &q->texture);
    if (w->extratexture)
        gl().deletetextures(1, &w->extratexture);
    q->texture = 0;
    w->extratexture = 0;
}

// A second 147 replaces the first texture and buffer.
int os_quartzopenglcreatebackbuffer(guiwindow* w, u32, mem* pool)
{
    if (!glready(w) || !pool)
        return 0;
    quartzwindow* q = quartz_part(w);
    glfunctions& f = gl();
    makecurrent(q);
    if (q->texture)
        f.deletetextures(1, &q->texture);
    q->texture = 0;
    if (q->backbuffer) {
        // The window may still point at the old pixels; if the new block is
        // refused it must not be left drawing into freed memory.
        if (w->pixels == q->backbuffer)
            w->pixels = nullptr;
        q->bufferpool->freemem(q->backbuffer);
    }
    q->backbuffer = nullptr;
    u64 bytes = (u64)w->width * w->height * bytesperpixel(w);
    u8* pixels = bytes ? (u8*)pool->getmem0(bytes) : nullptr;
    if (!pixels)
        return 0;
    q->backbuffer = pixels;
    q->bufferpool = pool;
    f.gentextures(1, &q->texture);
    f.bindtexture(gl_texturerectangle, q->texture);
    f.texturerangeapple(gl_texturerectangle, (s32)bytes, pixels);
    f.texparameteri(gl_texturerectangle, gl_storagehint, gl_storageshared);
    f.pixelstorei(gl_clientstorage, 1);
    f.texparameteri(gl_texturerectangle, gl_minfilter, gl_nearest);
    f.texparameteri(gl_texturerectangle, gl_magfilter, gl_nearest);
    f.texparameteri(gl_texturerectangle, gl_wraps, gl_clamptoedge);
    f.texparameteri(gl_texturerectangle, gl_wrapt, gl_clamptoedge);
    f.teximage2d(gl_texturerectangle, 0, w->format == pixfmt_565 ? gl_rgb : gl_rgba, w->width, w->height, 0,
                 sourceformat(w), sourcetype(w), pixels);
    f.bindtexture(gl_texturerectangle, 0);
    return 1;
}

int os_quartzopenglgetbackbuffer(guiwindow* w)
{
    if (!w || !quartz_part(w)->backbuffer)
        return 0;
    w->stride = (u32)w->width * bytesperpixel(w);
    w->pixels = quartz_part(w)->backbuffer;
    return 1;
}

// One quad from (x0, y0) to (x1, y1), texture coordinates in pixels from (0, 0).
static void drawquad(s32 x0, s32 y0, s32 x1, s32 y1, s32 width, s32 height)
{
    glfunctions& f = gl();
    f.begin(gl_quads);
    f.texcoord2i(0, 0);
    f.vertex2i(x0, y0);
    f.texcoord2i(width, 0);
    f.vertex2i(x1, y0);
    f.texcoord2i(width, height);
    f.vertex2i(x1, y1);
    f.texcoord2i(0, height);
    f.vertex2i(x0, y1);
    f.end();
}

int os_quartzopenglupdatewindow(guiwindow* w)
{
    if (!glready(w))
        return 0;
    quartzwindow* q = quartz_part(w);
    glfunctions& f = gl();
    makecurrent(q);
    if (!q->texture) {
        f.clear(gl_colorbufferbit);
        objc_do(q->glcontext, sel_flushbuffer);
        return 1;
    }
    f.bindtexture(gl_texturerectangle, q->texture);
    f.texsubimage2d(gl_texturerectangle, 0, 0, 0, w->width, w->height, sourceformat(w), sourcetype(w), q->backbuffer);
    drawquad(0, 0, w->width, w->height, w->width, w->height);
    objc_do(q->glcontext, sel_flushbuffer);
    return 1;
}

int os_quartzopenglcreatebuffer(guiwindow* w, u32 width, u32 height, mem*)
{
    if (!glready(w))
        return 0;
    makecurrent(quartz_part(w));
    if (w->extratexture)
        gl().deletetextures(1, &w->extratexture);
    w->extratexture = 0;
    gl().gentextures(1, &w->extratexture);
    w->extrawidth = (u16)kzv_min<u32>(width, GUIWINDOW_MAXSIDE);
    w->extraheight = (u16)kzv_min<u32>(height, GUIWINDOW_MAXSIDE);
    return 1;
}

// Blending is on only for this quad: the main quad's unused alpha byte is 0.
int os_quartzopenglsetbuffer(u32 x, u32 y, guiwindow* w, mem*)
{
    if (!glready(w) || !w->extratexture)
        return 0;
    glfunctions& f = gl();
    u64 zoom = w->zoom > 1 ? w->zoom : 1;
    u64 x0 = kzv_min<u64>((u64)x * zoom, GUIWINDOW_MAXSIDE), y0 = kzv_min<u64>((u64)y * zoom, GUIWINDOW_MAXSIDE);
    u64 width = kzv_min<u64>((u64)w->extrawidth * zoom, GUIWINDOW_MAXSIDE);
    u64 height = kzv_min<u64>((u64)w->extraheight * zoom, GUIWINDOW_MAXSIDE);
    makecurrent(quartz_part(w));
    f.enable(gl_blend);
    f.blendfunc(gl_srcalpha, gl_oneminussrcalpha);
    f.bindtexture(gl_texturerectangle, w->extratexture);
    drawquad((s32)x0, (s32)y0, (s32)(x0 + width), (s32)(y0 + height), w->extrawidth, w->extraheight);
    f.disable(gl_blend);
    return 1;
}

// The textures go before their pixel memory does; the context lets go of the
// view before it is released, then the Cocoa window closes.
void os_quartzopenglclosewindow(guiwindow* w, mem* pool)
{
    if (!w)
        return;
    quartzwindow* q = quartz_part(w);
    cgbinding* g = cg_binding();
    if (q->glcontext && g && (g->flags & cgbinding_glusable)) {
        makecurrent(q);
        deletetextures(w);
        objc_do(q->glcontext, sel_cleardrawable);
        objc_do(q->glcontext, sel_release);
    }
    if (q->pixelformat)
        objc_do(q->pixelformat, sel_release);
    q->glcontext = nullptr;
    q->pixelformat = nullptr;
    q->texture = 0;
    w->extratexture = 0;
    if (q->backbuffer) {
        if (w->pixels == q->backbuffer)
            w->pixels = nullptr;
        q->bufferpool->freemem(q->backbuffer);
        q->backbuffer = nullptr;
    }
    os_quartzclosewindow(w, pool);
}

} // namespace kzv
