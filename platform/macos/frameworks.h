// The system's dynamic loader as the Cocoa binding's resolver: libraries by path
// with lazy binding, symbols by their C names.
#pragma once
#include "objc.h"

namespace kzv {

extern frameworkresolver const os_frameworks;

} // namespace kzv
