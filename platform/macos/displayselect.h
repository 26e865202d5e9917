// The macOS display selection, apart from guidriver::open so that the host tests
// it against a fake runtime: the terminal when KZVTERM_CXS is set (unless the
// caller forbids it), with flag 1 the threaded OpenGL back-end, else OpenGL on
// Quartz, then Quartz 2D. When none opens, the run ends with one line on standard
// error and status 2.
#pragma once
#include "../../gui/guidriver.h"

namespace kzv {

int macos_opendisplay(guidriver& d, u32 flags);

} // namespace kzv
