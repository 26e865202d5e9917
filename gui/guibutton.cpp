// The push button. Its looks are rendered at open (and when the look changes)
// into 888 images over buffers of the container's store; drawing copies one of
// them into the window's image, which converts to the window's pixel format.
#include "guibutton.h"
#include "../framework/str.h"

namespace kzv {

namespace {

// Each channel c becomes c + c/5 (at most 255) when lighter, c - c/5 when darker.
u32 shade(u32 colour, bool lighter)
{
    u32 out = 0;
    for (u32 shift = 0; shift < 24; shift += 8) {
        u32 c = (colour >> shift) & 0xFF;
        c = lighter ? kzv_min<u32>(255, c + c / 5) : c - c / 5;
        out |= c << shift;
    }
    return out;
}

} // namespace

s32 button_centred(s32 space, s32 textwidth)
{
    s64 left = ((s64)space - textwidth) / 2;
    return left < 0 ? 0 : (s32)left;
}

void guibutton::init(mem* p)
{
    memset0(this, sizeof(*this));
    initheader(p, "guibutton", guibutton_concb, type_bytestream);
    for (u32 i = 0; i < BUTTON_FACES; i++)
        faces[i].init(pool);
}

void guibutton::exit(bool keep)
{
    module_exit(*this, keep);
}

// The face buffers and the label belong to the container's store, which frees them.
void guibutton::mexit()
{
    for (u32 i = 0; i < BUTTON_FACES; i++) {
        faces[i].exit(true);
        facepixels[i] = nullptr;
    }
    label = nullptr;
    container = nullptr;
    store = nullptr;
    buttonflags = 0;
    flags &= (u8)~widget_ready;
}

u32 guibutton::open(char const* text, int bx, int by, int bw, int bh)
{
    gui* g = gui_current();
    if (!g)
        return 0;
    container = g;
    look = g->look;
    store = &g->store;
    x = bx;
    y = by;
    width = bw;
    height = bh;
    buttonflags = button_open;
    font = g->font;
    fontsize = g->fontsize;
    label = store->setstr(text ? text : "");
    if (look.style == 0) {
        if (takefaces(BUTTON_FACES, width, height, 888))
            drawtemps0();
    } else {
        s32 textwidth = look.target ? look.target->textlen(label) : 0;
        if (takefaces(1, textwidth + 20, height - 8, 8888))
            drawtemps1();
    }
    draw();
    g->addwidget(this, x, y, width, height);
    id = ++g->widgetcounter;
    flags |= widget_ready;
    return id;
}

// Wraps `count` face images over new buffers; a size that cannot be drawn leaves
// the faces without pixels, so the button draws nothing of its own.
bool guibutton::takefaces(u32 count, s32 fw, s32 fh, unsigned format)
{
    for (u32 i = 0; i < BUTTON_FACES; i++)
        faces[i].exit(false);
    if (fw < 1 || fh < 1 || fw > BUTTON_MAXSIDE || fh > BUTTON_MAXSIDE || !store)
        return false;
    u32 bytes = (u32)((u64)fw * (u64)fh * 4);      // at most 64 MiB by the side cap
    for (u32 i = 0; i < count; i++) {
        facepixels[i] = (u8*)store->getmem(bytes);
        if (!facepixels[i] || !faces[i].open(facepixels[i], (unsigned)fw, (unsigned)fh, format, 0))
            return false;
    }
    return true;
}

void guibutton::drawtemps0()
{
    u32 face = look.colors[7];
    u32 insides[BUTTON_FACES] = {face, shade(face, true), shade(face, false)};
    u32 textcolour = pixel_opaque(look.colors[8]);
    for (u32 i = 0; i < BUTTON_FACES; i++) {
        image& img = faces[i];
        if (!img.haspixels())
            continue;
        img.clear(look.colors[0]);
        img.setfont(font);
        s32 textwidth = img.textlen(label);
        img.fillroundedrect(0, 0, width, height, BUTTON_RADIUS, look.colors[9]);
        img.fillroundedrect(1, 1, width - 2, height - 2, BUTTON_RADIUS, insides[i]);
        s32 lx = button_centred(width, textwidth);
        s32 ly = ((height - (s32)(fontsize / 64)) >> 1) - 1;
        if (i == buttonface_pressed) {
            lx++;
            ly++;
        }
        img.print(lx, ly, textcolour, label);
    }
}

void guibutton::drawtemps1()
{
    image& img = faces[0];
    if (!img.haspixels())
        return;
    img.clear(0);
    img.setfont(font);
    img.print(10, ((height - (s32)(fontsize / 64) - 8) >> 1) - 1, pixel_opaque(look.colors[8]), label);
}

void guibutton::drawbevel(bool pressed)
{
    image* t = look.target;
    u32 const* c = look.colors;
    u32 topleft = pressed ? c[3] : c[2];
    u32 bottomright = pressed ? c[2] : c[4];
    t->fillrect(x, y, width, 1, topleft);
    t->fillrect(x, y, 1, height, topleft);
    t->fillrect(x, y + height - 1, width, 1, bottomright);
    t->fillrect(x + width - 1, y, 1, height, bottomright);
    if (pressed) {
        t->fillrect(x + 1, y + 1, width - 2, 1, c[4]);
        t->fillrect(x + 1, y + 1, 1, height - 2, c[4]);
    } else {
        t->fillrect(x + 1, y + height - 2, width - 2, 1, c[3]);
        t->fillrect(x + width - 2, y + 1, 1, height - 2, c[3]);
    }
}

void guibutton::draw()
{
    image* t = look.target;
    if (!t)
        return;
    if (!(buttonflags & button_open)) {
        t->fillrect(x, y, width, height, look.colors[0]);
        return;
    }
    bool pressed = (buttonflags & button_pressed) != 0;
    if (look.style == 0) {
        u32 face = pressed ? buttonface_pressed : (buttonflags & button_hover) ? buttonface_hover : buttonface_normal;
        if (faces[face].haspixels())
            t->copy(&faces[face], x, y, 0, 0, 0, 0);
        return;
    }
    t->fillrect(x, y, width, height, look.colors[7]);
    drawbevel(pressed);
    if (faces[0].haspixels())
        t->copy(&faces[0], x + button_centred(width, faces[0].width) + (pressed ? 2 : 0), y + (pressed ? 6 : 4),
                0, 0, 0, 0);
}

void guibutton::changed()
{
    draw();
    if (container)
        container->requestredraw();
}

sptr guibutton::command(unsigned code, int a, int b)
{
    if (code == widget_lookchanged) {
        if (!container)
            return 1;
        look = container->look;
        if (look.style == 0)
            drawtemps0();
        else
            drawtemps1();
        draw();
        return 1;
    }
    if (!(buttonflags & button_open))
        return 0;
    switch (code) {
    case widget_draw:
    case widget_frameshown: draw(); return 1;
    case ui_leftdown:
        buttonflags |= button_pressed;
        changed();
        return 1;
    case ui_leftup:
        if (buttonflags & button_pressed)
            buttonflags |= button_clicked;
        buttonflags = (u8)((buttonflags | button_hover) & ~button_pressed);
        changed();
        return 1;
    case widget_pointerleft:
        buttonflags &= (u8)~(button_hover | button_pressed);
        changed();
        return 1;
    case ui_mousemoved:
        if (!(buttonflags & button_hover)) {
            buttonflags |= button_hover;
            changed();
        }
        return 1;
    default: return 0;
    }
}

bool guibutton::isclicked()
{
    bool clicked = (buttonflags & button_clicked) != 0;
    buttonflags &= (u8)~button_clicked;
    return clicked;
}

sptr guibutton_concb(void* self, unsigned cmd, int a, int b, void const* p)
{
    sptr reply;
    if (module_defaultreply(cmd, p, reply))
        return reply;
    return ((guibutton*)self)->command(cmd, a, b);
}

} // namespace kzv
