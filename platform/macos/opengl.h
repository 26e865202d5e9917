// The OpenGL variant of the macOS window operations: each window is a Cocoa
// window (cocoa.h) with an NSOpenGLContext in its content view. The back buffer
// is a rectangle texture over the application's own pixel memory (client
// storage, shared texture range), and an update makes the context current, binds
// the texture, uploads it, draws one textured quad with a top-left origin and
// swaps. The OpenGL framework is bound at run time like the rest; without it the
// display selection takes Quartz 2D. The pixel format and the context are
// alloc'd here and released by the close with the textures.
#pragma once
#include "cocoa.h"

namespace kzv {

bool os_initquartzopengl();
int os_quartzopenglopenwindow(guiwindow* w);
int os_quartzopenglcreatebackbuffer(guiwindow* w, u32 count, mem* pool);
int os_quartzopenglgetbackbuffer(guiwindow* w);
int os_quartzopenglupdatewindow(guiwindow* w);
// The extra buffer: a texture of a x b pixels, drawn blended at (x, y) (times the
// window's zoom above 1) by the set operation. Nothing on the dialog paths uses it.
int os_quartzopenglcreatebuffer(guiwindow* w, u32 width, u32 height, mem* pool);
int os_quartzopenglsetbuffer(u32 x, u32 y, guiwindow* w, mem* pool);
void os_quartzopenglclosewindow(guiwindow* w, mem* pool);

} // namespace kzv
