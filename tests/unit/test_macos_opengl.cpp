// The OpenGL on Quartz binding against the fake runtime: the context of a window,
// the GL calls of the back buffer and of an update in their order, blending only
// around the extra buffer's quad, the 565 upload, and the close that deletes the
// textures and releases what was alloc'd.
#include "macosfake.h"
#include "guifakes.h"
#include "../../platform/macos/opengl.h"

using namespace kzv;
using namespace kzvtest;
using namespace fakemac;

namespace {

struct glwindow {
    guiwindow g;
    eventlog events;
    void setup(u16 width, u16 height)
    {
        memset0(&g, sizeof g);
        events.setup();
        g.width = width;
        g.height = height;
        g.title = "gl";
        g.flags = guiwindow_titlebar;
        g.eventpin = &events.in;
    }
};

bool glbound()
{
    reset();
    return os_initquartzopengl();
}

} // namespace

TEST(opengl_binding_and_its_absence)
{
    CHECK(glbound());
    u32 calls = w().logcount;
    CHECK(os_initquartzopengl());       // tried once
    CHECK_EQ(w().logcount, calls);
    reset();
    w().noopengl = true;
    CHECK(!os_initquartzopengl());
    quartzscreen const* screens;
    u32 count;
    CHECK(os_initquartz(screens, count));   // Quartz 2D still serves
}

TEST(opening_an_opengl_window_makes_its_context_and_projection)
{
    CHECK(glbound());
    glwindow t;
    t.setup(640, 480);
    u32 from = w().logcount;
    CHECK_EQ(os_quartzopenglopenwindow(&t.g), 1);
    CHECK(t.g.flags & guiwindow_shown);     // drawn at once, no AppKit event awaited
    CHECK(cg_binding()->opening == nullptr);
    call* init = findcall("initWithAttributes:", from);
    CHECK(init && init->a[0] == 5 && init->a[1] == 0);
    call* context = findcall("initWithFormat:shareContext:", from);
    CHECK_EQ(context->a[0], (u64)quartz_part(&t.g)->pixelformat);
    CHECK_EQ(context->a[1], 0);
    object* window = (object*)quartz_part(&t.g)->window;
    CHECK_EQ(findcall("setView:", from)->a[0], (u64)window->contentview);
    call* swap = findcall("setValues:forParameter:", from);
    CHECK_EQ(swap->a[0], 1);
    CHECK_EQ(swap->a[1], 222);
    CHECK_EQ(quartz_part(&t.g)->displaymask, 1);
    u32 gl = (u32)(findcall("glMatrixMode", from) - w().log);
    static char const* const setup[] = {
        "glMatrixMode", "glLoadIdentity", "glOrtho", "glDisable", "glDisable", "glDisable", "glDisable",
        "glDisable", "glDisable", "glDisable", "glDisable", "glDisable", "glDisable", "glDisable", "glDisable",
        "glDisable", "glEnable", nullptr,
    };
    CHECK(callsare(gl, setup));
    CHECK_EQ(w().log[gl].a[0], 5889);
    call const& ortho = w().log[gl + 2];
    CHECK(ortho.d[0] == 0 && ortho.d[1] == 640 && ortho.d[2] == 480 && ortho.d[3] == 0 && ortho.d[4] == 0 &&
          ortho.d[5] == 1);
    static const u32 off[] = {2960, 2912, 3024, 3042, 2929, 3008, 3553, 2912, 2896, 3057, 2960, 3552, 3553};
    for (u32 i = 0; i < 13; i++)
        CHECK_EQ(w().log[gl + 3 + i].a[0], off[i]);
    CHECK_EQ(w().log[gl + 16].a[0], 34037);     // the rectangle texture is on
    os_quartzopenglclosewindow(&t.g, &process->pool);
    CHECK_EQ(w().faults, 0);
}

TEST(refused_second_back_buffer_leaves_no_stale_pixels)
{
    CHECK(glbound());
    glwindow t;
    t.setup(64, 32);
    CHECK_EQ(os_quartzopenglopenwindow(&t.g), 1);
    CHECK_EQ(os_quartzopenglcreatebackbuffer(&t.g, 0, &process->pool), 1);
    CHECK_EQ(os_quartzopenglgetbackbuffer(&t.g), 1);
    CHECK(t.g.pixels != nullptr);
    // A size no pool gives: the old buffer is gone, so the window must not keep it.
    t.g.width = 0xFFFF;
    t.g.height = 0xFFFF;
    CHECK_EQ(os_quartzopenglcreatebackbuffer(&t.g, 0, &process->pool), 0);
    CHECK(t.g.pixels == nullptr);
    CHECK_EQ(os_quartzopenglgetbackbuffer(&t.g), 0);
    t.g.width = 64;
    t.g.height = 32;
    os_quartzopenglclosewindow(&t.g, &process->pool);
    CHECK_EQ(w().faults, 0);
}

TEST(back_buffer_texture_and_update_in_order)
{
    CHECK(glbound());
    glwindow t;
    t.setup(64, 32);
    CHECK_EQ(os_quartzopenglopenwindow(&t.g), 1);
    u32 from = w().logcount;
    CHECK_EQ(os_quartzopenglupdatewindow(&t.g), 1);    // no texture yet: clear and swap
    static char const* const blank[] = {"makeCurrentContext", "glClear", "flushBuffer", nullptr};
    CHECK(callsare(from, blank));
    from = w().logcount;
    CHECK_EQ(os_quartzopenglcreatebackbuffer(&t.g, 0, &process->pool), 1);
    CHECK_EQ(os_quartzopenglgetbackbuffer(&t.g), 1);
    CHECK_EQ(t.g.stride, 256);
    static char const* const create[] = {
        "makeCurrentContext", "glGenTextures", "glBindTexture", "glTextureRangeAPPLE", "glTexParameteri",
        "glPixelStorei", "glTexParameteri", "glTexParameteri", "glTexParameteri", "glTexParameteri",
        "glTexImage2D", "glBindTexture", nullptr,
    };
    CHECK(callsare(from, create));
    call const* log = w().log + from;
    u32 texture = quartz_part(&t.g)->texture;
    CHECK(texture != 0);
    CHECK(log[2].a[0] == 34037 && log[2].a[1] == texture);
    CHECK(log[3].a[1] == 64 * 32 * 4 && log[3].a[2] == (u64)t.g.pixels);
    CHECK(log[4].a[1] == 34236 && log[4].a[2] == 34238);
    CHECK(log[5].a[0] == 34226 && log[5].a[1] == 1);
    CHECK(log[6].a[1] == 10241 && log[6].a[2] == 9728 && log[7].a[1] == 10240 && log[7].a[2] == 9728);
    CHECK(log[8].a[1] == 10242 && log[8].a[2] == 33071 && log[9].a[1] == 10243 && log[9].a[2] == 33071);
    CHECK(log[10].a[2] == 6408 && log[10].a[3] == 64 && log[10].a[4] == 32 && log[10].a[6] == 32993 &&
          log[10].a[7] == 33639 && log[10].a[8] == (u64)t.g.pixels);
    CHECK(log[11].a[1] == 0);

    from = w().logcount;
    CHECK_EQ(os_quartzopenglupdatewindow(&t.g), 1);
    static char const* const update[] = {
        "makeCurrentContext", "glBindTexture", "glTexSubImage2D", "glBegin", "glTexCoord2i", "glVertex2i",
        "glTexCoord2i", "glVertex2i", "glTexCoord2i", "glVertex2i", "glTexCoord2i", "glVertex2i", "glEnd",
        "flushBuffer", nullptr,
    };
    CHECK(callsare(from, update));
    log = w().log + from;
    CHECK(log[1].a[1] == texture);
    CHECK(log[2].a[4] == 64 && log[2].a[5] == 32 && log[2].a[6] == 32993 && log[2].a[7] == 33639);
    CHECK(log[3].a[0] == 7);
    CHECK(log[8].a[0] == 64 && log[8].a[1] == 32 && log[9].a[0] == 64 && log[9].a[1] == 32);
    CHECK_EQ(countcalls("glEnable", from), 0);     // blending stays off for the main quad

    from = w().logcount;
    void* pixels = t.g.pixels;
    os_quartzopenglclosewindow(&t.g, &process->pool);
    static char const* const close[] = {"makeCurrentContext", "glDeleteTextures", "clearDrawable", "release",
                                        "release", "close", "release", nullptr};
    CHECK(callsare(from, close));
    CHECK_EQ(w().log[from + 1].a[1], texture);
    CHECK(!t.g.pixels && pixels);
    CHECK_EQ(w().faults, 0);
}

TEST(extra_buffer_blends_only_its_own_quad)
{
    CHECK(glbound());
    glwindow t;
    t.setup(100, 100);
    CHECK_EQ(os_quartzopenglopenwindow(&t.g), 1);
    CHECK_EQ(os_quartzopenglcreatebuffer(&t.g, 10, 8, &process->pool), 1);
    CHECK(t.g.extratexture != 0);
    CHECK(t.g.extrawidth == 10 && t.g.extraheight == 8);
    t.g.zoom = 3;
    u32 from = w().logcount;
    CHECK_EQ(os_quartzopenglsetbuffer(2, 4, &t.g, &process->pool), 1);
    static char const* const set[] = {
        "makeCurrentContext", "glEnable", "glBlendFunc", "glBindTexture", "glBegin", "glTexCoord2i", "glVertex2i",
        "glTexCoord2i", "glVertex2i", "glTexCoord2i", "glVertex2i", "glTexCoord2i", "glVertex2i", "glEnd",
        "glDisable", nullptr,
    };
    CHECK(callsare(from, set));
    call const* log = w().log + from;
    CHECK(log[1].a[0] == 3042 && log[2].a[0] == 770 && log[2].a[1] == 771 && log[14].a[0] == 3042);
    CHECK(log[3].a[1] == t.g.extratexture);
    CHECK(log[6].a[0] == 6 && log[6].a[1] == 12);          // (2, 4) times 3
    CHECK(log[10].a[0] == 36 && log[10].a[1] == 36);       // plus 10 x 8 times 3
    CHECK(log[9].a[0] == 10 && log[9].a[1] == 8);          // texture coordinates in its own pixels
    u32 extra = t.g.extratexture;
    from = w().logcount;
    os_quartzopenglclosewindow(&t.g, &process->pool);
    CHECK_EQ(countcalls("glDeleteTextures", from), 1);     // the extra one (no back buffer was made)
    CHECK_EQ(findcall("glDeleteTextures", from)->a[1], extra);
    CHECK_EQ(w().faults, 0);
}

TEST(a_565_buffer_uploads_as_rgb_565)
{
    CHECK(glbound());
    glwindow t;
    t.setup(16, 16);
    CHECK_EQ(os_quartzopenglopenwindow(&t.g), 1);
    t.g.format = 565;
    u32 from = w().logcount;
    CHECK_EQ(os_quartzopenglcreatebackbuffer(&t.g, 0, &process->pool), 1);
    call* image = findcall("glTexImage2D", from);
    CHECK(image->a[2] == 6407 && image->a[6] == 6407 && image->a[7] == 33635);
    CHECK_EQ(findcall("glTextureRangeAPPLE", from)->a[1], 16 * 16 * 2);
    CHECK_EQ(os_quartzopenglgetbackbuffer(&t.g), 1);
    CHECK_EQ(t.g.stride, 32);
    from = w().logcount;
    CHECK_EQ(os_quartzopenglupdatewindow(&t.g), 1);
    call* sub = findcall("glTexSubImage2D", from);
    CHECK(sub->a[6] == 6407 && sub->a[7] == 33635);
    os_quartzopenglclosewindow(&t.g, &process->pool);
    CHECK_EQ(w().faults, 0);
}
