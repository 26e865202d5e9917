# Compile-only check of the portable code for Windows x64 (LLP64: long is 32 bits).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(KZV_TARGET check CACHE STRING "" FORCE)
set(KZV_ARCH x86_64 CACHE STRING "" FORCE)
