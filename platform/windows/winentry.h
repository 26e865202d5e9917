// The block the Windows entry hands to kzvmain. It carries nothing: the layer
// asks the system for the command line and environment. Its address tells
// os_exit that the run it ends is the program's own, not one a test started.
#pragma once

namespace kzv {

struct winentryblock {
    int unused;
};
extern winentryblock win_entryblock;

} // namespace kzv
