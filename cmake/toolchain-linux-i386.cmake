# velkra-linux-i386: static, freestanding, built by the i686 cross compiler; run natively where the kernel executes 32-bit x86, else under qemu-i386 (cmake/emulator.cmake).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(KZV_TARGET linux CACHE STRING "" FORCE)
set(KZV_ARCH i386 CACHE STRING "" FORCE)
set(KZV_ARCH_FLAGS -march=i686)
