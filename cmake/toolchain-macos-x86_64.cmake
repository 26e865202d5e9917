# velkra-macos-x86_64: a Mach-O program for macOS 10.13 and later, built with
# clang and linked by ld64.lld against our own text stub of libSystem, with no
# SDK: the code includes no system header, and the frameworks are bound at run
# time by path. The archive tools must understand Mach-O, hence LLVM's.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-macos10.13)
set(CMAKE_AR llvm-ar CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB llvm-ranlib CACHE FILEPATH "" FORCE)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(KZV_TARGET macos CACHE STRING "" FORCE)
set(KZV_ARCH x86_64 CACHE STRING "" FORCE)
set(KZV_SUFFIX macos-x86_64 CACHE STRING "" FORCE)
