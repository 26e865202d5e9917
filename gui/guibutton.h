// A push button with a text label, a widget of the current container. It renders
// its three looks (normal, pointer over it, pressed) once into images of its own
// and copies the right one into the window's image whenever its state changes.
// A click is a press and a release over the button; it stays until `isclicked`
// collects it. The button ignores the keyboard. Its pixel buffers and label copy
// come from the container's store and live as long as the container.
#pragma once
#include "gui.h"

namespace kzv {

enum : u8 {                 // the button's own flags
    button_hover = 1,
    button_pressed = 2,
    button_clicked = 4,     // not yet collected
    button_open = 8,
};

enum : u32 { buttonface_normal = 0, buttonface_hover = 1, buttonface_pressed = 2, BUTTON_FACES = 3 };

const u32 BUTTON_RADIUS = 4;
const s32 BUTTON_MAXSIDE = 4096;     // larger than any screen; keeps the face buffers small

class guibutton : public module {
public:
    u32 id;
    u32 fontsize;
    s32 x, y, width, height;
    u8 buttonflags;
    gui* container;
    guilook look;
    smem* store;
    image faces[BUTTON_FACES];  // style 0: the three looks; style 1: faces[0] holds the label
    u8* facepixels[BUTTON_FACES];
    u8 const* font;
    char* label;

    void init(mem* p);
    void exit(bool keep);
    void mexit();

    // The widget id, or 0 when there is no current container.
    u32 open(char const* text, int bx, int by, int bw, int bh);
    void drawtemps0();
    void draw();
    sptr command(unsigned code, int a, int b);
    bool isclicked();

private:
    bool takefaces(u32 count, s32 fw, s32 fh, unsigned format);
    void drawtemps1();
    void drawbevel(bool pressed);
    void changed();
};

sptr guibutton_concb(void* self, unsigned cmd, int a, int b, void const* p);

// The label's left edge for a centred label: a label wider than its space starts
// at the left edge instead of landing far right.
s32 button_centred(s32 space, s32 textwidth);

} // namespace kzv
