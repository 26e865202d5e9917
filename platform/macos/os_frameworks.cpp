// The system's dynamic loader as the Cocoa binding's resolver; see frameworks.h.
#include "frameworks.h"
#include "libsystem.h"

namespace kzv {

static void* openlibrary(char const* path) { return dlopen(path, bsd::RTLD_LAZY); }

static void* findsymbol(void* library, char const* name) { return library ? dlsym(library, name) : nullptr; }

frameworkresolver const os_frameworks = {openlibrary, findsymbol};

} // namespace kzv
