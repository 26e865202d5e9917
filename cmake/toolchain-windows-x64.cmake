# velkra-windows-x64: a console program for Windows x64 (LLP64: long is 32 bits),
# freestanding, built by mingw-w64 and linked to KERNEL32, USER32 and GDI32 only;
# its tests run under wine (cmake/wine.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# CMake's default Windows libraries (advapi32, shell32, ole32 ...) are not linked.
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(KZV_TARGET windows CACHE STRING "" FORCE)
set(KZV_ARCH x86_64 CACHE STRING "" FORCE)
set(KZV_SUFFIX windows-x64 CACHE STRING "" FORCE)
