# Compile-only check of the portable code for macOS x86-64; no SDK is needed since
# the portable code includes no system header.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-macos10.13)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(KZV_TARGET check CACHE STRING "" FORCE)
set(KZV_ARCH x86_64 CACHE STRING "" FORCE)
# No macOS SDK here: the portable code needs no C++ library headers either.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++")
