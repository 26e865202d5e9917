// The macOS body of guidriver::open: the selection of displayselect.h with the
// frameworks bound through the system's dynamic loader.
#include "../../gui/guidriver.h"
#include "displayselect.h"
#include "frameworks.h"
#include "objc.h"

namespace kzv {

int guidriver::open(u32 f0, u32 f1, u32 f2, u32 f3, u32 f4, u32 f5)
{
    if (!cocoa_resolver())
        cocoa_useresolver(&os_frameworks);
    return macos_opendisplay(*this, f0 | f1 | f2 | f3 | f4 | f5);
}

} // namespace kzv
